// Faults of the calls that take no board ([[library.fault]]) and the call
// counts a machine writes when it is dropped (ZENAPI_SIM_CALL_COUNTS).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <zenapi/Zenapi.h>

#include "tests/support/sim_machine.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/zenapi/sim_test_util.hpp"

namespace {

using testsupport::SimMachine;

constexpr const char *kOneBoard = "[[system]]\n[[system.board]]\nname = \"b1\"\nkind = 13\n";

TEST(LibraryFault, AnswersItsCodeOnTheNthVersionQueryOnly) {
    SimMachine machine("[library]\nversion = \"7.3.1\"\n[[library.fault]]\ncall = \"KorvelGetSDKVersion\"\n"
                       "code = 513\nnth = 2\n" +
                       std::string(kOneBoard));
    machine.activate();
    uint8_t major = 0, minor = 0, revision = 0;
    EXPECT_EQ(KorvelGetSDKVersion(&major, &minor, &revision), ZENAPI_SUCCESS);
    major = minor = revision = 0;
    EXPECT_EQ(KorvelGetSDKVersion(&major, &minor, &revision), 513u);
    EXPECT_EQ(major + minor + revision, 0) << "a faulted call gives nothing";
    EXPECT_EQ(KorvelGetDriverVersion(&major, &minor, &revision), ZENAPI_SUCCESS);
    EXPECT_EQ(KorvelGetSDKVersion(&major, &minor, &revision), ZENAPI_SUCCESS);
    EXPECT_EQ(minor, 3);
}

TEST(LibraryFault, WithoutNthOnEveryCall) {
    SimMachine machine("[library]\n[[library.fault]]\ncall = \"KorvelGetDriverVersion\"\ncode = 552\n" +
                       std::string(kOneBoard));
    machine.activate();
    uint8_t major = 0, minor = 0, revision = 0;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(KorvelGetDriverVersion(&major, &minor, &revision), 552u);
    EXPECT_EQ(KorvelGetSDKVersion(&major, &minor, &revision), ZENAPI_SUCCESS);
}

struct BadFault {
    const char *name;
    const char *call;
    const char *problem;
};

void PrintTo(const BadFault &bad, std::ostream *out) { *out << bad.name; }

class RefusedLibraryFault : public ::testing::TestWithParam<BadFault> {};

TEST_P(RefusedLibraryFault, NamesTheLineAndWhy) {
    SimMachine machine(std::string("[library]\n[[library.fault]]\ncall = \"") + GetParam().call + "\"\ncode = 513\n");
    try {
        machine.activate();
        FAIL() << "the description loaded";
    } catch (const std::runtime_error &error) {
        const std::string text = error.what();
        EXPECT_NE(text.find("machine.toml:3: library.fault.call: "), std::string::npos) << text;
        EXPECT_NE(text.find(GetParam().problem), std::string::npos) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Calls, RefusedLibraryFault,
    ::testing::Values(BadFault{"board_call", "KorvelGetBoardKind", "takes a board"},
                      BadFault{"count_call", "KorvelNumOfSystems", "answers no return code"},
                      BadFault{"not_a_call", "KorvelGetSDKVersoin", "is not a device-library call"}),
    [](const ::testing::TestParamInfo<BadFault> &info) { return std::string(info.param.name); });

TEST(CallCounts, AreWrittenWhenTheMachineIsDropped) {
    SimMachine machine(kOneBoard);
    testsupport::TempDir dir("counts");
    const std::string path = dir.file("counts.txt");
    ::setenv("ZENAPI_SIM_CALL_COUNTS", path.c_str(), 1);
    machine.activate();
    uint8_t major = 0, minor = 0, revision = 0;
    KorvelGetSDKVersion(&major, &minor, &revision);
    void *board = KorvelGetBoardBySystemID(1, 1);
    for (int i = 0; i < 3; ++i) KorvelGetBoardRevision(board, &major, &minor);
    ::unsetenv("ZENAPI_SIM_CALL_COUNTS");
    ASSERT_EQ(ZenSimReload(), 0) << ZenSimLastError();
    EXPECT_EQ(testsupport::read_lines(path), (std::vector<std::string>{
                                                 "KorvelGetSDKVersion() 1",
                                                 "KorvelGetBoardBySystemID() 1",
                                                 "KorvelGetBoardRevision(board=b1) 3",
                                             }));
}

} // namespace
