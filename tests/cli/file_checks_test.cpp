// The checks on the firmware file's name before a board is touched: its
// kind (".rpd" or ".pof", anywhere in the path, case-sensitive) and the
// model designation of the board.
#include <sys/stat.h>

#include <cctype>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "tests/cli/cli_fixture.hpp"

namespace {

using clitest::Cli;

struct NameRow {
    const char *name;     // file name in the working folder
    const char *error;    // "" when the update goes ahead
};

void PrintTo(const NameRow &row, std::ostream *out) { *out << row.name; }

const NameRow kNames[] = {
    {"fw-ZEN5190.rpd", ""},
    {"fw-ZEN5190.pof", ""},
    {"fw-ZEN5190.pof.bak", ""},            // the kind may sit anywhere
    {"ZEN5190.rpd-copy", ""},
    {"fw-ZEN5190.RPD", "Invalid firmware file format"},
    {"fw-ZEN5190.POF", "Invalid firmware file format"},
    {"fw-ZEN5190.bin", "Invalid firmware file format"},
    {"fw-ZEN5191.rpd", "Invalid firmware board type"},
    {"fw-zen5190.rpd", "Invalid firmware board type"},
    {"fw-ZEN519.rpd", "Invalid firmware board type"},
};

class FileName : public Cli, public ::testing::WithParamInterface<NameRow> {};

TEST_P(FileName, IsCheckedAgainstTheBoard) {
    const NameRow row = GetParam();
    machine("[[system]]\n" + clitest::upgrade_board("b1"));
    // The content is a valid image either way; only the name decides.
    const std::string path = make_image(row.name, "ZEN5190", 0x30000);
    const auto result = run({"update", path});
    if (std::string(row.error).empty()) {
        EXPECT_EQ(result.exit_code, 0) << result.out;
        EXPECT_TRUE(clitest::contains(log(), "Update succeeded.\n"));
    } else {
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.out, std::string("\nError: ") + row.error + "\n");
        EXPECT_TRUE(trace_of("KorvelGetSupportedDriverFeatures").empty());
        EXPECT_FALSE(log_exists());
    }
}

INSTANTIATE_TEST_SUITE_P(Names, FileName, ::testing::ValuesIn(kNames), [](const auto &info) {
    std::string name = info.param.name;
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
});

TEST_F(Cli, ModelMayStandInTheFolderName) {
    machine("[[system]]\n" + clitest::upgrade_board("b1"));
    ASSERT_EQ(::mkdir(work_.file("ZEN5190").c_str(), 0755), 0);
    const std::string path = make_image("ZEN5190/firmware.rpd", "ZEN5190", 0x30000);
    const auto result = run({"update", path});
    EXPECT_EQ(result.exit_code, 0) << result.out;
}

TEST_F(Cli, EmptyFileArgumentIsRefused) {
    machine("[[system]]\n" + clitest::upgrade_board("b1"));
    const auto result = run({"update", ""});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "\nError: No valid file passed\n");
}

TEST_F(Cli, BoardKindOutsideTheTableIsTheBindingsError) {
    machine("[[system]]\n" + clitest::board_toml("odd", 35, "[5]",
                                                  "[[system.board.fault]]\ntype = \"call\"\n"
                                                  "call = \"KorvelGetBoardKind\"\ncode = 58\n"));
    const auto result = run({"update", make_image("fw-ZEN5190.rpd", "ZEN5190", 0x30000)});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "\nError: [from_c] Error: invalid board type 58 failed with error Invalid data\n");
}

} // namespace
