// The version gate: a library or driver older than 7.1 is refused before any
// board is touched, whatever --quiet says.
#include <cctype>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "tests/cli/cli_fixture.hpp"

namespace {

using clitest::Cli;

const std::string kTooOld =
    "Error: Your library and driver are too old to run\n"
    "       a safe update of your system. Please update\n"
    "       to the latest version from Korvelon's\n"
    "       website and run this program again.\n";

struct VersionRow {
    const char *library;
    const char *driver;
    bool refused;
};

void PrintTo(const VersionRow &row, std::ostream *out) { *out << "library " << row.library << ", driver " << row.driver; }

const VersionRow kRows[] = {
    {"7.0.9", "7.4.0", true},   {"6.9.0", "7.4.0", true},  {"7.4.0", "7.0.0", true}, {"7.4.0", "1.2.3", true},
    {"7.1.0", "7.1.0", false},  {"8.0.0", "7.1.0", false}, {"7.1.0", "9.0.0", false}, {"7.9.9", "7.2.0", false},
};

class VersionGate : public Cli, public ::testing::WithParamInterface<std::tuple<VersionRow, bool>> {};

TEST_P(VersionGate, RefusesOlderThanSevenOne) {
    const auto [row, quiet] = GetParam();
    machine(clitest::library_toml(row.library, row.driver) + "[[system]]\n" + clitest::upgrade_board("b1"));
    const std::string path = make_image("fw-ZEN5190.rpd", "ZEN5190", 0x30000);
    std::vector<std::string> args = {"update", path};
    if (quiet) args.push_back("--quiet");
    const auto result = run(args);
    SCOPED_TRACE(std::string(row.library) + " / " + row.driver + (quiet ? " quiet" : ""));
    if (row.refused) {
        EXPECT_EQ(result.exit_code, 255);
        EXPECT_EQ(result.out, kTooOld);
        EXPECT_EQ(result.err, "");
        EXPECT_TRUE(trace_of("KorvelGetBoardBySystemID").empty());
        EXPECT_FALSE(log_exists());
    } else {
        EXPECT_EQ(result.exit_code, 0) << result.out;
        EXPECT_EQ(result.out.find("too old"), std::string::npos);
    }
}

std::string alnum(std::string text) {
    for (char &c : text)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return text;
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionGate, ::testing::Combine(::testing::ValuesIn(kRows), ::testing::Bool()),
                         [](const auto &info) {
                             const VersionRow &row = std::get<0>(info.param);
                             return "library_" + alnum(row.library) + "_driver_" + alnum(row.driver) +
                                    (std::get<1>(info.param) ? "_quiet" : "");
                         });

TEST_F(Cli, OldLibraryIsRefusedWithoutAskingTheDriver) {
    machine(clitest::library_toml("7.0.0", "7.4.0"));
    const auto result = run({"update", "fw-ZEN5190.rpd"});
    EXPECT_EQ(result.exit_code, 255);
    EXPECT_EQ(trace_of("KorvelGetSDKVersion").size(), 1u);
    EXPECT_TRUE(trace_of("KorvelGetDriverVersion").empty());
}

TEST_F(Cli, LibraryThatCannotTellItsVersionIsAnError) {
    // A machine description the library cannot load makes it refuse the version query.
    machine("[library]\nversion = \"seven\"\n");
    const auto result = run({"update", "fw-ZEN5190.rpd"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "\nError: Could not query SDK version\n");
}

} // namespace
