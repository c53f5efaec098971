// What romwright-cli does with a firmware path that names no firmware file
// (a FIFO, an empty file, a device, a folder), on each kind of board, and
// with a file larger than a flash-sector board's flash: it refuses at once,
// says why in its log, and leaves the flash as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/cli/cli_fixture.hpp"
#include "tests/support/bytes.hpp"

namespace {

using clitest::Cli;
using clitest::contains;

constexpr uint64_t kFlashSize = 0x100000;
// Long enough for a loaded machine, short enough that a hang shows as a failure.
constexpr int kHangSeconds = 20;

std::vector<uint8_t> pattern(std::size_t size, uint8_t salt) {
    return testsupport::pattern_bytes(size, 7, 9, salt);
}

enum class Kind { fifo, empty, dev_null, dev_zero, folder };

struct KindRow {
    Kind kind;
    const char *name;
};

struct BoardRow {
    const char *name;
    const char *model;
    std::string toml;
};

const KindRow kKinds[] = {
    {Kind::fifo, "Fifo"},       {Kind::empty, "EmptyFile"}, {Kind::dev_null, "DevNull"},
    {Kind::dev_zero, "DevZero"}, {Kind::folder, "Folder"},
};

const std::string kFlash = "flash_size = 0x100000\n";
const BoardRow kBoards[] = {
    {"UpgradeService", "ZEN5190", clitest::board_toml("b1", 35, "[5]", kFlash)},
    {"FlashService", "ZEN5191", clitest::sector_board("b1")},
    {"PageMode", "ZEN5110", clitest::board_toml("b1", 11, "[]", kFlash)},
    {"SectorMode", "ZEN5160", clitest::board_toml("b1", 25, "[]", kFlash)},
};

struct Row {
    KindRow kind;
    BoardRow board;
};

std::vector<Row> rows() {
    std::vector<Row> all;
    for (const KindRow &kind : kKinds)
        for (const BoardRow &board : kBoards) all.push_back({kind, board});
    return all;
}

void PrintTo(const Row &row, std::ostream *out) { *out << row.kind.name << " on " << row.board.name; }

class NotAFirmwareFile : public Cli, public testing::WithParamInterface<Row> {
protected:
    // The thing under the name a user would pick for the board's firmware.
    std::string make(Kind kind, const std::string &model) {
        const std::string path = work_.file("fw-" + model + ".rpd");
        switch (kind) {
        case Kind::fifo: EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0); break;
        case Kind::empty: testsupport::write_file(path, {}); break;
        case Kind::dev_null: EXPECT_EQ(::symlink("/dev/null", path.c_str()), 0); break;
        case Kind::dev_zero: EXPECT_EQ(::symlink("/dev/zero", path.c_str()), 0); break;
        case Kind::folder: EXPECT_EQ(::mkdir(path.c_str(), 0700), 0); break;
        }
        return path;
    }

    testsupport::ProcessResult run_guarded(const std::string &path) {
        testsupport::ProcessOptions options = machine_->process_options();
        options.working_directory = work_.path();
        options.timeout_seconds = kHangSeconds;
        return testsupport::run_process(testsupport::bin_path("romwright-cli"), {"update", path}, options);
    }
};

TEST_P(NotAFirmwareFile, IsRefusedWithoutTouchingTheBoard) {
    const Row &row = GetParam();
    machine("[[system]]\n" + row.board.toml);
    const std::vector<uint8_t> before = pattern(kFlashSize, 0);
    machine_->preset_flash("b1", kFlashSize, 0, before);
    const std::string path = make(row.kind.kind, row.board.model);

    const auto result = run_guarded(path);
    ASSERT_EQ(result.signal, 0) << "romwright-cli did not finish within " << kHangSeconds << " s";
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_TRUE(contains(result.out, "\nError: Firmware updater error. Code 1\n")) << result.out;
    const std::string refusal = "Error: Firmware file " + path + " is not a regular, non-empty file";
    EXPECT_TRUE(contains(log(), "Firmware file = " + path + "\n" + refusal)) << log();
    EXPECT_TRUE(trace_of("KorvelGetSupportedDriverFeatures").empty());
    EXPECT_EQ(flash("b1"), before);
}

INSTANTIATE_TEST_SUITE_P(KindsAndBoards, NotAFirmwareFile, testing::ValuesIn(rows()),
                         [](const testing::TestParamInfo<Row> &info) {
                             return std::string(info.param.kind.name) + "_On" + info.param.board.name;
                         });

// ------------------------------------------------------------------ file larger than the flash

constexpr uint64_t kServiceFlash = 0x800000;

std::string service_board_8mib() {
    return "[[system]]\n" + clitest::board_toml("s1", 36, "[2]", "flash_size = 0x800000\nsector_size = 0x10000\n");
}

TEST_F(Cli, FileLargerThanTheServiceFlashIsRefusedBeforeWriting) {
    machine(service_board_8mib());
    const std::vector<uint8_t> before = pattern(kServiceFlash, 5);
    machine_->preset_flash("s1", kServiceFlash, 0, before);
    const std::string path = work_.file("fw-ZEN5191.rpd");
    testsupport::write_file(path, pattern(kServiceFlash + 0x100000, 6));

    const auto result = run({"update", path});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_TRUE(contains(result.out, "\nError: Firmware updater error. Code 1\n")) << result.out;
    EXPECT_TRUE(contains(log(), "Error: Firmware file of 9437184 bytes is larger than the board's flash: sector 143 "
                                "(65536 bytes from 0x008F0000) does not exist (Read sector failed, Flash invalid "
                                "parameter)\nUpdate Flash image failed"))
        << log();
    EXPECT_TRUE(trace_of("KorvelFlashSectorWrite").empty());
    EXPECT_EQ(trace_of("KorvelFlashClose").size(), 1u);
    EXPECT_EQ(flash("s1"), before);
}

TEST_F(Cli, FileAsLargeAsTheServiceFlashIsWritten) {
    machine(service_board_8mib());
    const std::string path = work_.file("fw-ZEN5191.rpd");
    const std::vector<uint8_t> image = pattern(kServiceFlash, 6);
    testsupport::write_file(path, image);

    const auto result = run({"update", path});
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_TRUE(contains(log(), "Update succeeded.\n")) << log();
    EXPECT_EQ(trace_of("KorvelFlashSectorWrite").size(), 128u);
    EXPECT_EQ(flash("s1"), image);
}

} // namespace
