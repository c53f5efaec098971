// romwright-cli's log file across runs: it only ever receives whole lines,
// and one that cannot be written is reported once without changing the update.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/cli/cli_fixture.hpp"

namespace {

using clitest::Cli;

const std::string kDashes = "-------------------------------------\n";

// The engine's last text of a run that cannot open its file has no line
// break; the next run's header must still start on a line of its own.
TEST_F(Cli, AnEntryEndingWithoutALineBreakGetsOneBeforeTheNextRun) {
    machine("[[system]]\n" + clitest::upgrade_board("u1"));
    const std::string missing = work_.file("missing-ZEN5190.rpd");
    for (int run_number = 0; run_number < 2; ++run_number) {
        const auto result = run({"update", missing});
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.out, "\nError: Firmware updater error. Code 1\n\n");
    }
    const std::string entry = kDashes + "Korvel Firmware Updater Version 3.5.3\n" + kDashes + "Firmware file = " +
                              missing + "\nCould not open file\n";
    EXPECT_EQ(log(), entry + entry);
}

struct UnwritableLog {
    const char *name;
    void (*block)(const std::string &log_path);
    const char *reason;
};

void PrintTo(const UnwritableLog &c, std::ostream *out) { *out << c.name; }

class LogNotWritable : public Cli, public ::testing::WithParamInterface<UnwritableLog> {};

TEST_P(LogNotWritable, IsReportedOnceAndTheUpdateGoesOn) {
    machine("[[system]]\n" + clitest::upgrade_board("u1") + clitest::upgrade_board("u2"));
    const std::string path = make_image("fw-ZEN5190.rpd", "ZEN5190", 0x30000);
    const std::string log_path = work_.file("romwright-cli.log");
    GetParam().block(log_path);

    const auto result = run({"update", path});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_THAT(result.out, ::testing::EndsWith("Update of 2 boards successful\n"));
    EXPECT_EQ(result.err, "romwright-cli: cannot write the log file " + log_path + ": " + GetParam().reason + "\n");
    const std::vector<uint8_t> image = testsupport::read_file(path);
    for (const char *board : {"u1", "u2"}) {
        const std::vector<uint8_t> now = flash(board);
        EXPECT_TRUE(now.size() >= image.size() && std::equal(image.begin(), image.end(), now.begin())) << board;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Blocked, LogNotWritable,
    ::testing::Values(
        UnwritableLog{"folder_of_that_name", [](const std::string &p) { ASSERT_EQ(::mkdir(p.c_str(), 0755), 0); },
                      "Is a directory"},
        UnwritableLog{"full_disk", [](const std::string &p) { ASSERT_EQ(::symlink("/dev/full", p.c_str()), 0); },
                      "No space left on device"}),
    [](const ::testing::TestParamInfo<UnwritableLog> &info) { return std::string(info.param.name); });

} // namespace
