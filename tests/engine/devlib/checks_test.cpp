#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include <romwright/error.hpp>
#include <zenapi/Zenapi.h>

#include "engine/devlib/zen.hpp"

namespace {

template <typename Enum>
zen::zen_error from_c_error(uint32_t value) {
    try {
        zen::from_c<Enum>(value);
    } catch (const zen::zen_error &error) {
        return error;
    }
    ADD_FAILURE() << "from_c accepted " << value;
    return zen::zen_error(zen::return_code::success, "");
}

TEST(ZenError, MessageNamesTheFunctionAndTheDisplayText) {
    const zen::zen_error error(zen::return_code::invalid_handle, "KorvelGetSupportedDriverFeatures");
    EXPECT_STREQ(error.what(), "KorvelGetSupportedDriverFeatures failed with error Invalid handle");
    EXPECT_EQ(error.message(), "KorvelGetSupportedDriverFeatures failed with error Invalid handle");
    EXPECT_EQ(error.code(), zen::return_code::invalid_handle);
    // The runtime error underneath holds the bare function name.
    EXPECT_STREQ(error.std::runtime_error::what(), "KorvelGetSupportedDriverFeatures");
}

TEST(ZenError, IsCopyableAndCatchableAsStandardException) {
    const zen::zen_error original(zen::return_code::busy, "KorvelFlashOpen");
    zen::zen_error copy = original;
    EXPECT_EQ(copy.code(), zen::return_code::busy);
    EXPECT_STREQ(copy.what(), "KorvelFlashOpen failed with error Busy");
    try {
        throw copy;
    } catch (const std::exception &e) {
        EXPECT_STREQ(e.what(), "KorvelFlashOpen failed with error Busy");
    }
}

// The binding's error is the engine's error of the device-call kind.
TEST(ZenError, IsTheEnginesErrorOfTheDeviceCallKind) {
    try {
        throw zen::zen_error(zen::return_code::busy, "KorvelFlashOpen");
    } catch (const romwright::error &e) {
        EXPECT_EQ(e.kind(), romwright::error_kind::device_call);
        EXPECT_STREQ(e.what(), "KorvelFlashOpen failed with error Busy");
    }
    try {
        zen::check_call(ZENAPI_SUCCESS + 1, "CRomwright::EnableFlash");
        ADD_FAILURE() << "no error";
    } catch (const romwright::error &e) {
        EXPECT_EQ(e.kind(), romwright::error_kind::device_call);
    }
}

TEST(ZenError, IrregularTextsAppearAsDisplayed) {
    EXPECT_STREQ(zen::zen_error(zen::return_code::file_io_error, "F").what(), "F failed with error File I/O error");
    EXPECT_STREQ(zen::zen_error(zen::return_code::null_param, "F").what(), "F failed with error NULL parameter");
}

TEST(FromC, ReturnCodesInTheTablePassUnchanged) {
    for (const auto &row : zen::return_code_table())
        EXPECT_EQ(static_cast<uint32_t>(zen::from_c<zen::return_code>(row.code)), row.code);
}

TEST(FromC, UnknownReturnCodeIsInvalidData) {
    for (uint32_t code : {0u, 511u, 523u, 627u}) {
        const zen::zen_error error = from_c_error<zen::return_code>(code);
        EXPECT_EQ(error.code(), zen::return_code::invalid_data);
        EXPECT_EQ(std::string(error.what()), "[from_c] Error: invalid return code " + std::to_string(code) +
                                                 " (unknown code) failed with error Invalid data");
    }
}

TEST(FromC, BoardKindsOneToFiftySevenPass) {
    for (uint32_t k = 1; k <= 57; ++k) EXPECT_EQ(static_cast<uint32_t>(zen::from_c<zen::board_kind>(k)), k);
}

TEST(FromC, BoardKindOutsideRangeIsInvalidData) {
    struct Row {
        uint32_t value;
        const char *what;
    };
    const Row rows[] = {
        {0, "[from_c] Error: invalid board type 0 failed with error Invalid data"},
        {58, "[from_c] Error: invalid board type 58 failed with error Invalid data"},
        {0xFFFFFFFF, "[from_c] Error: invalid board type 4294967295 failed with error Invalid data"},
    };
    for (const Row &row : rows) {
        const zen::zen_error error = from_c_error<zen::board_kind>(row.value);
        EXPECT_EQ(error.code(), zen::return_code::invalid_data);
        EXPECT_STREQ(error.what(), row.what);
    }
}

TEST(FromC, DriverFeaturesZeroToFive) {
    for (uint32_t f = 0; f <= 5; ++f) EXPECT_EQ(static_cast<uint32_t>(zen::from_c<zen::driver_feature>(f)), f);
    EXPECT_EQ(zen::from_c<zen::driver_feature>(2), zen::driver_feature::flash_sector_service);
    EXPECT_EQ(zen::from_c<zen::driver_feature>(5), zen::driver_feature::firmware_upgrade_service);
    const zen::zen_error error = from_c_error<zen::driver_feature>(6);
    EXPECT_EQ(error.code(), zen::return_code::invalid_data);
    EXPECT_STREQ(error.what(), "[from_c] Error: invalid driver feature 6 failed with error Invalid data");
}

TEST(FromC, FirmwareUpgradeStatusZeroToThree) {
    EXPECT_EQ(zen::from_c<zen::firmware_upgrade_status>(0), zen::firmware_upgrade_status::failed);
    EXPECT_EQ(zen::from_c<zen::firmware_upgrade_status>(1), zen::firmware_upgrade_status::in_progress);
    EXPECT_EQ(zen::from_c<zen::firmware_upgrade_status>(2), zen::firmware_upgrade_status::succeeded);
    EXPECT_EQ(zen::from_c<zen::firmware_upgrade_status>(3), zen::firmware_upgrade_status::aborted);
    const zen::zen_error error = from_c_error<zen::firmware_upgrade_status>(4);
    EXPECT_EQ(error.code(), zen::return_code::invalid_data);
    EXPECT_STREQ(error.what(), "[from_c] Error: invalid firwmare upgrade status 4 failed with error Invalid data");
}

TEST(FitU32, LargestThirtyTwoBitValuePasses) {
    EXPECT_EQ(zen::fit_u32(0), 0u);
    EXPECT_EQ(zen::fit_u32(0xFFFFFFFFull), 0xFFFFFFFFu);
}

TEST(FitU32, FourGibibytesFails) {
    for (uint64_t value : {0x100000000ull, 0xFFFFFFFFFFFFFFFFull}) {
        try {
            zen::fit_u32(value);
            ADD_FAILURE() << value << " passed";
        } catch (const zen::zen_error &error) {
            EXPECT_EQ(error.code(), zen::return_code::invalid_data);
            EXPECT_EQ(std::string(error.what()), "Type unsigned long cannot be used to fit value " +
                                                     std::to_string(value) + " failed with error Invalid data");
        }
    }
}

TEST(CheckCall, SuccessPassesSilently) { EXPECT_NO_THROW(zen::check_call(ZENAPI_SUCCESS, "CRomwright::OpenBoard")); }

TEST(CheckCall, FailureNamesTheMethodAndTheLibraryText) {
    for (uint32_t code : {513u, 572u, 627u}) {
        const std::string library_text = KorvelErrorToText(code) ? KorvelErrorToText(code) : "";
        EXPECT_FALSE(library_text.empty()) << code;
        try {
            zen::check_call(code, "CRomwright::EnableFlash");
            ADD_FAILURE() << code << " passed";
        } catch (const zen::zen_error &) {
            ADD_FAILURE() << "check_call raised the binding's own error";
        } catch (const std::runtime_error &error) {
            EXPECT_EQ(std::string(error.what()), "Error in CRomwright::EnableFlash: " + library_text);
        }
        EXPECT_EQ(zen::error_text(code), library_text);
    }
}

} // namespace
