// romwright list and inspect, end to end on the simulated machine.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/romwright/tool_fixture.hpp"

namespace tooltest {
namespace {

TEST_F(Tool, ListJsonDescribesEveryBoardOfTheMachine) {
    const auto result = run({"list", "--json"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    parsed_json(result.out);
    EXPECT_EQ(json_value(result.out, "d['schema_version']"), "1");
    EXPECT_EQ(json_value(result.out,
                         "[(b['system_id'], b['board_id'], b['kind'], b['model'], b['update_path']) for b in d['boards']]"),
              R"([[1, 1, 11, "ZEN5110", "page mode"], [1, 2, 25, "ZEN5160", "sector mode"], )"
              R"([1, 3, 36, "ZEN5191", "flash-sector service"], [1, 4, 35, "ZEN5190", "firmware-upgrade service"]])");
    EXPECT_EQ(json_value(result.out, "[d['boards'][0][k] for k in ('serial', 'revision', 'flash_size')]"),
              R"([511001, "2.0", null])");
    EXPECT_EQ(json_value(result.out, "[d['boards'][1][k] for k in ('serial', 'fpga_version', 'revision')]"),
              R"([516001, "8.14", "1.5"])");
}

TEST_F(Tool, ListWithoutJsonIsATableWithOneRowPerBoard) {
    const auto result = run({"list"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.out.find("ZEN5160  516001"), std::string::npos) << result.out;
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 5) << result.out;
}

TEST_F(Tool, InspectRefusesAnImageForAnotherModelWithTheUpdatesMessage) {
    const std::string file = make_image("fw-ZEN5110.rpd", "ZEN5110");
    const auto result = run({"inspect", file, "--board=ZEN5160"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.out.find("ZEN5160: refused: Error: Invalid FPGA image signature."), std::string::npos)
        << result.out;
    // The same text as the update logs for that board.
    const auto update = cli({"update", "--system=1", "--board=2", "--quiet", make_image("fw-ZEN5160-x.rpd", "ZEN5110")});
    EXPECT_EQ(update.exit_code, 1);
    EXPECT_NE(testsupport::read_text(path("romwright-cli.log")).find("Error: Invalid FPGA image signature."),
              std::string::npos);
}

TEST_F(Tool, InspectJsonShowsThePofPacketsAndCrc) {
    const std::string file = make_image("fw-ZEN5160.pof", "ZEN5160", {"--size", "0x100000", "--page0", "0x20000:0x80000"});
    const auto result = run({"inspect", file, "--json"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    parsed_json(result.out);
    EXPECT_EQ(json_value(result.out, "[d['format'], d['pof']['device'], d['pof']['crc_stored'] == d['pof']['crc_computed']]"),
              R"(["pof", "CFG_FLASH", true])");
    EXPECT_EQ(json_value(result.out, "d['images'][0]['page_layout']['page0']"), R"({"begin": 131072, "end": 524288})");
}

// inspect asks for what a model's image depends on instead of assuming it.
TEST_F(Tool, InspectAsksForTheVariantOfAModelThatHasOne) {
    const std::string file = make_image("fw-ZEN5170.rpd", "ZEN5170", {"--word2", "3"});
    const auto unknown = run({"inspect", file, "--board=ZEN5170", "--json"});
    EXPECT_EQ(unknown.exit_code, 1) << unknown.err;
    EXPECT_EQ(json_value(unknown.out, "[d['check']['accepted'], d['check']['message']]"),
              R"([false, "A ZEN5170 takes only images made for its board variant: give --variant"])");
    EXPECT_EQ(run({"inspect", file, "--board=ZEN5170", "--variant=3"}).exit_code, 0);
    EXPECT_EQ(run({"inspect", file, "--board=ZEN5170", "--variant=0"}).exit_code, 1);
    // A model without variants needs none.
    EXPECT_EQ(run({"inspect", make_image("fw-ZEN5160.rpd", "ZEN5160"), "--board=ZEN5160"}).exit_code, 0);
}

// The flash starts as all zero bytes: a sector the update erases no longer
// is, and a page it writes holds the image where an unwritten one of an
// erased sector reads 0xFF.
struct FlashFootprint {
    std::vector<uint32_t> erased_sectors;
    uint32_t written_pages = 0;
};

FlashFootprint footprint(const std::vector<uint8_t> &flash, uint32_t sector_size) {
    FlashFootprint out;
    for (uint32_t sector = 0; sector < flash.size() / sector_size; ++sector) {
        const auto begin = flash.begin() + sector * sector_size;
        if (std::all_of(begin, begin + sector_size, [](uint8_t b) { return b == 0; })) continue;
        out.erased_sectors.push_back(sector);
        for (uint32_t page = 0; page < sector_size / 32; ++page)
            if (!std::all_of(begin + page * 32, begin + page * 32 + 32, [](uint8_t b) { return b == 0xFF; }))
                ++out.written_pages;
    }
    return out;
}

std::vector<uint32_t> sectors_of_runs(const std::string &runs_json, uint32_t sector_size) {
    std::vector<uint32_t> sectors;
    const std::regex run(R"("begin": (\d+), "end": (\d+))");
    for (auto it = std::sregex_iterator(runs_json.begin(), runs_json.end(), run); it != std::sregex_iterator(); ++it)
        for (uint64_t at = std::stoull((*it)[1]); at < std::stoull((*it)[2]); at += sector_size)
            sectors.push_back(static_cast<uint32_t>(at / sector_size));
    return sectors;
}

uint64_t call_count(const std::string &counts_file, const std::string &call) {
    std::ifstream in(counts_file);
    uint64_t total = 0;
    for (std::string line; std::getline(in, line);)
        if (line.rfind(call + "(", 0) == 0) total += std::stoull(line.substr(line.find_last_of(' ') + 1));
    return total;
}

struct PlanCase {
    const char *name;
    const char *board_name;
    const char *model;
    const char *board_id;
    uint32_t sector_size;
    std::vector<std::string> image;
};

void PrintTo(const PlanCase &c, std::ostream *out) { *out << c.name; }

class InspectPredictsTheUpdate : public Tool, public ::testing::WithParamInterface<PlanCase> {};

TEST_P(InspectPredictsTheUpdate, SectorsErasedAndPagesWritten) {
    const PlanCase &c = GetParam();
    const std::string file = make_image(std::string("fw-") + c.model + ".rpd", c.model, c.image);
    const auto inspected = run({"inspect", file, std::string("--board=") + c.model, "--json"});
    ASSERT_EQ(inspected.exit_code, 0) << inspected.out << inspected.err;
    const std::string erase_runs = json_value(inspected.out, "d['plan']['erase_runs']");
    const uint64_t units = std::stoull(json_value(inspected.out, "d['plan']['units_to_write']"));

    const uint32_t flash_size = c.sector_size == 0x20000 ? 0x800000 : 0x400000;
    machine().preset_flash(c.board_name, flash_size, 0, std::vector<uint8_t>(flash_size, 0x00));
    extra_env_["ZENAPI_SIM_CALL_COUNTS"] = path("counts.txt");
    const auto updated = cli({"update", "--system=1", std::string("--board=") + c.board_id, "--quiet", file});
    ASSERT_EQ(updated.exit_code, 0) << updated.out;

    const FlashFootprint after = footprint(flash(c.board_name), c.sector_size);
    EXPECT_EQ(after.erased_sectors, sectors_of_runs(erase_runs, c.sector_size));
    if (c.sector_size == 0x20000) {
        EXPECT_EQ(after.written_pages, units);
        EXPECT_EQ(call_count(path("counts.txt"), "ZEN5110PageWriteToFlash"), units);
        EXPECT_EQ(call_count(path("counts.txt"), "ZEN5110FlashSectorErase"), after.erased_sectors.size());
    } else {
        EXPECT_EQ(units, after.erased_sectors.size());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, InspectPredictsTheUpdate,
    ::testing::Values(PlanCase{"PageMode", "page", "ZEN5110", "1", 0x20000, {"--size", "0x300000", "--seed", "7"}},
                      PlanCase{"PageModeTwoPages", "page", "ZEN5110", "1", 0x20000,
                               {"--size", "0x400000", "--page0", "0x20000:0x100000", "--page1", "0x200000:0x280000"}},
                      PlanCase{"SectorMode", "sector", "ZEN5160", "2", 0x40000, {"--size", "0x300000"}}),
    [](const ::testing::TestParamInfo<PlanCase> &info) { return std::string(info.param.name); });

} // namespace
} // namespace tooltest
