// The settings sequences of the main window: what is read at load and
// written at close, in which order and with which types, what survives a
// restart, and what happens when values, the file or the store fail.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <filesystem>
#include <optional>

#include "WindowTestSupport.h"

using fotolane::app::frmGetHTML;
using fotolane::app::WindowParts;
using fotolane::gallery::CheckValue;
namespace fs = std::filesystem;

namespace fotolane::testing {

class SettingsTest : public QObject {
    Q_OBJECT

  private:
    StoreLog store;
    MessageLog messages;
    MakerLog maker;
    std::optional<ConfigFolder> config;

    WindowParts RecordingParts() {
        return WindowParts{RecordingFactory(store), app::Volumes, FakeMakerFactory(maker),
                           messages.Presenter()};
    }
    WindowParts RealStoreParts() {
        WindowParts parts;
        parts.createThumbnailMaker = FakeMakerFactory(maker);
        parts.presentMessage = messages.Presenter();
        return parts;
    }
    static std::vector<std::string> Calls(const StoreLog& log, std::size_t from = 0) {
        return std::vector<std::string>(log.calls.begin() + static_cast<std::ptrdiff_t>(from),
                                        log.calls.end());
    }
    static void VerifyWindowDefaults(const frmGetHTML& window) {
        QCOMPARE(window.Text1.text(), QStringLiteral("3"));
        QCOMPARE(window.Text2.text(), QStringLiteral("70"));
        QCOMPARE(window.Slider1.value(), 3);
        QCOMPARE(window.Slider2.value(), 3);
        QVERIFY(window.optThumb0.isChecked());
        QCOMPARE(window.chkJava.Value(), CheckValue::Checked);
    }

  private slots:
    void init() {
        store = StoreLog{};
        messages = MessageLog{};
        maker = MakerLog{};
        config.emplace();
    }
    void cleanup() { config.reset(); }

    void readsAndWritesInTheirOrders() {
        const std::string executableFolder = QCoreApplication::applicationDirPath().toStdString();
        frmGetHTML window(RecordingParts());
        // One store object for the load, released at its end.
        QVERIFY(Calls(store) == (std::vector<std::string>{
                                    "create RegServer.RegFun",
                                    "read Path text " + executableFolder,
                                    "read ForRowValue int16 3",
                                    "read ForRowScroll int16 3",
                                    "read SizeValue int16 70",
                                    "read SizeScroll int16 3",
                                    "read Add int16 0",
                                    "read Java int32 1",
                                }));
        QCOMPARE(store.alive, 0);

        window.Text2.setText(QString());  // the texts go as they stand, empty too
        window.optThumb1.setChecked(true);
        window.chkJava.SetValue(CheckValue::Grey);
        const std::size_t load = store.calls.size();
        window.close();
        QVERIFY(Calls(store, load) == (std::vector<std::string>{
                                          "create RegServer.RegFun",
                                          "write Path text " + executableFolder,
                                          "write ForRowScroll int32 3",
                                          "write ForRowValue text 3",
                                          "write SizeScroll int32 3",
                                          "write SizeValue text ",
                                          "write Add int32 1",
                                          "write Java int16 2",
                                      }));
        QCOMPARE(store.alive, 0);
        QVERIFY(messages.messages.empty());
        QVERIFY(!window.Failed());
    }

