// romwright verify and read, end to end on the simulated machine.
#include <gtest/gtest.h>

#include "tests/romwright/tool_fixture.hpp"

namespace tooltest {
namespace {

TEST_F(Tool, VerifyMatchesAfterAnUpdateAndNamesTheAddressOfAOneByteChange) {
    const std::string file = make_image("fw-ZEN5110.rpd", "ZEN5110", {"--size", "0x300000"});
    ASSERT_EQ(cli({"update", "--system=1", "--board=1", "--quiet", file}).exit_code, 0);
    extra_env_["ZENAPI_SIM_CALL_COUNTS"] = path("counts.txt");
    const auto same = run({"verify", file, "--system=1", "--board=1", "--json"});
    EXPECT_EQ(same.exit_code, 0) << same.out << same.err;
    EXPECT_EQ(json_value(same.out, "d['matches']"), "true");
    // It read the flash and neither erased nor wrote it.
    const std::string counts = testsupport::read_text(path("counts.txt"));
    EXPECT_NE(counts.find("ZEN5110FlashSectorPageRead(board=page)"), std::string::npos) << counts;
    EXPECT_EQ(counts.find("ZEN5110FlashSectorErase"), std::string::npos) << counts;
    EXPECT_EQ(counts.find("ZEN5110PageWriteToFlash"), std::string::npos) << counts;
    extra_env_.clear();

    std::vector<uint8_t> changed = flash("page");
    changed[0x123457] ^= 0x01;
    machine().preset_flash("page", changed.size(), 0, changed);
    const auto differs = run({"verify", file, "--system=1", "--board=1"});
    EXPECT_EQ(differs.exit_code, 1);
    EXPECT_NE(differs.out.find("differs at 0x00123457"), std::string::npos) << differs.out;
}

struct ReadCase {
    const char *name;
    const char *board_name;
    const char *board_id;
    uint32_t flash_size;
    const char *json;
};

void PrintTo(const ReadCase &c, std::ostream *out) { *out << c.name; }

class ReadSavesTheFlash : public Tool, public ::testing::WithParamInterface<ReadCase> {};

// Every path's reads give the flash's bytes, and the size is found by reading.
TEST_P(ReadSavesTheFlash, ByteForByteWithItsDescription) {
    const ReadCase &c = GetParam();
    std::vector<uint8_t> pattern(c.flash_size);
    for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
    machine().preset_flash(c.board_name, pattern.size(), 0, pattern);
    const auto result = run({"read", "--system=1", std::string("--board=") + c.board_id, path("backup.bin"), "--json"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(testsupport::read_file(path("backup.bin")) == pattern);
    EXPECT_EQ(json_value(result.out, "[d['command'], d['kind'], d['model'], d['flash_size'], d['read_through']]"),
              c.json);
    EXPECT_EQ(testsupport::read_text(path("backup.bin.json")), result.out);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ReadSavesTheFlash,
    ::testing::Values(ReadCase{"PageMode", "page", "1", 0x800000, R"(["read", 11, "ZEN5110", 8388608, "page mode"])"},
                      ReadCase{"SectorMode", "sector", "2", 0x400000,
                               R"(["read", 25, "ZEN5160", 4194304, "sector mode"])"},
                      ReadCase{"FlashSectorService", "service", "3", 0x100000,
                               R"(["read", 36, "ZEN5191", 1048576, "flash-sector service"])"}),
    [](const ::testing::TestParamInfo<ReadCase> &info) { return std::string(info.param.name); });

TEST_F(Tool, ReadRefusesABoardWhoseOnlyPathCannotRead) {
    const auto result = run({"read", "--system=1", "--board=4", path("backup.bin")});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.err.find("firmware-upgrade service, which cannot read the flash"), std::string::npos)
        << result.err;
    EXPECT_FALSE(testsupport::file_exists(path("backup.bin")));
}

} // namespace
} // namespace tooltest
