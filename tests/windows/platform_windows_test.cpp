// The Windows side of engine/platform: the allocation granularity, files
// shared with other programs, appends and text mode, and which handles are
// firmware files.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "engine/platform/files.hpp"
#include "engine/platform/memory.hpp"
#include "engine/platform/regular_file.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
namespace platform = romwright::platform;

std::string bytes_of(const std::string &utf8_path) {
    std::ifstream in(fs::u8path(utf8_path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string &utf8_path, const std::string &bytes) {
    std::ofstream out(fs::u8path(utf8_path), std::ios::binary | std::ios::trunc);
    out << bytes;
}

class OtherHandle {
public:
    OtherHandle(const std::string &utf8_path, DWORD access, DWORD share)
        : handle_(CreateFileW(fs::u8path(utf8_path).wstring().c_str(), access, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~OtherHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    OtherHandle(const OtherHandle &) = delete;
    OtherHandle &operator=(const OtherHandle &) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

TEST(WindowsPlatform, SectorBufferIsAlignedToTheSystemsAllocationGranularity) {
    EXPECT_EQ(platform::allocation_granularity(), 65536u);
    const platform::AlignedBlock block = platform::allocate_aligned(256 * 1024);
    ASSERT_TRUE(block);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block.get()) % 65536u, 0u);
    block[256 * 1024 - 1] = 0x5A;  // the whole block is there to write
}

TEST(WindowsPlatform, AppendsLandAtTheEndWhileAnotherProgramAppends) {
    testsupport::TempDir dir("append");
    const std::string path = dir.file("shared.log");
    write_bytes(path, "before\n");
    platform::SharedFile file = platform::open_shared(path, "ab");
    ASSERT_TRUE(file);
    OtherHandle other(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_NE(other.get(), INVALID_HANDLE_VALUE);

    ASSERT_GE(std::fputs("one\n", file.get()), 0);
    std::fflush(file.get());
    DWORD wrote = 0;
    ASSERT_TRUE(WriteFile(other.get(), "two\n", 4, &wrote, nullptr));
    std::fputs("three\n", file.get());
    std::fflush(file.get());
    EXPECT_EQ(bytes_of(path), "before\none\ntwo\nthree\n");
}

TEST(WindowsPlatform, TextAppendEndsLinesInCarriageReturnLineFeed) {
    testsupport::TempDir dir("text");
    const std::string path = dir.file("text.log");
    for (const char *line : {"first\n", "second\n"}) {
        platform::SharedFile file = platform::open_shared(path, "a");
        ASSERT_TRUE(file);
        std::fputs(line, file.get());
    }
    EXPECT_EQ(bytes_of(path), "first\r\nsecond\r\n");
}

TEST(WindowsPlatform, UnopenableLogTellsWhyThroughErrno) {
    testsupport::TempDir dir("folder");
    errno = 0;
    EXPECT_FALSE(platform::open_shared(dir.path(), "a"));  // a folder
    EXPECT_EQ(errno, EISDIR);
    errno = 0;
    EXPECT_FALSE(platform::open_shared(dir.file("missing\\x.log"), "a"));
    EXPECT_EQ(errno, ENOENT);
}

// What open_regular_file makes of a path, and who else has it open.
enum class Other { nobody, reader_sharing_reads, writer_sharing_all, exclusive };

struct RegularCase {
    const char *name;
    const char *file_name;  // UTF-8; "" for the folder itself
    const char *contents;   // nullptr: no file is made
    Other other;
    platform::OpenRegularResult expected;
};

const RegularCase kRegularCases[] = {
    {"NonAsciiNameWithBlanks", u8"Прошивка ZEN5160 größer.pof", "firmware", Other::nobody,
     platform::OpenRegularResult::opened},
    {"HeldByAReaderThatSharesOnlyReading", "fw-ZEN5160.pof", "firmware", Other::reader_sharing_reads,
     platform::OpenRegularResult::opened},
    {"BeingWrittenByAProgramThatSharesAll", "fw-ZEN5160.pof", "firmware", Other::writer_sharing_all,
     platform::OpenRegularResult::opened},
    {"HeldExclusively", "fw-ZEN5160.pof", "firmware", Other::exclusive, platform::OpenRegularResult::cannot_open},
    {"Missing", "fw-ZEN5160.pof", nullptr, Other::nobody, platform::OpenRegularResult::cannot_open},
    {"Empty", "fw-ZEN5160.pof", "", Other::nobody, platform::OpenRegularResult::not_regular},
    {"Folder", "", nullptr, Other::nobody, platform::OpenRegularResult::not_regular},
};

void PrintTo(const RegularCase &c, std::ostream *out) { *out << c.name; }

class RegularFile : public ::testing::TestWithParam<RegularCase> {};

TEST_P(RegularFile, IsOpenedOnlyWhenItIsAFirmwareFile) {
    const RegularCase &c = GetParam();
    testsupport::TempDir dir("regular");
    const std::string path = *c.file_name ? dir.file(c.file_name) : dir.path();
    if (c.contents) write_bytes(path, c.contents);
    DWORD access = GENERIC_READ;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if (c.other == Other::reader_sharing_reads) share = FILE_SHARE_READ;
    if (c.other == Other::writer_sharing_all) access = GENERIC_READ | GENERIC_WRITE;
    if (c.other == Other::exclusive) share = 0;
    std::unique_ptr<OtherHandle> other;
    if (c.other != Other::nobody) {
        other = std::make_unique<OtherHandle>(path, access, share);
        ASSERT_NE(other->get(), INVALID_HANDLE_VALUE);
    }

    platform::RegularFile opened;
    ASSERT_EQ(platform::open_regular_file(path, opened), c.expected);
    if (c.expected != platform::OpenRegularResult::opened) return;
    EXPECT_EQ(opened.size, std::string(c.contents).size());
    std::string read(opened.size, '\0');
    ASSERT_EQ(std::fread(read.data(), 1, read.size(), opened.file.get()), read.size());
    EXPECT_EQ(read, c.contents);
}

INSTANTIATE_TEST_SUITE_P(Paths, RegularFile, ::testing::ValuesIn(kRegularCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(WindowsPlatform, DevicesAndPipesAreNotFirmwareFiles) {
    platform::RegularFile opened;
    EXPECT_EQ(platform::open_regular_file("NUL", opened), platform::OpenRegularResult::not_regular);

    const std::wstring name = L"\\\\.\\pipe\\romwright-platform-test-" + std::to_wstring(GetCurrentProcessId());
    HANDLE server = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    // Opening the pipe does not wait for anything to be written into it.
    EXPECT_EQ(platform::open_regular_file(fs::path(name).u8string(), opened), platform::OpenRegularResult::not_regular);
    CloseHandle(server);
}

} // namespace
