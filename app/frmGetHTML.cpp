#include "app/frmGetHTML.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTimer>
#include <exception>
#include <functional>
#include <initializer_list>
#include <utility>

#include "platform/core/Fault.h"
#include "platform/core/Numbers.h"
#include "platform/files/FileSystem.h"

namespace fotolane::app {
namespace {

// The size slider moves a thumbnail's size in steps of 15 pixels from 25.
constexpr std::int32_t kSizeStep = 15;
constexpr std::int32_t kSmallestSize = 25;

QMessageBox::Icon MessageBoxIcon(ui::Icon icon) {
    switch (icon) {
        case ui::Icon::Information:
            return QMessageBox::Information;
        case ui::Icon::Exclamation:
            return QMessageBox::Warning;
        case ui::Icon::Critical:
            return QMessageBox::Critical;
        case ui::Icon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

// The gallery run and the settings take paths as the platform writes them.
std::string NativePath(const QString& path) {
    return ToFsBytes(QDir::toNativeSeparators(path));
}

QString QtPath(const std::string& path) {
    return QDir::fromNativeSeparators(FromFsBytes(path));
}

// The process's current folder, its name's bytes kept.
QString CurrentFolder() {
    const std::string current = CurrentFolderPath();
    return current.empty() ? QDir::currentPath() : QtPath(current);
}

void SetSliderPosition(QSlider& slider, std::int32_t position) {
    // A slider refuses a position outside its range, as it refuses any
    // value it cannot hold; the program's own setting raises no mirror, so
    // that a number typed into a box survives a restart as it was typed.
    if (position < slider.minimum() || position > slider.maximum()) {
        throw Fault("Invalid property value");
    }
    const QSignalBlocker quiet(slider);
    slider.setValue(position);
}

void LayOutSlider(QSlider& slider, int lowest) {
    slider.setRange(lowest, 10);
    slider.setValue(3);
    slider.setPageStep(1);
    slider.setTickPosition(QSlider::TicksBelow);
    slider.setTickInterval(1);
}

}  // namespace

void PresentMessageBox(QWidget& owner, const Message& message) {
    QMessageBox box(MessageBoxIcon(message.icon), QString::fromStdString(message.caption),
                    QString::fromStdString(message.text), QMessageBox::Ok,
                    owner.isVisible() ? &owner : nullptr);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    // A message during a run must not show the busy pointer over its button.
    QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    QGuiApplication::restoreOverrideCursor();
}

frmGetHTML::frmGetHTML(WindowParts parts)
    : parts_(std::move(parts)),
      thumbnails_(parts_.createThumbnailMaker),
      run_(*this, *this, thumbnails_),
      host_(static_cast<gallery::IGalleryView&>(*this)) {
    LayOut();
    Drive1.SetVolumeSource(parts_.listVolumes);
    OpenStartFolder();
    Connect();
    Form_Load();
}

frmGetHTML::~frmGetHTML() {
    // No rule may run on a window half torn down.
    for (QObject* sender : std::initializer_list<QObject*>{&Check1, &Drive1, &Dir1, &Slider1,
                                                           &Slider2, &Command1, &Command2}) {
        sender->disconnect(this);
    }
    // Teardown: the run's list goes, and with it whatever a run left behind.
    run_.strPictures.clear();
    if (busyPointer_) QGuiApplication::restoreOverrideCursor();
}

void frmGetHTML::LayOut() {
    setWindowTitle(QStringLiteral("Fotolane"));
    // A fixed border: no resizing, no maximising.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(TwipsToPixels(5040), TwipsToPixels(4740));
    // The layout was made for a narrow 8-point font; today's wider fonts fit
    // the controls' fixed places ("for Row", "Enabled") at 7.5 points.
    QFont small = font();
    small.setPointSizeF(7.5);
    setFont(small);

    Drive1.setGeometry(TwipsRect(0, 0, 2895, 315));
    Dir1.setGeometry(TwipsRect(0, 360, 2895, 1890));
    File1.setGeometry(TwipsRect(2880, 0, 2175, 2235));
    ProgressBar1.setGeometry(TwipsRect(0, 2280, 4995, 240));
    ProgressBar1.setRange(0, 100);
    ProgressBar1.setValue(0);
    ProgressBar1.setTextVisible(false);
    Command1.setGeometry(TwipsRect(4320, 2610, 615, 375));
    Command2.setGeometry(TwipsRect(4320, 3120, 615, 375));
    Command2.setEnabled(false);

    Frame1.setGeometry(TwipsRect(2310, 2520, 855, 975));
    optThumb0.setGeometry(TwipsRect(120, 240, 600, 255));
    optThumb1.setGeometry(TwipsRect(120, 600, 660, 255));
    optThumb0.setChecked(true);

    Frame2.setGeometry(TwipsRect(60, 2520, 2175, 975));
    Text2.setGeometry(TwipsRect(720, 600, 375, 285));
    Text1.setGeometry(TwipsRect(720, 240, 375, 285));
    Slider2.setGeometry(TwipsRect(1080, 600, 975, 255));
    Slider1.setGeometry(TwipsRect(1080, 240, 975, 255));
    Label1.setGeometry(TwipsRect(120, 240, 735, 255));
    Label3.setGeometry(TwipsRect(120, 600, 495, 255));
    for (QLineEdit* box : {&Text1, &Text2}) {
        box->setValidator(&digitsWithinLimit_);
        box->installEventFilter(&digitFilter_);
        // Every typed character goes through the digit filter as a key press;
        // an input method or a drop would bring text past it.
        box->setAttribute(Qt::WA_InputMethodEnabled, false);
        box->setAcceptDrops(false);
    }
    // A per-row count of 0 would end every run in a division by zero.
    LayOutSlider(Slider1, 1);
    LayOutSlider(Slider2, 0);

    Frame3.setGeometry(TwipsRect(60, 3480, 4935, 1215));
    Text3.setGeometry(TwipsRect(270, 240, 4575, 885));
    Text3.setLineWrapMode(QPlainTextEdit::NoWrap);
    Text3.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text3.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text3.setTabChangesFocus(true);
    Text3.setEnabled(false);
    Check1.setGeometry(TwipsRect(60, 210, 255, 255));
    Check1.SetValue(CheckValue::Unchecked);

    Frame4.setGeometry(TwipsRect(3240, 2520, 990, 975));
    chkJava.setGeometry(TwipsRect(60, 405, 900, 195));
    chkJava.SetValue(CheckValue::Checked);

    // The keyboard's focus order: drive, folder and file lists, the buttons,
    // then the frames' contents in the form's order.
    QWidget* const order[] = {&Drive1,    &Dir1,      &File1,  &Command1, &Command2,
                              &optThumb0, &optThumb1, &Text2,  &Text1,    &Slider2,
                              &Slider1,   &Text3,     &Check1, &chkJava};
    for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

void frmGetHTML::OpenStartFolder() {
    // The lists are created on the process's current folder (on the root if
    // it cannot be read), as the classic controls are. Being created there
    // is no change of folder: strCurrentFolder stays empty until one.
    QString folder = CurrentFolder();
    try {
        Dir1.SetPath(folder);
    } catch (const Fault&) {
        folder = QDir::rootPath();
        Dir1.SetPath(folder);
    }
    File1.SetPath(Dir1.Path());
    const QString drive = DriveOf(Dir1.Path());
    driveFolders_[drive] = Dir1.Path();
    Drive1.Select(drive);
}

void frmGetHTML::Connect() {
    connect(&Check1, &QCheckBox::stateChanged, this,
            [this] { Guarded([this] { Check1_Click(); }); });
    connect(&Drive1, &QComboBox::activated, this,
            [this](int index) { Guarded([this, index] { ChooseDrive(index); }); });
    connect(&Dir1, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        Guarded([this, item] { OpenFolder(Dir1.row(item)); });
    });
    // Both notifications of a slider, the scroll while the thumb is dragged
    // and the change of its position, run the same mirror.
    connect(&Slider1, &QSlider::sliderMoved, this,
            [this] { Guarded([this] { Slider1_Scroll(); }); });
    connect(&Slider1, &QSlider::valueChanged, this,
            [this] { Guarded([this] { Slider1_Scroll(); }); });
    connect(&Slider2, &QSlider::sliderMoved, this,
            [this] { Guarded([this] { Slider2_Scroll(); }); });
    connect(&Slider2, &QSlider::valueChanged, this,
            [this] { Guarded([this] { Slider2_Scroll(); }); });
    connect(&Command1, &QPushButton::clicked, this,
            [this] { Guarded([this] { Command1_Click(); }); });
    connect(&Command2, &QPushButton::clicked, this, [this] { run_.Command2_Click(); });
}

void frmGetHTML::Form_Load() {
    // Each step on its own: a failing one is skipped, the window opens anyway.
    const std::function<void()> steps[] = {
        [this] { File1.SetPattern(QString::fromLatin1(kFilePattern)); },
        [this] { Slider1_Scroll(); },
        [this] { Slider2_Scroll(); },
        [this] { SetText3BackColor(kButtonFace); },
        [this] { RestoreSettings(); },
    };
    for (const auto& step : steps) {
        try {
            step();
        } catch (const std::exception&) {
        }
    }
}

namespace {

// A stored text for "for Row" or "Size": one that the box could not hold as
// typed ("abcd1234", "99999") fails its step, so that the box never shows
// less than the run would read.
QString DigitBoxText(const std::string& stored) {
    const QString text = QString::fromStdString(stored);
    if (!FitsDigitBox(text, 3)) throw Fault("Invalid property value");
    return text;
}

// The settings of a first start, stored as the classic program stored them
// (16-bit integers): the gallery's defaults, and the size slider's position
// that stands for the default size (see Slider2_Scroll).
constexpr auto kFirstPerRow = static_cast<std::int16_t>(gallery::kDefaultPerRow);
constexpr auto kFirstSize = static_cast<std::int16_t>(gallery::kDefaultThumbnailSize);
constexpr std::int16_t kFirstSizeScroll = 3;
static_assert(kFirstSizeScroll * kSizeStep + kSmallestSize == gallery::kDefaultThumbnailSize);

}  // namespace

void frmGetHTML::RestoreSettings() {
    std::unique_ptr<ISettingsObject> store;
    QString F;
    std::int32_t n = 0;
    auto read = [&](const char* name, const SettingValue& defaultValue) {
        if (!store) throw Fault("Object variable not set");
        return store->ReadValue(kSettingsRoot, kSettingsKeyPath, name, defaultValue);
    };
    const std::function<void()> steps[] = {
        [&] { store = parts_.createObject(kRegFunProgId); },
        [&] {
            const QString executableFolder = QCoreApplication::applicationDirPath();
            strCurrentFolder = QtPath(SettingText(read("Path", NativePath(executableFolder))));
        },
        [&] { F = strCurrentFolder; },
        [&] { SetDrive(DriveOf(strCurrentFolder)); },
        [&] { SetDir1Path(F); },
        [&] { File1.SetPath(Dir1.Path()); },
        [&] { Text1.setText(DigitBoxText(SettingText(read("ForRowValue", kFirstPerRow)))); },
        [&] { SetSliderPosition(Slider1, SettingLong(read("ForRowScroll", kFirstPerRow))); },
        [&] { Text2.setText(DigitBoxText(SettingText(read("SizeValue", kFirstSize)))); },
        [&] { SetSliderPosition(Slider2, SettingLong(read("SizeScroll", kFirstSizeScroll))); },
        [&] { n = SettingLong(read("Add", std::int16_t{0})); },
        [&] { optThumb(SettingInteger(n)).setChecked(true); },
        [&] {
            chkJava.SetValue(CheckValueOfNumber(SettingInteger(read("Java", std::int32_t{1}))));
        },
        [&] { store.reset(); },
    };
    for (const auto& step : steps) {
        try {
            step();
        } catch (const std::exception&) {
        }
    }
}

void frmGetHTML::SaveSettings() {
    // Unguarded: the first failure ends the save, and the close with it.
    std::unique_ptr<ISettingsObject> store = parts_.createObject(kRegFunProgId);
    if (!store) throw Fault("Object variable not set");
    auto write = [&](const char* name, const SettingValue& value) {
        store->WriteValue(kSettingsRoot, kSettingsKeyPath, name, value);
    };
    write("Path", NativePath(strCurrentFolder));
    write("ForRowScroll", std::int32_t{Slider1.value()});
    write("ForRowValue", Text1.text().toStdString());
    write("SizeScroll", std::int32_t{Slider2.value()});
    write("SizeValue", Text2.text().toStdString());
    write("Add", std::int32_t{optThumb0.isChecked() ? 0 : 1});
    write("Java", static_cast<std::int16_t>(chkJava.Value()));
    store.reset();
}

QRadioButton& frmGetHTML::optThumb(int index) {
    switch (index) {
        case 0:
            return optThumb0;
        case 1:
            return optThumb1;
        default:
            throw Fault("Control array element '" + std::to_string(index) + "' doesn't exist");
    }
}

void frmGetHTML::SetMessagePresenter(MessagePresenter presenter) {
    parts_.presentMessage = std::move(presenter);
}

void frmGetHTML::Check1_Click() {
    if (Check1.Value() == CheckValue::Checked) {
        SetText3BackColor(kWhite);
        Text3.setEnabled(true);
    } else {
        SetText3BackColor(kButtonFace);
        Text3.setEnabled(false);
    }
}

void frmGetHTML::Drive1_Change() {
    const QString drive = Drive1.Drive();
    const auto remembered = driveFolders_.find(drive);
    const QString folder = remembered != driveFolders_.end() ? remembered->second : drive;
    // The folder last opened on the drive may be gone since; then its root.
    try {
        SetDir1Path(folder);
    } catch (const Fault&) {
        if (folder == drive) throw;
        SetDir1Path(drive);
    }
}

void frmGetHTML::Dir1_Change() {
    File1.SetPath(Dir1.Path());
    strCurrentFolder = Dir1.Path();
    // One tree holds every volume, so opening a folder may cross onto
    // another drive; the drive list follows without raising its change.
    const QString drive = DriveOf(Dir1.Path());
    driveFolders_[drive] = Dir1.Path();
    Drive1.Select(drive);
}

void frmGetHTML::Slider1_Scroll() {
    Text1.setText(QString::number(Slider1.sliderPosition()));
}

void frmGetHTML::Slider2_Scroll() {
    const std::int32_t size =
        CheckedAdd(CheckedMul(Slider2.sliderPosition(), kSizeStep), kSmallestSize);
    Text2.setText(QString::number(size));
}

void frmGetHTML::Command1_Click() {
    const gallery::RunOutcome& outcome = run_.Command1_Click();
    // The run may have made a Thumbnails folder and a page.
    if (outcome.end != gallery::RunEnd::NotStarted) RefreshLists();
    // A close that waited for the run (or an unexpected error that asked for
    // one) now closes the window.
    if (lifecycle_ == Lifecycle::CloseAfterRun) {
        lifecycle_ = Lifecycle::Open;
        close();
    } else if (lifecycle_ == Lifecycle::Ending) {
        close();
    }
}

void frmGetHTML::SetDrive(const QString& drive) {
    const QString previous = Drive1.Drive();
    if (drive == previous) return;
    Drive1.Select(drive);
    try {
        Drive1_Change();
    } catch (...) {
        if (!previous.isEmpty()) Drive1.Select(previous);
        throw;
    }
}

void frmGetHTML::SetDir1Path(const QString& folder) {
    if (Dir1.SetPath(folder)) Dir1_Change();
}

QString frmGetHTML::DriveOf(const QString& folder) const {
    return DriveAmong(folder, parts_.listVolumes());
}

void frmGetHTML::SetText3BackColor(std::uint32_t value) {
    QPalette palette = Text3.palette();
    palette.setColor(QPalette::Base, ColorFromValue(value, QApplication::palette(&Text3)));
    Text3.setPalette(palette);
    text3BackColor_ = value;
}

void frmGetHTML::ChooseDrive(int index) {
    try {
        SetDrive(Drive1.DriveAt(index));
    } catch (const Fault& fault) {
        ShowMessage(fault.Description(), ui::kApplicationName, ui::Icon::Exclamation,
                    ui::Buttons::OK);
        StayOnReadableFolder();
    }
}

void frmGetHTML::OpenFolder(int row) {
    try {
        // Opening the folder shown reads it and its files again.
        if (Dir1.SetPath(Dir1.FolderAt(row))) {
            Dir1_Change();
        } else {
            File1.SetPath(Dir1.Path());
        }
    } catch (const Fault& fault) {
        ShowMessage(fault.Description(), ui::kApplicationName, ui::Icon::Exclamation,
                    ui::Buttons::OK);
        StayOnReadableFolder();
    }
}

void frmGetHTML::RefreshLists() {
    try {
        Dir1.Refresh();
        File1.SetPath(Dir1.Path());
    } catch (const Fault&) {
        StayOnReadableFolder();
    }
}

void frmGetHTML::StayOnReadableFolder() {
    // The folder shown, read again; if it has gone too, the root.
    try {
        Dir1.Refresh();
        File1.SetPath(Dir1.Path());
    } catch (const Fault&) {
        Dir1.SetPath(QDir::rootPath());
        File1.SetPath(Dir1.Path());
    }
    strCurrentFolder = Dir1.Path();
    Drive1.Select(DriveOf(Dir1.Path()));
}

template <typename Rule>
void frmGetHTML::Guarded(Rule rule) {
    // A fault must not travel through Qt's event handling.
    try {
        rule();
    } catch (const std::exception& error) {
        EndWithUnexpectedError(error.what());
    }
}

void frmGetHTML::ReportUnexpectedError(const std::string& description) {
    lifecycle_ = Lifecycle::Ending;
    ShowMessage("Unexpected error: " + description, ui::kApplicationName, ui::Icon::Critical,
                ui::Buttons::OK);
}

void frmGetHTML::EndWithUnexpectedError(const std::string& description) {
    const bool alreadyEnding = lifecycle_ == Lifecycle::Ending;
    ReportUnexpectedError(description);
    if (alreadyEnding) return;
    // The program ends without its close sequence; a run under way is asked
    // to stop first, and the window closes once it has.
    run_.Command2_Click();
    close();
}

std::string frmGetHTML::FolderPath() const {
    return NativePath(File1.Path());
}

std::string frmGetHTML::ForRowText() const {
    return Text1.text().toStdString();
}

std::string frmGetHTML::SizeText() const {
    return Text2.text().toStdString();
}

std::string frmGetHTML::TitleText() const {
    return Text3.toPlainText().toStdString();
}

CheckValue frmGetHTML::TitleCheck() const {
    return Check1.Value();
}

CheckValue frmGetHTML::ViewerCheck() const {
    return chkJava.Value();
}

bool frmGetHTML::AllSelected() const {
    return optThumb0.isChecked();
}

void frmGetHTML::SetEnabled(gallery::Control control, bool enabled) {
    switch (control) {
        case gallery::Control::Command1:
            Command1.setEnabled(enabled);
            break;
        case gallery::Control::Command2:
            Command2.setEnabled(enabled);
            break;
        case gallery::Control::Frame1:
            Frame1.setEnabled(enabled);
            break;
        case gallery::Control::Frame2:
            Frame2.setEnabled(enabled);
            break;
        case gallery::Control::Frame3:
            Frame3.setEnabled(enabled);
            break;
        case gallery::Control::Frame4:
            Frame4.setEnabled(enabled);
            break;
    }
}

void frmGetHTML::SetProgressMax(std::int32_t maximum) {
    ProgressBar1.setMaximum(maximum);
}

void frmGetHTML::SetProgressValue(std::int32_t value) {
    ProgressBar1.setValue(value);
}

void frmGetHTML::SetBusyPointer(bool busy) {
    if (busy == busyPointer_) return;
    if (busy) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QGuiApplication::restoreOverrideCursor();
    }
    busyPointer_ = busy;
}

void frmGetHTML::ShowMessage(const std::string& text, const std::string& caption, ui::Icon icon,
                             ui::Buttons buttons) {
    parts_.presentMessage(*this, Message{text, caption, icon, buttons});
}

void frmGetHTML::YieldToEvents() {
    QCoreApplication::processEvents();
}

void frmGetHTML::closeEvent(QCloseEvent* event) {
    if (run_.IsRunning()) {
        if (lifecycle_ != Lifecycle::Ending) lifecycle_ = Lifecycle::CloseAfterRun;
        run_.Command2_Click();
        event->ignore();
        return;
    }
    event->accept();
    if (lifecycle_ == Lifecycle::Closed || lifecycle_ == Lifecycle::Ending) return;
    lifecycle_ = Lifecycle::Closed;
    // The close never refuses; its sequence:
    try {
        SaveSettings();
        thumbnails_.Close();
    } catch (const std::exception& error) {
        // The rest of the sequence is skipped, and the program ends.
        ReportUnexpectedError(error.what());
    }
}

void frmGetHTML::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (lifecycle_ != Lifecycle::Loading) return;
    lifecycle_ = Lifecycle::Open;
    // Centred on the screen when first shown, by its frame. The window
    // manager tells the frame only once the window is on the screen, so the
    // centring is done again then, unless the window has been moved.
    CentreOnScreen();
    const QPoint placed = pos();
    QTimer::singleShot(0, this, [this, placed] {
        if (pos() == placed) CentreOnScreen();
    });
}

void frmGetHTML::CentreOnScreen() {
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void frmGetHTML::keyPressEvent(QKeyEvent* event) {
    // Enter on a focused button presses it, as Space does; a push button
    // outside a dialog leaves Enter to its window.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget());
            button != nullptr && button->isEnabled()) {
            button->animateClick();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

}  // namespace fotolane::app
