#include "app/FileSystemLists.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QStorageInfo>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>
#include <utility>

#include "platform/core/Fault.h"
#include "platform/core/Utf8.h"
#include "platform/files/FileSystem.h"

namespace fotolane::app {
namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kDepthRole = Qt::UserRole + 1;
constexpr int kIndentPixels = 8;

constexpr char16_t kEscapedByte = 0xDC00;

// The entries of `folder` that are not hidden, in name order, as the file
// layer walks it. A folder that cannot be opened or read to its end is a
// fault.
std::vector<FolderEntry> EntriesOf(const QString& folder) {
    return WalkFolder(ToFsBytes(QDir::toNativeSeparators(folder)));
}

QString JoinPath(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

bool IsWithin(const QString& path, const QString& folder) {
    if (folder.endsWith(QLatin1Char('/'))) return path.startsWith(folder);  // a root
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

}  // namespace

// Indents each folder by its depth below the root, as the classic list does.
class FolderList::IndentDelegate final : public QStyledItemDelegate {
  public:
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem indented = option;
        indented.rect.adjust(kIndentPixels * index.data(kDepthRole).toInt(), 0, 0, 0);
        QStyledItemDelegate::paint(painter, indented, index);
    }
};

QString FromFsBytes(std::string_view bytes) {
    std::u16string text;
    text.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        char32_t code = 0;
        if (!TakeCharacter(bytes, at, code)) {
            code = char32_t{kEscapedByte} + char32_t{static_cast<unsigned char>(bytes[at])};
            ++at;
        }
        if (code >= 0x10000) {
            text.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            text.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            text.push_back(static_cast<char16_t>(code));
        }
    }
    return QString::fromStdU16String(text);
}

std::string ToFsBytes(const QString& path) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(path.size()));
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t unit = path.at(i).unicode();
        if (unit >= kEscapedByte + 0x80 && unit <= kEscapedByte + 0xFF) {
            bytes.push_back(static_cast<char>(unit - kEscapedByte));
        } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < path.size() &&
                   path.at(i + 1).isLowSurrogate()) {
            AppendUtf8(bytes, QChar::surrogateToUcs4(unit, path.at(i + 1).unicode()));
            ++i;
        } else {
            // Any other lone surrogate, which no name decodes to, is written
            // as its three bytes, as if it were a character.
            AppendUtf8(bytes, unit);
        }
    }
    return bytes;
}

namespace {

// A name as a list shows it: each byte that is not UTF-8 as a replacement
// mark (the list keeps the path itself aside, whole).
QString Shown(QString name) {
    for (QChar& unit : name) {
        if (unit.isLowSurrogate() || unit.isHighSurrogate()) {
            const qsizetype at = &unit - name.data();
            const bool paired = unit.isHighSurrogate()
                                    ? at + 1 < name.size() && name.at(at + 1).isLowSurrogate()
                                    : at > 0 && name.at(at - 1).isHighSurrogate();
            if (!paired) unit = QChar::ReplacementCharacter;
        }
    }
    return name;
}

}  // namespace

void SortByName(QStringList& names) {
    std::vector<std::string> bytes;
    bytes.reserve(static_cast<std::size_t>(names.size()));
    for (const QString& name : names) bytes.push_back(ToFsBytes(name));
    fotolane::SortByName(bytes);
    names.clear();
    for (const std::string& name : bytes) names.append(FromFsBytes(name));
}

QStringList AncestorsOf(const QString& folder) {
    QStringList chain;
    QString path = QDir::cleanPath(folder);
    for (;;) {
        chain.prepend(path);
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        if (slash < 0 || slash == path.size() - 1) break;  // no parent, or the root "/", "C:/"
        path = path.left(slash == 0 || path.at(slash - 1) == QLatin1Char(':') ? slash + 1 : slash);
    }
    return chain;
}

QString AbsoluteFolderPath(const QString& folder) {
    if (folder.isEmpty() || !QDir::isAbsolutePath(folder)) {
        throw Fault::PathNotFound(ToFsBytes(folder));
    }
    return QDir::cleanPath(folder);
}

QStringList SubFoldersOf(const QString& folder) {
    QStringList paths;
    for (const FolderEntry& entry : EntriesOf(folder)) {
        if (entry.target == EntryKind::Folder)
            paths.append(JoinPath(folder, FromFsBytes(entry.name)));
    }
    return paths;
}

FilePattern::FilePattern(const QString& patterns) {
    for (const QString& pattern : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        expressions_.emplace_back(
            QRegularExpression::wildcardToRegularExpression(pattern.trimmed()),
            QRegularExpression::CaseInsensitiveOption);
    }
}

bool FilePattern::Matches(const QString& name) const {
    return std::any_of(expressions_.begin(), expressions_.end(),
                       [&](const QRegularExpression& e) { return e.match(name).hasMatch(); });
}

QStringList MatchingFiles(const QString& folder, const FilePattern& pattern) {
    QStringList names;
    for (const FolderEntry& entry : EntriesOf(folder)) {
        const QString name = FromFsBytes(entry.name);
        if (entry.target == EntryKind::PlainFile && pattern.Matches(name)) names.append(name);
    }
    return names;
}

