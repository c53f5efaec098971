#include "tools/mkimage/image_maker.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <ios>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "engine/image/pof_reader.hpp"
#include "engine/image/raw_image.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using mkimage::Broken;
using mkimage::FileRecipe;
using mkimage::Format;
using mkimage::ImageRecipe;
using mkimage::PageRange;

uint16_t word_at(const std::vector<uint8_t> &bytes, std::size_t at) {
    return static_cast<uint16_t>(bytes.at(at) | bytes.at(at + 1) << 8);
}

// What the engine's readers make of a file: its slots, then the layout of
// the primary (or the given) slot, or the first refusal.
struct ReadBack {
    ImageSlot slots[2];
    romwright::PageLayout layout;
    romwright::PageSelection selection;
    std::string error;
};

ReadBack read_back(const std::vector<uint8_t> &bytes, Format format, romwright::PageSelection selection = {},
                   int slot = 0) {
    testsupport::TempDir dir("mkimage");
    const std::string path = dir.file(format == Format::pof ? "image.pof" : "image.rpd");
    testsupport::write_file(path, bytes);
    ReadBack back;
    back.selection = selection;
    try {
        if (format == Format::pof)
            romwright::load_pof_file(path, back.slots, false, romwright::LogSink());
        else
            romwright::load_binary_file(path, back.slots[0], romwright::LogSink());
        romwright::read_page_layout(back.slots[slot], back.selection, back.layout, false, romwright::LogSink());
    } catch (const std::exception &error) {
        back.error = error.what();
    }
    return back;
}

const romwright::PageSelection kBothPages{false, true, true, true};

// ------------------------------------------------------------------ round trips

struct RoundTrip {
    const char *name;
    const char *model;
    Format format;
    std::function<void(ImageRecipe &)> adjust;
};

const std::vector<RoundTrip> kRoundTrips = {
    {"PageModeRawDefault", "ZEN5110", Format::rpd, nullptr},
    {"PageModePofDefault", "ZEN5110", Format::pof, nullptr},
    {"SectorModeRawDefault", "ZEN5160", Format::rpd, nullptr},
    {"SectorModePofDefault", "ZEN5160", Format::pof, nullptr},
    {"SectorModeVariantWord", "ZEN5170", Format::pof, [](ImageRecipe &recipe) { recipe.header.word2 = 0x0003; }},
    {"PageModeRawWithPage1", "ZEN5120", Format::rpd,
     [](ImageRecipe &recipe) { recipe.page1 = PageRange{0x200000, 0x300000}; }},
    {"SectorModePofWithPage1", "ZEN5142", Format::pof,
     [](ImageRecipe &recipe) {
         recipe.page0 = {0x20000, 0x200000};
         recipe.page1 = PageRange{0x200000, 0x3C0000};
     }},
    {"RawOddSize", "ZEN5110", Format::rpd,
     [](ImageRecipe &recipe) { recipe = mkimage::default_recipe("ZEN5110", 0x300001); }},
    {"RawJustAboveWindow", "ZEN5110", Format::rpd,
     [](ImageRecipe &recipe) { recipe = mkimage::default_recipe("ZEN5110", 0x20001); }},
    {"RawOptionBitsEndingTheFile", "ZEN5110", Format::rpd,
     [](ImageRecipe &recipe) { recipe.option_bits_offset = recipe.size - 128; }},
    {"PofOptionBitsBelowThePages", "ZEN5131", Format::pof, [](ImageRecipe &recipe) { recipe.option_bits_offset = 0x10000; }},
    {"AnyBoardSignature1C0B", "ZEN5181", Format::rpd,
     [](ImageRecipe &recipe) {
         recipe.header.board_id = 0;
         recipe.header.signature = 0x1C0B;
     }},
    {"PayloadWithoutBlankPages", "ZEN5160", Format::rpd, [](ImageRecipe &recipe) { recipe.blank_fraction = 0; }},
};

void PrintTo(const RoundTrip &test, std::ostream *out) { *out << test.name; }

class MakerRoundTrips : public testing::TestWithParam<RoundTrip> {};

