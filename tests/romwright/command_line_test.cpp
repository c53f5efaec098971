// What romwright says about a command line it cannot follow: a bad one is
// 255 with the reason on standard error, a board or system that is not
// there is named with those that are, and under --json standard output
// holds a document or nothing.
#include <gtest/gtest.h>

#include "tests/romwright/tool_fixture.hpp"

namespace tooltest {
namespace {

struct CommandCase {
    const char *name;
    std::vector<std::string> args;
    const char *says;  // on standard error
};

void PrintTo(const CommandCase &c, std::ostream *out) { *out << c.name; }

std::string case_name(const ::testing::TestParamInfo<CommandCase> &info) { return info.param.name; }

// A backup of board 1/3 and a firmware file for it, so that a refusal comes
// from the command line alone.
class CommandLine : public Tool, public ::testing::WithParamInterface<CommandCase> {
protected:
    void SetUp() override {
        Tool::SetUp();
        make_image("fw-ZEN5191.rpd", "ZEN5191", {"--size", "0x80000"});
        const auto saved = run({"read", "--system=1", "--board=3", path("backup.bin")});
        ASSERT_EQ(saved.exit_code, 0) << saved.err;
    }

    // The case's arguments, "backup.bin" and "fw-ZEN5191.rpd" in the working folder.
    testsupport::ProcessResult run_case() {
        std::vector<std::string> args;
        for (const std::string &arg : GetParam().args)
            args.push_back(arg == "backup.bin" || arg == "fw-ZEN5191.rpd" ? path(arg) : arg);
        return run(args);
    }
};

class BadCommandLine : public CommandLine {};

TEST_P(BadCommandLine, Exits255WithTheReasonOnStandardError) {
    const auto result = run_case();
    EXPECT_EQ(result.exit_code, 255) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(GetParam().says), std::string::npos) << result.err;
}

const char *const kOneBoard = "romwright: --system=<sid> and --board=<bid> name the one board to use";

INSTANTIATE_TEST_SUITE_P(
    Commands, BadCommandLine,
    ::testing::Values(CommandCase{"VerifyWithoutSystem", {"verify", "fw-ZEN5191.rpd", "--board=3"}, kOneBoard},
                      CommandCase{"ReadWithoutBoard", {"read", "--system=1", "backup.bin"}, kOneBoard},
                      CommandCase{"RestoreWithoutEither", {"restore", "backup.bin"}, kOneBoard},
                      CommandCase{"ReadOfBoardX",
                                  {"read", "--system=1", "--board=x", "backup.bin"},
                                  "--board must be a whole number, not \"x\""},
                      CommandCase{"UpdateOfSystem2Point5",
                                  {"update", "--system=2.5", "fw-ZEN5191.rpd"},
                                  "--system must be a whole number, not \"2.5\""},
                      CommandCase{"UpdateJsonOfSystemX",
                                  {"update", "--system=x", "--json", "fw-ZEN5191.rpd"},
                                  "--system must be a whole number, not \"x\""}),
    case_name);

class MissingBoard : public CommandLine {};

TEST_P(MissingBoard, IsNamedWithTheBoardsThereAre) {
    const auto result = run_case();
    EXPECT_EQ(result.exit_code, 1) << result.out << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(GetParam().says), std::string::npos) << result.err;
}

const char *const kNoBoard7 = "romwright: System 1 has no board 7; its boards are 1 to 4\n";
const char *const kNoSystem9 = "romwright: There is no system 9; the only system is 1\n";

INSTANTIATE_TEST_SUITE_P(
    Commands, MissingBoard,
    ::testing::Values(
        CommandCase{"UpdateOfBoard7", {"update", "--system=1", "--board=7", "fw-ZEN5191.rpd"}, kNoBoard7},
        CommandCase{"UpdateOfSystem9", {"update", "--system=9", "fw-ZEN5191.rpd"}, kNoSystem9},
        CommandCase{"UpdateOfBoard1OfSystem9", {"update", "--system=9", "--board=1", "fw-ZEN5191.rpd"}, kNoSystem9},
        CommandCase{"UpdateJsonOfSystem9", {"update", "--system=9", "--json", "fw-ZEN5191.rpd"}, kNoSystem9},
        CommandCase{"VerifyOfBoard7", {"verify", "fw-ZEN5191.rpd", "--system=1", "--board=7"}, kNoBoard7},
        CommandCase{"ReadOfBoard7", {"read", "--system=1", "--board=7", "out.bin"}, kNoBoard7},
        CommandCase{"RestoreOfBoard7", {"restore", "backup.bin", "--system=1", "--board=7"}, kNoBoard7},
        CommandCase{"ReadOfSystem0", {"read", "--system=0", "--board=1", "out.bin"},
                    "romwright: There is no system 0; the only system is 1\n"},
        CommandCase{"ReadOfSystemMinus1", {"read", "--system=-1", "--board=1", "out.bin"},
                    "romwright: There is no system -1; the only system is 1\n"}),
    case_name);

// A library older than 7.1 under --json: nothing on standard output, the
// reason on standard error.
class OldLibrary : public CommandLine {};

TEST_P(OldLibrary, LeavesStandardOutputEmptyUnderJson) {
    use_machine(std::string("[library]\nversion = \"7.0.9\"\n") + kMachine);
    const auto result = run_case();
    EXPECT_EQ(result.exit_code, 255) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(GetParam().says), std::string::npos) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, OldLibrary,
    ::testing::Values(
        CommandCase{"Verify", {"verify", "fw-ZEN5191.rpd", "--system=1", "--board=3", "--json"}, "too old"},
        CommandCase{"Read", {"read", "--system=1", "--board=3", "out.bin", "--json"}, "too old"},
        CommandCase{"Restore", {"restore", "backup.bin", "--system=1", "--board=3", "--json"}, "too old"},
        CommandCase{"Update", {"update", "--system=1", "--board=3", "--json", "fw-ZEN5191.rpd"}, "too old"}),
    case_name);

} // namespace
} // namespace tooltest
