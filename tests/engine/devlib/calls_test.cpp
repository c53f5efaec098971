// The typed wrappers against the simulated library.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <zenapi/Zenapi.h>
#include <zenapi/zenapi_sim.h>

#include "engine/devlib/zen.hpp"
#include "tests/support/sim_machine.hpp"

namespace {

std::string board(const std::string &name, int kind, const std::string &features, const std::string &extra = "") {
    return "[[system.board]]\nname = \"" + name + "\"\nkind = " + std::to_string(kind) + "\nfeatures = " + features +
           "\n" + extra + "\n";
}

std::string call_fault(const std::string &call, uint32_t code) {
    return "[[system.board.fault]]\ntype = \"call\"\ncall = \"" + call + "\"\ncode = " + std::to_string(code) + "\n";
}

template <typename F>
std::string error_of(F &&call) {
    try {
        call();
    } catch (const zen::zen_error &error) {
        return error.what();
    }
    return "(no error)";
}

std::vector<uint32_t> numbers(const std::vector<zen::driver_feature> &features) {
    std::vector<uint32_t> out;
    for (auto feature : features) out.push_back(static_cast<uint32_t>(feature));
    return out;
}

TEST(Wrappers, BoardKindAndFeatures) {
    testsupport::SimMachine machine("[[system]]\n" + board("a", 29, "[2, 5]") + board("b", 57, "[0, 1, 2, 3, 4, 5]") +
                                    board("c", 1, "[]"));
    machine.activate();
    EXPECT_EQ(zen::get_board_kind(KorvelGetBoardBySystemID(1, 1)), static_cast<zen::board_kind>(29));
    EXPECT_EQ(zen::get_board_kind(KorvelGetBoardBySystemID(1, 2)), static_cast<zen::board_kind>(57));
    EXPECT_EQ(numbers(zen::get_supported_driver_features(KorvelGetBoardBySystemID(1, 1))),
              (std::vector<uint32_t>{2, 5}));
    EXPECT_EQ(numbers(zen::get_supported_driver_features(KorvelGetBoardBySystemID(1, 2))),
              (std::vector<uint32_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_TRUE(zen::get_supported_driver_features(KorvelGetBoardBySystemID(1, 3)).empty());
}

TEST(Wrappers, BoardKindOutsideTheTable) {
    testsupport::SimMachine machine("[[system]]\n" + board("a", 29, "[]", call_fault("KorvelGetBoardKind", 0)) +
                                    board("b", 29, "[]", call_fault("KorvelGetBoardKind", 58)));
    machine.activate();
    EXPECT_EQ(error_of([] { zen::get_board_kind(KorvelGetBoardBySystemID(1, 1)); }),
              "[from_c] Error: invalid board type 0 failed with error Invalid data");
    EXPECT_EQ(error_of([] { zen::get_board_kind(KorvelGetBoardBySystemID(1, 2)); }),
              "[from_c] Error: invalid board type 58 failed with error Invalid data");
}

TEST(Wrappers, FailedFeatureQueryNamesTheCallAndTheText) {
    testsupport::SimMachine machine("[[system]]\n" +
                                    board("a", 35, "[5]", call_fault("KorvelGetSupportedDriverFeatures", 572)) +
                                    board("b", 35, "[5]", call_fault("KorvelGetSupportedDriverFeatures", 700)));
    machine.activate();
    EXPECT_EQ(error_of([] { zen::get_supported_driver_features(KorvelGetBoardBySystemID(1, 1)); }),
              "KorvelGetSupportedDriverFeatures failed with error Invalid handle");
    EXPECT_EQ(error_of([] { zen::get_supported_driver_features(KorvelGetBoardBySystemID(1, 2)); }),
              "[from_c] Error: invalid return code 700 (unknown code) failed with error Invalid data");
}

TEST(Wrappers, FirmwareUpgradeStartAndStatus) {
    testsupport::SimMachine machine("[[system]]\n" +
                                    board("a", 35, "[5]", "[system.board.upgrade]\npolls = 2\nend_status = 2\n"));
    machine.activate();
    void *handle = KorvelGetBoardBySystemID(1, 1);
    const std::vector<uint8_t> image(0x1000, 0x5A);
    zen::firmware_upgrade_start(handle, image.data(), image.size());
    std::vector<zen::firmware_upgrade_status> statuses;
    for (int poll = 0; poll < 10; ++poll) {
        const auto [status, percent] = zen::firmware_upgrade_exec_and_get_status(handle);
        statuses.push_back(status);
        EXPECT_LE(percent, 100u);
        if (status != zen::firmware_upgrade_status::in_progress) break;
    }
    EXPECT_EQ(statuses.back(), zen::firmware_upgrade_status::succeeded);
    EXPECT_EQ(statuses.size(), 3u);
}

TEST(Wrappers, StatusQueryWithoutStartFailsNamingTheCall) {
    testsupport::SimMachine machine("[[system]]\n" + board("a", 35, "[5]"));
    machine.activate();
    const std::string what = error_of([] { zen::firmware_upgrade_exec_and_get_status(KorvelGetBoardBySystemID(1, 1)); });
    EXPECT_EQ(what.rfind("KorvelFirmwareUpgradeExecAndGetStatus failed with error ", 0), 0u) << what;
}

TEST(Wrappers, ImageOfFourGibibytesNeverReachesTheLibrary) {
    testsupport::SimMachine machine("[[system]]\n" + board("a", 35, "[5]"));
    machine.activate();
    const uint8_t byte = 0;
    EXPECT_EQ(error_of([&] { zen::firmware_upgrade_start(KorvelGetBoardBySystemID(1, 1), &byte, 0x100000000ull); }),
              "Type unsigned long cannot be used to fit value 4294967296 failed with error Invalid data");
    EXPECT_EQ(ZenSimCallCount(1, 1, "KorvelFirmwareUpgradeStart"), 0u);
}

TEST(ErrorText, LibraryTextForEveryTableCode) {
    for (const auto &row : zen::return_code_table()) {
        const char *text = KorvelErrorToText(row.code);
        ASSERT_NE(text, nullptr) << row.code;
        EXPECT_EQ(zen::error_text(row.code), text);
    }
}

} // namespace
