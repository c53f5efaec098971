// Where read and update --backup save a backup: never over the firmware
// file, never over an existing file unless asked, and never a short file
// under the backup's name.
#include <algorithm>
#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "tests/romwright/tool_fixture.hpp"

namespace tooltest {
namespace {

namespace fs = std::filesystem;

// How the backup path of a case reaches the firmware file (made beside it).
struct SameFileCase {
    const char *name;
    std::function<std::string(const fs::path &firmware)> backup_path;
    bool overwrite;
};

void PrintTo(const SameFileCase &c, std::ostream *out) { *out << c.name; }

class BackupOverTheFirmware : public Tool, public ::testing::WithParamInterface<SameFileCase> {};

TEST_P(BackupOverTheFirmware, IsRefusedBeforeTheBoardIsUsed) {
    const SameFileCase &c = GetParam();
    const std::string old_file =
        make_image("old-ZEN5160.pof", "ZEN5160", {"--size", "0x200000", "--page0", "0x20000:0x1C0000", "--seed", "1"});
    ASSERT_EQ(run({"update", "--system=1", "--board=2", "--quiet", old_file}).exit_code, 0);
    const std::vector<uint8_t> board_before = flash("sector");
    const std::string firmware =
        make_image("new-ZEN5160.pof", "ZEN5160", {"--size", "0x200000", "--page0", "0x20000:0x1C0000", "--seed", "2"});
    const std::vector<uint8_t> firmware_before = testsupport::read_file(firmware);

    std::vector<std::string> args = {"update", "--system=1", "--board=2", "--backup=" + c.backup_path(firmware)};
    if (c.overwrite) args.push_back("--overwrite");
    args.push_back(firmware);
    extra_env_["ZENAPI_SIM_CALL_COUNTS"] = path("counts.txt");
    const auto result = run(args);
    EXPECT_EQ(result.exit_code, 1) << result.out << result.err;
    EXPECT_NE(result.err.find("is the firmware file " + firmware), std::string::npos) << result.err;
    EXPECT_TRUE(testsupport::read_file(firmware) == firmware_before) << "the firmware file was written";
    EXPECT_TRUE(flash("sector") == board_before) << "the board was written";
    EXPECT_EQ(testsupport::read_text(path("counts.txt")).find("board=sector"), std::string::npos)
        << "the board was used";
}

std::string same_path(const fs::path &firmware) { return firmware.string(); }

std::string other_spelling(const fs::path &firmware) {
    fs::create_directory(firmware.parent_path() / "sub");
    return (firmware.parent_path() / "sub" / ".." / firmware.filename()).string();
}

#ifndef _WIN32
std::string symbolic_link(const fs::path &firmware) {
    const fs::path link = firmware.parent_path() / "backup.bin";
    fs::create_symlink(firmware, link);
    return link.string();
}
#endif

std::string hard_link(const fs::path &firmware) {
    const fs::path link = firmware.parent_path() / "backup.bin";
    fs::create_hard_link(firmware, link);
    return link.string();
}

INSTANTIATE_TEST_SUITE_P(Paths, BackupOverTheFirmware,
                         ::testing::Values(SameFileCase{"SamePath", same_path, false},
                                           SameFileCase{"SamePathWithOverwrite", same_path, true},
                                           SameFileCase{"OtherSpelling", other_spelling, true},
#ifndef _WIN32
                                           SameFileCase{"SymbolicLink", symbolic_link, true},
#endif
                                           SameFileCase{"HardLink", hard_link, true}),
                         [](const ::testing::TestParamInfo<SameFileCase> &info) {
                             return std::string(info.param.name);
                         });

// A file that stands where the backup or its description would go.
struct ExistingCase {
    const char *name;
    bool update;           // update --backup, else read
    const char *existing;  // "backup.bin" or "backup.bin.json"
};

void PrintTo(const ExistingCase &c, std::ostream *out) { *out << c.name; }

class ExistingBackup : public Tool, public ::testing::WithParamInterface<ExistingCase> {};

TEST_P(ExistingBackup, IsKeptUnlessOverwriteIsGiven) {
    const ExistingCase &c = GetParam();
    std::vector<uint8_t> board(0x100000);
    for (std::size_t i = 0; i < board.size(); ++i) board[i] = static_cast<uint8_t>(i ^ (i >> 9));
    machine().preset_flash("service", board.size(), 0, board);
    const std::string firmware = make_image("fw-ZEN5191.rpd", "ZEN5191", {"--size", "0x80000"});
    const auto command = [&](bool overwrite) {
        std::vector<std::string> args;
        if (c.update)
            args = {"update", "--system=1", "--board=3", "--quiet", "--backup=" + path("backup.bin")};
        else
            args = {"read", "--system=1", "--board=3", path("backup.bin")};
        if (overwrite) args.push_back("--overwrite");
        if (c.update) args.push_back(firmware);
        return args;
    };
    testsupport::write_text(path(c.existing), "keep me\n");
    const std::vector<std::string> before = files();

    const auto refused = run(command(false));
    EXPECT_EQ(refused.exit_code, 1) << refused.out << refused.err;
    EXPECT_NE(refused.err.find(std::string(c.existing) + " already exists; --overwrite replaces it"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(testsupport::read_text(path(c.existing)), "keep me\n");
    EXPECT_EQ(files(), before) << "something was written";
    EXPECT_TRUE(flash("service") == board) << "the board was written";

    const auto replaced = run(command(true));
    ASSERT_EQ(replaced.exit_code, 0) << replaced.err;
    EXPECT_TRUE(testsupport::read_file(path("backup.bin")) == board);
    EXPECT_EQ(json_value(testsupport::read_text(path("backup.bin.json")), "[d['command'], d['flash_size']]"),
              "[\"read\", 1048576]");
}

INSTANTIATE_TEST_SUITE_P(Commands, ExistingBackup,
                         ::testing::Values(ExistingCase{"ReadOverABackup", false, "backup.bin"},
                                           ExistingCase{"ReadOverADescription", false, "backup.bin.json"},
                                           ExistingCase{"UpdateOverABackup", true, "backup.bin"},
                                           ExistingCase{"UpdateOverADescription", true, "backup.bin.json"}),
                         [](const ::testing::TestParamInfo<ExistingCase> &info) {
                             return std::string(info.param.name);
                         });

#ifndef _WIN32

// ulimit -f stands for a disk that fills up: the write fails (or SIGXFSZ
// ends the program), and nothing may stand under the backup's names after.
struct FullDiskCase {
    const char *name;
    std::vector<std::string> args;
};

void PrintTo(const FullDiskCase &c, std::ostream *out) { *out << c.name; }

class FullDisk : public Tool, public ::testing::WithParamInterface<FullDiskCase> {};

TEST_P(FullDisk, LeavesNoBackupAndNoTemporaryFile) {
    // The simulator makes its boards' flash files on its first run: not under the limit.
    ASSERT_EQ(run({"list"}).exit_code, 0);
    machine().preset_flash("service", 0x100000, 0, std::vector<uint8_t>(0x100000, 0x5A));
    make_image("fw-ZEN5191.rpd", "ZEN5191", {"--size", "0x80000"});
    const std::vector<std::string> before = files();
    const auto result = run_with_file_limit(512, GetParam().args);  // 256 KiB of the 1 MiB flash
    EXPECT_NE(result.exit_code, 0);
    EXPECT_FALSE(testsupport::file_exists(path("backup.bin"))) << result.err;
    EXPECT_FALSE(testsupport::file_exists(path("backup.bin.json")));
    std::vector<std::string> after = files();
    after.erase(std::remove(after.begin(), after.end(), "romwright.log"), after.end());
    EXPECT_EQ(after, before) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, FullDisk,
    ::testing::Values(FullDiskCase{"Read", {"read", "--system=1", "--board=3", "backup.bin"}},
                      FullDiskCase{"UpdateBackup",
                                   {"update", "--system=1", "--board=3", "--backup=backup.bin", "fw-ZEN5191.rpd"}}),
    [](const ::testing::TestParamInfo<FullDiskCase> &info) { return std::string(info.param.name); });

#endif

} // namespace
} // namespace tooltest
