#include "engine/image/pof_reader.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <ios>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>

#include <romwright/error.hpp>

#include "engine/image/firmware_file.hpp"
#include "engine/image/hex_dump.hpp"
#include "engine/update/romwright_engine.hpp"
#include "tests/engine/callback_recorder.hpp"
#include "tests/support/temp_dir.hpp"
#include "tools/mkimage/image_maker.hpp"

namespace {

using mkimage::PofFile;
using mkimage::PofPacket;

using LogCapture = testsupport::CallbackRecorder;

std::vector<uint8_t> pattern(std::size_t length, uint8_t seed) {
    std::vector<uint8_t> bytes(length);
    for (std::size_t k = 0; k < length; ++k) bytes[k] = static_cast<uint8_t>(k * 31 + seed + (k >> 8));
    return bytes;
}

const std::vector<uint8_t> kPrimary = pattern(0x10000, 1);
const std::vector<uint8_t> kSecondary = pattern(0x8000, 2);

PofPacket creator() { return mkimage::text_packet(mkimage::kTagCreator, "maker"); }
PofPacket data(const std::vector<uint8_t> &image = kPrimary, uint16_t tag = mkimage::kTagData) {
    return mkimage::data_packet(tag, image);
}
PofPacket option_bits(uint32_t offset, uint16_t tag = mkimage::kTagOptionBits) {
    return mkimage::option_bits_packet(tag, offset, "mPage_0 00000000 0000FFFF;");
}
PofPacket terminator(std::optional<uint32_t> size_field = std::nullopt) {
    PofPacket packet = mkimage::terminator_packet();
    packet.size_field = size_field;
    return packet;
}
PofPacket other(std::size_t length) { return PofPacket{0x23, pattern(length, 9), std::nullopt}; }
PofPacket sized(PofPacket packet, uint32_t size_field) {
    packet.size_field = size_field;
    return packet;
}

std::vector<uint8_t> pof(std::vector<PofPacket> packets, std::optional<uint32_t> count = std::nullopt) {
    PofFile file;
    file.packets = std::move(packets);
    file.packet_count = count;
    return file.serialize();
}

std::vector<uint8_t> cut(std::vector<uint8_t> bytes, std::size_t keep) {
    bytes.resize(keep);
    return bytes;
}

// How a load ended: loaded, or refused with a romwright::error of a kind. A
// case that expects an image error gives its whole text, or (image_in_part)
// a part of it.
enum class Thrown { nothing, image, image_in_part, file, other };

struct Outcome {
    ImageSlot slots[2];
    Thrown thrown = Thrown::nothing;
    std::string message;
    LogCapture log;
};

// The same reader reads a firmware file or bytes already in memory.
enum class From { file, memory };

void load(const std::vector<uint8_t> &bytes, Outcome &outcome, bool debug = false, From from = From::file) {
    testsupport::TempDir dir("pof");
    const std::string path = dir.file("image.pof");
    testsupport::write_file(path, bytes);
    try {
        if (from == From::file) {
            romwright::load_pof_file(path, outcome.slots, debug, outcome.log.sink());
        } else {
            romwright::FirmwareBytes source(bytes.data(), bytes.size());
            romwright::load_pof(source, outcome.slots, debug, outcome.log.sink());
        }
    } catch (const romwright::error &error) {
        outcome.thrown = error.kind() == romwright::error_kind::image  ? Thrown::image
                         : error.kind() == romwright::error_kind::file ? Thrown::file
                                                                        : Thrown::other;
        outcome.message = error.what();
    }
}

// ------------------------------------------------------------------ the table

struct PofCase {
    const char *name;
    std::function<std::vector<uint8_t>()> file;
    Thrown thrown;
    std::string message;  // exact for Thrown::image, a part of it otherwise
    std::function<void(const ImageSlot (&)[2])> check;
};

void primary_only(const ImageSlot (&slots)[2]) {
    EXPECT_EQ(slots[0].data, kPrimary);
    EXPECT_TRUE(slots[1].data.empty());
}

std::function<void(const ImageSlot (&)[2])> option_bits_at(uint32_t start, uint32_t end) {
    return [=](const ImageSlot (&slots)[2]) {
        EXPECT_EQ(slots[0].data, kPrimary);
        EXPECT_EQ(slots[0].option_bits_start, start);
        EXPECT_EQ(slots[0].option_bits_end, end);
    };
}

const std::vector<PofCase> kPofCases = {
    {"MagicWithoutZeroByte",
     [] {
         PofFile file;
         file.magic = {{'P', 'O', 'F', '1'}};
         file.packets = {creator(), data(), terminator()};
         return file.serialize();
     },
     Thrown::image, "Invalid POF header.", nullptr},
    {"CountThreeCreatorDataTerminatorLoads", [] { return pof({creator(), data(), terminator()}, 3); },
     Thrown::nothing, "", option_bits_at(0, 0)},
    {"CountFourTerminatorNotLast", [] { return pof({creator(), data(), terminator()}, 4); }, Thrown::image,
     "Error: Terminator packet not last packet.", nullptr},
    {"CountTwoTooManyPackets", [] { return pof({creator(), data(), terminator()}, 2); }, Thrown::image,
     "Error: Too many packets", nullptr},
    {"CountZeroTooManyPackets", [] { return pof({creator(), terminator()}, 0); }, Thrown::image,
     "Error: Too many packets", nullptr},
    {"OptionBitsAfterDataAccepted", [] { return pof({data(), option_bits(0x1000), terminator()}); },
     Thrown::nothing, "", option_bits_at(0x1000, 0x1080)},
    {"OptionBitsBeforeDataIgnored", [] { return pof({option_bits(0x1000), data(), terminator()}); },
     Thrown::nothing, "", option_bits_at(0, 0)},
    {"OptionBitsOffsetFFFFFFFFIgnored", [] { return pof({data(), option_bits(0xFFFFFFFF), terminator()}); },
     Thrown::nothing, "", option_bits_at(0, 0)},
    {"OptionBitsEndingAtDataEndIgnored", [] { return pof({data(), option_bits(0x10000 - 128), terminator()}); },
     Thrown::nothing, "", option_bits_at(0, 0)},
    {"OptionBitsEndingOneBeforeDataEndAccepted",
     [] { return pof({data(), option_bits(0x10000 - 129), terminator()}); }, Thrown::nothing, "",
     option_bits_at(0xFF7F, 0xFFFF)},
    {"OptionBitsOffsetWrappingPastZeroIgnored",
     [] { return pof({data(), option_bits(0xFFFFFF90), terminator()}); }, Thrown::nothing, "", option_bits_at(0, 0)},
    {"OptionBitsOffsetZeroAccepted", [] { return pof({data(), option_bits(0), terminator()}); }, Thrown::nothing, "",
     option_bits_at(0, 128)},
    {"EmptyOptionBitsPacketGivesNoOffset",
     [] { return pof({data(), PofPacket{mkimage::kTagOptionBits, {}, std::nullopt}, terminator()}); },
     Thrown::nothing, "", option_bits_at(0, 0)},
    {"ShortOptionBitsPacketReadsZeroFilledOffset",
     [] { return pof({data(), PofPacket{mkimage::kTagOptionBits, {0x34, 0x12}, std::nullopt}, terminator()}); },
     Thrown::nothing, "", option_bits_at(0x1234, 0x12B4)},
    {"DuplicateDataRefused", [] { return pof({data(), data(), terminator()}); }, Thrown::image,
     "Error: Duplicate logical address and data 32.", nullptr},
    {"PrimaryAndSecondaryFillBothSlots",
     [] {
         return pof({data(), option_bits(0x1000), data(kSecondary, mkimage::kTagSecondaryData),
                     option_bits(0x2000, mkimage::kTagSecondaryOptionBits), terminator()});
     },
     Thrown::nothing, "",
     [](const ImageSlot (&slots)[2]) {
         EXPECT_EQ(slots[0].data, kPrimary);
         EXPECT_EQ(slots[0].option_bits_start, 0x1000u);
         EXPECT_EQ(slots[1].data, kSecondary);
         EXPECT_EQ(slots[1].option_bits_start, 0x2000u);
         EXPECT_EQ(slots[1].option_bits_end, 0x2080u);
     }},
    {"SecondaryOptionBitsNeedSecondaryData",
     [] { return pof({data(), option_bits(0x2000, mkimage::kTagSecondaryOptionBits), terminator()}); },
     Thrown::nothing, "",
     [](const ImageSlot (&slots)[2]) {
         EXPECT_EQ(slots[0].option_bits_end, 0u);
         EXPECT_EQ(slots[1].option_bits_end, 0u);
     }},
    {"EmptyDataPacketLeavesSlotUnfilled", [] { return pof({data({}), data(), terminator()}); }, Thrown::nothing, "",
     primary_only},
    {"EmptyDataPacketAloneGivesEmptyData", [] { return pof({data({}), terminator()}); }, Thrown::nothing, "",
     [](const ImageSlot (&slots)[2]) { EXPECT_TRUE(slots[0].data.empty()); }},
    {"TerminatorSizeZeroReadAsTwoBytes", [] { return pof({data(), terminator(0)}); }, Thrown::nothing, "",
     primary_only},
    {"TerminatorSizeHundredReadAsTwoBytes", [] { return pof({data(), terminator(100)}); }, Thrown::nothing, "",
     primary_only},
    {"UnknownPacketSkipped", [] { return pof({creator(), other(300), data(), terminator()}); }, Thrown::nothing, "",
     primary_only},
    {"TrailingBytesAfterTerminatorIgnored",
     [] {
         auto bytes = pof({data(), terminator()});
         bytes.insert(bytes.end(), 77, 0xEE);
         return bytes;
     },
     Thrown::nothing, "", primary_only},
    {"DataBelowTwelveBytesIsALengthError",
     [] { return pof({creator(), PofPacket{mkimage::kTagData, pattern(8, 3), std::nullopt}, terminator()}); },
     Thrown::image_in_part, "packet 2 (tag 17, size 8)", nullptr},
    {"DataLargerThanTheFileRefused", [] { return pof({creator(), sized(data(), 0x10000 + 12 + 100), terminator()}); },
     Thrown::image, "Error: POF packet 2 (tag 17, size 65648) is larger than the 65556 bytes left in the file",
     nullptr},
    {"DataSizeFFFFFFFFRefused", [] { return pof({creator(), sized(data(), 0xFFFFFFFF), terminator()}); },
     Thrown::image,
     "Error: POF packet 2 (tag 17, size 4294967295) is larger than the 65556 bytes left in the file", nullptr},
    {"TextSizeFFFFFFFFRefused", [] { return pof({sized(creator(), 0xFFFFFFFF), data(), terminator()}); },
     Thrown::image,
     "Error: POF packet 1 (tag 1, size 4294967295) is larger than the 65568 bytes left in the file", nullptr},
    {"TextLargerThanTheFileRefused", [] { return pof({sized(creator(), 70000), data(), terminator()}); },
     Thrown::image, "Error: POF packet 1 (tag 1, size 70000) is larger than the 65568 bytes left in the file",
     nullptr},
    {"UnknownPacketLargerThanTheFileRefused", [] { return pof({sized(other(10), 1000), terminator()}); },
     Thrown::image, "Error: POF packet 1 (tag 35, size 1000) is larger than the 18 bytes left in the file",
     nullptr},
    {"OptionBitsPacketLargerThanTheFileRefused",
     [] { return pof({data(), sized(option_bits(0x1000), 0xFFFFFFF0), terminator()}); }, Thrown::image,
     "Error: POF packet 2 (tag 26, size 4294967280) is larger than the 39 bytes left in the file", nullptr},
    {"BadCrcRefused",
     [] {
         PofFile file;
         file.packets = {data(), terminator()};
         file.crc_xor = 0x8000;
         return file.serialize();
     },
     Thrown::image, "Error: POF file CRC mismatch: computed 0x", nullptr},
    {"TruncatedInsideFileHeader", [] { return cut(pof({data(), terminator()}), 8); }, Thrown::image_in_part,
     "ends inside its 12-byte header", nullptr},
    {"TruncatedInsidePacketHeader", [] { return cut(pof({creator(), data(), terminator()}), 12 + 12 + 3); },
     Thrown::image_in_part, "ends inside the header of packet 2", nullptr},
    {"TruncatedInsideData", [] { return cut(pof({data(), terminator()}), 12 + 6 + 12 + 100); },
     Thrown::image, "Error: POF packet 1 (tag 17, size 65548) is larger than the 112 bytes left in the file",
     nullptr},
    {"TruncatedInsideCrc",
     [] {
         auto bytes = pof({data(), terminator()});
         return cut(bytes, bytes.size() - 1);
     },
     Thrown::image_in_part, "ends inside packet 2 (tag 8, size 2)", nullptr},
    {"NoTerminatorPacket", [] { return cut(pof({data(), terminator()}), 12 + 6 + 12 + 0x10000); },
     Thrown::image_in_part, "(no terminator packet)", nullptr},
};

struct PofRun {
    PofCase test;
    From from;
};

std::vector<PofRun> pof_runs() {
    std::vector<PofRun> runs;
    for (const PofCase &test : kPofCases) {
        runs.push_back({test, From::file});
        runs.push_back({test, From::memory});
    }
    return runs;
}

void PrintTo(const PofRun &run, std::ostream *out) {
    *out << run.test.name << (run.from == From::file ? " from a file" : " from memory");
}

class PofReaderCases : public testing::TestWithParam<PofRun> {};

TEST_P(PofReaderCases, LoadsOrRefusesAsDescribed) {
    const PofCase &test = GetParam().test;
    Outcome outcome;
    load(test.file(), outcome, false, GetParam().from);
    EXPECT_EQ(outcome.thrown, test.thrown == Thrown::image_in_part ? Thrown::image : test.thrown) << outcome.message;
    if (test.thrown == Thrown::image && test.message.find("computed 0x") == std::string::npos)
        EXPECT_EQ(outcome.message, test.message);
    else
        EXPECT_NE(outcome.message.find(test.message), std::string::npos) << outcome.message;
    if (test.check) test.check(outcome.slots);
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, PofReaderCases, testing::ValuesIn(pof_runs()),
                         [](const testing::TestParamInfo<PofRun> &info) {
                             return std::string(info.param.test.name) +
                                    (info.param.from == From::file ? "_FromFile" : "_FromMemory");
                         });

// ------------------------------------------------------------------ beyond the table

TEST(PofReader, CrcMismatchNamesComputedAndStoredValues) {
    PofFile file;
    file.packets = {data(), terminator()};
    const auto good = file.serialize();
    const uint16_t crc = mkimage::crc16_x25(good.data(), good.size() - 2);
    file.crc_xor = 0x00FF;
    Outcome outcome;
    load(file.serialize(), outcome);
    EXPECT_EQ(outcome.message,
              fmt::format("Error: POF file CRC mismatch: computed 0x{:04X}, stored 0x{:04X}", crc, crc ^ 0x00FF));
}

// Image data of several read chunks, with an odd length, reaches the slot
// whole and passes the CRC, from a file and from memory.
TEST(PofReader, DataOfSeveralChunksIsReadWhole) {
    const std::vector<uint8_t> image = pattern(2 * romwright::kFirmwareReadChunk + 4097, 5);
    const auto bytes = pof({creator(), data(image), terminator()});
    for (const From from : {From::file, From::memory}) {
        Outcome outcome;
        load(bytes, outcome, false, from);
        ASSERT_EQ(outcome.thrown, Thrown::nothing) << outcome.message;
        EXPECT_EQ(outcome.slots[0].data, image);
    }
}

TEST(PofReader, SlotWithoutDataPacketKeepsWhatItHeld) {
    Outcome outcome;
    outcome.slots[1].data = {1, 2, 3};
    outcome.slots[1].option_bits_start = 5;
    outcome.slots[1].option_bits_end = 133;
    load(pof({data(), terminator()}), outcome);
    ASSERT_EQ(outcome.thrown, Thrown::nothing) << outcome.message;
    EXPECT_EQ(outcome.slots[1].data, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(outcome.slots[1].option_bits_start, 5u);
    EXPECT_EQ(outcome.slots[1].option_bits_end, 133u);
}

// Paths reach the engine in UTF-8; the file is written under the name a
// user sees, whatever the system's code page.
TEST(PofReader, PathIsUtf8) {
    testsupport::TempDir dir("pof");
    const std::string folder = dir.file("Entw\xC3\xBCrfe \xE2\x82\xAC");
    std::filesystem::create_directory(std::filesystem::u8path(folder));
    const std::string path = folder + "/image-\xC3\xA9.pof";
    const auto bytes = pof({data(), terminator()});
    {
        std::ofstream out(std::filesystem::u8path(path), std::ios::binary);
        out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    ImageSlot slots[2];
    romwright::load_pof_file(path, slots, false, romwright::LogSink());
    EXPECT_EQ(slots[0].data, kPrimary);
}

TEST(PofReader, MissingFileIsAFileError) {
    testsupport::TempDir dir("pof");
    ImageSlot slots[2];
    try {
        romwright::load_pof_file(dir.file("absent.pof"), slots, false, romwright::LogSink());
        FAIL() << "loaded a missing file";
    } catch (const romwright::error &error) {
        EXPECT_EQ(error.kind(), romwright::error_kind::file);
        EXPECT_NE(std::string(error.what()).find("Error: Unable to open POF file "), std::string::npos);
    }
}

TEST(PofReader, FolderIsRefusedAsNotAFile) {
    testsupport::TempDir dir("pof");
    ImageSlot slots[2];
    try {
        romwright::load_pof_file(dir.path(), slots, false, romwright::LogSink());
        FAIL() << "loaded a folder";
    } catch (const std::runtime_error &error) {
        EXPECT_EQ(std::string(error.what()), "Error: Firmware file " + dir.path() + " is not a regular, non-empty file");
    }
}

TEST(PofReader, EmptyFileIsRefusedAsNotAFile) {
    Outcome outcome;
    load({}, outcome);
    EXPECT_EQ(outcome.thrown, Thrown::file);
    EXPECT_NE(outcome.message.find("image.pof is not a regular, non-empty file"), std::string::npos) << outcome.message;
}

TEST(PofReader, NoBytesEndInsideTheHeader) {
    Outcome outcome;
    load({}, outcome, false, From::memory);
    EXPECT_EQ(outcome.thrown, Thrown::image);
    EXPECT_EQ(outcome.message.rfind("Error: POF file (bytes in memory) ends inside its 12-byte header", 0), 0u)
        << outcome.message;
}

TEST(PofReader, MagicIsPofAndAZeroByte) {
    const uint8_t good[] = {'P', 'O', 'F', 0, 1, 2};
    const uint8_t no_zero[] = {'P', 'O', 'F', ' '};
    const uint8_t lower[] = {'p', 'o', 'f', 0};
    EXPECT_TRUE(romwright::has_pof_magic(good, sizeof good));
    EXPECT_TRUE(romwright::has_pof_magic(good, 4));
    EXPECT_FALSE(romwright::has_pof_magic(good, 3));
    EXPECT_FALSE(romwright::has_pof_magic(no_zero, sizeof no_zero));
    EXPECT_FALSE(romwright::has_pof_magic(lower, sizeof lower));
    EXPECT_FALSE(romwright::has_pof_magic(nullptr, 0));
}

std::string dump(const std::vector<uint8_t> &bytes, uint32_t address) {
    LogCapture log;
    romwright::hex_dump(log.sink(), bytes.data(), bytes.size(), address, 16);
    return log.joined();
}

TEST(PofReader, DebugLogLinesAreExact) {
    const auto image = pattern(20, 0x40);
    const auto unknown = pattern(20, 7);
    const PofPacket comment{mkimage::kTagComment, {'h', 'i', 0, 'x', 'x'}, std::nullopt};
    const auto bytes = pof({creator(), mkimage::text_packet(mkimage::kTagDeviceName, "ZEN5160"), comment,
                            PofPacket{0x23, unknown, std::nullopt}, data(image),
                            PofPacket{mkimage::kTagOptionBits, {0x00, 0x10, 0x00, 0x00}, std::nullopt}, terminator()});
    const uint16_t crc = mkimage::crc16_x25(bytes.data(), bytes.size() - 2);

    Outcome outcome;
    load(bytes, outcome, true);
    ASSERT_EQ(outcome.thrown, Thrown::nothing) << outcome.message;
    const std::string expected =
        "[POF] packet count = 7\n"
        "[POF] packet , 1 : tag = 1 size = 6\n"
        "[POF]  CreatorId = maker\n"
        "[POF] packet , 2 : tag = 2 size = 8\n"
        "[POF]  DeviceName = ZEN5160\n"
        "[POF] packet , 3 : tag = 3 size = 5\n"
        "[POF]  Comment = hi\n"
        "[POF] packet , 4 : tag = 35 size = 20\n" +
        dump({unknown.begin(), unknown.begin() + 16}, 0) + dump({unknown.begin() + 16, unknown.end()}, 16) +
        "[POF] packet , 5 : tag = 17 size = 32\n"
        "[POF]  LAD32 = 0x00000000 0x00000000 0x00000014\n"
        "Loading POF data: 20 bytes.\n" +
        dump({image.begin(), image.begin() + 16}, 0) +
        "[POF] packet , 6 : tag = 26 size = 4\n" + dump({0x00, 0x10, 0x00, 0x00}, 0) +
        "[POF] packet , 7 : tag = 8 size = 2\n" + fmt::format("[POF]  CRC = 0x{:04X}\n", crc) +
        fmt::format("[POF]  computed CRC = 0x{:04X}\n", crc);
    EXPECT_EQ(outcome.log.joined(), expected);
    for (auto level : outcome.log.levels()) EXPECT_EQ(level, ROMWRIGHT_LOG_INFO);
}

TEST(PofReader, UnknownPacketsAreDumpedOnlyForTheirFirst256Bytes) {
    const auto unknown = pattern(300, 5);
    Outcome outcome;
    load(pof({PofPacket{0x23, unknown, std::nullopt}, data(), terminator()}), outcome, true);
    ASSERT_EQ(outcome.thrown, Thrown::nothing) << outcome.message;
    EXPECT_NE(outcome.log.joined().find(" 000000F0 "), std::string::npos);
    EXPECT_EQ(outcome.log.joined().find(" 00000100 "), std::string::npos);
}

TEST(PofReader, WithoutDebugNothingIsLogged) {
    Outcome outcome;
    load(pof({creator(), data(), option_bits(0x1000), terminator()}), outcome, false);
    ASSERT_EQ(outcome.thrown, Thrown::nothing) << outcome.message;
    EXPECT_EQ(outcome.log.joined(), "");
}

TEST(PofReader, EngineMemberFillsItsImageSlots) {
    testsupport::TempDir dir("pof");
    const std::string path = dir.file("image.pof");
    testsupport::write_file(path, pof({data(), option_bits(0x1000), data(kSecondary, mkimage::kTagSecondaryData),
                                       terminator()}));
    LogCapture log;
    CRomwright engine(&LogCapture::on_log, &log);
    engine.options().debug = true;
    engine.LoadPofFile(path);
    EXPECT_EQ(engine.images()[0].data, kPrimary);
    EXPECT_EQ(engine.images()[0].option_bits_start, 0x1000u);
    EXPECT_EQ(engine.images()[1].data, kSecondary);
    EXPECT_NE(log.joined().find("[POF] packet count = 4\n"), std::string::npos);
}

// ------------------------------------------------------------------ real files

struct RealPof {
    const char *file;
    std::size_t data_bytes;
    uint16_t crc;
};

const RealPof kRealPofs[] = {
    {"epcs16-quartus13.pof", 2097152, 0xE1F1},
    {"10m08-quartus17.pof", 321536, 0xAEF7},
};

TEST(PofReader, RealFilesLoadWithMatchingCrc) {
    const std::filesystem::path folder = std::filesystem::path(ROMWRIGHT_SHARED_DIR) / "real-pof";
    if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no real POF files in " << folder;
    for (const auto &real : kRealPofs) {
        SCOPED_TRACE(real.file);
        Outcome outcome;
        romwright::load_pof_file((folder / real.file).string(), outcome.slots, true, outcome.log.sink());
        EXPECT_EQ(outcome.slots[0].data.size(), real.data_bytes);
        EXPECT_TRUE(outcome.slots[1].data.empty());
        // Their option-bits packet gives offset 0.
        EXPECT_EQ(outcome.slots[0].option_bits_start, 0u);
        EXPECT_EQ(outcome.slots[0].option_bits_end, 128u);
        EXPECT_NE(outcome.log.joined().find(fmt::format("[POF]  CRC = 0x{:04X}\n", real.crc)), std::string::npos);
        EXPECT_NE(outcome.log.joined().find(fmt::format("[POF]  computed CRC = 0x{:04X}\n", real.crc)),
                  std::string::npos);
        EXPECT_NE(outcome.log.joined().find("[POF] packet count = 7\n"), std::string::npos);
    }
}

} // namespace
