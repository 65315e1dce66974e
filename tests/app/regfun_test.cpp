// The settings store RegFun: value conversions, where values live in the INI
// file, what reads back, and how a damaged or unwritable file behaves.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <filesystem>
#include <string>

#include "platform/core/Fault.h"
#include "platform/files/FilesTesting.h"
#include "platform/settings/RegFun.h"
#include "tests/TempFolder.h"
#include "tests/TestSupport.h"

namespace fotolane {
namespace {

using testing::FaultOf;
using testing::ReadFile;
using testing::TempFolder;

constexpr const char* kKey = "SOFTWARE\\Quarvell\\Fotolane";

TEST(SettingConversions, NumbersAndTextConvertBothWays) {
    EXPECT_EQ(SettingText(std::int16_t{3}), "3");
    EXPECT_EQ(SettingText(std::int32_t{-2147483646}), "-2147483646");
    EXPECT_EQ(SettingText(std::string("D:\\Photos")), "D:\\Photos");
    EXPECT_EQ(SettingLong(std::int16_t{-7}), -7);
    EXPECT_EQ(SettingLong(std::string("12")), 12);
    EXPECT_EQ(SettingLong(std::string(" +12 ")), 12);
    EXPECT_EQ(SettingLong(std::string("-3")), -3);
    EXPECT_EQ(SettingLong(std::string("2.5")), 2);  // half to even
    EXPECT_EQ(SettingLong(std::string("3.5")), 4);
    EXPECT_EQ(SettingLong(std::string(".5")), 0);
    EXPECT_EQ(SettingInteger(std::string("-32768")), -32768);

    for (const char* text : {"", " ", "abc", "12abc", "1 2", "-", "."}) {
        EXPECT_EQ(FaultOf([&] { SettingLong(std::string(text)); }), "Type mismatch") << text;
    }
    EXPECT_EQ(FaultOf([] { SettingLong(std::string("2147483648")); }), "Overflow");
    EXPECT_EQ(FaultOf([] { SettingInteger(std::int32_t{32768}); }), "Overflow");
    EXPECT_EQ(FaultOf([] { SettingInteger(std::string("-32769")); }), "Overflow");
}

TEST(SettingRoots, PredefinedRootsHaveTheirNames) {
    EXPECT_EQ(kHKeyLocalMachine, -2147483646);
    EXPECT_EQ(RootKeyName(kHKeyLocalMachine), "HKEY_LOCAL_MACHINE");
    EXPECT_EQ(RootKeyName(static_cast<std::int32_t>(0x80000001u)), "HKEY_CURRENT_USER");
    EXPECT_EQ(FaultOf([] { RootKeyName(0); }), "Invalid root key: 0");
    RegFun store((TempFolder() / "x.ini"));
    EXPECT_EQ(FaultOf([&] { store.WriteValue(5, kKey, "Path", std::string("/")); }),
              "Invalid root key: 5");
}

TEST(RegFunFile, ValuesReadBackFromALaterObject) {
    TempFolder folder;
    const std::string file = folder / "sub/Fotolane.ini";
    {
        RegFun store(file);
        // Nothing stored: the default comes back as passed, type and all.
        const SettingValue missing =
            store.ReadValue(kHKeyLocalMachine, kKey, "Add", std::int16_t{0});
        ASSERT_TRUE(std::holds_alternative<std::int16_t>(missing));
        store.WriteValue(kHKeyLocalMachine, kKey, "Path", std::string("/home/ann/Photos, 2024"));
        store.WriteValue(kHKeyLocalMachine, kKey, "ForRowScroll", std::int32_t{7});
        store.WriteValue(kHKeyLocalMachine, kKey, "Java", std::int16_t{2});
        store.WriteValue(kHKeyLocalMachine, kKey, "SizeValue", std::string());
        store.WriteValue(kHKeyLocalMachine, kKey, "ForRowValue", std::string("@12 \xc3\xa9"));
        // A folder's name as the file system has it, not UTF-8.
        store.WriteValue(kHKeyLocalMachine, kKey, "Folder", std::string("/ph/caf\xe9"));
    }
    // Written at once, grouped by the root and the key path.
    const std::string ini = ReadFile(file);
    EXPECT_NE(ini.find("[HKEY_LOCAL_MACHINE]"), std::string::npos) << ini;
    EXPECT_NE(ini.find("SOFTWARE\\Quarvell\\Fotolane\\ForRowScroll=7"), std::string::npos) << ini;

    RegFun store(file);
    auto read = [&](const char* name) {
        return SettingText(store.ReadValue(kHKeyLocalMachine, kKey, name, std::string("?")));
    };
    EXPECT_EQ(read("Path"), "/home/ann/Photos, 2024");
    EXPECT_EQ(read("ForRowScroll"), "7");
    EXPECT_EQ(read("Java"), "2");
    EXPECT_EQ(read("SizeValue"), "");
    EXPECT_EQ(read("ForRowValue"), "@12 \xc3\xa9");
    EXPECT_EQ(read("Folder"), "/ph/caf\xe9");
    EXPECT_EQ(read("Add"), "?");
    // Another root or key path is another place.
    EXPECT_EQ(SettingText(store.ReadValue(static_cast<std::int32_t>(0x80000001u), kKey, "Java",
                                          std::string("?"))),
              "?");
}

TEST(RegFunFile, DefaultFileIsInTheUsersConfigurationFolder) {
    TempFolder folder;
    const char* previous = getenv("XDG_CONFIG_HOME");
    const std::string kept = previous != nullptr ? previous : "";
    setenv("XDG_CONFIG_HOME", folder.str().c_str(), 1);
    EXPECT_EQ(RegFun::DefaultFilePath(), folder / "Quarvell/Fotolane.ini");
    {
        std::unique_ptr<ISettingsObject> store = CreateObject("RegServer.RegFun");
        store->WriteValue(kHKeyLocalMachine, kKey, "Add", std::int32_t{1});
    }
    EXPECT_TRUE(std::filesystem::exists(folder.path() / "Quarvell/Fotolane.ini"));
    setenv("XDG_CONFIG_HOME", kept.c_str(), 1);
    EXPECT_EQ(FaultOf([] { CreateObject("RegServer.Other"); }),
              "ActiveX component can't create object: RegServer.Other");
}

TEST(RegFunFile, FailuresAreFaultsThatNameTheFile) {
    TempFolder folder;
    // Below a regular file: nothing can be written.
    folder.Write("plain", "x");
    const std::string belowFile = folder / "plain/Fotolane.ini";
    RegFun unwritable(belowFile);
    EXPECT_EQ(
        FaultOf([&] { unwritable.WriteValue(kHKeyLocalMachine, kKey, "Add", std::int32_t{1}); }),
        "Cannot write the settings file: " + belowFile);

    // A folder in the file's place can be neither read nor written.
    const std::string folderInPlace = folder / "taken.ini";
    std::filesystem::create_directory(folderInPlace);
    RegFun taken(folderInPlace);
    EXPECT_EQ(FaultOf([&] { taken.ReadValue(kHKeyLocalMachine, kKey, "Add", std::int16_t{0}); }),
              "Cannot read the settings file: " + folderInPlace);
    EXPECT_EQ(FaultOf([&] { taken.WriteValue(kHKeyLocalMachine, kKey, "Add", std::int32_t{1}); }),
              "Cannot write the settings file: " + folderInPlace);
}

// A write that fails at any step, or that the disk cuts short, leaves the
// earlier file whole and nothing else behind, and says so.
TEST(RegFunFile, FailedWriteKeepsTheEarlierFile) {
    TempFolder folder;
    const std::string file = folder / "Fotolane.ini";
    RegFun(file).WriteValue(kHKeyLocalMachine, kKey, "ForRowValue", std::string("5"));
    RegFun(file).WriteValue(kHKeyLocalMachine, kKey, "Path", std::string("/photos"));
    const std::string earlier = ReadFile(file);
    auto writeSeven = [&] {
        return FaultOf([&] {
            RegFun(file).WriteValue(kHKeyLocalMachine, kKey, "ForRowValue", std::string("7"));
        });
    };
    auto verifyUntouched = [&](const std::string& what) {
        EXPECT_EQ(ReadFile(file), earlier) << what;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                                std::filesystem::directory_iterator()),
                  1)
            << what;
    };
    using files::Step;
    for (const Step step : {Step::Open, Step::Write, Step::Flush, Step::Close, Step::Rename}) {
        {
            files::ScopedFailure failure(step);
            EXPECT_EQ(writeSeven(), "Cannot write the settings file: " + file);
        }
        verifyUntouched("step " + std::to_string(static_cast<int>(step)));
    }

