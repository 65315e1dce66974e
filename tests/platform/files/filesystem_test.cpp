#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/core/Fault.h"
#include "platform/files/FileSystem.h"
#include "platform/files/FilesTesting.h"
#include "tests/TempFolder.h"
#include "tests/TestSupport.h"

namespace fotolane {
namespace {

using testing::FaultOf;
using testing::ReadFile;
using testing::TempFolder;

std::vector<std::string> ListAll(const std::string& folder) {
    FolderListing listing;
    std::vector<std::string> names;
    for (std::string name = listing.First(folder); !name.empty(); name = listing.Next()) {
        names.push_back(name);
    }
    return names;
}

TEST(FolderListing, YieldsPlainFilesOnlyInWindowsOrder) {
    TempFolder folder;
    for (const char* name : {"b.jpg", "A.JPG", "a.jpg", "_x.gif", "Z.bmp", "10.jpg", "9.jpg",
                             "\xC3\xA9t\xC3\xA9.jpg", ".hidden.jpg"}) {
        folder.Write(name);
    }
    std::filesystem::create_directory(folder.path() / "Sub.jpg");
    std::filesystem::create_symlink(folder.path() / "b.jpg", folder.path() / "link.jpg");
    std::filesystem::create_symlink(folder.path() / "missing", folder.path() / "dangling.jpg");

    // Upper-cased comparison: "_" (0x5F) sorts after the letters, "A.JPG"
    // before "a.jpg" by bytes once their upper cases tie, and "É" after "Z".
    EXPECT_EQ(ListAll(folder.str()),
              (std::vector<std::string>{"10.jpg", "9.jpg", "A.JPG", "a.jpg", "b.jpg", "link.jpg",
                                        "Z.bmp", "_x.gif", "\xC3\xA9t\xC3\xA9.jpg"}));
}

TEST(FolderListing, EndsWithEmptyNamesAndStartsAfreshOnFirst) {
    TempFolder folder;
    folder.Write("one.jpg");
    FolderListing listing;
    EXPECT_EQ(listing.First(folder.str()), "one.jpg");
    EXPECT_EQ(listing.Next(), "");
    EXPECT_EQ(listing.Next(), "");
    EXPECT_EQ(listing.First(folder.str()), "one.jpg");

    TempFolder empty;
    EXPECT_EQ(listing.First(empty.str()), "");
}

TEST(FolderListing, FolderThatCannotBeReadIsAFaultNamingIt) {
    TempFolder folder;
    const std::string missing = folder / "nowhere";
    try {
        FolderListing().First(missing);
        FAIL();
    } catch (const Fault& fault) {
        EXPECT_EQ(std::string(fault.Description()), "Path not found: " + missing);
    }
}

TEST(ResolvedFolderPath, IsAbsoluteWithoutTrailingSeparatorAndResolvedThroughLinks) {
    EXPECT_EQ(ResolvedFolderPath("/"), "/");
    EXPECT_EQ(ResolvedFolderPath("/photos/trip/"), "/photos/trip");
    EXPECT_EQ(ResolvedFolderPath("/photos/./x/../trip"), "/photos/trip");
    EXPECT_EQ(ResolvedFolderPath("trip"), (std::filesystem::current_path() / "trip").string());

    // ".." after a link leads where the file system leads: to the parent of
    // the link's target. A link named last keeps its own name for the page.
    TempFolder root;
    const std::string real = std::filesystem::canonical(root.path()).string();
    std::filesystem::create_directories(root.path() / "deep/inner");
    std::filesystem::create_directory_symlink(root.path() / "deep/inner", root.path() / "LDeep");
    EXPECT_EQ(ResolvedFolderPath(root / "LDeep/.."), real + "/deep");
    EXPECT_EQ(ResolvedFolderPath(root / "LDeep/../inner/"), real + "/deep/inner");
    EXPECT_EQ(ResolvedFolderPath(root / "LDeep"), real + "/LDeep");
    EXPECT_EQ(ResolvedFolderPath(root / "LDeep/."), real + "/deep/inner");
}

TEST(LookUpPlainFile, FindsOnlyVisibleRegularFiles) {
    TempFolder folder;
    folder.Write("a.jpg");
    folder.Write(".h.jpg");
    std::filesystem::create_directory(folder.path() / "d.jpg");
    EXPECT_EQ(LookUpPlainFile(folder / "a.jpg"), "a.jpg");
    EXPECT_EQ(LookUpPlainFile(folder / ".h.jpg"), "");
    EXPECT_EQ(LookUpPlainFile(folder / "d.jpg"), "");
    EXPECT_EQ(LookUpPlainFile(folder / "none.jpg"), "");
    // A path below a regular file is simply absent.
    EXPECT_EQ(LookUpPlainFile(folder / "a.jpg/x.jpg"), "");
}

TEST(CreateFolder, MakesOneLevelAndFaultsWhenItExists) {
    TempFolder folder;
    CreateFolder(folder / "Thumbnails/");
    EXPECT_TRUE(std::filesystem::is_directory(folder.path() / "Thumbnails"));
    EXPECT_THROW(CreateFolder(folder / "Thumbnails/"), Fault);
    EXPECT_THROW(CreateFolder(folder / "a/b"), Fault);
}

TEST(TextFileWriter, WritesLinesWithCrLfAndReplacesAnOldFile) {
    TempFolder folder;
    const std::string path = folder / "page.htm";
    folder.Write("page.htm", "old content that is longer");
    TextFileWriter writer;
    writer.Open(path);
    writer.WriteLine("<html>");
    writer.WriteLine("");
    writer.WriteLine("\xE9");
    writer.Close();
    EXPECT_EQ(ReadFile(path), "<html>\r\n\r\n\xE9\r\n");
    EXPECT_FALSE(writer.IsOpen());
}

TEST(TextFileWriter, OpenFailuresAreFaultsNamingTheFile) {
    TempFolder folder;
    folder.Write("plain");
    std::filesystem::create_directory(folder.path() / "dir.htm");
    EXPECT_THROW(TextFileWriter().Open(folder / "plain/page.htm"), Fault);
    try {
        TextFileWriter().Open(folder / "dir.htm");
        FAIL();
    } catch (const Fault& fault) {
        EXPECT_NE(std::string(fault.Description()).find(folder / "dir.htm"), std::string::npos);
    }
}

// Writing to /dev/full once showed a write failure; now nothing is ever
// written through a device's name, and the write steps fail through the
// seam (write_failures_test).
TEST(TextFileWriter, DeviceInThePlaceIsRefusedAtOpen) {
    if (!std::filesystem::is_character_file("/dev/full")) GTEST_SKIP() << "no /dev/full";
    EXPECT_EQ(FaultOf([] { TextFileWriter().Open("/dev/full"); }), "Not a plain file: /dev/full");
}

TEST(FolderListing, WantedEntryWhoseKindCannotBeLookedAtIsAFaultUnlessItIsGone) {
    TempFolder folder;
    folder.Write("a.jpg");
    folder.Write("notes.txt");
    const auto jpegs = [](const std::string& name) { return name.ends_with(".jpg"); };
    FolderListing listing;
    EXPECT_EQ(listing.First(folder.str(), jpegs), "a.jpg");
    EXPECT_EQ(listing.Next(), "");
    // Only a.jpg is looked at. Without search permission on the folder
    // (EACCES) it is no empty folder; removed since it was read, it is gone.
    const struct {
        int error;
        std::string fault;
    } cases[] = {{EACCES, "Permission denied: " + (folder / "a.jpg")},
                 {EIO, "Device I/O error: " + (folder / "a.jpg")},
                 {ENOENT, "no fault"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        files::ScopedFailure refused(files::Step::StatEntry, 0, c.error);
        EXPECT_EQ(FaultOf([&] { EXPECT_EQ(listing.First(folder.str(), jpegs), ""); }), c.fault);
    }
}

TEST(FolderListing, ListingThatBreaksOffIsAFault) {
    TempFolder folder;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) folder.Write(name);
    // ".", ".." and one name come; the next read fails.
    files::ScopedFailure failure(files::Step::ListFolder, 3);
    EXPECT_EQ(FaultOf([&] { FolderListing().First(folder.str()); }),
              "Device I/O error: " + folder.str());
}

// The walk's kinds and order; the failure switches as the refusals of a
// listing that breaks off (a fault) and of a link that cannot be followed
// (it leads nowhere).
TEST(WalkFolder, GivesVisibleEntriesInNameOrderWithTheirKinds) {
    TempFolder folder;
    for (const char* name : {"b.jpg", "A.jpg", ".hidden"}) folder.Write(name);
    std::filesystem::create_directory(folder.path() / "a");
    std::filesystem::create_directory(folder.path() / "_sub");
    std::filesystem::create_directory_symlink(folder.path() / "a", folder.path() / "C");
    std::filesystem::create_symlink(folder.path() / "missing", folder.path() / "d");
    using K = EntryKind;
    const std::vector<FolderEntry> all{{"a", K::Folder, K::Folder},
                                       {"A.jpg", K::PlainFile, K::PlainFile},
                                       {"b.jpg", K::PlainFile, K::PlainFile},
                                       {"C", K::Link, K::Folder},
                                       {"d", K::Link, K::None},
                                       {"_sub", K::Folder, K::Folder}};
    EXPECT_EQ(WalkFolder(folder.str()), all);
    // One link left, so that the one refused look is at it.
    std::filesystem::remove(folder.path() / "d");
    std::vector<FolderEntry> unfollowed = all;
    unfollowed.erase(unfollowed.begin() + 4);
    unfollowed[3].target = K::None;
    {
        files::ScopedFailure refused(files::Step::StatEntry, 0, EACCES);
        EXPECT_EQ(WalkFolder(folder.str()), unfollowed);
    }
    files::ScopedFailure breaks(files::Step::ListFolder, 3);
    EXPECT_EQ(FaultOf([&] { WalkFolder(folder.str()); }), "Device I/O error: " + folder.str());
    EXPECT_EQ(FaultOf([&] { WalkFolder(folder / "nowhere"); }),
              "Path not found: " + (folder / "nowhere"));
}

TEST(ReadFileStartInto, OverwritesTheBufferItReusesAndKeepsToTheLimit) {
    TempFolder folder;
    folder.Write("short.jpg", "abc");
    folder.Write("long.jpg", std::string(40, 'L'));
    std::vector<std::uint8_t> bytes(100, 0xAB);  // a longer file's leftovers
    ReadFileStartInto((folder.path() / "short.jpg").string(), 1024, bytes);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{'a', 'b', 'c'}));
    ReadFileStartInto((folder.path() / "long.jpg").string(), 16, bytes);
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(16, 'L'));
}

}  // namespace
}  // namespace fotolane
