// romwright update, end to end: sectors that already hold the image are
// compared and left alone, a rerun after a kill rewrites only what differs.
#include <regex>

#include <gtest/gtest.h>

#include "tests/romwright/tool_fixture.hpp"

namespace tooltest {
namespace {

constexpr uint32_t kSector = 0x40000;

// "Skipped S of N sectors ...; erased E, wrote and verified W." of the last run.
std::vector<int> skip_line(const std::string &log) {
    const std::regex line(R"(Skipped (\d+) of (\d+) sectors that already hold the image; erased (\d+), wrote and verified (\d+)\.)");
    std::vector<int> last;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator(); ++it)
        last = {std::stoi((*it)[1]), std::stoi((*it)[2]), std::stoi((*it)[3]), std::stoi((*it)[4])};
    return last;
}

// Sectors of the flash that do not equal the image (read past its end as erased).
int differing_sectors(const std::vector<uint8_t> &flash, const std::vector<uint8_t> &image, uint32_t sectors) {
    int count = 0;
    for (uint32_t s = 0; s < sectors; ++s)
        for (uint32_t i = s * kSector; i < (s + 1) * kSector; ++i)
            if (flash[i] != (i < image.size() ? image[i] : 0xFF)) {
                ++count;
                break;
            }
    return count;
}

TEST_F(Tool, UpdateOfTheImageTheBoardHoldsErasesAndWritesNothing) {
    const std::string file = make_image("fw-ZEN5160.rpd", "ZEN5160", {"--size", "0x200000", "--page0", "0x20000:0x1C0000"});
    ASSERT_EQ(run({"update", "--system=1", "--board=2", "--quiet", file}).exit_code, 0);
    const auto again = run({"update", "--system=1", "--board=2", file});
    ASSERT_EQ(again.exit_code, 0) << again.err;
    EXPECT_NE(again.out.find("Update of 1 board successful"), std::string::npos);
    const std::string log = testsupport::read_text(path("romwright.log"));
    const std::vector<int> counts = skip_line(log);
    ASSERT_EQ(counts.size(), 4u) << log;
    EXPECT_GT(counts[1], 0);
    EXPECT_EQ(counts, (std::vector<int>{counts[1], counts[1], 0, 0})) << log;
    EXPECT_EQ(run({"verify", file, "--system=1", "--board=2"}).exit_code, 0);
}

// The log with its timings blanked: two runs of one update may take a
// different number of whole seconds on a busy machine.
std::string without_timings(const std::string &log) {
    return std::regex_replace(log, std::regex(R"((time = |in )\d+(s| seconds))"), "$1N$2");
}

TEST_F(Tool, FullUpdateLogsWhatRomwrightCliLogs) {
    const std::string file = make_image("fw-ZEN5110.rpd", "ZEN5110", {"--size", "0x300000"});
    ASSERT_EQ(run({"update", "--system=1", "--board=1", "--quiet", "--full", file}).exit_code, 0);
    ASSERT_EQ(cli({"update", "--system=1", "--board=1", "--quiet", file}).exit_code, 0);
    EXPECT_EQ(without_timings(testsupport::read_text(path("romwright.log"))),
              without_timings(testsupport::read_text(path("romwright-cli.log"))));
}

TEST_F(Tool, AFailedUpdateSaysWhyOnTheConsole) {
    const std::string file = make_image("fw-ZEN5160.rpd", "ZEN5110", {"--size", "0x300000"});
    const auto result = run({"update", "--system=1", "--board=2", "--quiet", file});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.err.find("romwright: update of board 1/1 failed: Error: Invalid FPGA image signature."),
              std::string::npos)
        << result.err;
}

TEST_F(Tool, RerunAfterAKillRewritesOnlyTheSectorsThatDiffer) {
    const std::string first = make_image("fw-ZEN5160.rpd", "ZEN5160", {"--size", "0x400000", "--seed", "1"});
    const std::string second = make_image("fw2-ZEN5160.rpd", "ZEN5160", {"--size", "0x400000", "--seed", "2"});
    const auto before = run({"update", "--system=1", "--board=2", "--quiet", first});
    ASSERT_EQ(before.exit_code, 0) << before.err;
    const auto killed = run({"update", "--system=1", "--board=2", "--quiet", second}, 2500);
    ASSERT_EQ(killed.signal, 9) << "the update ended before the kill; make the image larger";

    const std::vector<uint8_t> image = testsupport::read_file(second);
    const int differing = differing_sectors(flash("sector"), image, 16);
    const auto rerun = run({"update", "--system=1", "--board=2", "--quiet", second});
    ASSERT_EQ(rerun.exit_code, 0) << rerun.err;
    const std::vector<int> counts = skip_line(testsupport::read_text(path("romwright.log")));
    ASSERT_EQ(counts.size(), 4u);
    EXPECT_LT(counts[0], counts[1]) << "the kill came after the update";
    EXPECT_GT(counts[0], 0) << "the kill came before any sector was done";
    EXPECT_EQ(counts[3], counts[1] - counts[0]);
    EXPECT_LE(counts[3], differing);  // the planned sectors among those that differ
    EXPECT_EQ(differing_sectors(flash("sector"), image, 16), 0);
}

} // namespace
} // namespace tooltest