    // A disk that fills up part-way: writes beyond a size limit come out
    // short, then fail.
    const std::size_t written = earlier.size();
    struct sigaction ignore {
    }, kept{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &kept);
    rlimit limit{}, keptLimit{};
    ::getrlimit(RLIMIT_FSIZE, &keptLimit);
    limit = keptLimit;
    limit.rlim_cur = written - 8;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const std::string fault = writeSeven();
    ::setrlimit(RLIMIT_FSIZE, &keptLimit);
    ::sigaction(SIGXFSZ, &kept, nullptr);
    EXPECT_EQ(fault, "Cannot write the settings file: " + file);
    verifyUntouched("short write");

    EXPECT_EQ(writeSeven(), "no fault");
    EXPECT_EQ(
        SettingText(RegFun(file).ReadValue(kHKeyLocalMachine, kKey, "ForRowValue", std::string())),
        "7");
}

TEST(RegFunFile, DamagedFileKeepsWhatCanBeReadAndIsRewritten) {
    TempFolder folder;
    const std::string file = folder / "Fotolane.ini";
    const std::string damaged =
        "[HKEY_LOCAL_MACHINE]\nSOFTWARE\\Quarvell\\Fotolane\\Path=/photos\n[broken\n=\n";
    folder.Write("Fotolane.ini", damaged);
    {
        RegFun store(file);
        EXPECT_EQ(SettingText(store.ReadValue(kHKeyLocalMachine, kKey, "Path", std::string())),
                  "/photos");
        store.WriteValue(kHKeyLocalMachine, kKey, "Java", std::int16_t{0});
    }
    EXPECT_EQ(ReadFile(file + ".damaged"), damaged);
    {
        // As at the window's close: an object of its own after the load's.
        RegFun store(file);
        store.WriteValue(kHKeyLocalMachine, kKey, "Add", std::int32_t{1});
    }
    RegFun store(file);
    auto read = [&](const char* name) {
        return SettingText(store.ReadValue(kHKeyLocalMachine, kKey, name, std::string()));
    };
    EXPECT_EQ(read("Path"), "/photos");
    EXPECT_EQ(read("Java"), "0");
    EXPECT_EQ(read("Add"), "1");

    // Damage that Qt's cache of the file hides from a later object shows
    // once written; that write succeeds all the same.
    folder.Write("Fotolane.ini", "\x01\xff[HKEY_LOCAL_MACHINE\n=\n");
    { RegFun(file).ReadValue(kHKeyLocalMachine, kKey, "Path", std::string()); }
    RegFun(file).WriteValue(kHKeyLocalMachine, kKey, "Path", std::string("/x"));
    EXPECT_EQ(SettingText(RegFun(file).ReadValue(kHKeyLocalMachine, kKey, "Path", std::string())),
              "/x");
}

}  // namespace
}  // namespace fotolane
