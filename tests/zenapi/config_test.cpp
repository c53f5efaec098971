// Reading the machine description: every value is checked, unknown keys are
// refused, and a bad description names its file, line and key.
#include <gtest/gtest.h>

#include <string>

#include <zenapi/Zenapi.h>

#include "tests/support/sim_machine.hpp"
#include "tests/zenapi/sim_test_util.hpp"

namespace {

using testsupport::SimMachine;

struct BadConfig {
    const char *name;
    const char *toml;
    int line;
    const char *key;       // the key named in the message
    const char *problem;   // a piece of the problem text
};

const BadConfig kBadConfigs[] = {
    {"unknown_top_level_key", "[library]\nversion = \"7.4.0\"\ncolour = 3\n", 3, "library.colour", "unknown key"},
    {"unknown_table", "[librry]\n", 1, "librry", "unknown key"},
    {"kind_zero", "[[system]]\n[[system.board]]\nkind = 0\n", 3, "system.board.kind", "must be an integer 1..57"},
    {"kind_58", "[[system]]\n[[system.board]]\n\nkind = 58\n", 4, "system.board.kind", "must be an integer 1..57"},
    {"kind_text", "[[system]]\n[[system.board]]\nkind = \"25\"\n", 3, "system.board.kind", "must be an integer 1..57"},
    {"kind_missing", "[[system]]\n[[system.board]]\nname = \"x\"\n", 2, "system.board.kind", "is missing"},
    {"version_two_parts", "[library]\nversion = \"7.4\"\n", 2, "library.version", "major.minor.revision"},
    {"version_too_big", "[library]\ndriver_version = \"7.256.0\"\n", 2, "library.driver_version", "0..255"},
    {"version_number", "[library]\nversion = 7\n", 2, "library.version", "text"},
    {"revision_text", "[[system]]\n[[system.board]]\nkind = 11\nrevision = \"1.x\"\n", 4, "system.board.revision",
     "major.minor"},
    {"board_key_typo", "[[system]]\n[[system.board]]\nkind = 11\nflash_sise = 0x40000\n", 4,
     "system.board.flash_sise", "unknown key"},
    {"system_key", "[[system]]\nid = 4\n", 2, "system.id", "unknown key"},
    {"feature_6", "[[system]]\n[[system.board]]\nkind = 11\nfeatures = [2, 6]\n", 4, "system.board.features", "0..5"},
    {"serial_text", "[[system]]\n[[system.board]]\nkind = 11\nserial = \"none\"\n", 4, "system.board.serial",
     "unavailable"},
    {"flash_size_odd", "[[system]]\n[[system.board]]\nkind = 11\nflash_size = 0x50000\n", 4,
     "system.board.flash_size", "multiple of 0x40000"},
    {"flash_size_huge", "[[system]]\n[[system.board]]\nkind = 11\nflash_size = 0x100000000\n", 4,
     "system.board.flash_size", "0x40000..0x10000000"},
    {"sector_size_not_dividing", "[[system]]\n[[system.board]]\nkind = 36\nsector_size = 0x3000\n", 4,
     "system.board.sector_size", "divide"},
    {"name_with_slash", "[[system]]\n[[system.board]]\nkind = 11\nname = \"../escape\"\n", 4, "system.board.name",
     "letters"},
    {"name_twice", "[[system]]\n[[system.board]]\nkind = 11\nname = \"a\"\n[[system.board]]\nkind = 11\nname = \"a\"\n",
     5, "system.board.name", "another board"},
    {"end_status_1", "[[system]]\n[[system.board]]\nkind = 35\n[system.board.upgrade]\nend_status = 1\n", 5,
     "system.board.upgrade.end_status", "0, 2 or 3"},
    {"end_percent_101", "[[system]]\n[[system.board]]\nkind = 35\n[system.board.upgrade]\nend_percent = 101\n", 5,
     "system.board.upgrade.end_percent", "0..100"},
    {"upgrade_typo", "[[system]]\n[[system.board]]\nkind = 35\n[system.board.upgrade]\npoll = 3\n", 5,
     "system.board.upgrade.poll", "unknown key"},
    {"timing_typo", "[[system]]\n[[system.board]]\nkind = 11\n[system.board.timing]\nerase_ms = 3\n", 5,
     "system.board.timing.erase_ms", "unknown key"},
    {"controller_on_page_board", "[[system]]\n[[system.board]]\nkind = 11\n[system.board.controller]\n", 4,
     "system.board.controller", "sector-mode"},
    {"fault_type_unknown", "[[system]]\n[[system.board]]\nkind = 11\n[[system.board.fault]]\ntype = \"gremlin\"\n", 5,
     "system.board.fault.type", "is not one of"},
    {"fault_type_missing", "[[system]]\n[[system.board]]\nkind = 11\n[[system.board.fault]]\ncall = \"x\"\n", 4,
     "system.board.fault.type", "is missing"},
    {"fault_key_unknown",
     "[[system]]\n[[system.board]]\nkind = 36\nfeatures = [2]\n[[system.board.fault]]\ntype = \"zero_sector_size\"\n"
     "sector = 1\n",
     7, "system.board.fault.sector", "unknown key"},
    {"fault_call_unknown",
     "[[system]]\n[[system.board]]\nkind = 11\n[[system.board.fault]]\ntype = \"call\"\ncall = \"KorvelFlashOpne\"\n"
     "code = 513\n",
     6, "system.board.fault.call", "not a device-library call"},
    {"fault_call_without_board",
     "[[system]]\n[[system.board]]\nkind = 11\n[[system.board.fault]]\ntype = \"call\"\ncall = \"KorvelNumOfSystems\"\n"
     "code = 513\n",
     6, "system.board.fault.call", "takes a board"},
    {"fault_call_nth_0",
     "[[system]]\n[[system.board]]\nkind = 11\n[[system.board.fault]]\ntype = \"call\"\ncall = \"KorvelFlashOpen\"\n"
     "code = 513\nnth = 0\n",
     8, "system.board.fault.nth", "1..0xFFFFFFFF"},
    {"fault_call_status_without_flash_status",
     "[[system]]\n[[system.board]]\nkind = 11\n[[system.board.fault]]\ntype = \"call\"\ncall = \"KorvelReadRegister\"\n"
     "code = 513\nstatus = 4\n",
     8, "system.board.fault.status", "reports no flash status"},
    {"fault_sector_beyond",
     "[[system]]\n[[system.board]]\nkind = 36\nfeatures = [2]\nflash_size = 0x80000\n[[system.board.fault]]\n"
     "type = \"flash_write_status\"\nsector = 8\nstatus = 4\n",
     8, "system.board.fault.sector", "0..7"},
    {"fault_residue_outside_sector",
     "[[system]]\n[[system.board]]\nkind = 11\n[[system.board.fault]]\ntype = \"page_erase_residue\"\nsector = 1\n"
     "address = 0x100\nvalue = 0\ntimes = 1\n",
     7, "system.board.fault.address", "in the sector"},
    {"fault_residue_odd_address",
     "[[system]]\n[[system.board]]\nkind = 11\n[[system.board.fault]]\ntype = \"page_erase_residue\"\nsector = 0\n"
     "address = 0x101\nvalue = 0\ntimes = 1\n",
     7, "system.board.fault.address", "even"},
    {"fault_readback_beyond",
     "[[system]]\n[[system.board]]\nkind = 36\nfeatures = [2]\nflash_size = 0x40000\n[[system.board.fault]]\n"
     "type = \"readback\"\naddress = 0x40000\n",
     8, "system.board.fault.address", "inside the flash"},
    {"service_fault_without_the_service",
     "[[system]]\n[[system.board]]\nkind = 13\n[[system.board.fault]]\ntype = \"readback\"\naddress = 0x40010\n", 5,
     "system.board.fault.type", "needs driver feature 2"},
    {"service_fault_on_an_upgrade_board",
     "[[system]]\n[[system.board]]\nkind = 35\nfeatures = [5]\n[[system.board.fault]]\ntype = \"flash_write_status\"\n"
     "sector = 1\nstatus = 4\n",
     6, "system.board.fault.type", "needs driver feature 2"},
    {"page_fault_on_a_sector_mode_board",
     "[[system]]\n[[system.board]]\nkind = 25\n[[system.board.fault]]\ntype = \"page_program_error\"\naddress = 0x20\n"
     "times = 1\n",
     5, "system.board.fault.type", "kind 25 is not page mode"},
    {"page_fault_on_a_service_board",
     "[[system]]\n[[system.board]]\nkind = 36\nfeatures = [2]\n[[system.board.fault]]\ntype = \"page_erase_residue\"\n"
     "sector = 0\naddress = 0\nvalue = 0\ntimes = 1\n",
     6, "system.board.fault.type", "kind 36 is not page mode"},
    {"controller_fault_block_beyond_flash",
     "[[system]]\n[[system.board]]\nkind = 25\nflash_size = 0x100000\n[[system.board.controller.fault]]\n"
     "type = \"no_unlock\"\nsector = 4\n",
     7, "system.board.controller.fault.sector", "0..3"},
    {"syntax_error", "[[system]]\n[[system.board]]\nkind = = 3\n", 3, nullptr, nullptr},
};

class BadDescription : public ::testing::TestWithParam<BadConfig> {};

TEST_P(BadDescription, IsRefusedNamingFileLineAndKey) {
    const BadConfig &c = GetParam();
    SimMachine machine(c.toml);
    std::string message;
    try {
        machine.activate();
    } catch (const std::runtime_error &error) {
        message = error.what();
    }
    ASSERT_FALSE(message.empty()) << "accepted:\n" << c.toml;
    std::string expected = machine.config_path() + ":" + std::to_string(c.line) + ": ";
    if (c.key) expected += std::string(c.key) + ": ";
    EXPECT_NE(message.find(expected), std::string::npos) << message << "\nexpected to contain: " << expected;
    if (c.problem) {
        EXPECT_NE(message.find(c.problem), std::string::npos) << message;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, BadDescription, ::testing::ValuesIn(kBadConfigs),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(BadDescription, LeavesTheLibraryWithoutSystemsAndFailsTheVersionCalls) {
    SimMachine machine("[[system]]\n[[system.board]]\nkind = 99\n");
    EXPECT_THROW(machine.activate(), std::runtime_error);
    EXPECT_EQ(KorvelNumOfSystems(), 0u);
    EXPECT_EQ(KorvelBoardsInSystemBySystemID(1), 0u);
    EXPECT_EQ(KorvelGetBoardBySystemID(1, 1), nullptr);
    uint8_t major = 0, minor = 0, revision = 0;
    EXPECT_EQ(KorvelGetSDKVersion(&major, &minor, &revision), 556u);
    EXPECT_EQ(KorvelGetDriverVersion(&major, &minor, &revision), 556u);
}

TEST(BadDescription, IsReportedOnStandardErrorOnce) {
    SimMachine machine("[[system]]\n[[system.board]]\nkind = 99\n");
    for (const auto &[name, value] : machine.env()) ::setenv(name.c_str(), value.c_str(), 1);
    ::testing::internal::CaptureStderr();
    EXPECT_NE(ZenSimReload(), 0);
    uint8_t major = 0, minor = 0, revision = 0;
    KorvelGetSDKVersion(&major, &minor, &revision);
    KorvelNumOfSystems();
    KorvelGetDriverVersion(&major, &minor, &revision);
    const std::string err = ::testing::internal::GetCapturedStderr();
    const std::string expected =
        "zenapi-sim: " + machine.config_path() + ":3: system.board.kind: must be an integer 1..57\n";
    EXPECT_EQ(err, expected);
}

TEST(BadDescription, AMissingFileIsNamed) {
    SimMachine machine("");
    ::setenv("ZENAPI_SIM_CONFIG", (machine.folder() + "/absent.toml").c_str(), 1);
    ::setenv("ZENAPI_SIM_STATE_DIR", machine.state_dir().c_str(), 1);
    EXPECT_NE(ZenSimReload(), 0);
    EXPECT_NE(std::string(ZenSimLastError()).find(machine.folder() + "/absent.toml: "), std::string::npos)
        << ZenSimLastError();
}

TEST(GoodDescription, DefaultsFillWhatIsLeftOut) {
    SimMachine machine("[[system]]\n[[system.board]]\nkind = 36\nfeatures = [2]\n");
    machine.activate();
    void *board = KorvelGetBoardBySystemID(1, 1);
    uint8_t major = 0, minor = 0, revision = 0;
    ASSERT_EQ(KorvelGetSDKVersion(&major, &minor, &revision), ZENAPI_SUCCESS);
    EXPECT_EQ(major * 100 + minor * 10 + revision, 740);
    EXPECT_EQ(ZenSimFlashSize(1, 1), 0x800000u);
    uint32_t sector_size = 0, status = 0;
    ASSERT_EQ(KorvelFlashOpen(board, 0, &sector_size, &status), ZENAPI_SUCCESS);
    EXPECT_EQ(sector_size, 0x10000u);
    EXPECT_STREQ(ZenSimBoardName(1, 1), "system1-board1");
}

TEST(GoodDescription, AllKeysOfTheSchemaAreAccepted) {
    SimMachine machine(R"(
[library]
version = "7.1.0"
driver_version = "7.0.9"

[[system]]
[[system.board]]
name = "every_key.1"
kind = 25
revision = "1.3"
cpld = "9.14"
ksopc_signature = 0x0E080000
serial = 1234567
register0 = 0x00001203
features = [0, 1, 2, 3, 4, 5]
flash_size = 0x400000
sector_size = 0x40000

[system.board.upgrade]
polls = 0
end_status = 3
end_percent = 0

[system.board.timing]
page_erase_ms = 0

[system.board.controller]

[[system.board.fault]]
type = "call"
call = "KorvelFlashOpen"
code = 513
nth = 2

[[system.board.fault]]
type = "flash_write_status"
sector = 3
status = 4

[[system.board.fault]]
type = "flash_read_status"
sector = 1
status = 2
code = 579

[[system.board.fault]]
type = "readback"
address = 0x1234

[[system.board.fault]]
type = "zero_sector_size"

[[system.board.fault]]
type = "capability"
capability = 0x10000024
code = 533

# Page-mode faults belong to a page-mode board.
[[system.board]]
name = "every_key.2"
kind = 13

[[system.board.fault]]
type = "page_erase_residue"
sector = 2
address = 0x40010
value = 0xFFFE
times = 1

[[system.board.fault]]
type = "page_program_error"
address = 0x20
times = 2
)");
    EXPECT_NO_THROW(machine.activate());
    uint8_t major = 0, minor = 0, revision = 0;
    ASSERT_EQ(KorvelGetDriverVersion(&major, &minor, &revision), ZENAPI_SUCCESS);
    EXPECT_EQ(major, 7);
    EXPECT_EQ(minor, 0);
    EXPECT_EQ(revision, 9);
}

} // namespace
