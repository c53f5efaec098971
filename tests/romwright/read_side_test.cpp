// What the read side (verify, read, the skipping update) tells a user must be
// what the board holds: each path reads back what it wrote, padding included,
// a transient read failure is neither the end of the flash nor a match, and
// a read that answers success without data never passes for the flash's bytes.
#include <gtest/gtest.h>

#include "tests/romwright/tool_fixture.hpp"
#include "tests/support/bytes.hpp"

namespace tooltest {
namespace {

struct ServiceUpdate {
    const char *name;
    bool through_cli;
};

void PrintTo(const ServiceUpdate &c, std::ostream *out) { *out << c.name; }

class VerifyAfterAServiceUpdate : public Tool, public ::testing::WithParamInterface<ServiceUpdate> {};

// The flash-sector service pads the last sector of a file that ends inside
// one; verify expects what the update wrote there.
TEST_P(VerifyAfterAServiceUpdate, ThatEndsInsideASectorMatches) {
    const std::string file = path("fw-ZEN5191.rpd");
    testsupport::write_file(file, testsupport::pattern_bytes(100000, 3, 5, 0x5A));
    const std::vector<std::string> update = {"update", "--system=1", "--board=3", "--quiet", file};
    const auto updated = GetParam().through_cli ? cli(update) : run(update);
    ASSERT_EQ(updated.exit_code, 0) << updated.out << updated.err;

    const auto verified = run({"verify", file, "--system=1", "--board=3"});
    EXPECT_EQ(verified.exit_code, 0) << verified.out << verified.err;
    EXPECT_NE(verified.out.find("The board holds this firmware."), std::string::npos) << verified.out;
}

INSTANTIATE_TEST_SUITE_P(Programs, VerifyAfterAServiceUpdate,
                         ::testing::Values(ServiceUpdate{"romwright", false}, ServiceUpdate{"romwright_cli", true}),
                         [](const ::testing::TestParamInfo<ServiceUpdate> &info) { return std::string(info.param.name); });

// A machine of one board, its description given, in the fixture's machine's place.
std::string one_board(const std::string &board) { return "[[system]]\n[[system.board]]\n" + board; }

struct ReadFault {
    const char *name;
    const char *board;  // the board's description, fault included
    bool succeeds;      // a transient fault: the read retries and saves the whole flash
    const char *says;   // on standard error when it fails
};

void PrintTo(const ReadFault &c, std::ostream *out) { *out << c.name; }

class ReadWithAFailingRead : public Tool, public ::testing::WithParamInterface<ReadFault> {};

TEST_P(ReadWithAFailingRead, NeverSavesAShortFlash) {
    const ReadFault &c = GetParam();
    use_machine(one_board(c.board));
    const std::vector<uint8_t> pattern = testsupport::pattern_bytes(0x800000, 11, 3, 0x3C);
    machine().preset_flash("dut", pattern.size(), 0, pattern);
    const auto result = run({"read", "--system=1", "--board=1", path("b.bin"), "--json"});
    if (c.succeeds) {
        ASSERT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(json_value(result.out, "d['flash_size']"), "8388608");
        EXPECT_TRUE(testsupport::read_file(path("b.bin")) == pattern);
    } else {
        EXPECT_EQ(result.exit_code, 1) << result.out;
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_FALSE(testsupport::file_exists(path("b.bin")));
        EXPECT_FALSE(testsupport::file_exists(path("b.bin.json")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReadWithAFailingRead,
    ::testing::Values(
        // One page read of the size search fails (the search reads sector 32
        // whole when it fails): a retry reads it.
        ReadFault{"PageModeOnceDuringTheSizeSearch",
                  "name = \"dut\"\nkind = 11\n[[system.board.fault]]\ntype = \"call\"\n"
                  "call = \"ZEN5110FlashSectorPageRead\"\ncode = 513\nnth = 13752\n",
                  true, ""},
        // A sector that never reads is a failure, not the end of the flash.
        ReadFault{"FlashServiceAlwaysInsideTheFlash",
                  "name = \"dut\"\nkind = 36\nfeatures = [2]\n[[system.board.fault]]\ntype = \"flash_read_status\"\n"
                  "sector = 100\nstatus = 2\n",
                  false, "sector 100"}),
    [](const ::testing::TestParamInfo<ReadFault> &info) { return std::string(info.param.name); });

// Pages 4105 and 4106 of the image hold the same bytes; the flash holds the
// image except for the first half of page 4106, which reads erased. The
// comparison read of sector 1 gets no data for that half (the library
// answers success and fills nothing): it must not see page 4105's bytes
// there and call the sector matching.
TEST_F(Tool, ACompareReadThatGetsNoDataDoesNotSkipADifferingSector) {
    constexpr uint32_t kPage = 4106, kPageBytes = 32;
    const std::string file = make_image("fw-ZEN5110.rpd", "ZEN5110", {"--size", "0x300000", "--blank-fraction", "0"});
    std::vector<uint8_t> image = testsupport::read_file(file);
    std::copy_n(image.begin() + (kPage - 1) * kPageBytes, kPageBytes, image.begin() + kPage * kPageBytes);
    testsupport::write_file(file, image);
    std::vector<uint8_t> flash = image;
    std::fill_n(flash.begin() + kPage * kPageBytes, kPageBytes / 2, 0xFF);
    // The scratch read of identification is call 1; sector 1 is compared
    // first, two calls per page: its page 10's first half is call 22.
    use_machine(one_board("name = \"dut\"\nkind = 11\n[[system.board.fault]]\ntype = \"call\"\n"
                "call = \"ZEN5110FlashSectorPageRead\"\ncode = 512\nnth = 22\n"));
    machine().preset_flash("dut", 0x800000, 0, flash);

    const auto result = run({"update", "--system=1", "--board=1", "--quiet", file});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const std::vector<uint8_t> after = this->flash("dut");
    EXPECT_TRUE(std::equal(image.begin(), image.end(), after.begin())) << "the differing sector was skipped";
}

} // namespace
} // namespace tooltest
