// romwright-cli's command line: help, version, a line that does not match,
// options among the arguments, and IDs that are not numbers.
#include <string>

#include <gtest/gtest.h>

#include "cli/usage.hpp"
#include "tests/cli/cli_fixture.hpp"

namespace {

using clitest::Cli;

const std::string kUsage = romwright::cli::kUsage;

TEST(UsageText, EndsWithTheLastOptionLine) {
    const std::string last = "  --page1            Forces page 1 update.\n";
    ASSERT_GT(kUsage.size(), last.size());
    EXPECT_EQ(kUsage.substr(kUsage.size() - last.size()), last);
    EXPECT_EQ(kUsage.rfind("Firmware Updater Utility.\n\nUpdates the boards local to this system", 0), 0u);
}

TEST_F(Cli, HelpPrintsTheUsageAndExitsZero) {
    for (const char *option : {"-h", "--help"}) {
        const auto result = run({option});
        EXPECT_EQ(result.exit_code, 0) << option;
        EXPECT_EQ(result.out, kUsage + "\n") << option;
        EXPECT_EQ(result.err, "") << option;
    }
    EXPECT_TRUE(trace().empty());  // the library was never asked anything
}

TEST_F(Cli, HelpAmongOtherArgumentsStillWins) {
    const auto result = run({"update", "--help", "fw-ZEN5190.rpd"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, kUsage + "\n");
}

TEST_F(Cli, VersionPrintsTheVersionLine) {
    const auto result = run({"--version"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "romwright-cli version 3.5.3\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(Cli, LineThatDoesNotMatchExitsMinusOne) {
    const std::vector<std::vector<std::string>> lines = {
        {}, {"update"}, {"upgrade", "fw.rpd"}, {"update", "a.rpd", "b.rpd"}, {"update", "--frobnicate", "fw.rpd"},
    };
    for (const auto &args : lines) {
        const auto result = run(args);
        SCOPED_TRACE(args.empty() ? std::string("(nothing)") : args[0] + " ... " + std::to_string(args.size()));
        EXPECT_EQ(result.exit_code, 255);
        EXPECT_FALSE(result.err.empty());
        EXPECT_EQ(result.out, "\n" + kUsage + "\n");
    }
    EXPECT_FALSE(log_exists());
}

TEST_F(Cli, OptionsMayComeAfterTheFile) {
    machine("[[system]]\n" + clitest::upgrade_board("a") + "[[system]]\n" + clitest::upgrade_board("b"));
    const std::string path = make_image("fw-ZEN5190.rpd", "ZEN5190", 0x30000);
    const auto result = run({"update", path, "--system=2", "--quiet"});
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(trace_of("KorvelGetBoardBySystemID"),
              std::vector<std::string>{"KorvelGetBoardBySystemID(system=2, board=1) -> b"});
}

TEST_F(Cli, SystemThatIsNotANumberIsAnError) {
    const auto result = run({"update", "--system=two", "fw-ZEN5190.rpd"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "\nError: --system must be a whole number, not \"two\"\n");
}

TEST_F(Cli, BoardWithTrailingTextIsAnError) {
    const auto result = run({"update", "--board=3x", "fw-ZEN5190.rpd"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "\nError: --board must be a whole number, not \"3x\"\n");
}

TEST_F(Cli, IdBeyondThirtyTwoBitsIsRefusedRatherThanWrapped) {
    // 4294967297 would wrap to system 1 and update boards nobody asked for.
    const auto result = run({"update", "--system=4294967297", "fw-ZEN5190.rpd"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "\nError: --system 4294967297 is out of range\n");
    EXPECT_TRUE(trace_of("KorvelGetBoardBySystemID").empty());
}

TEST_F(Cli, IdBeyondAnyIntegerIsOutOfRangeToo) {
    // A whole number all the same, so not "must be a whole number".
    for (const std::string option : {"--system", "--board"}) {
        const auto result = run({"update", option + "=-99999999999999999999", "fw-ZEN5190.rpd"});
        EXPECT_EQ(result.exit_code, 1) << option;
        EXPECT_EQ(result.out, "\nError: " + option + " -99999999999999999999 is out of range\n");
    }
    EXPECT_TRUE(trace_of("KorvelGetBoardBySystemID").empty());
}

} // namespace