bool IsUserVolume(const QString& mountPoint, const QByteArray& fileSystemType) {
    static const QByteArray kPseudoTypes[] = {
        "proc",      "sysfs",       "devtmpfs",       "devpts",     "cgroup",
        "cgroup2",   "securityfs",  "debugfs",        "tracefs",    "pstore",
        "bpf",       "mqueue",      "hugetlbfs",      "configfs",   "fusectl",
        "autofs",    "binfmt_misc", "efivarfs",       "rpc_pipefs", "nsfs",
        "selinuxfs", "fuse.portal", "fuse.gvfsd-fuse"};
    for (const QByteArray& type : kPseudoTypes) {
        if (fileSystemType == type) return false;
    }
    if (IsWithin(mountPoint, QStringLiteral("/run/media"))) return true;
    static const QString kSystemPlaces[] = {QStringLiteral("/proc"),    QStringLiteral("/sys"),
                                            QStringLiteral("/dev"),     QStringLiteral("/run"),
                                            QStringLiteral("/var/run"), QStringLiteral("/var/lock"),
                                            QStringLiteral("/var/lib"), QStringLiteral("/snap")};
    for (const QString& place : kSystemPlaces) {
        if (IsWithin(mountPoint, place)) return false;
    }
    return true;
}

QStringList Volumes() {
    const QString root = QDir::rootPath();
    QStringList others;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady()) continue;
        const QString mountPoint = QDir::cleanPath(volume.rootPath());
        if (mountPoint == root || others.contains(mountPoint)) continue;
        if (!IsUserVolume(mountPoint, volume.fileSystemType())) continue;
        // Containers mount single files (/etc/hosts) too.
        const QFileInfo info(mountPoint);
        if (info.isDir() && info.isReadable()) others.append(mountPoint);
    }
    SortByName(others);
    others.prepend(root);
    return others;
}

QString DriveAmong(const QString& folder, const QStringList& volumes) {
    const QString path = AbsoluteFolderPath(folder);
    QString drive = QDir::rootPath();
    for (const QString& volume : volumes) {
        if (IsWithin(path, volume) && volume.size() > drive.size()) drive = volume;
    }
    // On Windows every drive letter is a root of its own.
    if (!IsWithin(path, drive)) drive = AncestorsOf(path).constFirst();
    return drive;
}

DriveList::DriveList(QWidget* parent) : QComboBox(parent) {}

void DriveList::SetVolumeSource(std::function<QStringList()> source) {
    source_ = std::move(source);
    ShowVolumes();
}

void DriveList::showPopup() {
    ShowVolumes();
    QComboBox::showPopup();
}

void DriveList::ShowVolumes() {
    if (!source_) return;
    const QStringList volumes = source_();
    const QSignalBlocker quiet(this);
    clear();
    for (const QString& volume : volumes) addItem(QDir::toNativeSeparators(volume), volume);
    if (!drive_.isEmpty()) Select(drive_);
}

QString DriveList::DriveAt(int index) const {
    return itemData(index).toString();
}

void DriveList::Select(const QString& drive) {
    int index = findData(drive);
    if (index < 0) {
        index = count() > 0 ? 1 : 0;
        while (index < count() && DriveAt(index).toUpper() < drive.toUpper()) ++index;
        insertItem(index, QDir::toNativeSeparators(drive), drive);
    }
    const QSignalBlocker quiet(this);
    setCurrentIndex(index);
    drive_ = drive;
}

FolderList::FolderList(QWidget* parent)
    : QListWidget(parent), indent_(std::make_unique<IndentDelegate>()) {
    setItemDelegate(indent_.get());
    setSelectionMode(QAbstractItemView::SingleSelection);
}

FolderList::~FolderList() = default;

QString FolderList::FolderAt(int row) const {
    const QListWidgetItem* entry = item(row);
    return entry != nullptr ? entry->data(kPathRole).toString() : QString();
}

bool FolderList::SetPath(const QString& folder) {
    const QString path = AbsoluteFolderPath(folder);
    Show(path, SubFoldersOf(path));
    const bool changed = path != path_;
    path_ = path;
    return changed;
}

void FolderList::Refresh() {
    Show(path_, SubFoldersOf(path_));
}

void FolderList::Show(const QString& folder, const QStringList& subFolders) {
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    clear();
    const QStringList chain = AncestorsOf(folder);
    auto add = [&](const QString& path, const QIcon& icon, int depth) {
        const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        const bool isRoot = AncestorsOf(path).size() == 1;
        addItem(Shown(QDir::toNativeSeparators(isRoot || parts.isEmpty() ? path : parts.last())));
        QListWidgetItem* entry = item(count() - 1);
        entry->setIcon(icon);
        entry->setData(kPathRole, path);
        entry->setData(kDepthRole, depth);
    };
    for (int depth = 0; depth < chain.size(); ++depth) add(chain.at(depth), open, depth);
    for (const QString& sub : subFolders) add(sub, closed, static_cast<int>(chain.size()));
    setCurrentRow(static_cast<int>(chain.size()) - 1);
}

FileList::FileList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
}

QStringList FileList::Names() const {
    QStringList names;
    for (int row = 0; row < count(); ++row) names.append(item(row)->text());
    return names;
}

void FileList::SetPath(const QString& folder) {
    const QString path = AbsoluteFolderPath(folder);
    Show(path, pattern_);
    path_ = path;
}

void FileList::SetPattern(const QString& pattern) {
    FilePattern compiled(pattern);
    if (!path_.isEmpty()) Show(path_, compiled);
    patternText_ = pattern;
    pattern_ = std::move(compiled);
}

void FileList::Show(const QString& folder, const FilePattern& pattern) {
    const QStringList names = MatchingFiles(folder, pattern);
    clear();
    for (const QString& name : names) addItem(Shown(name));
}

}  // namespace fotolane::app