TEST_P(MakerRoundTrips, EngineReadersSeeWhatTheMakerWrote) {
    const RoundTrip &test = GetParam();
    const auto &board = mkimage::find_board_model(test.model);
    ImageRecipe recipe = mkimage::default_recipe(board);
    if (test.adjust) test.adjust(recipe);
    const auto image = mkimage::make_image(recipe, test.format);
    const auto file = mkimage::make_file(FileRecipe{test.format, test.model, recipe, std::nullopt, Broken::none, 0});

    const auto back = read_back(file, test.format, recipe.page1 ? kBothPages : romwright::PageSelection{});
    ASSERT_EQ(back.error, "");
    EXPECT_EQ(back.slots[0].data, image);
    EXPECT_TRUE(back.slots[1].data.empty());
    EXPECT_EQ(back.slots[0].option_bits_start, recipe.option_bits_offset);
    EXPECT_EQ(back.slots[0].option_bits_end, recipe.option_bits_offset + 128);
    EXPECT_EQ(back.layout.page0_start, recipe.page0.start);
    EXPECT_EQ(back.layout.page0_end, recipe.page0.end);
    EXPECT_EQ(back.layout.page1_present, recipe.page1.has_value());
    if (recipe.page1) {
        EXPECT_EQ(back.layout.page1_start, recipe.page1->start);
        EXPECT_EQ(back.layout.page1_end, recipe.page1->end);
    }
    const uint32_t header = board.sector_mode ? 0x40000 : 0;
    EXPECT_EQ(recipe.header_offset, header);
    EXPECT_EQ(word_at(image, header), recipe.header.board_id);
    EXPECT_EQ(word_at(image, header + 2), recipe.header.signature);
    EXPECT_EQ(word_at(image, header + 4), recipe.header.word2);
}

INSTANTIATE_TEST_SUITE_P(Boards, MakerRoundTrips, testing::ValuesIn(kRoundTrips),
                         [](const testing::TestParamInfo<RoundTrip> &info) { return std::string(info.param.name); });

TEST(ImageMaker, DefaultsFollowTheBoardKind) {
    const ImageRecipe page = mkimage::default_recipe("ZEN5110");
    EXPECT_EQ(page.size, 0x400000u);
    EXPECT_EQ(page.header_offset, 0u);
    EXPECT_EQ(page.header.board_id, 0x5110);
    EXPECT_EQ(page.header.signature, 0x5731);
    EXPECT_EQ(page.page0.start, 0x20000u);
    EXPECT_EQ(page.page0.end, 0x200000u);
    EXPECT_FALSE(page.page1);
    EXPECT_EQ(page.option_bits_offset, 0x3FE000u);

    for (const char *model : {"ZEN5160", "ZEN5170", "ZEN5142", "ZEN5171"}) {
        const ImageRecipe sector = mkimage::default_recipe(model);
        EXPECT_EQ(sector.header_offset, 0x40000u) << model;
        EXPECT_EQ(sector.page0.end, 0x300000u) << model;
    }
    // A small image keeps page_0 below its option bits.
    const ImageRecipe small = mkimage::default_recipe("ZEN5110", 0x100000);
    EXPECT_EQ(small.option_bits_offset, 0xFE000u);
    EXPECT_EQ(small.page0.end, 0xFE000u);
    EXPECT_THROW(mkimage::default_recipe("ZEN9999"), mkimage::MakerError);
}

TEST(ImageMaker, SecondaryImageOfAZen5120RoundTrips) {
    ImageRecipe primary = mkimage::default_recipe("ZEN5120");
    primary.header.word2 = 0x90;
    ImageRecipe secondary = mkimage::default_secondary(primary);
    EXPECT_EQ(secondary.header.word2, 0x10);
    EXPECT_EQ(secondary.header_offset, 0u);
    secondary.option_bits_offset = 0x3FC000;
    const auto file = mkimage::make_file(FileRecipe{Format::pof, "ZEN5120", primary, secondary, Broken::none, 0});

    const auto back = read_back(file, Format::pof, {}, 1);
    ASSERT_EQ(back.error, "");
    EXPECT_EQ(back.slots[0].data, mkimage::make_image(primary, Format::pof));
    EXPECT_EQ(back.slots[1].data, mkimage::make_image(secondary, Format::pof));
    EXPECT_NE(back.slots[0].data, back.slots[1].data);  // another seed
    EXPECT_EQ(back.slots[1].option_bits_start, 0x3FC000u);
    EXPECT_EQ(word_at(back.slots[1].data, 0), 0x5120);
    EXPECT_EQ(word_at(back.slots[1].data, 2), 0x5731);
    EXPECT_EQ(word_at(back.slots[1].data, 4), 0x10);
    EXPECT_EQ(word_at(back.slots[0].data, 4), 0x90);
    EXPECT_EQ(back.layout.page0_start, 0x20000u);

    EXPECT_THROW(mkimage::make_file(FileRecipe{Format::rpd, "", primary, secondary, Broken::none, 0}),
                 mkimage::MakerError);
}

