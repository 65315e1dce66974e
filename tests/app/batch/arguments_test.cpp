#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/batch/BatchArguments.h"

namespace fotolane::batch {
namespace {

using Action = ParsedArguments::Action;

ParsedArguments Parse(std::vector<std::string> arguments) {
    return ParseArguments(arguments);
}

TEST(BatchArguments, DefaultsAreThoseOfTheWindow) {
    const ParsedArguments parsed = Parse({"/photos/trip"});
    ASSERT_EQ(parsed.action, Action::Run);
    EXPECT_EQ(parsed.settings.folder, "/photos/trip");
    EXPECT_EQ(parsed.settings.perRow, "3");
    EXPECT_EQ(parsed.settings.size, "70");
    EXPECT_TRUE(parsed.settings.all);
    EXPECT_TRUE(parsed.settings.viewer);
    EXPECT_FALSE(parsed.settings.titled);
}

TEST(BatchArguments, ReadsEveryOptionInBothSpellings) {
    const ParsedArguments parsed = Parse({"--per-row", "5", "--size=120", "--new", "--no-viewer",
                                          "--title", "  Summer & <b>sea</b> ", "pics"});
    ASSERT_EQ(parsed.action, Action::Run);
    EXPECT_EQ(parsed.settings.folder, "pics");
    EXPECT_EQ(parsed.settings.perRow, "5");
    EXPECT_EQ(parsed.settings.size, "120");
    EXPECT_FALSE(parsed.settings.all);
    EXPECT_FALSE(parsed.settings.viewer);
    EXPECT_TRUE(parsed.settings.titled);
    EXPECT_EQ(parsed.settings.title, "  Summer & <b>sea</b> ");  // as typed

    // An empty title is a title all the same: the run's check answers it.
    const ParsedArguments empty = Parse({"--title=", "pics"});
    EXPECT_TRUE(empty.settings.titled);
    EXPECT_EQ(empty.settings.title, "");
    // Short forms, grouped or not; a value may follow its letter at once.
    const ParsedArguments brief =
        Parse({"-nlk", "-p", "4", "-s120", "-t", "-dash-", "-rq", "pics"});
    EXPECT_EQ(brief.settings.perRow, "4");
    EXPECT_EQ(brief.settings.size, "120");
    EXPECT_FALSE(brief.settings.all);
    EXPECT_FALSE(brief.settings.viewer);
    EXPECT_EQ(brief.settings.title, "-dash-");
    EXPECT_TRUE(brief.settings.keepGoing && brief.settings.recursive && brief.settings.quiet);
    EXPECT_FALSE(brief.settings.update);
    // --update is "New" that also remakes outdated thumbnails.
    const ParsedArguments update = Parse({"-u", "pics"});
    EXPECT_TRUE(update.settings.update);
    EXPECT_FALSE(update.settings.all);
    // Leading zeros are digits like any other; the number counts.
    EXPECT_EQ(Parse({"--size", "0070", "pics"}).settings.size, "70");
    // Names are bytes: not UTF-8 is no obstacle.
    EXPECT_EQ(Parse({"-t", "caf\xe9", "fotos \xff"}).settings.folder, "fotos \xff");
    EXPECT_EQ(Parse({"-t", "caf\xe9", "fotos \xff"}).settings.title, "caf\xe9");
    // After "--" a name that starts with "-" is the folder.
    EXPECT_EQ(Parse({"--", "-odd"}).settings.folder, "-odd");
    EXPECT_EQ(Parse({"--size", "90", "--size", "100", "p"}).settings.size, "100");
    // Workers: one per core unless told.
    EXPECT_EQ(Parse({"pics"}).settings.jobs, 0);
    EXPECT_EQ(Parse({"-j3", "pics"}).settings.jobs, 3);
    EXPECT_EQ(Parse({"--jobs", "1", "pics"}).settings.jobs, 1);
    EXPECT_EQ(WorkersFor(2), 2);
    EXPECT_GE(WorkersFor(0), 1);
}

TEST(BatchArguments, HelpAndVersionWinOverEverythingElse) {
    EXPECT_EQ(Parse({"--help"}).action, Action::Help);
    EXPECT_EQ(Parse({"pics", "--help"}).action, Action::Help);
    EXPECT_EQ(Parse({"--version"}).action, Action::Version);
    EXPECT_EQ(Parse({"-V", "--bogus"}).action, Action::Version);
    EXPECT_EQ(Parse({"-h"}).action, Action::Help);
    EXPECT_NE(UsageText().find("Usage: fotolane-gallery [options] FOLDER"), std::string::npos);
}

TEST(BatchArguments, RejectsWhatTheWindowCouldNotHold) {
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"a", "b"},
        {"--size", "-5", "pics"},
        {"--size", "7.5", "pics"},
        {"--per-row", "", "pics"},
        {"--per-row", "x", "pics"},
        {"--size"},
        {"pics", "--title"},
        {"--bogus", "pics"},
        {"-x", "pics"},
        {"--per-row", "0", "pics"},
        {"--size", "000", "pics"},
        {"--size", "1000", "pics"},
        {"--per-row=-3", "pics"},
        {"--new=yes", "pics"},
        {"--jobs", "0", "pics"},
        {"-j", "many", "pics"},
    };
    for (const auto& arguments : wrong) {
        const ParsedArguments parsed = ParseArguments(arguments);
        EXPECT_EQ(parsed.action, Action::UsageError) << ::testing::PrintToString(arguments);
        EXPECT_FALSE(parsed.error.empty());
    }
    EXPECT_EQ(Parse({}).error, "no folder given");
    EXPECT_EQ(Parse({"--bogus", "pics"}).error, "unknown option '--bogus'");
    EXPECT_EQ(Parse({"-s", "1000", "pics"}).error,
              "option '--size' takes a whole number from 1 to 999, not '1000'");
    EXPECT_EQ(Parse({"pics", "-t"}).error, "missing value after '-t'");
}

}  // namespace
}  // namespace fotolane::batch
