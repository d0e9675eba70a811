// The argument loop both programs share: both spellings of a value, the misuse it refuses, the
// value lists and the number syntax of --window.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/command_line.hpp"

namespace advdiff::run {
namespace {

constexpr AcceptedOption kAccepted[] = {
    {"--window", "SECONDS"}, {"--no-edit", ""}, {"--summary", "FILE"}, {"--help", "", "-h"},
};

std::vector<GivenOption> parse(std::vector<const char*> args) {
    std::vector<std::string> arguments = {"program"};
    arguments.insert(arguments.end(), args.begin(), args.end());
    return parse_command_line(arguments, kAccepted);
}

std::string misuse(std::vector<const char*> args) {
    try {
        parse(std::move(args));
    } catch (const UsageError& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(CommandLine, ValueFollowsAsNextArgumentOrAfterEquals) {
    const auto given = parse({"--window", "5", "--summary=out=1.json", "--no-edit", "-h", "--summary", "-x.json"});
    ASSERT_EQ(given.size(), 5u);
    EXPECT_EQ(given[0].name, "--window");
    EXPECT_EQ(given[0].value, "5");
    EXPECT_EQ(given[1].value, "out=1.json");  // only the first '=' separates
    EXPECT_EQ(given[2].name, "--no-edit");
    EXPECT_EQ(given[3].name, "--help");       // the alias is reported by the option's name
    EXPECT_EQ(given[4].value, "-x.json");     // the next argument is the value, whatever it looks like
    EXPECT_TRUE(parse({}).empty());
}

TEST(CommandLine, RefusesUnknownArgumentsMissingValuesAndValuesOfFlags) {
    EXPECT_EQ(misuse({"--fast"}), "unknown argument \"--fast\"");
    EXPECT_EQ(misuse({"--fast=1"}), "unknown argument \"--fast\"");
    EXPECT_NE(misuse({"dados1.ent"}).find("unknown argument \"dados1.ent\""), std::string::npos);
    EXPECT_NE(misuse({"--window"}).find("--window needs a value"), std::string::npos);
    EXPECT_NE(misuse({"--window="}).find("found an empty one"), std::string::npos);
    EXPECT_NE(misuse({"--summary", ""}).find("found an empty one"), std::string::npos);
    EXPECT_EQ(misuse({"--no-edit=yes"}), "--no-edit takes no value, found \"yes\"");
    EXPECT_EQ(misuse({"--win", "1"}), "unknown argument \"--win\"");  // no abbreviations
}

TEST(CommandLine, AnUnknownValueListsTheAcceptedOnes) {
    const GivenOption method{"--method", "foo"};
    try {
        choose_value(method, {"band", "iterative"});
        FAIL() << "accepted";
    } catch (const UsageError& e) {
        EXPECT_STREQ(e.what(), "--method: unknown value \"foo\"; accepted: band, iterative");
    }
    EXPECT_EQ(choose_value({"--method", "iterative"}, {"band", "iterative"}), "iterative");
}

TEST(CommandLine, SecondsAreWrittenAsInTheInputFiles) {
    const auto seconds = [](const char* text) { return parse_seconds({"--window", text}); };
    EXPECT_EQ(seconds("0"), 0.0);
    EXPECT_EQ(seconds("2.5"), 2.5);
    EXPECT_EQ(seconds("1D1"), 10.0);
    EXPECT_EQ(seconds("+.5e1"), 5.0);
    for (const char* bad : {"0x10", "inf", "nan", "-1", "1e999", "1,5", "", " 1", "1s"})
        EXPECT_THROW(seconds(bad), UsageError) << bad;
}

TEST(CommandLine, EveryFailureBecomesExitStatusOne) {
    EXPECT_EQ(run_reporting_errors("t", [] {}), 0);
    EXPECT_EQ(run_reporting_errors("t", [] { throw RunError("f", 3, "s", "bad"); }), 1);
    EXPECT_EQ(run_reporting_errors("t", [] { throw 42; }), 1);  // not derived from std::exception
}

}  // namespace
}  // namespace advdiff::run
