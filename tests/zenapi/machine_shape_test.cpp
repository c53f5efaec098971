// The built-in machine and board enumeration, identification and versions,
// seen through the device-library calls a program makes.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include <zenapi/Zenapi.h>
#include <zenapi/zenapi_sim.h>

#include "tests/support/sim_machine.hpp"

namespace {

using testsupport::SimMachine;

struct ExpectedBoard {
    uint32_t system, board;
    const char *name;
    uint32_t kind;
    uint8_t features;   // byte 0 of the feature bit set
};

constexpr std::array<ExpectedBoard, 7> kDefaultBoards{{
    {1, 1, "lab-5190-a", 35, 1u << 5},
    {1, 2, "lab-5190-b", 35, 1u << 5},
    {2, 1, "lab-5191", 36, 1u << 2},
    {3, 1, "lab-5120", 13, 0},
    {3, 2, "lab-5110", 11, 0},
    {3, 3, "lab-5160", 25, 0},
    {3, 4, "lab-5170", 29, 0},
}};

class DefaultMachine : public ::testing::Test {
protected:
    void SetUp() override { machine.activate(); }
    SimMachine machine = SimMachine::default_machine();
};

TEST_F(DefaultMachine, HasThreeSystemsWithTheAgreedBoards) {
    EXPECT_EQ(KorvelNumOfSystems(), 3u);
    EXPECT_EQ(KorvelBoardsInSystemBySystemID(1), 2u);
    EXPECT_EQ(KorvelBoardsInSystemBySystemID(2), 1u);
    EXPECT_EQ(KorvelBoardsInSystemBySystemID(3), 4u);
    for (const ExpectedBoard &expected : kDefaultBoards) {
        SCOPED_TRACE(expected.name);
        void *board = KorvelGetBoardBySystemID(expected.system, expected.board);
        ASSERT_NE(board, nullptr);
        EXPECT_EQ(KorvelGetBoardKind(board), expected.kind);
        std::array<uint8_t, 64> features{};
        features.fill(0xAA);
        ASSERT_EQ(KorvelGetSupportedDriverFeatures(board, features.data()), ZENAPI_SUCCESS);
        EXPECT_EQ(features[0], expected.features);
        for (std::size_t i = 1; i < features.size(); ++i) EXPECT_EQ(features[i], 0) << "byte " << i;
        EXPECT_STREQ(ZenSimBoardName(expected.system, expected.board), expected.name);
        EXPECT_EQ(ZenSimFlashSize(expected.system, expected.board), 0x800000u);
    }
}

TEST_F(DefaultMachine, ReportsLibraryAndDriverVersion740) {
    uint8_t major = 0, minor = 0, revision = 9;
    ASSERT_EQ(KorvelGetSDKVersion(&major, &minor, &revision), ZENAPI_SUCCESS);
    EXPECT_EQ(major, 7);
    EXPECT_EQ(minor, 4);
    EXPECT_EQ(revision, 0);
    ASSERT_EQ(KorvelGetDriverVersion(&major, &minor, &revision), ZENAPI_SUCCESS);
    EXPECT_EQ(major, 7);
    EXPECT_EQ(minor, 4);
    EXPECT_EQ(revision, 0);
}

TEST_F(DefaultMachine, RegisterPathBoardsIdentifyAsAgreed) {
    uint8_t major = 0, minor = 0;
    void *zen5120 = KorvelGetBoardBySystemID(3, 1);
    ASSERT_EQ(KorvelGetBoardRevision(zen5120, &major, &minor), ZENAPI_SUCCESS);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 3);

    void *zen5160 = KorvelGetBoardBySystemID(3, 3);
    uint32_t value = 0;
    ASSERT_EQ(KorvelQueryCapability(zen5160, ZENAPI_CAP_KSOPC_SIGNATURE, 0, &value), ZENAPI_SUCCESS);
    EXPECT_EQ(value, 0x0E080000u);
    ASSERT_EQ(KorvelGetCPLDVersion(zen5160, &major, &minor), ZENAPI_SUCCESS);
    EXPECT_EQ(major, 9);
    EXPECT_EQ(minor, 14);

