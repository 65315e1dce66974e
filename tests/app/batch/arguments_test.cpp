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
    // The window's box can hold 0; the run then reports it.
    EXPECT_EQ(Parse({"--per-row", "0", "pics"}).settings.perRow, "0");
    // After "--" a name that starts with "-" is the folder.
    EXPECT_EQ(Parse({"--", "-odd"}).settings.folder, "-odd");
    EXPECT_EQ(Parse({"--size", "90", "--size", "100", "p"}).settings.size, "100");
}

TEST(BatchArguments, HelpAndVersionWinOverEverythingElse) {
    EXPECT_EQ(Parse({"--help"}).action, Action::Help);
    EXPECT_EQ(Parse({"pics", "--help"}).action, Action::Help);
    EXPECT_EQ(Parse({"--version"}).action, Action::Version);
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
        {"-n", "pics"},
        {"--new=yes", "pics"},
    };
    for (const auto& arguments : wrong) {
        const ParsedArguments parsed = ParseArguments(arguments);
        EXPECT_EQ(parsed.action, Action::UsageError) << ::testing::PrintToString(arguments);
        EXPECT_FALSE(parsed.error.empty());
    }
    EXPECT_EQ(Parse({}).error, "no folder given");
    EXPECT_EQ(Parse({"--bogus", "pics"}).error, "unknown option '--bogus'");
}

}  // namespace
}  // namespace fotolane::batch