    void roundTripThroughTwoWindows() {
        // A folder whose name is not UTF-8 is stored byte for byte.
        TempFolder parent;
        const fs::path folder = parent.path() / "caf\xe9";
        fs::create_directory(folder);
        parent.Write("caf\xe9/a.jpg", "picture");
        const QString pictures = app::FromFsBytes(folder.native());
        {
            frmGetHTML first(RealStoreParts());
            first.show();
            QVERIFY(QTest::qWaitForWindowExposed(&first));
            first.Text1.clear();
            QTest::keyClicks(&first.Text1, "12");
            QTest::keyClick(&first.Slider2, Qt::Key_Right);
            QTest::mouseClick(&first.optThumb1, Qt::LeftButton);
            QTest::mouseClick(&first.chkJava, Qt::LeftButton);
            OpenInDir1(first, pictures);
            first.close();
            QVERIFY(messages.messages.empty());
        }
        const std::string ini = ReadFile(config->SettingsFile());
        QVERIFY(ini.find("[HKEY_LOCAL_MACHINE]") != std::string::npos);
        QVERIFY(ini.find("SOFTWARE\\Quarvell\\Fotolane\\ForRowValue=12") != std::string::npos);

        frmGetHTML second(RealStoreParts());
        QCOMPARE(second.Text1.text(), QStringLiteral("12"));
        QCOMPARE(second.Slider1.value(), 3);
        QCOMPARE(second.Text2.text(), QStringLiteral("85"));
        QCOMPARE(second.Slider2.value(), 4);
        QVERIFY(second.optThumb1.isChecked());
        QVERIFY(!second.optThumb0.isChecked());
        QCOMPARE(second.chkJava.Value(), CheckValue::Unchecked);
        QCOMPARE(second.strCurrentFolder, pictures);
        QCOMPARE(second.Dir1.Path(), pictures);
        QCOMPARE(second.File1.Names(), QStringList{"a.jpg"});
        QVERIFY(messages.messages.empty());
    }

    void badStoredValuesFailTheirStepsAlone() {
        TempFolder root;
        const std::string gone = root / "gone/folder";
        store.stored = {{"Path", gone},           {"ForRowValue", "1234"}, {"ForRowScroll", "x"},
                        {"SizeValue", "abc"},     {"SizeScroll", "11"},    {"Add", "5"},
                        {"Java", std::int32_t{3}}};
        frmGetHTML window(RecordingParts());
        // Texts that the boxes could not hold as typed fail their steps too
        // (the box would show "234" while a run read 1234); every control
        // keeps the window's own state.
        QCOMPARE(window.Text1.text(), QStringLiteral("3"));
        QCOMPARE(window.Text2.text(), QStringLiteral("70"));
        QCOMPARE(window.Slider1.value(), 3);
        QCOMPARE(window.Slider2.value(), 3);
        QVERIFY(window.optThumb0.isChecked());
        QCOMPARE(window.chkJava.Value(), CheckValue::Checked);
        // The folder is gone: the lists stay where they were at creation, and
        // the stored text is kept and written back.
        QCOMPARE(window.strCurrentFolder, Q(gone));
        QCOMPARE(window.Dir1.Path(), QDir::currentPath());
        QCOMPARE(window.File1.Path(), QDir::currentPath());
        QCOMPARE(store.alive, 0);
        window.close();
        QVERIFY(store.calls.at(9) == "write Path text " + gone);
        QVERIFY(messages.messages.empty());

        // Numbers as text convert; a fraction rounds half to even.
        store.stored = {
            {"ForRowScroll", " 7 "}, {"SizeScroll", "2.5"}, {"Add", "1"}, {"Java", "2"}};
        frmGetHTML other(RecordingParts());
        QCOMPARE(other.Slider1.value(), 7);
        QCOMPARE(other.Slider2.value(), 2);
        QVERIFY(other.optThumb1.isChecked());
        QCOMPARE(other.chkJava.Value(), CheckValue::Grey);
        // The program's setting of a slider raises no mirror: the texts are
        // the stored (here: default) ones.
        QCOMPARE(other.Text1.text(), QStringLiteral("3"));
        QCOMPARE(other.Text2.text(), QStringLiteral("70"));
    }

