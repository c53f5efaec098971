// Flash contents persist in one file per board in the state folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <zenapi/Zenapi.h>

#include "tests/support/sim_machine.hpp"
#include "tests/zenapi/sim_test_util.hpp"

namespace {

using simtest::pattern;
using simtest::read_flash;
using testsupport::SimMachine;

const char *const kTwoBoards = R"(
[[system]]
[[system.board]]
name = "keeper"
kind = 36
features = [2]
flash_size = 0x80000
sector_size = 0x10000
)";

void write_sector(void *board, uint32_t sector, const std::vector<uint8_t> &data) {
    uint32_t size = 0, status = 0;
    ASSERT_EQ(KorvelFlashOpen(board, 0, &size, &status), ZENAPI_SUCCESS);
    ASSERT_EQ(KorvelFlashSectorWrite(board, sector, 1, data.data(), &status), ZENAPI_SUCCESS);
    ASSERT_EQ(KorvelFlashClose(board), ZENAPI_SUCCESS);
}

TEST(Persistence, ANewBoardStartsErasedInAFileOfFlashSize) {
    SimMachine machine(kTwoBoards);
    machine.activate();
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 0, 0x80000), 0xFF));
    const auto file = machine.flash("keeper");
    EXPECT_EQ(file.size(), 0x80000u);
    EXPECT_TRUE(simtest::all_bytes(file, 0xFF));
}

TEST(Persistence, WritesSurviveAReloadAndAreInTheFileAtOnce) {
    SimMachine machine(kTwoBoards);
    machine.activate();
    const auto data = pattern(0x10000, 21);
    write_sector(KorvelGetBoardBySystemID(1, 1), 3, data);

    // Visible in the file while the library still has it mapped.
    auto file = machine.flash("keeper");
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 0x30000, file.begin() + 0x40000), data);

    machine.activate();   // a new run
    EXPECT_EQ(read_flash(1, 1, 0x30000, 0x10000), data);
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 0, 0x30000), 0xFF));
}

TEST(Persistence, ABoardAddedLaterStartsErasedWhileOthersKeepTheirData) {
    SimMachine machine(kTwoBoards);
    machine.activate();
    const auto data = pattern(0x10000, 22);
    write_sector(KorvelGetBoardBySystemID(1, 1), 0, data);

    testsupport::write_text(machine.config_path(), std::string(kTwoBoards) +
                                                       "[[system.board]]\nname = \"newcomer\"\nkind = 11\n"
                                                       "flash_size = 0x80000\n");
    machine.activate();   // same state folder, grown machine
    EXPECT_EQ(read_flash(1, 1, 0, 0x10000), data);
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 2, 0, 0x80000), 0xFF));
}

TEST(Persistence, AFlashFileOfTheWrongSizeIsAnErrorNamingIt) {
    SimMachine machine(kTwoBoards);
    machine.preset_flash("keeper", 0x40000, 0, {});
    try {
        machine.activate();
        FAIL() << "a wrong-sized flash file was accepted";
    } catch (const std::runtime_error &error) {
        EXPECT_NE(std::string(error.what()).find(machine.flash_path("keeper")), std::string::npos) << error.what();
    }
    EXPECT_EQ(KorvelNumOfSystems(), 0u);
    uint8_t major = 0, minor = 0, revision = 0;
    EXPECT_NE(KorvelGetSDKVersion(&major, &minor, &revision), ZENAPI_SUCCESS);
    EXPECT_EQ(testsupport::read_file(machine.flash_path("keeper")).size(), 0x40000u) << "the file was left alone";
}

// The whole description is checked before any board's flash file is made,
// the controller's own keys of a later board included.
TEST(Persistence, ABadDescriptionCreatesNoFlashFile) {
    SimMachine machine(std::string(kTwoBoards) +
                       "[[system.board]]\nname = \"controlled\"\nkind = 25\n[system.board.controller]\nerase_time = 1\n");
    EXPECT_THROW(machine.activate(), std::runtime_error);
    EXPECT_NE(std::string(ZenSimLastError()).find("system.board.controller.erase_time: unknown key"), std::string::npos)
        << ZenSimLastError();
    EXPECT_FALSE(testsupport::file_exists(machine.flash_path("keeper")));
    EXPECT_FALSE(testsupport::file_exists(machine.flash_path("controlled")));
}

