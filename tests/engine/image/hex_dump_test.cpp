#include "engine/image/hex_dump.hpp"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "engine/update/romwright_engine.hpp"
#include "tests/engine/callback_recorder.hpp"

namespace {

using LogCapture = testsupport::CallbackRecorder;

std::vector<uint8_t> counting(std::size_t length, uint8_t first = 0) {
    std::vector<uint8_t> bytes(length);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

TEST(HexDump, TwentyBytesGiveAFullAndAPaddedLineWithAlignedCharacters) {
    LogCapture log;
    const auto bytes = counting(20, 0x41);  // 'A' onwards
    romwright::hex_dump(log.sink(), bytes.data(), bytes.size(), 0x100, 16);
    const std::string expected =
        " 00000100 41 42 43 44 45 46 47 48  49 4A 4B 4C 4D 4E 4F 50  ABCDEFGHIJKLMNOP\n"
        " 00000110 51 52 53 54                                       QRST\n";
    EXPECT_EQ(log.joined(), expected);
    // Both character columns start at the same position.
    const auto second_line = expected.find('\n') + 1;
    EXPECT_EQ(expected.find("ABCD"), expected.find("QRST") - second_line);
}

TEST(HexDump, EachPieceIsItsOwnInfoCall) {
    LogCapture log;
    const auto bytes = counting(20, 0x41);
    romwright::hex_dump(log.sink(), bytes.data(), bytes.size(), 0x100, 16);
    const std::vector<std::string> calls = log.all_texts();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0], " 00000100 ");
    EXPECT_EQ(calls[1], "41 ");
    EXPECT_EQ(calls[9], " ");  // the extra blank before the ninth byte
    EXPECT_EQ(calls[10], "49 ");
    EXPECT_EQ(calls.back(), "\n");
    for (auto level : log.levels()) EXPECT_EQ(level, ROMWRIGHT_LOG_INFO);
    // Characters go out one per call.
    const auto line_end = std::find(calls.begin(), calls.end(), "\n");
    EXPECT_EQ(*(line_end - 16), "A");
    EXPECT_EQ(*(line_end - 1), "P");
}

TEST(HexDump, NonPrintableBytesShowAsDots) {
    LogCapture log;
    const std::vector<uint8_t> bytes = {0x1F, 0x20, 0x7E, 0x7F, 0x00, 0xFF, 0x80, 'z'};
    romwright::hex_dump(log.sink(), bytes.data(), bytes.size(), 0, 16);
    EXPECT_EQ(log.joined(), " 00000000 1F 20 7E 7F 00 FF 80 7A                           . ~....z\n");
}

TEST(HexDump, PaddingOfAShortLineIncludesTheMiddleBlank) {
    LogCapture full;
    const auto sixteen = counting(16);
    romwright::hex_dump(full.sink(), sixteen.data(), sixteen.size(), 0, 16);
    for (std::size_t length : {1u, 7u, 8u, 9u, 15u}) {
        LogCapture short_line;
        romwright::hex_dump(short_line.sink(), sixteen.data(), length, 0, 16);
        const std::string text = short_line.joined();
        // Same width up to the characters: the hex part is always 10 + 48 + 1 + 1 wide.
        EXPECT_EQ(text.size(), full.joined().size() - (16 - length)) << "length " << length;
        EXPECT_EQ(text.substr(0, 10), " 00000000 ");
    }
}

TEST(HexDump, ExactlySixteenBytesIsOneLineWithoutPadding) {
    LogCapture log;
    const auto bytes = counting(16, 0x30);
    romwright::hex_dump(log.sink(), bytes.data(), bytes.size(), 0xFFFFFFF0u, 16);
    EXPECT_EQ(log.joined(), " FFFFFFF0 30 31 32 33 34 35 36 37  38 39 3A 3B 3C 3D 3E 3F  0123456789:;<=>?\n");
}

TEST(HexDump, LengthZeroWritesNothing) {
    LogCapture log;
    const auto bytes = counting(4);
    romwright::hex_dump(log.sink(), bytes.data(), 0, 0x100, 16);
    EXPECT_TRUE(log.lines.empty());
}

TEST(HexDump, OtherLineWidthsKeepTheLayoutRules) {
    LogCapture log;
    const auto bytes = counting(6, 0x61);
    romwright::hex_dump(log.sink(), bytes.data(), bytes.size(), 0x10, 4);
    EXPECT_EQ(log.joined(), " 00000010 61 62 63 64  abcd\n"
                          " 00000014 65 66        ef\n");
}

TEST(HexDump, EngineMemberWritesThroughItsLogCallback) {
    LogCapture log;
    CRomwright engine(&LogCapture::on_log, &log);
    const auto bytes = counting(2, 0x41);
    engine.HexDump(bytes.data(), bytes.size(), 0x20, 16);
    EXPECT_EQ(log.joined(), " 00000020 41 42" + std::string(45, ' ') + "AB\n");
}

} // namespace
