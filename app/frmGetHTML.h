#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/Controls.h"
#include "app/FileSystemLists.h"
#include "app/ThumbnailMaker.h"
#include "gallery/GalleryInterfaces.h"
#include "gallery/GalleryRun.h"
#include "platform/settings/RegFun.h"
#include "platform/ui/UserInterface.h"

namespace fotolane::app {

// A message box as the program asks for one.
struct Message {
    std::string text;
    std::string caption;
    ui::Icon icon = ui::Icon::None;
    ui::Buttons buttons = ui::Buttons::OK;
};

// Shows a message and returns once the user has closed it. `owner` is the
// window that asks.
using MessagePresenter = std::function<void(QWidget& owner, const Message& message)>;

// The program's presenter: a modal QMessageBox with the caption, the icon and
// an OK button, showing the text as plain text.
void PresentMessageBox(QWidget& owner, const Message& message);

using SettingsObjectFactory =
    std::function<std::unique_ptr<ISettingsObject>(const std::string& progId)>;

// Where the window's settings live, passed on every call into the store.
inline constexpr std::int32_t kSettingsRoot = kHKeyLocalMachine;
inline constexpr const char* kSettingsKeyPath = "SOFTWARE\\Quarvell\\Fotolane";
inline constexpr const char* kFilePattern = "*.JPG;*.JPEG;*.BMP;*.GIF";

// What the window is made with; the program takes the defaults, the tests
// put their own in.
using VolumeLister = std::function<QStringList()>;

struct WindowParts {
    SettingsObjectFactory createObject = CreateObject;
    VolumeLister listVolumes = Volumes;
    ThumbnailMakerFactory createThumbnailMaker = MakeThumbnailMaker;
    MessagePresenter presentMessage = PresentMessageBox;
};

// The main window. Its load sequence (the settings restored) runs in the
// constructor, before the window is first shown; its close sequence (the
// settings saved, the thumbnail maker closed) when it is closed. While it
// lives it is the program's ui::Host, so every message box of the program
// and every yield to events goes through it.
//
// A close asked for during a gallery run waits: it asks the run to stop, and
// the close sequence runs once the run has ended, so the window is never
// torn down under a run.
class frmGetHTML final : public QWidget,
                         public gallery::IGalleryInputs,
                         public gallery::IGalleryView {
  public:
    explicit frmGetHTML(WindowParts parts = {});
    frmGetHTML(const frmGetHTML&) = delete;
    frmGetHTML& operator=(const frmGetHTML&) = delete;
    ~frmGetHTML() override;

  private:
    WindowParts parts_;
    DigitFilter digitFilter_;
    DigitsWithinLimit digitsWithinLimit_{3, nullptr};  // the 3 digits of Text1 and Text2

  public:
    // The controls as laid out on the form. Each container is declared
    // before what it holds, so that the contents go first at destruction.
    DriveList Drive1{this};
    FolderList Dir1{this};
    FileList File1{this};
    QProgressBar ProgressBar1{this};
    QPushButton Command1{QStringLiteral("&Get"), this};
    QPushButton Command2{QStringLiteral("&Stop"), this};
    QGroupBox Frame1{QStringLiteral("Add"), this};
    QRadioButton optThumb0{QStringLiteral("All"), &Frame1};
    QRadioButton optThumb1{QStringLiteral("New"), &Frame1};
    QGroupBox Frame2{QStringLiteral("Thumbnail"), this};
    QLineEdit Text2{QStringLiteral("0"), &Frame2};
    QLineEdit Text1{QStringLiteral("0"), &Frame2};
    QSlider Slider2{Qt::Horizontal, &Frame2};
    QSlider Slider1{Qt::Horizontal, &Frame2};
    QLabel Label1{QStringLiteral("for Row"), &Frame2};
    QLabel Label3{QStringLiteral("Size"), &Frame2};
    QGroupBox Frame3{QStringLiteral("Title"), this};
    QPlainTextEdit Text3{&Frame3};
    ValueCheckBox Check1{QString(), &Frame3};
    QGroupBox Frame4{QStringLiteral("Java"), this};
    ValueCheckBox chkJava{QStringLiteral("Enabled"), &Frame4};

    // The folder last shown by Dir1; saved as "Path".
    QString strCurrentFolder;

    // optThumb by index: 0 "All", 1 "New"; any other index is a fault.
    QRadioButton& optThumb(int index);
    // Text3's back colour as the rules set it (kWhite or kButtonFace).
    std::uint32_t Text3BackColor() const { return text3BackColor_; }

    gallery::GalleryRun& Run() { return run_; }
    bool IsThumbnailMakerCreated() const { return thumbnails_.IsCreated(); }
    // Whether the program ended through an unexpected error (a fault in the
    // close sequence or in one of the window's rules); its exit status is 1.
    bool Failed() const { return lifecycle_ == Lifecycle::Ending; }
    void SetMessagePresenter(MessagePresenter presenter);

    // What the gallery run reads.
    std::string FolderPath() const override;
    std::string ForRowText() const override;
    std::string SizeText() const override;
    std::string TitleText() const override;
    CheckValue TitleCheck() const override;
    CheckValue ViewerCheck() const override;
    bool AllSelected() const override;

    // What the gallery run does to the window.
    void SetEnabled(gallery::Control control, bool enabled) override;
    void SetProgressMax(std::int32_t maximum) override;
    void SetProgressValue(std::int32_t value) override;
    void SetBusyPointer(bool busy) override;
    void ShowMessage(const std::string& text, const std::string& caption, ui::Icon icon,
                     ui::Buttons buttons) override;
    void YieldToEvents() override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void LayOut();
    void Connect();
    void OpenStartFolder();
    void Form_Load();
    void RestoreSettings();
    void SaveSettings();

    // The window's rules.
    void Check1_Click();
    void Drive1_Change();
    void Dir1_Change();
    void Slider1_Scroll();
    void Slider2_Scroll();
    void Command1_Click();

    // What the program sets, raising the rules as the user's choice would.
    void SetDrive(const QString& drive);
    void SetDir1Path(const QString& folder);
    void SetText3BackColor(std::uint32_t value);
    QString DriveOf(const QString& folder) const;

    // The user's choices, which say so when a drive or folder cannot be read.
    void ChooseDrive(int index);
    void OpenFolder(int row);
    void StayOnReadableFolder();
    // Reads the open folder and its files again, after a run has written
    // into it.
    void RefreshLists();
    void CentreOnScreen();

    template <typename Rule>
    void Guarded(Rule rule);
    void ReportUnexpectedError(const std::string& description);
    void EndWithUnexpectedError(const std::string& description);

    LazyThumbnailMaker thumbnails_;
    gallery::GalleryRun run_;
    ui::ScopedHost host_;
    std::uint32_t text3BackColor_ = kWhite;
    std::map<QString, QString> driveFolders_;  // a drive's last opened folder
    // Where the window is in its life. A close asked for during a run waits
    // until the run has stopped; an unexpected error ends the program without
    // the close sequence (and makes its exit status 1).
    enum class Lifecycle { Loading, Open, CloseAfterRun, Closed, Ending };
    Lifecycle lifecycle_ = Lifecycle::Loading;
    bool busyPointer_ = false;  // the hourglass is set over the application
};

}  // namespace fotolane::app