TEST(Persistence, TheStateFolderIsCreatedWithItsParents) {
    SimMachine machine(kTwoBoards);
    const std::string nested = machine.folder() + "/deep/er/state";
    ::setenv("ZENAPI_SIM_CONFIG", machine.config_path().c_str(), 1);
    ::setenv("ZENAPI_SIM_STATE_DIR", nested.c_str(), 1);
    ::unsetenv("ZENAPI_SIM_TRACE");
    ASSERT_EQ(ZenSimReload(), 0) << ZenSimLastError();
    EXPECT_EQ(std::string(ZenSimStateDir()), nested);
    EXPECT_TRUE(testsupport::file_exists(nested + "/keeper.flash"));
}

TEST(Persistence, WithoutAStateFolderVariableTheXdgStateFolderIsUsed) {
    SimMachine machine(kTwoBoards);
    ::setenv("ZENAPI_SIM_CONFIG", machine.config_path().c_str(), 1);
    ::unsetenv("ZENAPI_SIM_STATE_DIR");
    ::setenv("XDG_STATE_HOME", machine.folder().c_str(), 1);
    ASSERT_EQ(ZenSimReload(), 0) << ZenSimLastError();
    EXPECT_TRUE(testsupport::file_exists(machine.folder() + "/zenapi-sim/keeper.flash"));

    ::unsetenv("XDG_STATE_HOME");
    ::setenv("HOME", machine.folder().c_str(), 1);
    ASSERT_EQ(ZenSimReload(), 0) << ZenSimLastError();
    EXPECT_TRUE(testsupport::file_exists(machine.folder() + "/.local/state/zenapi-sim/keeper.flash"));
}

TEST(ControlApi, RawWritesIgnoreNorRulesAndRangesAreChecked) {
    SimMachine machine(kTwoBoards);
    machine.activate();
    const std::vector<uint8_t> zeros(16, 0x00), mixed{0x12, 0xFF, 0x00, 0xAB};
    ASSERT_EQ(ZenSimWriteFlashRaw(1, 1, 0x100, zeros.data(), zeros.size()), 0);
    ASSERT_EQ(ZenSimWriteFlashRaw(1, 1, 0x100, mixed.data(), mixed.size()), 0);
    EXPECT_EQ(read_flash(1, 1, 0x100, 4), mixed);

    std::vector<uint8_t> buffer(32);
    EXPECT_NE(ZenSimReadFlash(1, 1, 0x80000 - 16, buffer.data(), 32), 0);
    EXPECT_NE(ZenSimReadFlash(1, 1, 0xFFFFFFFFFFFFFFF0ull, buffer.data(), 32), 0);
    EXPECT_NE(ZenSimReadFlash(1, 2, 0, buffer.data(), 32), 0);
    EXPECT_NE(std::string(ZenSimLastError()), "");
    EXPECT_NE(ZenSimWriteFlashRaw(1, 1, 0x80000, buffer.data(), 1), 0);
    EXPECT_EQ(ZenSimReadFlash(1, 1, 0x80000 - 32, buffer.data(), 32), 0);
    EXPECT_EQ(std::string(ZenSimLastError()), "");
    EXPECT_EQ(ZenSimFlashSize(1, 1), 0x80000u);
    EXPECT_EQ(ZenSimFlashSize(1, 2), 0u);
    EXPECT_EQ(ZenSimBoardName(2, 1), nullptr);
}

TEST(ControlApi, CallsAreCountedPerBoardAndName) {
    SimMachine machine(kTwoBoards + std::string("[[system.board]]\nname = \"other\"\nkind = 11\nflash_size = 0x80000\n"));
    machine.activate();
    void *first = KorvelGetBoardBySystemID(1, 1);
    for (int i = 0; i < 3; ++i) KorvelGetBoardKind(first);
    KorvelGetBoardKind(KorvelGetBoardBySystemID(1, 2));
    EXPECT_EQ(ZenSimCallCount(1, 1, "KorvelGetBoardKind"), 3u);
    EXPECT_EQ(ZenSimCallCount(1, 2, "KorvelGetBoardKind"), 1u);
    EXPECT_EQ(ZenSimCallCount(1, 1, "KorvelFlashOpen"), 0u);
    EXPECT_EQ(ZenSimCallCount(1, 1, "NoSuchCall"), 0u);
    EXPECT_NE(std::string(ZenSimLastError()), "");
    machine.activate();
    EXPECT_EQ(ZenSimCallCount(1, 1, "KorvelGetBoardKind"), 0u) << "counts start again with the machine";
}

} // namespace
