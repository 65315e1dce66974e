// The main window on the offscreen platform: its start, layout and rules, the
// drive, folder and file lists, and gallery runs started from it.

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <optional>
#include <tuple>

#include "WindowTestSupport.h"

using fotolane::app::frmGetHTML;
using fotolane::app::WindowParts;
using fotolane::gallery::CheckValue;
namespace fs = std::filesystem;

namespace fotolane::testing {

class WindowTest : public QObject {
    Q_OBJECT

  private:
    StoreLog store;
    MessageLog messages;
    MakerLog maker;
    std::optional<ConfigFolder> config;

    // The window's parts with every outside contact recorded.
    WindowParts Parts(app::VolumeLister volumes = app::Volumes) {
        return WindowParts{RecordingFactory(store), std::move(volumes), FakeMakerFactory(maker),
                           messages.Presenter()};
    }

    static void Touch(const TempFolder& folder, std::initializer_list<const char*> names) {
        for (const char* name : names) folder.Write(name, "picture");
    }

    static void ClickItem(QListWidget& list, int row) {
        QListWidgetItem* item = list.item(row);
        list.scrollToItem(item);
        // A double click arrives as a click, then the second press as a
        // double click.
        const QPoint centre = list.visualItemRect(item).center();
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, centre);
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, centre);
    }

    static int RowOf(const app::FolderList& list, const QString& folder) {
        for (int row = 0; row < list.count(); ++row) {
            if (list.FolderAt(row) == folder) return row;
        }
        return -1;
    }

    static void VerifyIdle(frmGetHTML& window) {
        QVERIFY(window.Command1.isEnabled());
        QVERIFY(!window.Command2.isEnabled());
        for (QWidget* frame : {&window.Frame1, &window.Frame2, &window.Frame3, &window.Frame4}) {
            QVERIFY(frame->isEnabled());
        }
        QCOMPARE(window.ProgressBar1.value(), 0);
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        QVERIFY(!window.Run().IsRunning());
    }

  private slots:
    void init() {
        store = StoreLog{};
        messages = MessageLog{};
        maker = MakerLog{};
        config.emplace();
    }
    void cleanup() { config.reset(); }

    void startsWithNothingStored() {
        // The real settings store on a fresh configuration folder.
        WindowParts parts;
        parts.createThumbnailMaker = FakeMakerFactory(maker);
        parts.presentMessage = messages.Presenter();
        frmGetHTML window(parts);

        QCOMPARE(window.Text1.text(), QStringLiteral("3"));
        QCOMPARE(window.Text2.text(), QStringLiteral("70"));
        QCOMPARE(window.Slider1.value(), 3);
        QCOMPARE(window.Slider2.value(), 3);
        QVERIFY(window.optThumb0.isChecked());
        QVERIFY(!window.optThumb1.isChecked());
        QCOMPARE(window.chkJava.Value(), CheckValue::Checked);
        QCOMPARE(window.Check1.Value(), CheckValue::Unchecked);
        QVERIFY(!window.Text3.isEnabled());
        QCOMPARE(window.Text3BackColor(), app::kButtonFace);
        QCOMPARE(window.Text3.palette().color(QPalette::Base),
                 QApplication::palette(&window.Text3).color(QPalette::Button));

        const QString executableFolder = QCoreApplication::applicationDirPath();
        QCOMPARE(window.Dir1.Path(), executableFolder);
        QCOMPARE(window.File1.Path(), executableFolder);
        QCOMPARE(window.strCurrentFolder, executableFolder);
        QCOMPARE(window.Drive1.Drive(), app::DriveAmong(executableFolder, app::Volumes()));
        QCOMPARE(window.File1.Pattern(), QStringLiteral("*.JPG;*.JPEG;*.BMP;*.GIF"));

        QVERIFY(window.Command1.isEnabled());
        QVERIFY(!window.Command2.isEnabled());
        QCOMPARE(window.ProgressBar1.minimum(), 0);
        QCOMPARE(window.ProgressBar1.maximum(), 100);
        QCOMPARE(window.ProgressBar1.value(), 0);
        // The thumbnail maker comes with the first call into it; nothing is
        // written while the window is open.
        QCOMPARE(maker.created, 0);
        QVERIFY(!QFile::exists(Q(config->SettingsFile())));
        QVERIFY(messages.messages.empty());
    }

    void layoutFollowsTheForm() {
        frmGetHTML window(Parts());
        QCOMPARE(window.windowTitle(), QStringLiteral("Fotolane"));
        QCOMPARE(window.minimumSize(), QSize(336, 316));
        QCOMPARE(window.maximumSize(), QSize(336, 316));
        QVERIFY(!window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));

        // Twips divided by 15, relative to each control's container.
        QCOMPARE(window.File1.geometry(), QRect(192, 0, 145, 149));
        QCOMPARE(window.Command1.geometry(), QRect(288, 174, 41, 25));
        QCOMPARE(window.Text3.parentWidget(), &window.Frame3);
        QCOMPARE(window.Text3.geometry(), QRect(18, 16, 305, 59));
        QCOMPARE(window.chkJava.parentWidget(), &window.Frame4);
        QCOMPARE(window.chkJava.geometry(), QRect(4, 27, 60, 13));
        QCOMPARE(window.optThumb1.parentWidget(), &window.Frame1);
        QCOMPARE(window.Slider1.parentWidget(), &window.Frame2);

        QCOMPARE(window.Slider1.minimum(), 1);
        QCOMPARE(window.Slider2.minimum(), 0);
        QCOMPARE(window.Slider1.maximum(), 10);
        QCOMPARE(window.Slider2.maximum(), 10);
        QCOMPARE(window.Slider1.tickPosition(), QSlider::TicksBelow);
        QCOMPARE(window.Text3.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(window.Text3.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

        // The keyboard's focus order of the form, among the controls that
        // take the focus.
        const std::vector<QWidget*> expected = {
            &window.Drive1,   &window.Dir1,      &window.File1,     &window.Command1,
            &window.Command2, &window.optThumb0, &window.optThumb1, &window.Text2,
            &window.Text1,    &window.Slider2,   &window.Slider1,   &window.Text3,
            &window.Check1,   &window.chkJava};
        std::vector<QWidget*> order;
        QWidget* widget = &window.Drive1;
        do {
            if (std::find(expected.begin(), expected.end(), widget) != expected.end()) {
                order.push_back(widget);
            }
            widget = widget->nextInFocusChain();
        } while (widget != &window.Drive1 && order.size() < expected.size());
        QVERIFY(order == expected);

        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint offset =
            window.frameGeometry().center() - window.screen()->availableGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 2, "the window is not centred on the screen");
    }

    void check1EnablesTheTitleBox() {
        frmGetHTML window(Parts());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QColor white(255, 255, 255);
        const QColor buttonFace = QApplication::palette(&window.Text3).color(QPalette::Button);

        QTest::mouseClick(&window.Check1, Qt::LeftButton);
        QCOMPARE(window.Check1.Value(), CheckValue::Checked);
        QVERIFY(window.Text3.isEnabled());
        QCOMPARE(window.Text3BackColor(), app::kWhite);
        QCOMPARE(window.Text3.palette().color(QPalette::Base), white);
        QTest::keyClicks(&window.Text3, "Summer");

        QTest::mouseClick(&window.Check1, Qt::LeftButton);
        QCOMPARE(window.Check1.Value(), CheckValue::Unchecked);
        QVERIFY(!window.Text3.isEnabled());
        QCOMPARE(window.Text3.palette().color(QPalette::Base), buttonFace);
        QCOMPARE(window.Text3.toPlainText(), QStringLiteral("Summer"));

        QTest::keyClick(&window.Check1, Qt::Key_Space);
        QCOMPARE(window.Check1.Value(), CheckValue::Checked);
        QVERIFY(window.Text3.isEnabled());
        QCOMPARE(window.Text3.toPlainText(), QStringLiteral("Summer"));

        // Grey is not checked: only checked opens the box. A click makes it checked.
        window.Check1.SetValue(CheckValue::Grey);
        QVERIFY(!window.Text3.isEnabled());
        QCOMPARE(window.TitleCheck(), CheckValue::Grey);
        QTest::mouseClick(&window.Check1, Qt::LeftButton);
        QCOMPARE(window.Check1.Value(), CheckValue::Checked);
        QVERIFY(window.Text3.isEnabled());
        QVERIFY(messages.messages.empty());
    }

    void digitFilterAdmitsDigitsOnly() {
        frmGetHTML window(Parts());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QGuiApplication::clipboard()->setText(QStringLiteral("99"));
        for (QLineEdit* box : {&window.Text1, &window.Text2}) {
            box->clear();
            box->setFocus();
            QTest::keyClicks(box, "a- ");
            QTest::keyClick(box, Qt::Key_Backspace);
            QCOMPARE(box->text(), QString());
            QTest::keyClicks(box, "12");
            QCOMPARE(box->text(), QStringLiteral("12"));
            // Backspace is a character too, and is discarded.
            QTest::keyClick(box, Qt::Key_Backspace);
            QCOMPARE(box->text(), QStringLiteral("12"));
            QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
            QTest::keyClick(box, Qt::Key_Return);
            QCOMPARE(box->text(), QStringLiteral("12"));
            QTest::keyClicks(box, "34");  // the fourth digit is refused
            QCOMPARE(box->text(), QStringLiteral("123"));
            // Keys that type nothing edit as usual.
            QTest::keyClick(box, Qt::Key_Home);
            QTest::keyClick(box, Qt::Key_Delete);
            QCOMPARE(box->text(), QStringLiteral("23"));
            QTest::keyClick(box, Qt::Key_Right);
            QTest::keyClick(box, Qt::Key_Delete);
            QCOMPARE(box->text(), QStringLiteral("2"));
        }
        // The program's own text is not filtered.
        window.Slider2.setValue(10);
        QCOMPARE(window.Text2.text(), QStringLiteral("175"));
    }

    void pastedTextPassesTheDigitFilter() {
        frmGetHTML window(Parts());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // Shift+Insert pastes as a middle click does: through the box's
        // validator, which lets only the digits in, within 3 characters.
        for (auto [clipboard, before, after] :
             {std::tuple{"x-9", "", "9"}, std::tuple{"12345", "9", "912"},
              std::tuple{"abc", "45", "45"}}) {
            QGuiApplication::clipboard()->setText(QString::fromLatin1(clipboard));
            window.Text1.setText(QString::fromLatin1(before));
            window.Text1.setFocus();
            window.Text1.end(false);
            QTest::keyClick(&window.Text1, Qt::Key_Insert, Qt::ShiftModifier);
            QCOMPARE(window.Text1.text(), QString::fromLatin1(after));
        }
    }

    void listsShowTheFolderAsItIs() {
        TempFolder folder;
        Touch(folder, {"a.jpg"});
        store.stored["Path"] = folder.str();
        frmGetHTML window(Parts());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QString path = Q(folder.str());

        // Opening the folder shown reads it again.
        Touch(folder, {"b.jpg"});
        ClickItem(window.Dir1, RowOf(window.Dir1, path));
        QCOMPARE(window.File1.Names(), (QStringList{"a.jpg", "b.jpg"}));

        // Enter on the focused "&Get" runs; afterwards the folder list shows
        // the Thumbnails folder the run made.
        QCOMPARE(RowOf(window.Dir1, path + "/Thumbnails"), -1);
        window.Command1.setFocus();
        QTest::keyClick(&window.Command1, Qt::Key_Return);
        QTRY_COMPARE(window.Run().Outcome().end, gallery::RunEnd::Done);
        QVERIFY(RowOf(window.Dir1, path + "/Thumbnails") > 0);
        QCOMPARE(window.File1.Names(), (QStringList{"a.jpg", "b.jpg"}));
        QVERIFY(messages.messages.empty());
    }

    void folderNamedWithBytesThatAreNotUtf8() {
        // "caf\xe9": shown with a replacement mark, opened and run all the
        // same, the page and thumbnails written in that very folder.
        TempFolder parent;
        const fs::path folder = parent.path() / "caf\xe9";
        fs::create_directory(folder);
        std::ofstream(folder / "a.jpg") << "picture";
        store.stored["Path"] = parent.str();
        frmGetHTML window(Parts());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const int row = RowOf(window.Dir1, Q(parent.str()) + app::FromFsBytes("/caf\xe9"));
        QVERIFY(row > 0);
        QCOMPARE(window.Dir1.item(row)->text(), QStringLiteral("caf\uFFFD"));
        ClickItem(window.Dir1, row);
        QCOMPARE(window.File1.Names(), QStringList{"a.jpg"});
        QTest::mouseClick(&window.Command1, Qt::LeftButton);
        QTRY_COMPARE(window.Run().Outcome().end, gallery::RunEnd::Done);
        QVERIFY2(messages.messages.empty(), messages.Texts().c_str());
        QVERIFY(fs::is_regular_file(folder / "caf\xe9.htm"));
        QVERIFY(fs::is_regular_file(folder / "Thumbnails/a.jpg"));
    }

    void slidersMirrorIntoTheirBoxes() {
        frmGetHTML window(Parts());
        window.Slider2.setValue(10);
        QCOMPARE(window.Text2.text(), QStringLiteral("175"));
        window.Slider2.setValue(0);
        QCOMPARE(window.Text2.text(), QStringLiteral("25"));
        window.Slider2.setValue(3);
        QCOMPARE(window.Text2.text(), QStringLiteral("70"));
        window.Slider1.setValue(10);
        QCOMPARE(window.Text1.text(), QStringLiteral("10"));
        window.Slider1.setValue(0);  // the lowest per-row position is 1
        QCOMPARE(window.Text1.text(), QStringLiteral("1"));

        // Dragging the thumb: the scroll notification mirrors at once.
        window.Slider1.setSliderDown(true);
        window.Slider1.setSliderPosition(7);
        QCOMPARE(window.Text1.text(), QStringLiteral("7"));
        window.Slider1.setSliderDown(false);

        // A typed number stands until its slider is moved; the mirror runs
        // one way only.
        window.Slider1.setValue(3);
        window.Text1.clear();
        QTest::keyClicks(&window.Text1, "12");
        QCOMPARE(window.Slider1.value(), 3);
        QCOMPARE(window.ForRowText(), std::string("12"));
        QTest::keyClick(&window.Slider1, Qt::Key_Right);
        QCOMPARE(window.Text1.text(), QStringLiteral("4"));
        QTest::keyClick(&window.Slider2, Qt::Key_Right);
        QCOMPARE(window.Text2.text(), QStringLiteral("85"));
    }

    void folderAndDriveChangesMoveTheLists() {
        TempFolder root;
        const QString driveA = Q(root / "DriveA");
        const QString driveB = Q(root / "DriveB");
        fs::create_directories(root.path() / "DriveA/Pictures/sub");
        fs::create_directories(root.path() / "DriveB/Inner");
        Touch(root, {"DriveA/Pictures/a.jpg", "DriveB/b.gif", "DriveB/Inner/c.bmp"});
        store.stored["Path"] = root / "DriveA/Pictures";
        frmGetHTML window(Parts([&] { return QStringList{"/", driveA, driveB}; }));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QCOMPARE(window.Drive1.Drive(), driveA);
        QCOMPARE(window.Dir1.Path(), driveA + "/Pictures");
        QCOMPARE(window.File1.Names(), QStringList{"a.jpg"});

        // Another drive: its current folder, at first its root.
        QTest::keyClick(&window.Drive1, Qt::Key_Down);
        QCOMPARE(window.Drive1.Drive(), driveB);
        QCOMPARE(window.Dir1.Path(), driveB);
        QCOMPARE(window.File1.Path(), driveB);
        QCOMPARE(window.File1.Names(), QStringList{"b.gif"});
        QCOMPARE(window.strCurrentFolder, driveB);

        // Opening a folder by a double click.
        ClickItem(window.Dir1, RowOf(window.Dir1, driveB + "/Inner"));
        QCOMPARE(window.Dir1.Path(), driveB + "/Inner");
        QCOMPARE(window.File1.Names(), QStringList{"c.bmp"});
        QCOMPARE(window.strCurrentFolder, driveB + "/Inner");

        // Each drive keeps the folder last opened on it.
        QTest::keyClick(&window.Drive1, Qt::Key_Up);
        QCOMPARE(window.Dir1.Path(), driveA + "/Pictures");
        QCOMPARE(window.strCurrentFolder, driveA + "/Pictures");
        QTest::keyClick(&window.Drive1, Qt::Key_Down);
        QCOMPARE(window.Dir1.Path(), driveB + "/Inner");

        // The folder list shows the ancestors from the root, then the
        // sub-folders; opening an ancestor climbs, and the drive follows.
        QCOMPARE(window.Dir1.FolderAt(0), QStringLiteral("/"));
        QCOMPARE(window.Dir1.currentRow(), RowOf(window.Dir1, driveB + "/Inner"));
        window.Dir1.setCurrentRow(0);
        QTest::keyClick(&window.Dir1, Qt::Key_Return);
        QCOMPARE(window.Dir1.Path(), QStringLiteral("/"));
        QCOMPARE(window.Drive1.Drive(), QStringLiteral("/"));
        QCOMPARE(window.strCurrentFolder, QStringLiteral("/"));
        QVERIFY(messages.messages.empty());
    }

    void fileListShowsThePicturesInAnyCase() {
        TempFolder folder;
        Touch(folder, {"e.GIF", "a.jpg", "B.JPG", "c.Jpeg", "d.bmp", "f.png", "g.jpe", "h",
                       ".i.jpg", "z.gif.txt"});
        fs::create_directory(folder.path() / "Folder.jpg");
        fs::create_directory(folder.path() / ".hidden");
        fs::create_symlink(folder.path() / "a.jpg", folder.path() / "link.JPG");
        fs::create_symlink(folder.path() / "gone.jpg", folder.path() / "dangling.jpg");
        store.stored["Path"] = folder.str();
        frmGetHTML window(Parts());

        QCOMPARE(window.File1.Names(),
                 (QStringList{"a.jpg", "B.JPG", "c.Jpeg", "d.bmp", "e.GIF", "link.JPG"}));
        const int current = window.Dir1.currentRow();
        QCOMPARE(window.Dir1.FolderAt(current), Q(folder.str()));
        QCOMPARE(window.Dir1.count(), current + 2);
        QCOMPARE(window.Dir1.FolderAt(current + 1), Q(folder / "Folder.jpg"));
    }

    void unreadableFolderLeavesTheListsOnAReadableOne() {
        TempFolder root;
        const QString here = Q(root / "Here");
        fs::create_directories(root.path() / "Here/Vanishing");
        fs::create_directories(root.path() / "Here/Deep/Deeper");
        Touch(root, {"Here/a.jpg"});
        store.stored["Path"] = root / "Here";
        const QString gone = Q(root / "Gone");
        frmGetHTML window(Parts([&] { return QStringList{"/", gone}; }));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto verifyOn = [&](const QString& folder) {
            QCOMPARE(window.Dir1.Path(), folder);
            QCOMPARE(window.File1.Path(), folder);
            QCOMPARE(window.strCurrentFolder, folder);
            QCOMPARE(window.Drive1.Drive(), QStringLiteral("/"));
        };

        // A drive that is not there.
        QTest::keyClick(&window.Drive1, Qt::Key_Down);
        QCOMPARE(messages.messages.size(), std::size_t{1});
        QCOMPARE(messages.messages[0].icon, ui::Icon::Exclamation);
        QVERIFY(Q(messages.messages[0].text).contains(gone));
        verifyOn(here);

        // A folder that has vanished since it was listed.
        fs::remove(root.path() / "Here/Vanishing");
        ClickItem(window.Dir1, RowOf(window.Dir1, here + "/Vanishing"));
        QCOMPARE(messages.messages.size(), std::size_t{2});
        QVERIFY(Q(messages.messages[1].text).contains(here + "/Vanishing"));
        verifyOn(here);
        QCOMPARE(RowOf(window.Dir1, here + "/Vanishing"), -1);
        QCOMPARE(window.File1.Names(), QStringList{"a.jpg"});

        // The folder shown has gone as well: the root.
        OpenInDir1(window, here + "/Deep");
        fs::remove_all(root.path() / "Here/Deep");
        ClickItem(window.Dir1, RowOf(window.Dir1, here + "/Deep/Deeper"));
        QCOMPARE(messages.messages.size(), std::size_t{3});
        verifyOn(QStringLiteral("/"));
        QVERIFY(!window.Failed());
    }

    void runFromTheWindow() {
        // Real pictures, thumbnails made by the program's own maker.
        TempFolder trip;
        const fs::path testdata = FOTOLANE_TESTDATA_DIR;
        fs::copy_file(testdata / "image-rs/jpg/iptc.jpg", trip.path() / "a.jpg");  // 64 x 48
        fs::copy_file(testdata / "bmpsuite/g/rgb24.bmp", trip.path() / "b.BMP");   // 127 x 64
        fs::copy_file(testdata / "image-rs/gif/simple/sample_1.gif",
                      trip.path() / "c.gif");  // 10 x 10
        Touch(trip, {"notes.txt"});
        maker.real = true;
        store.stored["Path"] = trip.str();
        frmGetHTML window(Parts());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.Text1.clear();
        QTest::keyClicks(&window.Text1, "2");

        // What the window looks like while each picture is under way.
        std::vector<std::string> during;
        maker.onPicture = [&](int i) {
            during.push_back(std::to_string(window.Command1.isEnabled()) +
                             std::to_string(window.Command2.isEnabled()) +
                             std::to_string(window.Frame1.isEnabled()) +
                             std::to_string(window.Frame2.isEnabled()) +
                             std::to_string(window.Frame3.isEnabled()) +
                             std::to_string(window.Frame4.isEnabled()) +
                             std::to_string(window.optThumb0.isEnabled()) +
                             std::to_string(window.Dir1.isEnabled()) +
                             std::to_string(window.Drive1.isEnabled()) +
                             std::to_string(window.File1.isEnabled()));
            QCOMPARE(window.ProgressBar1.maximum(), 3);
            QCOMPARE(window.ProgressBar1.value(), i);
            QVERIFY(QGuiApplication::overrideCursor() != nullptr);
            QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        };
        QCOMPARE(maker.created, 0);
        QTest::mouseClick(&window.Command1, Qt::LeftButton);

        // Only "&Stop" and the three lists stay usable during the run.
        QCOMPARE(during, std::vector<std::string>(3, "0100000111"));
        const std::string folderName = trip.path().filename().string();
        const std::string page = ReadFile(trip / (folderName + ".htm"));
        QVERIFY(page.find("</table>") != std::string::npos);
        // Each thumbnail a JPEG whose longer side is the size, 70; each
        // viewer cell with its picture's own size.
        for (const char* base : {"a", "b", "c"}) {
            const fs::path thumbnail = trip.path() / "Thumbnails" / (std::string(base) + ".jpg");
            const QImage image(Q(thumbnail.string()), "JPEG");
            QVERIFY2(!image.isNull(), base);
            QCOMPARE(std::max(image.width(), image.height()), 70);
            QVERIFY(page.find("Thumbnails/" + std::string(base) + ".jpg") != std::string::npos);
        }
        for (const char* size : {",64,48);", ",127,64);", ",10,10);"}) {
            QVERIFY2(page.find(size) != std::string::npos, size);
        }
        // Two per row: the second row opens before the third picture.
        QVERIFY(page.find("<tr>", page.find("Thumbnails/b.jpg")) < page.find("Thumbnails/c.jpg"));
        VerifyIdle(window);
        QVERIFY(messages.messages.empty());
        QCOMPARE(maker.created, 1);

        // A fault of the thumbnail maker ends the run with its message.
        maker.onPicture = nullptr;
        maker.failOn = "b.BMP";
        QTest::mouseClick(&window.Command1, Qt::LeftButton);
        QCOMPARE(messages.messages.size(), std::size_t{1});
        QCOMPARE(messages.messages[0].text, "Errore : Invalid picture: " + (trip / "b.BMP"));
        QCOMPARE(messages.messages[0].icon, ui::Icon::None);
        QCOMPARE(messages.messages[0].caption, std::string("Fotolane"));
        VerifyIdle(window);

        // The maker is closed with the window, and made once only.
        window.close();
        QCOMPARE(maker.created, 1);
        QCOMPARE(maker.alive, 0);
    }

    void stopDuringARun() {
        TempFolder trip;
        Touch(trip, {"1.jpg", "2.jpg", "3.jpg", "4.jpg"});
        store.stored["Path"] = trip.str();
        frmGetHTML window(Parts());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        maker.onPicture = [&](int i) {
            if (i == 2) QTest::mouseClick(&window.Command2, Qt::LeftButton);
        };
        QTest::mouseClick(&window.Command1, Qt::LeftButton);

        // The picture under way is finished; the page has no closing lines.
        QCOMPARE(maker.pictures.size(), std::size_t{2});
        QVERIFY(fs::exists(trip.path() / "Thumbnails/2.jpg"));
        QVERIFY(!fs::exists(trip.path() / "Thumbnails/3.jpg"));
        const std::string page = ReadFile(trip / (trip.path().filename().string() + ".htm"));
        QVERIFY(page.find("Thumbnails/2.jpg") != std::string::npos);
        QVERIFY(page.find("</table>") == std::string::npos);
        VerifyIdle(window);
        QVERIFY(messages.messages.empty());
    }

    void titleCheckStopsTheRun() {
        TempFolder trip;
        Touch(trip, {"a.jpg"});
        store.stored["Path"] = trip.str();
        frmGetHTML window(Parts());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const std::string pagePath = trip / (trip.path().filename().string() + ".htm");

        QTest::mouseClick(&window.Check1, Qt::LeftButton);
        QTest::keyClicks(&window.Text3, "   ");
        QTest::mouseClick(&window.Command1, Qt::LeftButton);
        QCOMPARE(messages.messages.size(), std::size_t{1});
        QCOMPARE(messages.messages[0].text, std::string("First write a Title!"));
        QCOMPARE(messages.messages[0].caption, std::string("Fotolane"));
        QCOMPARE(messages.messages[0].icon, ui::Icon::Information);
        QVERIFY(!fs::exists(pagePath));
        QCOMPARE(maker.created, 0);

        QTest::keyClicks(&window.Text3, "Summer");
        QTest::mouseClick(&window.Command1, Qt::LeftButton);
        QCOMPARE(messages.messages.size(), std::size_t{1});
        QVERIFY(ReadFile(pagePath).find("   Summer") != std::string::npos);
    }

    void closingDuringARunWaitsForIt() {
        TempFolder trip;
        Touch(trip, {"1.jpg", "2.jpg", "3.jpg"});
        store.stored["Path"] = trip.str();
        frmGetHTML window(Parts());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        bool stillOpen = false;
        maker.onPicture = [&](int i) {
            if (i != 1) return;
            window.close();
            stillOpen = window.isVisible() && maker.alive == 1;
        };
        store.calls.clear();
        QTest::mouseClick(&window.Command1, Qt::LeftButton);

        QVERIFY(stillOpen);
        QVERIFY(!window.isVisible());
        QCOMPARE(maker.pictures.size(), std::size_t{1});
        QCOMPARE(maker.alive, 0);
        QCOMPARE(store.calls.size(), std::size_t{8});
        QCOMPARE(store.calls.front(), std::string("create RegServer.RegFun"));
        QCOMPARE(store.calls.back(), std::string("write Java int16 1"));
        QVERIFY(messages.messages.empty());
        QVERIFY(!window.Failed());
    }

    void messagesUseAModalMessageBox() {
        WindowParts parts = Parts();
        parts.presentMessage = app::PresentMessageBox;
        frmGetHTML window(parts);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseClick(&window.Check1, Qt::LeftButton);

        // Looks for the box while it is up, notes what it shows, presses OK.
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        bool modal = false;
        QTimer poll;
        int tries = 0;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                if (++tries > 200) poll.stop();
                return;
            }
            poll.stop();
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = box->standardButtons();
            modal = box->isModal();
            box->button(QMessageBox::Ok)->click();
        });
        poll.start(10);
        QTest::mouseClick(&window.Command1, Qt::LeftButton);

        QCOMPARE(title, QStringLiteral("Fotolane"));
        QCOMPARE(text, QStringLiteral("First write a Title!"));
        QCOMPARE(icon, QMessageBox::Information);
        QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(modal);
    }

    void windowIsTheProgramsHost() {
        {
            frmGetHTML window(Parts());
            QCOMPARE(&ui::Current(), static_cast<ui::Host*>(&window));
            // The JPEG writer's and the thumbnail maker's messages and yields.
            ui::MessageBox("Disk full", ui::Icon::Exclamation);
            QCOMPARE(messages.messages.size(), std::size_t{1});
            QCOMPARE(messages.messages[0].caption, std::string("Fotolane"));
            QCOMPARE(messages.messages[0].icon, ui::Icon::Exclamation);
            bool served = false;
            QTimer::singleShot(0, this, [&] { served = true; });
            ui::DoEvents();
            QVERIFY(served);
        }
        QVERIFY(dynamic_cast<frmGetHTML*>(&ui::Current()) == nullptr);
    }
};

}  // namespace fotolane::testing

QTEST_MAIN(fotolane::testing::WindowTest)
#include "window_test.moc"
