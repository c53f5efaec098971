#include "engine/image/raw_image.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <ios>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <romwright/error.hpp>

#include "engine/image/firmware_file.hpp"
#include "engine/image/hex_dump.hpp"
#include "engine/update/romwright_engine.hpp"
#include "tests/engine/callback_recorder.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

constexpr uint32_t kWindow = 0x20000;
const std::string kNoOptionBits = "Error: Unable to find option bits in binary file";

using LogCapture = testsupport::CallbackRecorder;

// A raw image of 0xFF bytes with the bytes 20 00 at each given offset.
std::vector<uint8_t> raw(std::size_t size, std::initializer_list<std::size_t> marks) {
    std::vector<uint8_t> bytes(size, 0xFF);
    for (std::size_t at : marks) {
        bytes.at(at) = 0x20;
        bytes.at(at + 1) = 0x00;
    }
    return bytes;
}

// ------------------------------------------------------------------ raw loader table

struct RawCase {
    const char *name;
    std::function<std::vector<uint8_t>()> file;
    std::optional<uint32_t> option_bits;  // nullopt: refused with kNoOptionBits
};

const std::vector<RawCase> kRawCases = {
    {"NoBytesRefused", [] { return std::vector<uint8_t>(); }, std::nullopt},
    {"ExactlyWindowSizeRefused", [] { return raw(kWindow, {0}); }, std::nullopt},
    {"OneMoreThanWindowIsSearched", [] { return raw(kWindow + 1, {1}); }, 1},
    {"OneMoreThanWindowEvenOffsetNotExamined", [] { return raw(kWindow + 1, {2}); }, std::nullopt},
    {"MarkAtSizeMinus126Rejected", [] { return raw(0x40000, {0x40000 - 126}); }, std::nullopt},
    {"MarkAtSizeMinus128Accepted", [] { return raw(0x40000, {0x40000 - 128}); }, 0x40000 - 128},
    {"FirstOfTwoMarksTaken", [] { return raw(0x40000, {0x20000 + 4, 0x20000 + 10}); }, 0x20000 + 4},
    {"MarkAtWindowStartTaken", [] { return raw(0x40000, {0x20000}); }, 0x20000},
    {"MarkBeforeWindowIgnored", [] { return raw(0x40000, {0x20000 - 2}); }, std::nullopt},
    {"MarkAtOddOffsetOfEvenSizeNotExamined", [] { return raw(0x40000, {0x30001}); }, std::nullopt},
    {"OddSizeExaminesOddOffsets", [] { return raw(0x40001, {0x30001}); }, 0x30001},
    {"OddSizeSkipsEvenOffsets", [] { return raw(0x40001, {0x30000}); }, std::nullopt},
    {"OddSizeLastCandidateAtSizeMinus128", [] { return raw(0x40001, {0x40001 - 128}); }, 0x40001 - 128},
    {"BigEndianMarkIsNotTheMark",
     [] {
         auto bytes = raw(0x40000, {});
         bytes[0x30000] = 0x00;
         bytes[0x30001] = 0x20;
         return bytes;
     },
     std::nullopt},
    {"NoMarkAtAllRefused", [] { return raw(0x400000, {}); }, std::nullopt},
};

// The same loader reads a firmware file or bytes already in memory.
enum class From { file, memory };

struct RawRun {
    RawCase test;
    From from;
};

std::vector<RawRun> raw_runs() {
    std::vector<RawRun> runs;
    for (const RawCase &test : kRawCases) {
        // A firmware file has at least one byte; no bytes at all are only met in memory.
        if (test.file().size() > 0) runs.push_back({test, From::file});
        runs.push_back({test, From::memory});
    }
    return runs;
}

