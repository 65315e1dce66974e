// The decisions behind the window's lists and controls: folder chains,
// patterns, sorting, which volumes count, the digit filter, twips, colours
// and check box values.

#include <gtest/gtest.h>

#include <QPalette>
#include <filesystem>

#include "app/Controls.h"
#include "app/FileSystemLists.h"
#include "platform/core/Fault.h"
#include "tests/TempFolder.h"
#include "tests/TestSupport.h"

namespace fotolane::app {
namespace {

using testing::FaultOf;
using testing::TempFolder;
namespace fs = std::filesystem;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

TEST(FolderPaths, AncestorsRunFromTheRoot) {
    EXPECT_EQ(AncestorsOf("/"), QStringList{"/"});
    EXPECT_EQ(AncestorsOf("/home/ann"), (QStringList{"/", "/home", "/home/ann"}));
    EXPECT_EQ(AncestorsOf("/home/ann/"), (QStringList{"/", "/home", "/home/ann"}));
    EXPECT_EQ(AncestorsOf("C:/Photos/Trip"), (QStringList{"C:/", "C:/Photos", "C:/Photos/Trip"}));
    EXPECT_EQ(AbsoluteFolderPath("/a//b/../c/"), QStringLiteral("/a/c"));
    EXPECT_EQ(FaultOf([] { AbsoluteFolderPath("relative/path"); }),
              "Path not found: relative/path");
    EXPECT_EQ(FaultOf([] { AbsoluteFolderPath(""); }), "Path not found");
}

TEST(FolderPaths, DriveIsTheLongestVolumeThatHoldsTheFolder) {
    const QStringList volumes{"/", "/media/usb", "/media/usb2", "/home"};
    EXPECT_EQ(DriveAmong("/media/usb/Photos", volumes), QStringLiteral("/media/usb"));
    EXPECT_EQ(DriveAmong("/media/usb2", volumes), QStringLiteral("/media/usb2"));
    EXPECT_EQ(DriveAmong("/media/usb22/x", volumes), QStringLiteral("/"));
    EXPECT_EQ(DriveAmong("/homework", volumes), QStringLiteral("/"));
    EXPECT_EQ(DriveAmong("/", volumes), QStringLiteral("/"));
    EXPECT_EQ(DriveAmong("/gone/folder", volumes), QStringLiteral("/"));
    EXPECT_EQ(FaultOf([&] { DriveAmong("Photos", volumes); }), "Path not found: Photos");
}

TEST(FolderPaths, FilePatternMatchesWholeNamesInAnyCase) {
    const FilePattern pattern("*.JPG;*.JPEG;*.BMP;*.GIF");
    for (const char* name : {"a.jpg", "B.JPG", "c.Jpeg", "d.bmp", "e.GIF", "x.y.jpg", ".jpg"}) {
        EXPECT_TRUE(pattern.Matches(name)) << name;
    }
    for (const char* name : {"a.png", "a.jpe", "jpg", "a.jpg.txt", "a.jpgx", "ajpg"}) {
        EXPECT_FALSE(pattern.Matches(name)) << name;
    }
    EXPECT_TRUE(FilePattern("*.*").Matches("notes.txt"));
}

TEST(FolderPaths, NamesSortByTheirUpperCase) {
    QStringList names{"b", "a", "A", "C", "_x", "10", "9"};
    SortByName(names);
    EXPECT_EQ(names, (QStringList{"10", "9", "A", "a", "b", "C", "_x"}));
}

TEST(FolderPaths, ListingsLeaveOutHiddenAndSayWhatCannotBeRead) {
    TempFolder folder;
    fs::create_directories(folder.path() / "Zoo");
    fs::create_directories(folder.path() / "apple.jpg");
    fs::create_directories(folder.path() / ".cache");
    folder.Write("b.JPG", "x");
    folder.Write(".hidden.jpg", "x");
    folder.Write("c.txt", "x");
    fs::create_directory_symlink(folder.path() / "Zoo", folder.path() / "link");
    const QString path = Q(folder.str());
    EXPECT_EQ(SubFoldersOf(path),
              (QStringList{path + "/apple.jpg", path + "/link", path + "/Zoo"}));
    EXPECT_EQ(MatchingFiles(path, FilePattern("*.JPG;*.GIF")), QStringList{"b.JPG"});

    EXPECT_EQ(FaultOf([&] { SubFoldersOf(path + "/gone"); }), "Path not found: " + folder / "gone");
    EXPECT_EQ(FaultOf([&] { MatchingFiles(path + "/c.txt", FilePattern("*.*")); }),
              "Path not found (a part of it is a file): " + folder / "c.txt");
}

TEST(Volumes, PseudoAndSystemFileSystemsAreLeftOut) {
    EXPECT_TRUE(IsUserVolume("/", "ext4"));
    EXPECT_TRUE(IsUserVolume("/home", "btrfs"));
    EXPECT_TRUE(IsUserVolume("/media/ann/USB", "vfat"));
    EXPECT_TRUE(IsUserVolume("/run/media/ann/CARD", "exfat"));
    EXPECT_TRUE(IsUserVolume("/mnt/photos", "nfs4"));
    EXPECT_TRUE(IsUserVolume("/tmp", "tmpfs"));
    EXPECT_TRUE(IsUserVolume("/runner", "ext4"));  // not below /run
    EXPECT_FALSE(IsUserVolume("/proc", "proc"));
    EXPECT_FALSE(IsUserVolume("/sys/fs/cgroup", "cgroup2"));
    EXPECT_FALSE(IsUserVolume("/dev/shm", "tmpfs"));
    EXPECT_FALSE(IsUserVolume("/run/user/1000", "tmpfs"));
    EXPECT_FALSE(IsUserVolume("/snap/core/1", "squashfs"));
    EXPECT_FALSE(IsUserVolume("/mnt/auto", "autofs"));
    EXPECT_FALSE(IsUserVolume("/var/lib/docker/overlay2/x/merged", "overlay"));

    const QStringList volumes = Volumes();
    ASSERT_FALSE(volumes.isEmpty());
    EXPECT_EQ(volumes.first(), QStringLiteral("/"));
    EXPECT_FALSE(volumes.contains("/proc"));
    EXPECT_EQ(volumes.count("/"), 1);
}

TEST(Controls, DigitFilterPassesDigitsAndKeysThatTypeNothing) {
    const Qt::KeyboardModifiers none = Qt::NoModifier;
    EXPECT_TRUE(DigitFilterPasses(Qt::Key_1, none, "1"));
    EXPECT_TRUE(DigitFilterPasses(Qt::Key_9, Qt::KeypadModifier, "9"));
    EXPECT_FALSE(DigitFilterPasses(Qt::Key_A, none, "a"));
    EXPECT_FALSE(DigitFilterPasses(Qt::Key_Minus, none, "-"));
    EXPECT_FALSE(DigitFilterPasses(Qt::Key_Space, none, " "));
    EXPECT_FALSE(DigitFilterPasses(Qt::Key_Backspace, none, "\b"));
    EXPECT_FALSE(DigitFilterPasses(Qt::Key_Backspace, none, ""));
    EXPECT_FALSE(DigitFilterPasses(Qt::Key_Return, none, "\r"));
    EXPECT_FALSE(DigitFilterPasses(Qt::Key_V, Qt::ControlModifier, ""));
    EXPECT_FALSE(DigitFilterPasses(Qt::Key_1, none, "\xc2\xb9"));  // superscript one
    EXPECT_TRUE(DigitFilterPasses(Qt::Key_Delete, none, "\x7f"));
    EXPECT_TRUE(DigitFilterPasses(Qt::Key_Left, none, ""));
    EXPECT_TRUE(DigitFilterPasses(Qt::Key_End, Qt::ShiftModifier, ""));
    EXPECT_TRUE(DigitFilterPasses(Qt::Key_Tab, none, "\t"));
}

TEST(Controls, TwipsColoursAndCheckValues) {
    EXPECT_EQ(TwipsToPixels(5040), 336);
    EXPECT_EQ(TwipsToPixels(4740), 316);
    EXPECT_EQ(TwipsRect(2880, 0, 2175, 2235), QRect(192, 0, 145, 149));

    const QPalette palette(QColor(10, 20, 30), QColor(200, 210, 220));
    EXPECT_EQ(ColorFromValue(kWhite, palette), QColor(255, 255, 255));
    EXPECT_EQ(ColorFromValue(0x0000FFu, palette), QColor(255, 0, 0));  // 0x00BBGGRR
    EXPECT_EQ(ColorFromValue(kButtonFace, palette), palette.color(QPalette::Button));
    EXPECT_EQ(FaultOf([&] { ColorFromValue(0x80000001u, palette); }), "Invalid property value");

    EXPECT_EQ(CheckStateOfValue(CheckValueOfNumber(0)), Qt::Unchecked);
    EXPECT_EQ(CheckStateOfValue(CheckValueOfNumber(1)), Qt::Checked);
    EXPECT_EQ(CheckStateOfValue(CheckValueOfNumber(2)), Qt::PartiallyChecked);
    EXPECT_EQ(ValueOfCheckState(Qt::PartiallyChecked), CheckValue::Grey);
    EXPECT_EQ(ValueOfCheckState(Qt::Checked), CheckValue::Checked);
    EXPECT_EQ(FaultOf([] { CheckValueOfNumber(3); }), "Invalid property value");
    EXPECT_EQ(FaultOf([] { CheckValueOfNumber(-1); }), "Invalid property value");
}

}  // namespace
}  // namespace fotolane::app