    void *zen5170 = KorvelGetBoardBySystemID(3, 4);
    ASSERT_EQ(KorvelReadRegister(zen5170, 0, &value, ZENAPI_REGISTER_ACCESS_CODE), ZENAPI_SUCCESS);
    EXPECT_EQ(value, 0x00001203u);
    ASSERT_EQ(KorvelQueryCapability(zen5170, ZENAPI_CAP_KSOPC_SIGNATURE, 0, &value), ZENAPI_SUCCESS);
    const uint32_t fpga_major = (value >> 16) & 0xFF, fpga_minor = (value >> 24) & 0xF;
    EXPECT_TRUE(fpga_major > 8 || (fpga_major == 8 && fpga_minor >= 14)) << "KSoPC 0x" << std::hex << value;
    ASSERT_EQ(KorvelGetCPLDVersion(zen5170, &major, &minor), ZENAPI_SUCCESS);
    EXPECT_TRUE(major > 9 || (major == 9 && minor >= 14)) << int(major) << "." << int(minor);
}

TEST_F(DefaultMachine, HandlesOfAbsentSystemsAndBoardsAreNull) {
    const std::array<std::array<uint32_t, 2>, 7> absent{{{0, 1}, {1, 0}, {0, 0}, {1, 3}, {4, 1}, {2, 2}, {0xFFFFFFFF, 1}}};
    for (const auto &ids : absent) EXPECT_EQ(KorvelGetBoardBySystemID(ids[0], ids[1]), nullptr) << ids[0] << "/" << ids[1];
    EXPECT_EQ(KorvelBoardsInSystemBySystemID(0), 0u);
    EXPECT_EQ(KorvelBoardsInSystemBySystemID(4), 0u);
}

TEST_F(DefaultMachine, HandlesAreStableBetweenCalls) {
    EXPECT_EQ(KorvelGetBoardBySystemID(3, 2), KorvelGetBoardBySystemID(3, 2));
    EXPECT_NE(KorvelGetBoardBySystemID(1, 1), KorvelGetBoardBySystemID(1, 2));
}

TEST_F(DefaultMachine, CallsOnAnUnknownHandleAreRefused) {
    int not_a_board = 0;
    uint8_t bits[64];
    uint32_t value = 0;
    EXPECT_EQ(KorvelGetBoardKind(nullptr), 0u);
    EXPECT_EQ(KorvelGetBoardKind(&not_a_board), 0u);
    EXPECT_EQ(KorvelGetSupportedDriverFeatures(nullptr, bits), 572u);
    EXPECT_EQ(KorvelReadRegister(&not_a_board, 0, &value, ZENAPI_REGISTER_ACCESS_CODE), 572u);
}

TEST_F(DefaultMachine, NullOutputPointersAreRefused) {
    void *board = KorvelGetBoardBySystemID(3, 1);
    uint8_t byte = 0;
    EXPECT_EQ(KorvelGetSDKVersion(nullptr, &byte, &byte), 531u);
    EXPECT_EQ(KorvelGetSupportedDriverFeatures(board, nullptr), 531u);
    EXPECT_EQ(KorvelGetCPLDVersion(board, nullptr, &byte), 531u);
    EXPECT_EQ(KorvelGetBoardRevision(board, &byte, nullptr), 531u);
    EXPECT_EQ(KorvelQueryCapability(board, ZENAPI_CAP_SERIAL_NUMBER, 0, nullptr), 531u);
    EXPECT_EQ(KorvelReadRegister(board, 4, nullptr, ZENAPI_REGISTER_ACCESS_CODE), 531u);
}