void load_from(From from, const std::vector<uint8_t> &bytes, ImageSlot &slot, const romwright::LogSink &log) {
    if (from == From::memory) {
        romwright::FirmwareBytes source(bytes.data(), bytes.size());
        romwright::load_binary(source, slot, log);
        return;
    }
    testsupport::TempDir dir("raw");
    const std::string path = dir.file("image.rpd");
    testsupport::write_file(path, bytes);
    romwright::load_binary_file(path, slot, log);
}

void PrintTo(const RawRun &run, std::ostream *out) {
    *out << run.test.name << (run.from == From::file ? " from a file" : " from memory");
}

class RawLoaderCases : public testing::TestWithParam<RawRun> {};

TEST_P(RawLoaderCases, FindsTheOptionBitsOrRefuses) {
    const RawCase &test = GetParam().test;
    const auto bytes = test.file();
    ImageSlot slot;
    LogCapture log;
    if (!test.option_bits) {
        try {
            load_from(GetParam().from, bytes, slot, log.sink());
            FAIL() << "loaded a file without option bits";
        } catch (const std::runtime_error &error) {
            EXPECT_EQ(std::string(error.what()), kNoOptionBits);
        }
        EXPECT_TRUE(slot.data.empty());
    } else {
        load_from(GetParam().from, bytes, slot, log.sink());
        EXPECT_EQ(slot.option_bits_start, *test.option_bits);
        EXPECT_EQ(slot.option_bits_end, *test.option_bits + 128);
        EXPECT_LE(slot.option_bits_end, bytes.size());
        EXPECT_EQ(slot.data, bytes);
    }
    EXPECT_EQ(log.joined().rfind("Loading binary file " + std::to_string(bytes.size()) + " bytes.\n", 0), 0u) << log.joined();
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, RawLoaderCases, testing::ValuesIn(raw_runs()),
                         [](const testing::TestParamInfo<RawRun> &info) {
                             return std::string(info.param.test.name) +
                                    (info.param.from == From::file ? "_FromFile" : "_FromMemory");
                         });

// Bytes in memory that count what the loader reads of them.
class CountingSource final : public romwright::FirmwareSource {
public:
    explicit CountingSource(const std::vector<uint8_t> &bytes) : bytes_(bytes.data(), bytes.size()) {}
    uint64_t size() const noexcept override { return bytes_.size(); }
    void read(uint64_t offset, uint8_t *out, std::size_t length) override {
        bytes_.read(offset, out, length);
        read_bytes += length;
    }
    std::string name() const override { return bytes_.name(); }

    uint64_t read_bytes = 0;

private:
    romwright::FirmwareBytes bytes_;
};

// A large image without option bits is refused after its last 128 KB: the
// rest is neither read nor given memory.
TEST(RawLoader, WithoutOptionBitsOnlyTheLastWindowIsRead) {
    const auto bytes = raw(0x1000000, {});
    CountingSource source(bytes);
    ImageSlot slot;
    EXPECT_THROW(romwright::load_binary(source, slot, romwright::LogSink()), std::runtime_error);
    EXPECT_EQ(source.read_bytes, kWindow);
    EXPECT_TRUE(slot.data.empty());
}

TEST(RawLoader, WithOptionBitsEveryByteIsReadOnce) {
    const auto bytes = raw(0x1000000, {0xFFF000});
    CountingSource source(bytes);
    ImageSlot slot;
    romwright::load_binary(source, slot, romwright::LogSink());
    EXPECT_EQ(source.read_bytes, bytes.size());
    EXPECT_EQ(slot.data, bytes);
    EXPECT_EQ(slot.option_bits_start, 0xFFF000u);
}

