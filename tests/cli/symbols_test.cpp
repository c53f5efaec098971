// romwright-cli reaches the device library only through the calls of its
// public interface, so another implementation of it can stand in unchanged.
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

const std::set<std::string> kLibraryCalls = {
    "KorvelGetSDKVersion", "KorvelGetDriverVersion", "KorvelNumOfSystems",
    "KorvelBoardsInSystemBySystemID", "KorvelGetBoardBySystemID", "KorvelGetBoardKind",
    "KorvelGetSupportedDriverFeatures", "KorvelSetParameter", "KorvelGetCPLDVersion",
    "KorvelGetBoardRevision", "KorvelQueryCapability", "KorvelReadRegister",
    "KorvelWriteRegister", "SetControlCommand", "ZEN5110FlashSectorPageRead",
    "ZEN5110PageWriteToFlash", "ZEN5110FlashSectorErase", "KorvelFlashOpen",
    "KorvelFlashSectorWrite", "KorvelFlashSectorRead", "KorvelFlashClose",
    "KorvelFirmwareUpgradeStart", "KorvelFirmwareUpgradeExecAndGetStatus", "KorvelErrorToText",
};

bool looks_like_library_call(const std::string &name) {
    for (const char *prefix : {"Korvel", "ZEN5", "ZenSim", "SetControlCommand", "Zen"})
        if (name.rfind(prefix, 0) == 0) return true;
    return false;
}

TEST(CliSymbols, OnlyTheLibrarysPublicCalls) {
    const std::string nm = "/usr/bin/nm";
    if (!testsupport::file_exists(nm)) GTEST_SKIP() << "no nm";
    const auto result = testsupport::run_process(nm, {"-D", "--undefined-only", testsupport::bin_path("romwright-cli")});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    std::istringstream lines(result.out);
    std::set<std::string> used;
    for (std::string line; std::getline(lines, line);) {
        std::string name = line.substr(line.find_last_of(' ') + 1);
        name = name.substr(0, name.find('@'));
        if (looks_like_library_call(name)) used.insert(name);
    }
    for (const std::string &name : used) EXPECT_EQ(kLibraryCalls.count(name), 1u) << name << " is not a library call";
    // The program does call into the library (a check that found nothing would prove nothing).
    EXPECT_EQ(used.count("KorvelGetSDKVersion"), 1u);
    EXPECT_EQ(used.count("KorvelFlashSectorWrite"), 1u);
    EXPECT_EQ(used.count("ZEN5110PageWriteToFlash"), 1u);
}

} // namespace
