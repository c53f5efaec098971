// The firmware file as every path reads it: a regular file of at least one
// byte is read exactly, in pieces or whole; anything else (a FIFO, a device,
// a folder, an empty file) is refused with one message, without waiting and
// before any path touches the board.
#include "engine/image/firmware_file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <zenapi/Zenapi.h>
#include <zenapi/zenapi_sim.h>

#include "engine/flash/driver_paths.hpp"
#include "engine/update/romwright_engine.hpp"
#include "tests/engine/callback_recorder.hpp"
#include "tests/support/sim_machine.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using testsupport::CallbackRecorder;

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

// Which of the three programming paths reads the file.
enum class Path { upgrade_service, flash_service, registers };

struct PathInfo {
    Path path;
    const char *name;
    uint32_t board_id;      // board of the machine below
    const char *raised;     // what the path raises to the entry ("" : the refusal itself)
};

const PathInfo kPaths[] = {
    {Path::upgrade_service, "UpgradeService", 1, "Upgrade firmware failed"},
    {Path::flash_service, "FlashService", 2, "Update Flash image failed"},
    {Path::registers, "Registers", 3, ""},
};

const char *const kMachine = R"(
[[system]]
[[system.board]]
name = "upgrade"
kind = 35
features = [5]
[[system.board]]
name = "service"
kind = 36
features = [2]
flash_size = 0x100000
[[system.board]]
name = "page"
kind = 11
flash_size = 0x100000
)";

struct Refusal {
    KindInfo kind;
    PathInfo path;
};

std::vector<Refusal> refusals() {
    std::vector<Refusal> all;
    for (const KindInfo &kind : kKinds)
        for (const PathInfo &path : kPaths) all.push_back({kind, path});
    return all;
}

void PrintTo(const Refusal &refusal, std::ostream *out) { *out << refusal.kind.name << " on " << refusal.path.name; }

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

class EveryPathRefuses : public testing::TestWithParam<Refusal> {};

// Each path refuses before it calls the library with anything of the file:
// the flash stays erased, the driver paths log the refusal and raise their
// own failure, the register path raises the refusal itself.
TEST_P(EveryPathRefuses, WithTheOneMessage) {
    const NoHang guard;
    const testsupport::SimMachine machine(kMachine);
    machine.activate();
    testsupport::TempDir dir("firmware-file");
    const std::string path = make_kind(GetParam().kind.kind, dir);
    const PathInfo &info = GetParam().path;
    void *board = KorvelGetBoardBySystemID(1, info.board_id);
    CallbackRecorder recorder;
    std::string raised;
    try {
        switch (info.path) {
        case Path::upgrade_service:
            romwright::UpgradeThroughDriver(path, board, CallbackRecorder::on_operation, CallbackRecorder::on_progress,
                                            CallbackRecorder::on_log, &recorder);
            break;
        case Path::flash_service:
            romwright::UpdateThroughFlashService(path, board, CallbackRecorder::on_operation,
                                                 CallbackRecorder::on_progress, CallbackRecorder::on_log, &recorder);
            break;
        case Path::registers:
            CRomwright(CallbackRecorder::on_log, &recorder)
                .UpdateBoard(path, board, CallbackRecorder::on_operation, CallbackRecorder::on_progress);
            break;
        }
        FAIL() << "updated from " << path;
    } catch (const std::runtime_error &error) {
        raised = error.what();
    }
    if (info.raised[0] == '\0') {
        EXPECT_EQ(raised, not_regular(path));
        EXPECT_TRUE(recorder.lines.empty());
    } else {
        EXPECT_EQ(raised, info.raised);
        EXPECT_EQ(recorder.texts(ROMWRIGHT_LOG_ERROR), std::vector<std::string>{not_regular(path) + "\n"});
    }
    EXPECT_TRUE(recorder.operations.empty());
    for (const char *call : {"KorvelFirmwareUpgradeStart", "KorvelFlashOpen", "KorvelGetBoardKind"})
        EXPECT_EQ(ZenSimCallCount(1, info.board_id, call), 0u) << call;
    std::vector<uint8_t> flash(ZenSimFlashSize(1, info.board_id));
    ASSERT_EQ(ZenSimReadFlash(1, info.board_id, 0, flash.data(), flash.size()), 0);
    EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](uint8_t b) { return b == 0xFF; }));
}

INSTANTIATE_TEST_SUITE_P(KindsAndPaths, EveryPathRefuses, testing::ValuesIn(refusals()),
                         [](const testing::TestParamInfo<Refusal> &info) {
                             return std::string(info.param.kind.name) + "_On" + info.param.path.name;
                         });

} // namespace