// Paths reach the engine in UTF-8; the file is written under the name a
// user sees, whatever the system's code page.
TEST(RawLoader, PathIsUtf8) {
    testsupport::TempDir dir("raw");
    const std::string folder = dir.file("Entw\xC3\xBCrfe \xE2\x82\xAC");
    std::filesystem::create_directory(std::filesystem::u8path(folder));
    const std::string path = folder + "/image-\xC3\xA9.rpd";
    const auto bytes = raw(0x40000, {0x3F000});
    {
        std::ofstream out(std::filesystem::u8path(path), std::ios::binary);
        out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    ImageSlot slot;
    romwright::load_binary_file(path, slot, romwright::LogSink());
    EXPECT_EQ(slot.data, bytes);
    EXPECT_EQ(slot.option_bits_start, 0x3F000u);
}

TEST(RawLoader, MissingFileIsAFileError) {
    testsupport::TempDir dir("raw");
    ImageSlot slot;
    try {
        romwright::load_binary_file(dir.file("absent.rpd"), slot, romwright::LogSink());
        FAIL() << "loaded a missing file";
    } catch (const romwright::error &error) {
        EXPECT_EQ(error.kind(), romwright::error_kind::file);
        EXPECT_NE(std::string(error.what()).find("Error: Unable to open binary file "), std::string::npos);
    }
}

TEST(RawLoader, FolderIsRefusedAsNotAFile) {
    testsupport::TempDir dir("raw");
    ImageSlot slot;
    try {
        romwright::load_binary_file(dir.path(), slot, romwright::LogSink());
        FAIL() << "loaded a folder";
    } catch (const std::runtime_error &error) {
        EXPECT_EQ(std::string(error.what()), "Error: Firmware file " + dir.path() + " is not a regular, non-empty file");
    }
}

TEST(RawLoader, EmptyFileIsRefusedAsNotAFile) {
    testsupport::TempDir dir("raw");
    const std::string path = dir.file("empty.rpd");
    testsupport::write_file(path, {});
    ImageSlot slot;
    LogCapture log;
    try {
        romwright::load_binary_file(path, slot, log.sink());
        FAIL() << "loaded an empty file";
    } catch (const std::runtime_error &error) {
        EXPECT_EQ(std::string(error.what()), "Error: Firmware file " + path + " is not a regular, non-empty file");
    }
    EXPECT_EQ(log.joined(), "");
}

TEST(RawLoader, FileLargerThan32BitsIsRefusedBeforeReading) {
    testsupport::TempDir dir("raw");
    const std::string path = dir.file("huge.rpd");
    testsupport::write_file(path, {});
    std::error_code error;
    std::filesystem::resize_file(path, 0x100000000ull + 2, error);  // sparse: takes no room
    if (error) GTEST_SKIP() << "cannot make a sparse file: " << error.message();
    ImageSlot slot;
    LogCapture log;
    try {
        romwright::load_binary_file(path, slot, log.sink());
        FAIL() << "loaded a file beyond 32 bits";
    } catch (const std::runtime_error &failure) {
        EXPECT_EQ(std::string(failure.what()),
                  "Error: Binary file of 4294967298 bytes is too large; an image holds at most 4294967295 bytes");
    }
    EXPECT_TRUE(slot.data.empty());
    EXPECT_EQ(log.joined(), "Loading binary file 4294967298 bytes.\n");
}

TEST(RawLoader, EngineMemberFillsThePrimarySlotOnly) {
    testsupport::TempDir dir("raw");
    const std::string path = dir.file("image.rpd");
    testsupport::write_file(path, raw(0x40000, {0x3F000}));
    LogCapture log;
    CRomwright engine(&LogCapture::on_log, &log);
    engine.LoadBinaryFile(path);  // logs its size without debug
    EXPECT_EQ(engine.images()[0].data.size(), 0x40000u);
    EXPECT_EQ(engine.images()[0].option_bits_start, 0x3F000u);
    EXPECT_TRUE(engine.images()[1].data.empty());
    EXPECT_EQ(log.joined(), "Loading binary file 262144 bytes.\n");
}

// ------------------------------------------------------------------ page layout

constexpr uint32_t kOptionBits = 0x1000;

ImageSlot slot_with(std::vector<uint8_t> bits, std::size_t size = 0x500000) {
    ImageSlot slot;
    slot.data.assign(size, 0xFF);
    std::copy(bits.begin(), bits.end(), slot.data.begin() + kOptionBits);
    slot.option_bits_start = kOptionBits;
    slot.option_bits_end = kOptionBits + 128;
    return slot;
}

struct LayoutRun {
    romwright::PageSelection selection;
    romwright::PageLayout layout;
    std::string error;
    LogCapture log;
};

LayoutRun read_layout(const ImageSlot &slot, romwright::PageSelection selection, bool debug = false,
                      romwright::PageLayout layout = {}) {
    LayoutRun run{selection, layout, {}, {}};
    try {
        romwright::read_page_layout(slot, run.selection, run.layout, debug, run.log.sink());
    } catch (const std::runtime_error &error) {
        run.error = error.what();
    }
    return run;
}

const romwright::PageSelection kAuto{true, true, false, true};
const romwright::PageSelection kManualBoth{false, true, true, true};
const romwright::PageSelection kManualPage0{false, true, false, true};
const romwright::PageSelection kManualNone{false, false, false, true};

TEST(PageLayout, HighAndLowBytesDecodeTo8KUnits) {
    const auto run = read_layout(slot_with({0x00, 0x02, 0x00, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}), kAuto);
    ASSERT_EQ(run.error, "");
    EXPECT_EQ(run.layout.page0_start, 0x00200000u);
    EXPECT_EQ(run.layout.page0_end, 0x00400000u);
    EXPECT_FALSE(run.layout.page1_present);
}

TEST(PageLayout, BitZeroOfTheLowByteIsIgnored) {
    const auto run = read_layout(slot_with({0x03, 0x00, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}), kAuto);
    ASSERT_EQ(run.error, "");
    EXPECT_EQ(run.layout.page0_start, 0x00002000u);
    EXPECT_EQ(run.layout.page0_end, 0x00004000u);
}

TEST(PageLayout, LargestAddressIs0FFFE000) {
    const auto run = read_layout(slot_with({0xFF, 0xFF, 0xFF, 0xFE}), kManualNone);
    ASSERT_EQ(run.error, "");
    EXPECT_EQ(run.layout.page0_start, 0x0FFFE000u);
    EXPECT_EQ(run.layout.page0_end, 0x0FEFE000u);
}

TEST(PageLayout, Page0AllFFIsNotFoundEvenWhenNotWritten) {
    for (const auto &selection : {kAuto, kManualNone}) {
        const auto run = read_layout(slot_with({0xFF, 0xFF, 0xFF, 0xFF}), selection);
        EXPECT_EQ(run.error, "Error: page_0 not found");
    }
}

TEST(PageLayout, Page0ChecksComeInTheirOrder) {
    struct Check {
        std::vector<uint8_t> bits;
        const char *error;
    };
    // Image of 0x500000 bytes: 0x05 in the high byte is its end.
    const Check checks[] = {
        {{0x00, 0x06, 0x00, 0x07}, "Error: Invalid page_0 start address -- 00600000"},  // start and end outside
        {{0x00, 0x05, 0x00, 0x04}, "Error: Invalid page_0 start address -- 00500000"},  // start = length
        {{0x00, 0x04, 0x00, 0x05}, "Error: Invalid page_0 end address -- 00500000"},    // end = length
        {{0x00, 0x04, 0x00, 0x03}, "Error: Invalid page_0 range -- 00400000 to 00300000"},
        {{0x00, 0x03, 0x00, 0x03}, ""},  // empty range passes
        {{0xFE, 0x04, 0xFE, 0x04}, ""},  // last 8 KB unit below the end
    };
    for (const auto &check : checks) {
        auto bits = check.bits;
        bits.insert(bits.end(), {0xFF, 0xFF, 0xFF, 0xFF});
        EXPECT_EQ(read_layout(slot_with(bits), kAuto).error, check.error);
    }
}

TEST(PageLayout, Page0OffSkipsItsChecks) {
    const auto run = read_layout(slot_with({0x00, 0x60, 0x00, 0x50, 0xFF, 0xFF, 0xFF, 0xFF}), kManualNone);
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(run.layout.page0_start, 0x06000000u);
}

TEST(PageLayout, AbsentPage1WithAutoSelectLoads) {
    romwright::PageLayout earlier{0, 0, 0x111, 0x222, true};
    const auto bits = slot_with({0x00, 0x02, 0x00, 0x04, 0xFF, 0xFF, 0xFF, 0xFF});
    const auto run = read_layout(bits, {true, false, true, true}, false, earlier);
    EXPECT_EQ(run.error, "");
    EXPECT_TRUE(run.selection.write_page0);
    EXPECT_FALSE(run.selection.write_page1);
    EXPECT_FALSE(run.layout.page1_present);
    EXPECT_EQ(run.layout.page1_start, 0x111u);  // kept
    EXPECT_EQ(run.layout.page1_end, 0x222u);
}

TEST(PageLayout, AbsentPage1WrittenWithoutAutoSelectIsNotFound) {
    const auto run = read_layout(slot_with({0x00, 0x02, 0x00, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}), kManualBoth);
    EXPECT_EQ(run.error, "Error: page_1 not found");
}

TEST(PageLayout, PresentPage1IsDecodedAndCheckedOnlyWhenWritten) {
    const std::vector<uint8_t> bits = {0x00, 0x02, 0x00, 0x04, 0x40, 0x04, 0x80, 0x04};
    const auto unchecked = read_layout(slot_with(bits), kManualPage0);
    EXPECT_EQ(unchecked.error, "");
    EXPECT_TRUE(unchecked.layout.page1_present);
    EXPECT_EQ(unchecked.layout.page1_start, 0x00440000u);
    EXPECT_EQ(unchecked.layout.page1_end, 0x00480000u);
    EXPECT_EQ(read_layout(slot_with(bits), kManualBoth).error, "");

    struct Check {
        std::vector<uint8_t> page1;
        const char *error;
    };
    const Check checks[] = {
        {{0x00, 0x05, 0x00, 0x06}, "Error: Invalid page_1 start address -- 00500000"},
        {{0x40, 0x04, 0x00, 0x05}, "Error: Invalid page_1 end address -- 00500000"},
        {{0x80, 0x04, 0x40, 0x04}, "Error: Invalid page_1 range -- 00480000 to 00440000"},
    };
    for (const auto &check : checks) {
        std::vector<uint8_t> with_page1 = {0x00, 0x02, 0x00, 0x04};
        with_page1.insert(with_page1.end(), check.page1.begin(), check.page1.end());
        EXPECT_EQ(read_layout(slot_with(with_page1), kManualBoth).error, check.error);
        EXPECT_EQ(read_layout(slot_with(with_page1), kManualPage0).error, "");
    }
}

TEST(PageLayout, SlotTooShortForItsOptionBitsIsRefused) {
    ImageSlot empty;
    EXPECT_EQ(read_layout(empty, kAuto).error, "Error: No image data to read the option bits from");

    ImageSlot never_found = slot_with({0x00, 0x02, 0x00, 0x04});
    never_found.option_bits_start = never_found.option_bits_end = 0;
    EXPECT_EQ(read_layout(never_found, kAuto).error, "Error: Unable to find option bits in image");

    ImageSlot beyond = slot_with({}, 0x1004);  // block starts at 0x1000, 4 bytes left
    EXPECT_EQ(read_layout(beyond, kAuto).error,
              "Error: Option bits at 0x00001000 to 0x00001080 lie outside the image of 4100 bytes");

    ImageSlot block_cut = slot_with({0x00, 0x02, 0x00, 0x04}, 0x1040);  // 8 bytes fit, the block does not
    EXPECT_NE(read_layout(block_cut, kAuto).error.find("lie outside the image of 4160 bytes"), std::string::npos);

    ImageSlot wrapped = slot_with({0x00, 0x02, 0x00, 0x04});
    wrapped.option_bits_start = 0xFFFFFFFC;
    wrapped.option_bits_end = 0x7C;
    EXPECT_NE(read_layout(wrapped, kAuto).error.find("lie outside the image"), std::string::npos);
}

TEST(PageLayout, DebugLinesAreExact) {
    ImageSlot slot = slot_with({0x00, 0x02, 0x00, 0x04, 0x40, 0x04, 0x80, 0x04});
    const auto run = read_layout(slot, {false, true, true, false}, true);
    ASSERT_EQ(run.error, "");
    LogCapture dump;
    romwright::hex_dump(dump.sink(), slot.data.data() + kOptionBits, 128, kOptionBits, 16);
    EXPECT_EQ(run.log.joined(), "Auto select pages = false\n"
                            "Write page 0 = true\n"
                            "Write page 1 = true\n"
                            "Write option bits = false\n"
                            "Option bits\n" +
                                dump.joined() +
                                "Page_0 start 0x00200000 end 0x00400000\n"
                                "Page_1 start 0x00440000 end 0x00480000\n"
                                "Option bits start 0x00001000 end 0x00001080\n");
    EXPECT_EQ(dump.joined().substr(0, 10), " 00001000 ");
}

TEST(PageLayout, DebugShowsTheSelectionAfterAutoSelect) {
    const auto run = read_layout(slot_with({0x00, 0x02, 0x00, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}),
                                 {true, false, true, true}, true);
    ASSERT_EQ(run.error, "");
    EXPECT_EQ(run.log.joined().rfind("Auto select pages = true\nWrite page 0 = true\nWrite page 1 = false\n", 0), 0u);
    EXPECT_EQ(run.log.joined().find("Page_1"), std::string::npos);
}

TEST(PageLayout, WithoutDebugNothingIsLogged) {
    const auto run = read_layout(slot_with({0x00, 0x02, 0x00, 0x04}), kAuto, false);
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(run.log.joined(), "");
}

TEST(PageLayout, EngineMemberUsesTheCurrentSlotAndCopiesBack) {
    CRomwright engine(nullptr, nullptr);
    engine.images()[0] = slot_with({0xFF, 0xFF, 0xFF, 0xFF});  // would fail
    engine.images()[1] = slot_with({0x00, 0x02, 0x00, 0x04, 0x40, 0x04, 0x80, 0x04});
    engine.set_image_index(1);
    engine.options().auto_select_pages = true;
    engine.options().write_page0 = false;
    engine.options().write_page1 = true;
    engine.ReadPageLayout();
    EXPECT_TRUE(engine.selection().write_page0);
    EXPECT_FALSE(engine.selection().write_page1);
    EXPECT_EQ(engine.layout().page0_start, 0x200000u);
    EXPECT_EQ(engine.layout().page0_end, 0x400000u);
    EXPECT_TRUE(engine.layout().page1_present);
    EXPECT_EQ(engine.layout().page1_start, 0x440000u);
    EXPECT_EQ(engine.layout().page1_end, 0x480000u);

    engine.set_image_index(0);
    EXPECT_THROW(engine.ReadPageLayout(), std::runtime_error);
}

TEST(PageLayout, EngineMemberKeepsWhatWasReadWhenRefused) {
    CRomwright engine(nullptr, nullptr);
    engine.images()[0] = slot_with({0x00, 0x02, 0x00, 0x04, 0xFF, 0xFF, 0xFF, 0xFF});
    engine.options().auto_select_pages = false;
    engine.options().write_page1 = true;
    EXPECT_THROW(engine.ReadPageLayout(), std::runtime_error);  // page_1 not found
    EXPECT_EQ(engine.layout().page0_start, 0x200000u);
    EXPECT_EQ(engine.layout().page0_end, 0x400000u);
}

} // namespace
