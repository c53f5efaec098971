// The call trace (ZENAPI_SIM_TRACE) and switching a board's call logging.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <zenapi/Zenapi.h>

#include "tests/support/sim_machine.hpp"

namespace {

using testsupport::read_lines;
using testsupport::SimMachine;

const char *const kMachine = R"(
[[system]]
[[system.board]]
name = "lab-5160"
kind = 25
flash_size = 0x40000
[[system.board]]
name = "quiet-one"
kind = 36
features = [2]
flash_size = 0x40000
)";

TEST(Trace, OneLinePerCallWithArgumentsAndResult) {
    SimMachine machine(kMachine);
    machine.with_trace().activate();
    void *board = KorvelGetBoardBySystemID(1, 1);
    ASSERT_EQ(KorvelWriteRegister(board, 0x80000000u, 8, ZENAPI_REGISTER_ACCESS_CODE), ZENAPI_SUCCESS);
    uint32_t value = 0;
    ASSERT_EQ(KorvelReadRegister(board, 0x80000000u, &value, ZENAPI_REGISTER_ACCESS_CODE), ZENAPI_SUCCESS);
    EXPECT_EQ(KorvelReadRegister(board, 0x80000000u, &value, 0x1234), 514u);
    uint8_t major = 0, minor = 0, revision = 0;
    KorvelGetSDKVersion(&major, &minor, &revision);
    KorvelGetBoardKind(board);
    uint32_t size = 0, status = 0;
    KorvelFlashOpen(KorvelGetBoardBySystemID(1, 2), 0, &size, &status);

    const std::vector<std::string> expected{
        "KorvelGetBoardBySystemID(system=1, board=1) -> lab-5160",
        "KorvelWriteRegister(board=lab-5160, offset=0x80000000, value=0x00000008, access=0x6B2D9E41) -> 512",
        "KorvelReadRegister(board=lab-5160, offset=0x80000000, access=0x6B2D9E41) -> 512 value=0x00000008",
        "KorvelReadRegister(board=lab-5160, offset=0x80000000, access=0x00001234) -> 514",
        "KorvelGetSDKVersion() -> 512 version=7.4.0",
        "KorvelGetBoardKind(board=lab-5160) -> 25",
        "KorvelGetBoardBySystemID(system=1, board=2) -> quiet-one",
        "KorvelFlashOpen(board=quiet-one, flags=0) -> 512 sector_size=0x10000 status=0",
    };
    EXPECT_EQ(read_lines(machine.trace_path()), expected);
}

TEST(Trace, SetParameterSwitchesOneBoardsLoggingOffAndOn) {
    SimMachine machine(kMachine);
    machine.with_trace().activate();
    void *quiet = KorvelGetBoardBySystemID(1, 2);
    void *chatty = KorvelGetBoardBySystemID(1, 1);
    ASSERT_EQ(KorvelSetParameter(quiet, 0, 0x10000090u, 0), ZENAPI_SUCCESS);
    KorvelGetBoardKind(quiet);
    KorvelGetBoardKind(chatty);
    ASSERT_EQ(KorvelSetParameter(quiet, 0, 0x10000090u, 1), ZENAPI_SUCCESS);
    KorvelGetBoardKind(quiet);

    const std::vector<std::string> expected{
        "KorvelGetBoardBySystemID(system=1, board=2) -> quiet-one",
        "KorvelGetBoardBySystemID(system=1, board=1) -> lab-5160",
        "KorvelSetParameter(board=quiet-one, channel=0, parameter=0x10000090, value=0) -> 512",
        "KorvelGetBoardKind(board=lab-5160) -> 25",
        "KorvelSetParameter(board=quiet-one, channel=0, parameter=0x10000090, value=1) -> 512",
        "KorvelGetBoardKind(board=quiet-one) -> 36",
    };
    EXPECT_EQ(read_lines(machine.trace_path()), expected);
}

TEST(Trace, OtherParametersAreAcceptedAndLeaveLoggingOn) {
    SimMachine machine(kMachine);
    machine.with_trace().activate();
    void *board = KorvelGetBoardBySystemID(1, 1);
    EXPECT_EQ(KorvelSetParameter(board, 1, 0x10000001u, 0), ZENAPI_SUCCESS);
    KorvelGetBoardKind(board);
    const auto lines = read_lines(machine.trace_path());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "KorvelGetBoardKind(board=lab-5160) -> 25");
}

TEST(Trace, InjectedFaultsAndUnknownHandlesAreMarked) {
    SimMachine machine(std::string(kMachine) +
                       "[[system.board.fault]]\ntype = \"call\"\ncall = \"KorvelFlashClose\"\ncode = 513\n");
    machine.with_trace().activate();
    KorvelFlashClose(KorvelGetBoardBySystemID(1, 2));
    KorvelGetBoardKind(nullptr);
    const auto lines = read_lines(machine.trace_path());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "KorvelFlashClose(board=quiet-one) -> 513 (injected fault)");
    EXPECT_EQ(lines[2].rfind("KorvelGetBoardKind(board=<unknown", 0), 0u) << lines[2];
    EXPECT_EQ(lines[2].substr(lines[2].size() - 5), " -> 0");
}

TEST(Trace, IsAppendedAcrossRuns) {
    SimMachine machine(kMachine);
    machine.with_trace().activate();
    KorvelNumOfSystems();
    machine.activate();
    KorvelNumOfSystems();
    EXPECT_EQ(read_lines(machine.trace_path()),
              (std::vector<std::string>{"KorvelNumOfSystems() -> 1", "KorvelNumOfSystems() -> 1"}));
}

TEST(Trace, WithoutTheVariableNothingIsWritten) {
    SimMachine machine(kMachine);
    machine.activate();
    KorvelNumOfSystems();
    EXPECT_FALSE(testsupport::file_exists(machine.folder() + "/trace.log"));
}

} // namespace
