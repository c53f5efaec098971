// The planner on hand-made images: which sectors are erased and which pages
// programmed, and the runs logged for them. No device is involved.
#include "engine/plan/planner.hpp"
#include "engine/update/romwright_engine.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>
#include "tests/engine/callback_recorder.hpp"

namespace {

using romwright::PageLayout;
using romwright::PlanInput;
using romwright::PlanRun;
using ::testing::ElementsAre;

constexpr uint32_t kPage = 32;
constexpr uint32_t kSmallSector = 0x20000;

std::vector<uint8_t> blank_image(uint32_t size) { return std::vector<uint8_t>(size, 0xFF); }

// Writes a non-blank byte into each page of [begin, end).
void fill_pages(std::vector<uint8_t> &image, uint32_t begin, uint32_t end) {
    for (uint32_t address = begin; address < end; address += kPage) image[address + 5] = 0x12;
}

// The worked layout: a 4 MiB page-mode image with page_0 [0x20000, 0x200000)
// and the option bits at [0x3FE000, 0x3FE080).
struct Layout {
    std::vector<uint8_t> image = blank_image(0x400000);
    uint32_t option_bits_start = 0x3FE000;
    uint32_t option_bits_end = 0x3FE080;
    bool sector_mode = false;
    PageLayout layout{0x20000, 0x200000, 0, 0, false};
    bool write_page0 = true;
    bool write_page1 = false;
    bool write_option_bits = true;

