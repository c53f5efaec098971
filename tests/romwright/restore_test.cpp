// romwright read, update, restore: the board ends as the first read found it.
#include <gtest/gtest.h>

#include "tests/romwright/tool_fixture.hpp"

namespace tooltest {
namespace {

struct RestoreCase {
    const char *name;
    const char *board_name;
    const char *board_id;
    const char *model;
};

void PrintTo(const RestoreCase &c, std::ostream *out) { *out << c.name; }

class RestorePutsBack : public Tool, public ::testing::WithParamInterface<RestoreCase> {};

TEST_P(RestorePutsBack, TheFlashAsItWasReadByteForByte) {
    const RestoreCase &c = GetParam();
    const std::string board = std::string("--board=") + c.board_id;
    const std::string model = c.model;
    const std::string first = make_image("fw-" + model + ".rpd", model, {"--size", "0x300000", "--seed", "3"});
    const std::string second = make_image("fw2-" + model + ".rpd", model, {"--size", "0x300000", "--seed", "4"});
    ASSERT_EQ(run({"update", "--system=1", board, "--quiet", first}).exit_code, 0);
    const std::vector<uint8_t> before = flash(c.board_name);

    const auto saved = run({"read", "--system=1", board, path("backup.bin")});
    ASSERT_EQ(saved.exit_code, 0) << saved.err;
    const auto updated = run({"update", "--system=1", board, "--quiet", second});
    ASSERT_EQ(updated.exit_code, 0) << updated.err;
    ASSERT_FALSE(flash(c.board_name) == before);

    const auto restored = run({"restore", path("backup.bin"), "--system=1", board, "--json"});
    ASSERT_EQ(restored.exit_code, 0) << restored.err;
    EXPECT_TRUE(flash(c.board_name) == before);
    const std::string counts = json_value(restored.out, "[d['rewritten'] > 0, d['matched'] > 0, d['rewritten'] + d['matched'] == d['sectors']]");
    EXPECT_EQ(counts, "[true, true, true]") << restored.out;
}

INSTANTIATE_TEST_SUITE_P(Modes, RestorePutsBack,
                         ::testing::Values(RestoreCase{"PageMode", "page", "1", "ZEN5110"},
                                           RestoreCase{"SectorMode", "sector", "2", "ZEN5160"}),
                         [](const ::testing::TestParamInfo<RestoreCase> &info) { return std::string(info.param.name); });

TEST_F(Tool, RestoreRefusesAnotherBoardBeforeTheFirstErase) {
    ASSERT_EQ(run({"read", "--system=1", "--board=1", path("backup.bin")}).exit_code, 0);
    const std::vector<uint8_t> sector_board = flash("sector");
    const auto other_kind = run({"restore", path("backup.bin"), "--system=1", "--board=2"});
    EXPECT_EQ(other_kind.exit_code, 1);
    EXPECT_EQ(other_kind.out, "") << "a progress bar before the refusal";
    EXPECT_NE(other_kind.err.find("The backup is of a board of kind 11, this board is of kind 25 (ZEN5160)"),
              std::string::npos)
        << other_kind.err;
    EXPECT_TRUE(flash("sector") == sector_board);

    // The same kind with another serial: refused unless --any-serial.
    std::string sidecar = testsupport::read_text(path("backup.bin.json"));
    sidecar.replace(sidecar.find("\"serial\":511001"), 15, "\"serial\":511002");
    testsupport::write_file(path("backup.bin.json"), std::vector<uint8_t>(sidecar.begin(), sidecar.end()));
    const auto other_serial = run({"restore", path("backup.bin"), "--system=1", "--board=1"});
    EXPECT_EQ(other_serial.exit_code, 1);
    EXPECT_NE(other_serial.err.find("serial 511002, this board's serial is 511001"), std::string::npos)
        << other_serial.err;
    EXPECT_EQ(run({"restore", path("backup.bin"), "--system=1", "--board=1", "--any-serial"}).exit_code, 0);
}

} // namespace
} // namespace tooltest
