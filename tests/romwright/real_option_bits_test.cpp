// inspect on images that hold real option-bits blocks, written by the FPGA
// vendor's conversion tool (ROMWRIGHT_SHARED_DIR/real-pfl, read-only, with a
// README of the pages each encodes): the page layout shown is those pages.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/romwright/tool_fixture.hpp"
#include "tools/mkimage/image_maker.hpp"

namespace tooltest {
namespace {

const std::filesystem::path kFolder = std::filesystem::path(ROMWRIGHT_SHARED_DIR) / "real-pfl";

struct RealBlock {
    const char *file;
    uint32_t address;
    const char *pages;  // page0 and page1 as inspect --json shows them
};

void PrintTo(const RealBlock &c, std::ostream *out) { *out << c.file; }

// The bytes of a Motorola S-record file (S2 and S3 data records), at their addresses.
std::vector<std::pair<uint32_t, uint8_t>> s_records(const std::filesystem::path &path) {
    std::vector<std::pair<uint32_t, uint8_t>> bytes;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.size() < 4 || line[0] != 'S' || (line[1] != '2' && line[1] != '3')) continue;
        const std::size_t address_digits = line[1] == '2' ? 6 : 8;
        const std::size_t count = std::stoul(line.substr(2, 2), nullptr, 16);
        uint32_t address = static_cast<uint32_t>(std::stoul(line.substr(4, address_digits), nullptr, 16));
        const std::size_t data_bytes = count - address_digits / 2 - 1;
        for (std::size_t i = 0; i < data_bytes; ++i)
            bytes.emplace_back(address++,
                               static_cast<uint8_t>(std::stoul(line.substr(4 + address_digits + 2 * i, 2), nullptr, 16)));
    }
    return bytes;
}

class RealOptionBits : public Tool, public ::testing::WithParamInterface<RealBlock> {};

TEST_P(RealOptionBits, InspectShowsThePagesTheBlockEncodes) {
    const RealBlock &c = GetParam();
    if (!std::filesystem::exists(kFolder / c.file)) GTEST_SKIP() << kFolder << " is absent";
    // An erased picture that reaches past the last page, the block at its place.
    std::vector<uint8_t> picture(0x4200000, 0xFF);
    const auto block = s_records(kFolder / c.file);
    ASSERT_FALSE(block.empty());
    EXPECT_EQ(block.front().first, c.address);
    for (const auto &[address, byte] : block) picture.at(address) = byte;
    mkimage::PofFile pof;
    pof.packets = {mkimage::data_packet(mkimage::kTagData, picture),
                   mkimage::option_bits_packet(mkimage::kTagOptionBits, c.address), mkimage::terminator_packet()};
    const std::string file = path("real-ZEN5110.pof");
    mkimage::write_file(file, pof.serialize());

    // With two pages both are forced on, so that page 1's range is checked too.
    std::vector<std::string> args = {"inspect", file, "--json"};
    if (std::string(c.pages).find("null") == std::string::npos) args.insert(args.end(), {"--page0", "--page1"});
    const auto result = run(args);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_EQ(json_value(result.out, "d['images'][0]['option_bits']['begin']"), std::to_string(c.address));
    EXPECT_EQ(json_value(result.out, "[d['images'][0]['page_layout'][p] for p in ('page0', 'page1')]"), c.pages)
        << result.out;
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, RealOptionBits,
    ::testing::Values(
        RealBlock{"de4-option-bits.flash", 0x18000, R"([{"begin": 131072, "end": 21676032}, null])"},
        RealBlock{"de5-option-bits.flash", 0x30000, R"([{"begin": 34340864, "end": 68182016}, null])"},
        RealBlock{"s5-two-page-option-bits.flash", 0x30000,
                  R"([{"begin": 262144, "end": 34103296}, {"begin": 34340864, "end": 68182016}])"}),
    [](const ::testing::TestParamInfo<RealBlock> &info) {
        std::string name = info.param.file;
        name = name.substr(0, name.find('.'));
        for (char &ch : name)
            if (ch == '-') ch = '_';
        return name;
    });

} // namespace
} // namespace tooltest