TEST(Identification, ValuesComeFromTheDescription) {
    SimMachine machine(R"(
[[system]]
[[system.board]]
name = "probe"
kind = 30
revision = "4.15"
cpld = "10.0"
ksopc_signature = 0x0D080000
serial = 4000000000
register0 = 0xCAFE0042
features = [0, 2, 5]
)");
    machine.activate();
    void *board = KorvelGetBoardBySystemID(1, 1);
    ASSERT_NE(board, nullptr);
    EXPECT_EQ(KorvelGetBoardKind(board), 30u);
    uint8_t major = 0, minor = 0;
    ASSERT_EQ(KorvelGetBoardRevision(board, &major, &minor), ZENAPI_SUCCESS);
    EXPECT_EQ(major, 4);
    EXPECT_EQ(minor, 15);
    ASSERT_EQ(KorvelGetCPLDVersion(board, &major, &minor), ZENAPI_SUCCESS);
    EXPECT_EQ(major, 10);
    EXPECT_EQ(minor, 0);
    uint32_t value = 0;
    ASSERT_EQ(KorvelQueryCapability(board, ZENAPI_CAP_KSOPC_SIGNATURE, 0, &value), ZENAPI_SUCCESS);
    EXPECT_EQ(value, 0x0D080000u);
    ASSERT_EQ(KorvelQueryCapability(board, ZENAPI_CAP_SERIAL_NUMBER, 0, &value), ZENAPI_SUCCESS);
    EXPECT_EQ(value, 4000000000u);
    ASSERT_EQ(KorvelReadRegister(board, 0, &value, ZENAPI_REGISTER_ACCESS_CODE), ZENAPI_SUCCESS);
    EXPECT_EQ(value, 0xCAFE0042u);
    uint8_t bits[64] = {};
    ASSERT_EQ(KorvelGetSupportedDriverFeatures(board, bits), ZENAPI_SUCCESS);
    EXPECT_EQ(bits[0], 0x25);
}

TEST(Identification, UnavailableSerialFailsTheQueryOnly) {
    SimMachine machine(R"(
[[system]]
[[system.board]]
kind = 13
serial = "unavailable"
)");
    machine.activate();
    void *board = KorvelGetBoardBySystemID(1, 1);
    uint32_t value = 0x12345678;
    EXPECT_NE(KorvelQueryCapability(board, ZENAPI_CAP_SERIAL_NUMBER, 0, &value), ZENAPI_SUCCESS);
    EXPECT_EQ(value, 0x12345678u);
    EXPECT_EQ(KorvelQueryCapability(board, ZENAPI_CAP_KSOPC_SIGNATURE, 0, &value), ZENAPI_SUCCESS);
    EXPECT_STREQ(ZenSimBoardName(1, 1), "system1-board1");
}

TEST(Identification, UnknownCapabilityIsRefused) {
    SimMachine machine("[[system]]\n[[system.board]]\nkind = 11\n");
    machine.activate();
    uint32_t value = 0;
    EXPECT_NE(KorvelQueryCapability(KorvelGetBoardBySystemID(1, 1), 0x10000099, 0, &value), ZENAPI_SUCCESS);
}

TEST(Enumeration, SystemsWithoutBoardsAndEmptyMachines) {
    SimMachine empty("[library]\nversion = \"7.1.0\"\n");
    empty.activate();
    EXPECT_EQ(KorvelNumOfSystems(), 0u);
    EXPECT_EQ(KorvelGetBoardBySystemID(1, 1), nullptr);

    SimMachine hollow("[[system]]\n[[system]]\n[[system.board]]\nkind = 11\n");
    hollow.activate();
    EXPECT_EQ(KorvelNumOfSystems(), 2u);
    EXPECT_EQ(KorvelBoardsInSystemBySystemID(1), 0u);
    EXPECT_EQ(KorvelBoardsInSystemBySystemID(2), 1u);
    EXPECT_NE(KorvelGetBoardBySystemID(2, 1), nullptr);
}

} // namespace
