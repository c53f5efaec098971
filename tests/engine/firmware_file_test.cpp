// The firmware file as every path reads it: a regular file of at least one
// byte is read exactly, in pieces or whole; anything else (a FIFO, a device,
// a folder, an empty file) is refused with one message, without waiting.
#include "engine/firmware_file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/engine/callback_recorder.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

// A FIFO that nobody writes would block an ordinary open for ever; the alarm
// ends the test process instead of the test run.
class NoHang {
public:
    NoHang() { ::alarm(30); }
    ~NoHang() { ::alarm(0); }
};

std::string not_regular(const std::string &path) {
    return "Error: Firmware file " + path + " is not a regular, non-empty file";
}

// ------------------------------------------------------------------ regular files

TEST(FirmwareFile, ReadsAcrossChunksAndAtAnyOffset) {
    testsupport::TempDir dir("firmware-file");
    const std::string path = dir.file("image.rpd");
    const std::size_t size = 2 * romwright::kFirmwareReadChunk + 12345;
    const std::vector<uint8_t> bytes = testsupport::pseudo_random_bytes(size, 7);
    testsupport::write_file(path, bytes);

    auto file = romwright::FirmwareFile::open(path);
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->size(), size);
    std::vector<uint8_t> whole(size);
    file->read(0, whole.data(), whole.size());
    EXPECT_EQ(whole, bytes);
    // Backwards and forwards again, across a chunk boundary.
    std::vector<uint8_t> piece(100);
    for (const std::size_t offset : {std::size_t{5}, romwright::kFirmwareReadChunk - 50, size - 100, std::size_t{0}}) {
        file->read(offset, piece.data(), piece.size());
        EXPECT_TRUE(std::equal(piece.begin(), piece.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset)))
            << "at offset " << offset;
    }
}

TEST(FirmwareFile, ReadingBeyondTheEndNamesTheFile) {
    testsupport::TempDir dir("firmware-file");
    const std::string path = dir.file("short.rpd");
    testsupport::write_file(path, {1, 2, 3});
    auto file = romwright::FirmwareFile::open(path);
    ASSERT_TRUE(file.has_value());
    uint8_t out[4];
    try {
        file->read(0, out, sizeof out);
        FAIL() << "read past the end";
    } catch (const std::runtime_error &error) {
        EXPECT_EQ(std::string(error.what()), "Could not read file " + path + ": 4 bytes at offset 0 lie beyond its 3 bytes");
    }
}

TEST(FirmwareFile, MissingFileIsLeftToTheCaller) {
    testsupport::TempDir dir("firmware-file");
    EXPECT_FALSE(romwright::FirmwareFile::open(dir.file("absent.rpd")).has_value());
}

TEST(FirmwareFile, AppendGrowsTheVectorByExactlyTheBytesRead) {
    const std::vector<uint8_t> bytes = testsupport::pseudo_random_bytes(romwright::kFirmwareReadChunk * 3 + 1, 3);
    romwright::FirmwareBytes source(bytes.data(), bytes.size());
    std::vector<uint8_t> out = {0xAA};
    std::vector<std::size_t> chunks;
    romwright::append_from(source, 1, bytes.size() - 1, out,
                           [&](const uint8_t *, std::size_t length) { chunks.push_back(length); });
    EXPECT_EQ(out.size(), bytes.size());
    EXPECT_EQ(out[0], 0xAA);
    EXPECT_TRUE(std::equal(out.begin() + 1, out.end(), bytes.begin() + 1));
    EXPECT_EQ(chunks, (std::vector<std::size_t>{romwright::kFirmwareReadChunk, romwright::kFirmwareReadChunk,
                                                 romwright::kFirmwareReadChunk}));
}

// ------------------------------------------------------------------ what is not a firmware file

enum class Kind { fifo, empty, dev_null, dev_zero, folder };

struct KindInfo {
    Kind kind;
    const char *name;
};

const KindInfo kKinds[] = {
    {Kind::fifo, "Fifo"},       {Kind::empty, "EmptyFile"}, {Kind::dev_null, "DevNull"},
    {Kind::dev_zero, "DevZero"}, {Kind::folder, "Folder"},
};

void PrintTo(const KindInfo &info, std::ostream *out) { *out << info.name; }

// The path of such a thing, made in dir where it has to be made.
std::string make_kind(Kind kind, const testsupport::TempDir &dir) {
    const std::string path = dir.file("firmware-ZEN5110.rpd");
    switch (kind) {
    case Kind::fifo: EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0); return path;
    case Kind::empty: testsupport::write_file(path, {}); return path;
    case Kind::dev_null: return "/dev/null";
    case Kind::dev_zero: return "/dev/zero";
    case Kind::folder: EXPECT_EQ(::mkdir(path.c_str(), 0700), 0); return path;
    }
    return path;
}

class NotAFirmwareFile : public testing::TestWithParam<KindInfo> {};

TEST_P(NotAFirmwareFile, IsRefusedWhenOpened) {
    const NoHang guard;
    testsupport::TempDir dir("firmware-file");
    const std::string path = make_kind(GetParam().kind, dir);
    try {
        romwright::FirmwareFile::open(path);
        FAIL() << "opened " << path;
    } catch (const std::runtime_error &error) {
        EXPECT_EQ(std::string(error.what()), not_regular(path));
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, NotAFirmwareFile, testing::ValuesIn(kKinds),
                         [](const testing::TestParamInfo<KindInfo> &info) { return std::string(info.param.name); });

} // namespace