    PlanInput input() const {
        return PlanInput{image,       option_bits_start, option_bits_end, sector_mode,
                         layout,      write_page0,       write_page1,     write_option_bits};
    }
};

std::vector<uint32_t> set_bits(const std::vector<bool> &map) {
    std::vector<uint32_t> bits;
    for (uint32_t i = 0; i < map.size(); ++i)
        if (map[i]) bits.push_back(i);
    return bits;
}

std::vector<uint32_t> range(uint32_t first, uint32_t last) {
    std::vector<uint32_t> values;
    for (uint32_t i = first; i <= last; ++i) values.push_back(i);
    return values;
}

std::vector<uint32_t> join(std::vector<uint32_t> a, const std::vector<uint32_t> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

MATCHER_P3(IsRun, units, begin, end, "") { return arg.units == units && arg.begin == begin && arg.end == end; }

std::string error_of(void (*plan)(const PlanInput &), const PlanInput &input) {
    try {
        plan(input);
    } catch (const std::runtime_error &error) {
        return error.what();
    }
    return "no error";
}

void sectors(const PlanInput &input) { romwright::plan_sectors(input); }
void pages(const PlanInput &input) { romwright::plan_pages(input); }

TEST(PlanSectors, WorkedExampleErasesSixteenSectorsInTwoRuns) {
    Layout l;
    const auto plan = romwright::plan_sectors(l.input());
    EXPECT_EQ(plan.erase_map.size(), 32u);
    EXPECT_EQ(plan.erase_count, 16);
    EXPECT_EQ(set_bits(plan.erase_map), join(range(1, 15), {31}));
    EXPECT_THAT(plan.runs, ElementsAre(IsRun(15u, 0x20000u, 0x200000u), IsRun(1u, 0x3E0000u, 0x400000u)));
}

TEST(PlanSectors, Page0OffErasesOnlyTheOptionBitsSector) {
    Layout l;
    l.write_page0 = false;
    const auto plan = romwright::plan_sectors(l.input());
    EXPECT_EQ(set_bits(plan.erase_map), std::vector<uint32_t>{31});
    EXPECT_EQ(plan.erase_count, 1);
}

TEST(PlanPages, Page0OffSkipsPage0ButProgramsDataOutsideEveryRange) {
    Layout l;
    l.write_page0 = false;
    fill_pages(l.image, 0x20000, 0x20040);    // two pages inside page_0
    fill_pages(l.image, 0x300000, 0x300020);  // one page outside all ranges
    fill_pages(l.image, 0x3FE000, 0x3FE080);  // the option bits, four pages
    const auto plan = romwright::plan_pages(l.input());
    EXPECT_EQ(plan.write_map.size(), 0x400000u / kPage);
    EXPECT_EQ(set_bits(plan.write_map), join({0x300000 / kPage}, range(0x3FE000 / kPage, 0x3FE060 / kPage)));
    EXPECT_EQ(plan.write_count, 5);
}

TEST(PlanPages, ProgramsOnlyNonBlankPagesAndLogsTheirRuns) {
    Layout l;
    fill_pages(l.image, 0x20000, 0x20060);  // pages 4096..4098
    fill_pages(l.image, 0x20080, 0x200A0);  // page 4100
    const auto plan = romwright::plan_pages(l.input());
    EXPECT_EQ(set_bits(plan.write_map), (std::vector<uint32_t>{4096, 4097, 4098, 4100}));
    EXPECT_THAT(plan.runs, ElementsAre(IsRun(3u, 0x20000u, 0x20060u), IsRun(1u, 0x20080u, 0x200A0u)));
}

TEST(PlanPages, AWordDifferingFromFFFFInEitherByteMakesAPageNonBlank) {
    for (uint32_t offset : {0u, 1u, 30u, 31u}) {
        Layout l;
        l.image[0x20000 + offset] = 0xFE;
        EXPECT_EQ(set_bits(romwright::plan_pages(l.input()).write_map), std::vector<uint32_t>{4096})
            << "byte " << offset;
    }
}

TEST(PlanPages, NeverProgramsTheFirst128KB) {
    Layout l;
    l.write_page0 = false;
    fill_pages(l.image, 0, kSmallSector);
    EXPECT_EQ(romwright::plan_pages(l.input()).write_count, 0);
}

struct RangeCase {
    const char *name;
    uint32_t start, end;
    std::vector<uint32_t> sectors;  // page mode, sector 0 aside
    std::vector<uint32_t> pages;    // pages with data that are programmed
};

void PrintTo(const RangeCase &c, std::ostream *out) { *out << c.name; }

class OneRange : public ::testing::TestWithParam<RangeCase> {};

// page_0 alone, option bits off; every page of the image holds data.
TEST_P(OneRange, CoversTheUnitsBetweenItsEnds) {
    const RangeCase &c = GetParam();
    Layout l;
    l.image = blank_image(0x100000);
    fill_pages(l.image, 0, 0x100000);
    l.layout = PageLayout{c.start, c.end, 0, 0, false};
    l.option_bits_start = l.option_bits_end = 0x80000;  // empty and off
    l.write_option_bits = false;
    EXPECT_EQ(set_bits(romwright::plan_sectors(l.input()).erase_map), c.sectors);
    // With page_0 off the same range excludes exactly the pages it covers.
    l.write_page0 = false;
    const auto excluded = set_bits(romwright::plan_pages(l.input()).write_map);
    std::vector<uint32_t> expected;
    for (uint32_t p = 4096; p < 0x100000 / kPage; ++p)
        if (std::find(c.pages.begin(), c.pages.end(), p) == c.pages.end()) expected.push_back(p);
    EXPECT_EQ(excluded, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, OneRange,
    ::testing::Values(RangeCase{"one_byte", 0x20000, 0x20001, {1}, {4096}},
                      RangeCase{"empty", 0x20000, 0x20000, {}, {}},
                      RangeCase{"one_sector", 0x20000, 0x40000, {1}, range(4096, 8191)},
                      RangeCase{"straddling", 0x3E000, 0x42000, {1, 2}, range(0x3E000 / 32, 0x42000 / 32 - 1)},
                      // (end - 1) at end 0 would wrap to the top of the address space.
                      RangeCase{"empty_at_zero", 0, 0, {}, {}},
                      RangeCase{"reversed", 0x60000, 0x40000, {}, {}},
                      RangeCase{"beyond_the_image", 0xFFFFE000, 0xFFFFF000, {}, {}},
                      RangeCase{"running_past_the_image", 0xE0000, 0xFFFFE000, {7}, range(0xE0000 / 32, 0x7FFF)}),
    [](const ::testing::TestParamInfo<RangeCase> &info) { return std::string(info.param.name); });

TEST(PlanSectors, ImageOfOneByteLessThanASectorIsRefusedInSectorMode) {
    Layout l;
    l.image = blank_image(0x3FFFF);
    l.sector_mode = true;
    EXPECT_EQ(error_of(sectors, l.input()), "Error: Invalid sector count.");
}

TEST(PlanSectors, ImageShorterThan128KBIsRefusedInPageMode) {
    Layout l;
    l.image = blank_image(0x1FFFF);
    EXPECT_EQ(error_of(sectors, l.input()), "Error: Invalid sector count.");
    EXPECT_EQ(error_of(pages, l.input()), "Error: Invalid page count");
}

TEST(Plan, Image3FFFFInPageModePlansItsPartialSecondSectorAnd8192Pages) {
    Layout l;
    l.image = blank_image(0x3FFFF);
    l.layout = PageLayout{0x20000, 0x3E000, 0, 0, false};
    l.option_bits_start = 0x3E000;
    l.option_bits_end = 0x3E080;
    fill_pages(l.image, 0x20000, 0x3FFE0);
    fill_pages(l.image, 0x3FFE0, 0x3FFFF);  // the last page lacks its last byte
    const auto sector_plan = romwright::plan_sectors(l.input());
    EXPECT_EQ(sector_plan.erase_map.size(), 2u);
    EXPECT_EQ(set_bits(sector_plan.erase_map), std::vector<uint32_t>{1});
    const auto page_plan = romwright::plan_pages(l.input());
    EXPECT_EQ(page_plan.write_map.size(), 8192u);
    EXPECT_EQ(set_bits(page_plan.write_map), range(4096, 8191));
}

TEST(Plan, PagesOfATrailingPartialSectorAreProgrammed) {
    Layout l;
    l.image = blank_image(0x400000 + 0x1000);
    fill_pages(l.image, 0x3FFFE0, 0x401000);
    l.layout = PageLayout{0x20000, 0x401000, 0, 0, false};
    const auto plan = romwright::plan_pages(l.input());
    EXPECT_EQ(plan.write_map.size(), 0x401000u / kPage);
    EXPECT_EQ(set_bits(plan.write_map), range(0x3FFFE0 / kPage, 0x401000 / kPage - 1));
    const auto sectors = romwright::plan_sectors(l.input());
    EXPECT_EQ(sectors.erase_map.size(), 33u);
    EXPECT_EQ(set_bits(sectors.erase_map), join(range(1, 31), {32}));
}

// An image that ends inside a sector: that sector is planned like any other,
// by the same range rules, and the runs reach its end.
struct TailCase {
    const char *name;
    uint32_t size;
    bool sector_mode;
    PageLayout layout;
    uint32_t option_bits_start;
    bool write_page1;
    std::size_t map_size;
    std::vector<uint32_t> sectors;
    std::vector<PlanRun> runs;
    const char *refusal;  // null: planned
};

void PrintTo(const TailCase &c, std::ostream *out) { *out << c.name; }

class TrailingSector : public ::testing::TestWithParam<TailCase> {};

TEST_P(TrailingSector, IsPlannedByTheRangeRules) {
    const TailCase &c = GetParam();
    Layout l;
    l.image = blank_image(c.size);
    l.sector_mode = c.sector_mode;
    l.layout = c.layout;
    l.option_bits_start = c.option_bits_start;
    l.option_bits_end = c.option_bits_start + 0x80;
    l.write_page1 = c.write_page1;
    if (c.refusal) {
        EXPECT_EQ(error_of(sectors, l.input()), c.refusal);
        return;
    }
    const auto plan = romwright::plan_sectors(l.input());
    EXPECT_EQ(plan.erase_map.size(), c.map_size);
    EXPECT_EQ(set_bits(plan.erase_map), c.sectors);
    ASSERT_EQ(plan.runs.size(), c.runs.size());
    for (std::size_t i = 0; i < c.runs.size(); ++i)
        EXPECT_THAT(plan.runs[i], IsRun(c.runs[i].units, c.runs[i].begin, c.runs[i].end)) << "run " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Images, TrailingSector,
    ::testing::Values(
        TailCase{"page_mode_F0000", 0xF0000, false, {0x20000, 0xEE000, 0, 0, false}, 0xEE000, false, 8,
                 range(1, 7), {{7, 0x20000, 0x100000}}, nullptr},
        TailCase{"sector_mode_3E0000", 0x3E0000, true, {0x20000, 0x300000, 0, 0, false}, 0x3DE000, false, 16,
                 join(range(0, 11), {15}), {{12, 0, 0x300000}, {1, 0x3C0000, 0x400000}}, nullptr},
        TailCase{"raw_cut_FE080", 0xFE080, false, {0x20000, 0xFE000, 0, 0, false}, 0xFE000, false, 8, range(1, 7),
                 {{7, 0x20000, 0x100000}}, nullptr},
        TailCase{"outside_every_range", 0xF0000, false, {0x20000, 0x80000, 0, 0, false}, 0x60000, false, 8,
                 range(1, 3), {{3, 0x20000, 0x80000}}, nullptr},
        TailCase{"shared_with_a_range_that_is_off", 0xF0000, false, {0x20000, 0xC0000, 0xC0000, 0xEC000, true},
                 0xEE000, false, 8, {}, {},
                 "Error: Erasing sector 7 would destroy the part of the page_1 range 0x000C0000 to 0x000EC000 that "
                 "lies in it, as that range is not being written"}),
    [](const ::testing::TestParamInfo<TailCase> &info) { return std::string(info.param.name); });

struct PartialPageCase {
    const char *name;
    uint32_t size;
    uint32_t data_at;  // a non-blank byte, or 0 for none
    bool last_page_written;
};

void PrintTo(const PartialPageCase &c, std::ostream *out) { *out << c.name; }

class LastPartialPage : public ::testing::TestWithParam<PartialPageCase> {};

// The page the image ends inside counts as padded with 0xFF: it is programmed
// when the bytes the image has for it hold data.
TEST_P(LastPartialPage, IsProgrammedWhenItsBytesHoldData) {
    const PartialPageCase &c = GetParam();
    Layout l;
    l.image = blank_image(c.size);
    if (c.data_at) l.image[c.data_at] = 0x00;
    l.layout = PageLayout{0x20000, 0xE0000, 0, 0, false};
    l.option_bits_start = l.option_bits_end = 0x80000;
    const auto plan = romwright::plan_pages(l.input());
    const uint32_t last = (c.size - 1) / kPage;
    ASSERT_EQ(plan.write_map.size(), last + 1);
    EXPECT_EQ(plan.write_map[last], c.last_page_written);
    EXPECT_EQ(plan.write_count, c.last_page_written ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Images, LastPartialPage,
    ::testing::Values(PartialPageCase{"one_byte_with_data", 0xF0001, 0xF0000, true},
                      PartialPageCase{"last_of_31_bytes_with_data", 0xF001F, 0xF001E, true},
                      PartialPageCase{"31_blank_bytes", 0xF001F, 0, false}),
    [](const ::testing::TestParamInfo<PartialPageCase> &info) { return std::string(info.param.name); });

TEST(Plan, AllBlankImageErasesButProgramsNothing) {
    Layout l;
    EXPECT_EQ(romwright::plan_sectors(l.input()).erase_count, 16);
    const auto plan = romwright::plan_pages(l.input());
    EXPECT_EQ(plan.write_count, 0);
    EXPECT_TRUE(plan.runs.empty());
}

TEST(Plan, Exactly128KBPassesThePageCountAndPlansNoPage) {
    Layout l;
    l.image = blank_image(kSmallSector);
    fill_pages(l.image, 0, kSmallSector);
    l.layout = PageLayout{0x2000, 0x4000, 0, 0, false};
    l.option_bits_start = 0x1F000;
    l.option_bits_end = 0x1F080;
    const auto plan = romwright::plan_pages(l.input());
    EXPECT_EQ(plan.write_map.size(), 4096u);
    EXPECT_EQ(plan.write_count, 0);
}

struct SectorZeroCase {
    const char *name;
    PageLayout layout;
    uint32_t option_bits_start;
    bool write_page0, write_page1, write_option_bits;
    const char *refusal;  // null: accepted
};

void PrintTo(const SectorZeroCase &c, std::ostream *out) { *out << c.name; }

class PageModeSectorZero : public ::testing::TestWithParam<SectorZeroCase> {};

// Page mode never programs the first 128 KB, so a selected range reaching into
// it would only wipe sector 0.
TEST_P(PageModeSectorZero, IsNeverErased) {
    const SectorZeroCase &c = GetParam();
    Layout l;
    l.layout = c.layout;
    l.option_bits_start = c.option_bits_start;
    l.option_bits_end = c.option_bits_start + 0x80;
    l.write_page0 = c.write_page0;
    l.write_page1 = c.write_page1;
    l.write_option_bits = c.write_option_bits;
    if (c.refusal) {
        EXPECT_EQ(error_of(sectors, l.input()), c.refusal);
        l.sector_mode = true;  // a sector-mode board writes what it erases
        EXPECT_TRUE(romwright::plan_sectors(l.input()).erase_map[0]);
    } else {
        EXPECT_FALSE(romwright::plan_sectors(l.input()).erase_map[0]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, PageModeSectorZero,
    ::testing::Values(
        SectorZeroCase{"page0_from_zero", {0, 0x200000, 0, 0, false}, 0x3FE000, true, false, true,
                       "Error: page_0 range 0x00000000 to 0x00200000 reaches into the first 128 KB, which this board "
                       "never programs; erasing sector 0 would destroy its contents"},
        SectorZeroCase{"page0_from_zero_but_off", {0, 0x200000, 0, 0, false}, 0x3FE000, false, false, true, nullptr},
        SectorZeroCase{"page1_low", {0x20000, 0x200000, 0x1E000, 0x30000, true}, 0x3FE000, true, true, true,
                       "Error: page_1 range 0x0001E000 to 0x00030000 reaches into the first 128 KB, which this board "
                       "never programs; erasing sector 0 would destroy its contents"},
        SectorZeroCase{"page1_low_but_absent", {0x20000, 0x200000, 0x1E000, 0x30000, false}, 0x3FE000, true, true,
                       true, nullptr},
        SectorZeroCase{"option_bits_low", {0x20000, 0x200000, 0, 0, false}, 0x1000, true, false, true,
                       "Error: option bits range 0x00001000 to 0x00001080 reaches into the first 128 KB, which this "
                       "board never programs; erasing sector 0 would destroy its contents"},
        SectorZeroCase{"page1_low_but_off", {0x20000, 0x200000, 0x10000, 0x20000, true}, 0x3FE000, true, false,
                       true, nullptr}),
    [](const ::testing::TestParamInfo<SectorZeroCase> &info) { return std::string(info.param.name); });

struct SharedSectorCase {
    const char *name;
    PageLayout layout;
    bool write_page1, write_option_bits;
    const char *refusal;  // null: accepted
};

void PrintTo(const SharedSectorCase &c, std::ostream *out) { *out << c.name; }

class PageModeSharedSector : public ::testing::TestWithParam<SharedSectorCase> {};

// Page mode never programs a range whose option is off, so it must not erase
// a sector holding part of one: that part would be left blank.
TEST_P(PageModeSharedSector, IsNotErasedUnderARangeThatIsNotWritten) {
    const SharedSectorCase &c = GetParam();
    Layout l;
    l.layout = c.layout;
    l.write_page1 = c.write_page1;
    l.write_option_bits = c.write_option_bits;
    if (c.refusal) {
        EXPECT_EQ(error_of(sectors, l.input()), c.refusal);
    } else {
        EXPECT_NO_THROW(romwright::plan_sectors(l.input()));
    }
    l.sector_mode = true;  // sector mode writes the whole sector from the image
    EXPECT_NO_THROW(romwright::plan_sectors(l.input()));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, PageModeSharedSector,
    ::testing::Values(
        SharedSectorCase{"page1_off_shares_with_page0", {0x20000, 0x1FE000, 0x1FE000, 0x260000, true}, false, true,
                         "Error: Erasing sector 15 would destroy the part of the page_1 range 0x001FE000 to "
                         "0x00260000 that lies in it, as that range is not being written"},
        SharedSectorCase{"page1_on_shares_with_page0", {0x20000, 0x1FE000, 0x1FE000, 0x260000, true}, true, true,
                         nullptr},
        SharedSectorCase{"page1_absent", {0x20000, 0x1FE000, 0x1FE000, 0x260000, false}, false, true, nullptr},
        SharedSectorCase{"page1_off_on_its_own_sectors", {0x20000, 0x200000, 0x200000, 0x260000, true}, false, true,
                         nullptr},
        SharedSectorCase{"option_bits_off_inside_page0", {0x20000, 0x400000 - 0x2000, 0, 0, false}, false, false,
                         "Error: Erasing sector 31 would destroy the part of the option bits range 0x003FE000 to "
                         "0x003FE080 that lies in it, as that range is not being written"},
        SharedSectorCase{"option_bits_off_alone", {0x20000, 0x200000, 0, 0, false}, false, false, nullptr}),
    [](const ::testing::TestParamInfo<SharedSectorCase> &info) { return std::string(info.param.name); });

TEST(PlanSectors, SectorModeUses256KBSectors) {
    Layout l;
    l.image = blank_image(0x800000);
    l.sector_mode = true;
    l.layout = PageLayout{0x40000, 0x300000, 0, 0, false};
    l.option_bits_start = 0x7FE000;
    l.option_bits_end = 0x7FE080;
    const auto plan = romwright::plan_sectors(l.input());
    EXPECT_EQ(plan.erase_map.size(), 32u);
    EXPECT_EQ(set_bits(plan.erase_map), join(range(1, 11), {31}));
    EXPECT_THAT(plan.runs, ElementsAre(IsRun(11u, 0x40000u, 0x300000u), IsRun(1u, 0x7C0000u, 0x800000u)));
}

struct Page1Case {
    const char *name;
    bool present, write_page1;
    std::vector<uint32_t> sectors;
    int32_t pages;  // of the 0x8000 bytes of data placed in page_1's range
};

void PrintTo(const Page1Case &c, std::ostream *out) { *out << c.name; }

class Page1 : public ::testing::TestWithParam<Page1Case> {};

TEST_P(Page1, CountsOnlyWhenPresent) {
    const Page1Case &c = GetParam();
    Layout l;
    l.layout = PageLayout{0x20000, 0x200000, 0x200000, 0x260000, c.present};
    l.write_page1 = c.write_page1;
    fill_pages(l.image, 0x240000, 0x248000);
    EXPECT_EQ(set_bits(romwright::plan_sectors(l.input()).erase_map), c.sectors);
    EXPECT_EQ(romwright::plan_pages(l.input()).write_count, c.pages);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, Page1,
    ::testing::Values(Page1Case{"present_on", true, true, join(range(1, 18), {31}), 0x8000 / 32},
                      Page1Case{"present_off", true, false, join(range(1, 15), {31}), 0},
                      Page1Case{"absent_on", false, true, join(range(1, 15), {31}), 0x8000 / 32},
                      Page1Case{"absent_off", false, false, join(range(1, 15), {31}), 0x8000 / 32}),
    [](const ::testing::TestParamInfo<Page1Case> &info) { return std::string(info.param.name); });

// The engine's members feed the planner; the runs go to the log with debug.
using LogRecord = testsupport::CallbackRecorder;

void set_worked_layout(CRomwright &engine) {
    engine.images()[0].data = blank_image(0x400000);
    fill_pages(engine.images()[0].data, 0x20000, 0x20060);
    engine.images()[0].option_bits_start = 0x3FE000;
    engine.images()[0].option_bits_end = 0x3FE080;
    engine.layout().page0_start = 0x20000;
    engine.layout().page0_end = 0x200000;
    engine.selection().write_page0 = true;
    engine.selection().write_option_bits = true;
}

TEST(EnginePlan, DebugLogsEveryRunOfSectorsAndPages) {
    LogRecord log;
    CRomwright engine(LogRecord::on_log, &log);
    set_worked_layout(engine);
    engine.options().debug = true;
    engine.PlanSectors();
    engine.PlanPages();
    EXPECT_EQ(engine.plan().erase_count, 16);
    EXPECT_EQ(engine.plan().erase_map.size(), 32u);
    EXPECT_EQ(engine.plan().write_count, 3);
    EXPECT_EQ(engine.plan().write_map.size(), 0x400000u / 32);
    using Line = LogRecord::Line;
    EXPECT_THAT(log.lines, ElementsAre(Line{ROMWRIGHT_LOG_INFO, "Found 15 sectors to erase from 0x00020000 to 0x00200000\n"},
                                       Line{ROMWRIGHT_LOG_INFO, "Found 1 sectors to erase from 0x003E0000 to 0x00400000\n"},
                                       Line{ROMWRIGHT_LOG_INFO, "Found 3 modified pages from 131072 to 131168\n"}));
}

TEST(EnginePlan, DebugRunsReachTheEndOfATrailingPartialSector) {
    LogRecord log;
    CRomwright engine(LogRecord::on_log, &log);
    set_worked_layout(engine);
    engine.images()[0].data.resize(0x3F0000);  // the option bits stay in sector 31
    engine.images()[0].option_bits_start = 0x3EE000;
    engine.images()[0].option_bits_end = 0x3EE080;
    engine.options().debug = true;
    engine.PlanSectors();
    EXPECT_EQ(engine.plan().erase_count, 16);
    EXPECT_EQ(engine.plan().erase_map.size(), 32u);
    using Line = LogRecord::Line;
    EXPECT_THAT(log.lines,
                ElementsAre(Line{ROMWRIGHT_LOG_INFO, "Found 15 sectors to erase from 0x00020000 to 0x00200000\n"},
                            Line{ROMWRIGHT_LOG_INFO, "Found 1 sectors to erase from 0x003E0000 to 0x00400000\n"}));
}

TEST(EnginePlan, WithoutDebugNothingIsLogged) {
    LogRecord log;
    CRomwright engine(LogRecord::on_log, &log);
    set_worked_layout(engine);
    engine.PlanSectors();
    engine.PlanPages();
    EXPECT_EQ(engine.plan().erase_count, 16);
    EXPECT_EQ(engine.plan().write_count, 3);
    EXPECT_TRUE(log.lines.empty());
}

TEST(EnginePlan, PlansTheSecondaryImageWhenItIsCurrent) {
    CRomwright engine(nullptr, nullptr);
    set_worked_layout(engine);
    engine.images()[1] = engine.images()[0];
    fill_pages(engine.images()[1].data, 0x100000, 0x100020);
    engine.set_image_index(1);
    engine.PlanPages();
    EXPECT_EQ(engine.plan().write_count, 4);
    EXPECT_TRUE(engine.plan().write_map[0x100000 / 32]);
}

TEST(EnginePlan, EachCallReplacesItsMap) {
    CRomwright engine(nullptr, nullptr);
    set_worked_layout(engine);
    engine.PlanSectors();
    engine.selection().write_page0 = false;
    engine.PlanSectors();
    EXPECT_EQ(engine.plan().erase_count, 1);
    EXPECT_EQ(set_bits(engine.plan().erase_map), std::vector<uint32_t>{31});
}

} // namespace
