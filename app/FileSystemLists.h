#pragma once

#include <QByteArray>
#include <QComboBox>
#include <QListWidget>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The window's drive, folder and file lists, and the decisions behind them.
// Folder paths are Qt's: "/" separated, absolute, without a trailing
// separator except at a root ("/", "C:/").
namespace fotolane::app {

// File-system names and paths as the window carries them: the bytes that
// are valid UTF-8 become their characters, and every other byte a lone
// surrogate U+DC80..U+DCFF (0x80..0xFF), so that any name the file system
// holds comes back byte for byte ("caf\xe9" shows as "caf\uFFFD" but opens).
// Every passage between a QString path and the file system's bytes goes
// through this pair.
QString FromFsBytes(std::string_view bytes);
std::string ToFsBytes(const QString& path);

// Sorts names in the product's one name order (NameComesBefore of the file
// layer), as the gallery run lists its pictures.
void SortByName(QStringList& names);

// The folders from the root down to `folder`, `folder` itself last:
// "/home/ann" gives "/", "/home", "/home/ann".
QStringList AncestorsOf(const QString& folder);

// The clean absolute form of a folder path; a relative or empty path is the
// fault "Path not found".
QString AbsoluteFolderPath(const QString& folder);

// The sub-folders of `folder` (full paths, hidden ones left out, sorted by
// name). A folder that cannot be read is a fault that names it.
QStringList SubFoldersOf(const QString& folder);

// A file list's pattern: wildcard patterns separated by ";"
// ("*.JPG;*.JPEG"), matched against whole names without regard to case.
class FilePattern {
  public:
    explicit FilePattern(const QString& patterns);
    bool Matches(const QString& name) const;

  private:
    std::vector<QRegularExpression> expressions_;
};

// The names of the plain files of `folder` that match `pattern` (regular
// files and links to them; hidden ones left out), sorted by name. A folder
// that cannot be read is a fault that names it.
QStringList MatchingFiles(const QString& folder, const FilePattern& pattern);

// Whether a mounted file system is one where a user keeps pictures: not a
// pseudo file system of the kernel, and not mounted at one of the system's
// own places (/proc, /sys, /dev, /run but for /run/media, /var/lib, /snap).
bool IsUserVolume(const QString& mountPoint, const QByteArray& fileSystemType);

// The machine's volumes for the drive list: the root first, then the mount
// points of the user's readable volumes, sorted.
QStringList Volumes();

// The drive of `folder`: the volume among `volumes` (mount points) that
// holds it, the one of the longest mount point; a folder on a volume that
// is not listed counts as on the root's. A relative path is the fault "Path
// not found".
QString DriveAmong(const QString& folder, const QStringList& volumes);

// Drive1: a drop-down of the volumes, each standing for its mount point.
class DriveList final : public QComboBox {
  public:
    explicit DriveList(QWidget* parent);
    const QString& Drive() const { return drive_; }
    QString DriveAt(int index) const;
    // Where the volumes to choose from come from; asked now and whenever
    // the list drops down, so that a volume mounted meanwhile is there.
    void SetVolumeSource(std::function<QStringList()> source);
    // Shows `drive` as the chosen one, adding it to the list when it is not
    // there. Raises nothing.
    void Select(const QString& drive);

  protected:
    void showPopup() override;

  private:
    void ShowVolumes();
    std::function<QStringList()> source_;
    QString drive_;
};

// Dir1: a folder list in the classic manner: the open folder's ancestors
// from the root, the open folder itself marked, then its sub-folders.
class FolderList final : public QListWidget {
  public:
    explicit FolderList(QWidget* parent);
    ~FolderList() override;
    const QString& Path() const { return path_; }
    QString FolderAt(int row) const;
    // Opens `folder`. A folder that cannot be read is a fault, and the list
    // stays as it was. Returns whether the path changed.
    bool SetPath(const QString& folder);
    // Reads the open folder again (a fault when it cannot be read).
    void Refresh();

  private:
    class IndentDelegate;
    void Show(const QString& folder, const QStringList& subFolders);
    std::unique_ptr<IndentDelegate> indent_;  // the view does not own its delegate
    QString path_;
};

// File1: the files of its folder that match its pattern.
class FileList final : public QListWidget {
  public:
    explicit FileList(QWidget* parent);
    const QString& Path() const { return path_; }
    const QString& Pattern() const { return patternText_; }
    QStringList Names() const;
    // Both read the folder anew; a folder that cannot be read is a fault,
    // and the list stays as it was.
    void SetPath(const QString& folder);
    void SetPattern(const QString& pattern);

  private:
    void Show(const QString& folder, const FilePattern& pattern);
    QString path_;
    QString patternText_ = QStringLiteral("*.*");
    FilePattern pattern_{patternText_};
};

}  // namespace fotolane::app