TEST(ImageMaker, OptionBitsEncodeAsTheEngineDecodes) {
    const auto bits = mkimage::encode_option_bits({0x200000, 0x400000}, PageRange{0x2000, 0x4000});
    EXPECT_EQ(bits, (std::array<uint8_t, 8>{0x00, 0x02, 0x00, 0x04, 0x02, 0x00, 0x04, 0x00}));
    const auto no_page1 = mkimage::encode_option_bits({0x20000, 0x0FFFE000}, std::nullopt);
    EXPECT_EQ(no_page1, (std::array<uint8_t, 8>{0x20, 0x00, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_THROW(mkimage::encode_page_address(0x1000), mkimage::MakerError);
    EXPECT_THROW(mkimage::encode_page_address(0x10000000), mkimage::MakerError);
}

// ------------------------------------------------------------------ payload

std::size_t blank_pages(const std::vector<uint8_t> &bytes, PageRange range) {
    std::size_t blank = 0;
    for (uint32_t page = range.start; page < range.end; page += 32)
        blank += std::all_of(bytes.begin() + page, bytes.begin() + page + 32, [](uint8_t b) { return b == 0xFF; });
    return blank;
}

TEST(ImageMaker, PayloadLiesInsideThePagesWithBlankStretches) {
    ImageRecipe recipe = mkimage::default_recipe("ZEN5110");
    recipe.page1 = PageRange{0x280000, 0x300000};
    const auto image = mkimage::make_image(recipe, Format::pof);
    const std::size_t pages = (recipe.page0.end - recipe.page0.start) / 32;
    const std::size_t blank = blank_pages(image, recipe.page0);
    EXPECT_GT(blank, pages / 10);
    EXPECT_LT(blank, pages / 2);
    EXPECT_LT(blank_pages(image, *recipe.page1), (0x80000u / 32) / 2);
    // Outside the pages, the header and the option bits, everything is erased flash.
    for (std::size_t at = 6; at < image.size(); ++at) {
        const bool inside = (at >= recipe.page0.start && at < recipe.page0.end) ||
                            (at >= recipe.page1->start && at < recipe.page1->end) ||
                            (at >= recipe.option_bits_offset && at < recipe.option_bits_offset + 8);
        if (!inside) {
            ASSERT_EQ(image[at], 0xFF) << "at " << at;
        }
    }
}

TEST(ImageMaker, BlankFractionZeroAndOne) {
    ImageRecipe recipe = mkimage::default_recipe("ZEN5110", 0x100000);
    recipe.blank_fraction = 0;
    EXPECT_EQ(blank_pages(mkimage::make_image(recipe, Format::rpd), recipe.page0), 0u);
    recipe.blank_fraction = 1;
    const std::size_t pages = (recipe.page0.end - recipe.page0.start) / 32;
    EXPECT_EQ(blank_pages(mkimage::make_image(recipe, Format::rpd), recipe.page0), pages);
}

TEST(ImageMaker, SeedNamesOneImage) {
    ImageRecipe recipe = mkimage::default_recipe("ZEN5160");
    const auto first = mkimage::make_image(recipe, Format::rpd);
    EXPECT_EQ(mkimage::make_image(recipe, Format::rpd), first);
    EXPECT_EQ(mkimage::make_image(recipe, Format::pof), first);
    recipe.seed = 2;
    EXPECT_NE(mkimage::make_image(recipe, Format::rpd), first);
}

TEST(ImageMaker, RawOptionBitsAreFoundWhereIntendedWhateverThePayload) {
    // page_1 fills the searched window with random bytes, which would hold
    // stray 20 00 pairs if the maker did not clear them.
    for (uint64_t seed = 1; seed <= 24; ++seed) {
        SCOPED_TRACE(seed);
        ImageRecipe recipe = mkimage::default_recipe("ZEN5110");
        recipe.page1 = PageRange{0x3E0000, 0x3FC000};
        recipe.blank_fraction = 0;
        recipe.seed = seed;
        const auto image = mkimage::make_image(recipe, Format::rpd);
        EXPECT_EQ(mkimage::find_raw_option_bits(image), recipe.option_bits_offset);
        const auto back = read_back(image, Format::rpd, kBothPages);
        ASSERT_EQ(back.error, "");
        EXPECT_EQ(back.slots[0].option_bits_start, recipe.option_bits_offset);
    }
}

// ------------------------------------------------------------------ CRC

TEST(ImageMaker, Crc16X25CheckValue) {
    const std::string check = "123456789";
    EXPECT_EQ(mkimage::crc16_x25(reinterpret_cast<const uint8_t *>(check.data()), check.size()), 0x906E);
    EXPECT_EQ(mkimage::crc16_x25(nullptr, 0), 0x0000);
}

TEST(ImageMaker, CrcMatchesTheStoredCrcOfRealFiles) {
    const std::filesystem::path folder = std::filesystem::path(ROMWRIGHT_SHARED_DIR) / "real-pof";
    if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no real POF files in " << folder;
    int files = 0;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".pof") continue;
        SCOPED_TRACE(entry.path().string());
        const auto bytes = testsupport::read_file(entry.path().string());
        ASSERT_GT(bytes.size(), 8u);
        EXPECT_EQ(mkimage::crc16_x25(bytes.data(), bytes.size() - 2), word_at(bytes, bytes.size() - 2));
        ++files;
    }
    EXPECT_EQ(files, 2);
}

TEST(ImageMaker, PofTerminatorCarriesTheCrcOfEverythingBeforeIt) {
    const ImageRecipe recipe = mkimage::default_recipe("ZEN5110", 0x40000);
    const auto file = mkimage::make_file(FileRecipe{Format::pof, "", recipe, std::nullopt, Broken::none, 0});
    EXPECT_EQ(word_at(file, file.size() - 8), mkimage::kTagTerminator);
    EXPECT_EQ(mkimage::crc16_x25(file.data(), file.size() - 2), word_at(file, file.size() - 2));
}

// ------------------------------------------------------------------ refusals

struct Refusal {
    const char *name;
    Format format;
    std::function<ImageRecipe()> recipe;
    const char *message;
};

ImageRecipe page_mode(std::function<void(ImageRecipe &)> adjust, uint32_t size = 0) {
    ImageRecipe recipe = mkimage::default_recipe("ZEN5110", size);
    adjust(recipe);
    return recipe;
}

const std::vector<Refusal> kRefusals = {
    {"RawPage0NotAt20000", Format::rpd, [] { return page_mode([](ImageRecipe &s) { s.page0.start = 0x40000; }); },
     "a raw image needs page_0 to start at 0x00020000"},
    {"RawNotAboveWindow", Format::rpd,
     [] {
         return page_mode(
             [](ImageRecipe &s) {
                 s.page0 = {0x2000, 0x4000};
                 s.option_bits_offset = 0x10000;
             },
             0x20000);
     },
     "a raw image needs more than 0x20000 bytes"},
    {"RawOptionBitsBeforeWindow", Format::rpd,
     [] { return page_mode([](ImageRecipe &s) { s.option_bits_offset = 0x300000; }); },
     "needs its option bits at an offset from 0x003E0000"},
    {"RawOptionBitsOfOtherParity", Format::rpd,
     [] { return page_mode([](ImageRecipe &s) { s.option_bits_offset = 0x3FE001; }); }, "with the parity of the size"},
    {"RawHeaderLooksLikeOptionBits", Format::rpd,
     [] {
         ImageRecipe recipe = mkimage::default_recipe("ZEN5160", 0x50000);
         recipe.header.board_id = 0x0020;
         return recipe;
     },
     "the raw loader would find the option bits at 0x00040000 instead of 0x0004E000"},
    {"PageAddressNotIn8KUnits", Format::pof, [] { return page_mode([](ImageRecipe &s) { s.page0.end = 0x1FF000; }); },
     "page_0 end 0x001FF000 is not a multiple of 0x2000"},
    {"PageEndAtImageEnd", Format::pof,
     [] { return page_mode([](ImageRecipe &s) { s.page1 = PageRange{0x200000, 0x400000}; }); },
     "page_1 end 0x00400000 must lie inside the image"},
    {"PageReversed", Format::pof, [] { return page_mode([](ImageRecipe &s) { s.page0 = {0x40000, 0x20000}; }); },
     "page_0 starts at 0x00040000, after its end 0x00020000"},
    {"OptionBitsInsidePage0", Format::pof,
     [] { return page_mode([](ImageRecipe &s) { s.option_bits_offset = 0x100000; }); }, "overlap page_0"},
    {"OptionBitsOnTheHeader", Format::pof, [] { return page_mode([](ImageRecipe &s) { s.option_bits_offset = 0; }); },
     "overlap the image header"},
    {"PofOptionBitsEndingTheData", Format::pof,
     [] { return page_mode([](ImageRecipe &s) { s.option_bits_offset = s.size - 128; }); }, "do not fit in the image"},
    {"HeaderBeyondTheImage", Format::pof,
     [] {
         ImageRecipe recipe = mkimage::default_recipe("ZEN5160", 0x40004);
         return recipe;
     },
     "too short for its header at 0x40000"},
    {"BlankFractionAboveOne", Format::pof, [] { return page_mode([](ImageRecipe &s) { s.blank_fraction = 1.5; }); },
     "blank fraction"},
};

void PrintTo(const Refusal &test, std::ostream *out) { *out << test.name; }

class MakerRefusals : public testing::TestWithParam<Refusal> {};

TEST_P(MakerRefusals, NameWhatCannotWork) {
    const Refusal &test = GetParam();
    try {
        mkimage::make_image(test.recipe(), test.format);
        FAIL() << "made an image that cannot work";
    } catch (const mkimage::MakerError &error) {
        EXPECT_NE(std::string(error.what()).find(test.message), std::string::npos) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, MakerRefusals, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<Refusal> &info) { return std::string(info.param.name); });

TEST(ImageMaker, PofMayEndItsOptionBitsAtTheDataEndOnlyAsRaw) {
    ImageRecipe recipe = mkimage::default_recipe("ZEN5110");
    recipe.option_bits_offset = recipe.size - 128;
    EXPECT_NO_THROW(mkimage::make_image(recipe, Format::rpd));
    EXPECT_THROW(mkimage::make_image(recipe, Format::pof), mkimage::MakerError);
}

// ------------------------------------------------------------------ broken variants

struct BrokenCase {
    const char *variant;  // as given to --broken
    Format format;
    const char *model;
    std::string message;  // a part of the readers' refusal; empty: the file is valid
    bool page1 = false;
    std::string also = {};  // a further part of it
};

const std::string kLarger = "is larger than the";

const std::vector<BrokenCase> kBrokenCases = {
    {"truncate:1000", Format::pof, "ZEN5110",
     "Error: POF packet 4 (tag 17, size 4194316) is larger than the 931 bytes left in the file"},
    {"truncate:131072", Format::rpd, "ZEN5110", "Error: Unable to find option bits in binary file"},
    {"truncate:5", Format::pof, "ZEN5110", "ends inside its 12-byte header"},
    {"bad-magic", Format::pof, "ZEN5110", "Invalid POF header."},
    {"count-low", Format::pof, "ZEN5110", "Error: Too many packets"},
    {"count-high", Format::pof, "ZEN5110", "Error: Terminator packet not last packet."},
    {"terminator-early", Format::pof, "ZEN5110", "Error: Terminator packet not last packet."},
    {"duplicate-data", Format::pof, "ZEN5110", "Error: Duplicate logical address and data 32."},
    {"data-short", Format::pof, "ZEN5110", "packet 4 (tag 17, size 8) is too short"},
    {"data-oversize", Format::pof, "ZEN5160", "Error: POF packet 4 (tag 17, size ", false, kLarger},
    {"data-size-max", Format::pof, "ZEN5160", "Error: POF packet 4 (tag 17, size 4294967295) is larger than"},
    {"text-oversize", Format::pof, "ZEN5110", "Error: POF packet 1 (tag 1, size ", false, kLarger},
    {"text-size-max", Format::pof, "ZEN5110", "Error: POF packet 1 (tag 1, size 4294967295) is larger than"},
    {"other-oversize", Format::pof, "ZEN5110", "Error: POF packet 4 (tag 35, size ", false, kLarger},
    {"option-bits-first", Format::pof, "ZEN5110", "Error: Unable to find option bits in image"},
    {"no-option-bits", Format::pof, "ZEN5110", "Error: Unable to find option bits in image"},
    {"no-option-bits", Format::rpd, "ZEN5160", "Error: Unable to find option bits in binary file"},
    {"option-bits-ffffffff", Format::pof, "ZEN5110", "Error: Unable to find option bits in image"},
    {"option-bits-wrap", Format::pof, "ZEN5110", "Error: Unable to find option bits in image"},
    {"option-bits-at-end", Format::pof, "ZEN5110", "Error: Unable to find option bits in image"},
    {"option-bits-beyond", Format::pof, "ZEN5110", "Error: Unable to find option bits in image"},
    {"bad-crc", Format::pof, "ZEN5160", "Error: POF file CRC mismatch"},
    {"no-data", Format::pof, "ZEN5110", "Error: No image data to read the option bits from"},
    {"empty-data", Format::pof, "ZEN5110", "Error: No image data to read the option bits from"},
    {"page0-blank", Format::pof, "ZEN5110", "Error: page_0 not found"},
    {"page0-start-outside", Format::pof, "ZEN5110", "Error: Invalid page_0 start address -- 00400000"},
    {"page0-end-outside", Format::pof, "ZEN5160", "Error: Invalid page_0 end address -- 00400000"},
    {"page0-end-outside", Format::rpd, "ZEN5110", "Error: Invalid page_0 end address -- 00400000"},
    {"page0-reversed", Format::rpd, "ZEN5160", "Error: Invalid page_0 range -- 00020000 to 0001E000"},
    {"page1-start-outside", Format::rpd, "ZEN5110", "Error: Invalid page_1 start address -- 00400000", true},
    {"page1-end-outside", Format::pof, "ZEN5110", "Error: Invalid page_1 end address -- 00400000", true},
    {"page1-reversed", Format::rpd, "ZEN5160", "Error: Invalid page_1 range -- 00200000 to 001FE000", true},
    {"header-short", Format::pof, "ZEN5110", "Error: Unable to find option bits in image"},
    {"trailing-bytes", Format::pof, "ZEN5110", ""},
    {"unknown-packet", Format::pof, "ZEN5160", ""},
    {"terminator-size-0", Format::pof, "ZEN5110", ""},
    {"terminator-size-100", Format::pof, "ZEN5110", ""},
};

void PrintTo(const BrokenCase &test, std::ostream *out) { *out << test.variant; }

class MakerBrokenVariants : public testing::TestWithParam<BrokenCase> {};

TEST_P(MakerBrokenVariants, ReadersRefuseWithTheIntendedMessage) {
    const BrokenCase &test = GetParam();
    FileRecipe recipe{test.format, test.model, mkimage::default_recipe(test.model), std::nullopt,
                  mkimage::parse_broken(test.variant), 0};
    if (recipe.broken == Broken::truncate)
        recipe.broken_arg = std::stoull(std::string(test.variant).substr(std::string(test.variant).find(':') + 1));
    if (test.page1) {
        recipe.primary.page0 = {0x20000, 0x200000};
        recipe.primary.page1 = PageRange{0x200000, 0x300000};
    }
    const auto file = mkimage::make_file(recipe);
    const auto back = read_back(file, test.format, test.page1 ? kBothPages : romwright::PageSelection{});
    if (test.message.empty()) {
        EXPECT_EQ(back.error, "");
        EXPECT_EQ(back.slots[0].data, mkimage::make_image(recipe.primary, test.format));
    } else {
        EXPECT_NE(back.error.find(test.message), std::string::npos) << back.error;
        EXPECT_NE(back.error.find(test.also), std::string::npos) << back.error;
    }
    if (recipe.broken == Broken::truncate) {
        EXPECT_EQ(file.size(), recipe.broken_arg);
    }
}

std::string broken_case_name(const testing::TestParamInfo<BrokenCase> &info) {
    std::string name = fmt::format("{}_{}", info.param.variant, info.param.format == Format::pof ? "pof" : "rpd");
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Variants, MakerBrokenVariants, testing::ValuesIn(kBrokenCases), broken_case_name);

TEST(ImageMaker, SectorModeHeaderShortCutsTwoBytesIntoTheHeader) {
    ImageRecipe recipe = mkimage::default_recipe("ZEN5160");
    recipe.header = {0x5160, 0x5731, 0x0003};
    for (Format format : {Format::pof, Format::rpd}) {
        const auto file = mkimage::make_file(FileRecipe{format, "", recipe, std::nullopt, Broken::header_short, 0});
        const auto back = read_back(file, format);
        ASSERT_EQ(back.error, "");
        ASSERT_EQ(back.slots[0].data.size(), 0x40004u);
        EXPECT_EQ(word_at(back.slots[0].data, 0x40000), 0x5160);
        EXPECT_EQ(word_at(back.slots[0].data, 0x40002), 0x5731);
    }
    const auto page_mode = mkimage::default_recipe("ZEN5110");
    EXPECT_THROW(mkimage::make_file(FileRecipe{Format::rpd, "", page_mode, std::nullopt, Broken::header_short, 0}),
                 mkimage::MakerError);
}

TEST(ImageMaker, EveryVariantNameParsesBackAndKnowsItsFormats) {
    for (const auto &info : mkimage::broken_variants()) {
        EXPECT_EQ(mkimage::parse_broken(info.name), info.variant) << info.name;
        EXPECT_TRUE(info.for_pof || info.for_rpd) << info.name;
    }
    EXPECT_THROW(mkimage::parse_broken("no-such-damage"), mkimage::MakerError);
    const ImageRecipe recipe = mkimage::default_recipe("ZEN5110");
    EXPECT_THROW(mkimage::make_file(FileRecipe{Format::rpd, "", recipe, std::nullopt, Broken::bad_crc, 0}),
                 mkimage::MakerError);
    EXPECT_THROW(mkimage::make_file(FileRecipe{Format::rpd, "", recipe, std::nullopt, Broken::truncate, 1u << 30}),
                 mkimage::MakerError);
}

// ------------------------------------------------------------------ numbers

TEST(ImageMaker, NumbersTakeHexAndSuffixes) {
    EXPECT_EQ(mkimage::parse_number("4096", "n"), 4096u);
    EXPECT_EQ(mkimage::parse_number("0x1F", "n"), 31u);
    EXPECT_EQ(mkimage::parse_number("0X1f", "n"), 31u);
    EXPECT_EQ(mkimage::parse_number("128K", "n"), 0x20000u);
    EXPECT_EQ(mkimage::parse_number("4M", "n"), 0x400000u);
    EXPECT_EQ(mkimage::parse_number("0x2k", "n"), 2048u);
    for (const char *bad : {"", "x", "0x", "12Q", "-1", "1.5", "K", "99999999999999999999"})
        EXPECT_THROW(mkimage::parse_number(bad, "n"), mkimage::MakerError) << bad;
    EXPECT_THROW(mkimage::parse_number("0xFFFFFFFFFFFFFFFFM", "n"), mkimage::MakerError);

    const PageRange range = mkimage::parse_range("128K:0x200000", "r");
    EXPECT_EQ(range.start, 0x20000u);
    EXPECT_EQ(range.end, 0x200000u);
    EXPECT_THROW(mkimage::parse_range("0x20000", "r"), mkimage::MakerError);
    EXPECT_THROW(mkimage::parse_range("0:0x100000000", "r"), mkimage::MakerError);
}

} // namespace