    void damagedOrUnreadableSettingsFile() {
        const QString file = Q(config->SettingsFile());
        QDir().mkpath(QFileInfo(file).path());
        {
            QFile damaged(file);
            QVERIFY(damaged.open(QIODevice::WriteOnly));
            damaged.write("\x01\xff[HKEY_LOCAL_MACHINE\nSOFTWARE\\Quarvell\\Fotolane\\Java=0\n=\n");
        }
        {
            frmGetHTML window(RealStoreParts());
            QCOMPARE(window.Text1.text(), QStringLiteral("3"));
            QCOMPARE(window.Dir1.Path(), QCoreApplication::applicationDirPath());
            window.Text1.setText(QStringLiteral("5"));
            window.close();
            QVERIFY2(messages.messages.empty(), messages.Texts().c_str());
            QVERIFY(!window.Failed());
        }
        // The damaged file was kept aside and the values written anew.
        QVERIFY(QFile::exists(file + ".damaged"));
        {
            frmGetHTML window(RealStoreParts());
            QCOMPARE(window.Text1.text(), QStringLiteral("5"));
        }

        // A folder where the file should be: the window opens all the same,
        // and the close says that it cannot save.
        QVERIFY(QFile::remove(file));
        QVERIFY(QDir().mkpath(file));
        frmGetHTML window(RealStoreParts());
        VerifyWindowDefaults(window);
        QCOMPARE(window.strCurrentFolder, QString());
        window.close();
        QCOMPARE(messages.messages.size(), std::size_t{1});
        QCOMPARE(messages.messages[0].icon, ui::Icon::Critical);
        QCOMPARE(messages.messages[0].text,
                 "Unexpected error: Cannot write the settings file: " + config->SettingsFile());
        QVERIFY(window.Failed());
        QVERIFY(!window.isVisible());
    }

    void storeThatCannotBeCreated() {
        store.refuseCreation = true;
        frmGetHTML window(RecordingParts());
        VerifyWindowDefaults(window);
        QCOMPARE(window.strCurrentFolder, QString());
        QCOMPARE(window.Dir1.Path(), QDir::currentPath());
        QCOMPARE(window.File1.Path(), QDir::currentPath());
        QVERIFY(messages.messages.empty());

        // The close fails at its first step: nothing written, the thumbnail
        // maker not closed, the failure reported, the program ends.
        TempFolder trip;
        trip.Write("a.jpg", "picture");
        window.File1.SetPath(Q(trip.str()));
        QTest::mouseClick(&window.Command1, Qt::LeftButton);
        QCOMPARE(maker.alive, 1);
        window.close();
        QCOMPARE(store.calls.back(), std::string("create RegServer.RegFun"));
        QCOMPARE(messages.messages.size(), std::size_t{1});
        QCOMPARE(messages.messages[0].text,
                 std::string("Unexpected error: ActiveX component can't create object: "
                             "RegServer.RegFun"));
        QCOMPARE(messages.messages[0].icon, ui::Icon::Critical);
        QVERIFY(window.Failed());
        QCOMPARE(maker.alive, 1);
    }

    void writeThatFailsAtClose() {
        store.failAtWrite = 3;  // "ForRowValue"
        {
            frmGetHTML window(RecordingParts());
            const std::size_t load = store.calls.size();
            window.close();
            const std::vector<std::string> writes = Calls(store, load);
            QCOMPARE(writes.size(), std::size_t{3});
            QCOMPARE(writes[2], std::string("write ForRowScroll int32 3"));
            QCOMPARE(messages.messages.size(), std::size_t{1});
            QCOMPARE(messages.messages[0].text,
                     std::string("Unexpected error: Cannot write ForRowValue"));
            QVERIFY(window.Failed());
            QCOMPARE(store.alive, 0);  // released on the way out all the same
        }

        // The real store below a regular file.
        messages = MessageLog{};
        config->Folder().Write("Quarvell", "a file, not a folder");
        frmGetHTML window(RealStoreParts());
        window.close();
        QCOMPARE(messages.messages.size(), std::size_t{1});
        QCOMPARE(messages.messages[0].text,
                 "Unexpected error: Cannot write the settings file: " + config->SettingsFile());
        QVERIFY(window.Failed());
    }
};

}  // namespace fotolane::testing

QTEST_MAIN(fotolane::testing::SettingsTest)
#include "settings_test.moc"
