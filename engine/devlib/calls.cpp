// Typed wrappers of the device-library calls whose results the engine needs
// as enumerations. A failing call raises zen_error naming the call; its code
// is range-checked first, so an unknown code raises the invalid-code error.
#include <zenapi/Zenapi.h>

#include "engine/devlib/zen.hpp"

namespace zen {
namespace {

void check(uint32_t result, const char *call) {
    if (result != ZENAPI_SUCCESS) throw zen_error(from_c<return_code>(result), call);
}

constexpr uint32_t kFeatureBitSetBytes = 64;
constexpr uint32_t kHighestDriverFeature = 5;

} // namespace

board_kind get_board_kind(void *board) { return from_c<board_kind>(KorvelGetBoardKind(board)); }

std::vector<driver_feature> get_supported_driver_features(void *board) {
    uint8_t bits[kFeatureBitSetBytes] = {};
    check(KorvelGetSupportedDriverFeatures(board, bits), "KorvelGetSupportedDriverFeatures");
    std::vector<driver_feature> features;
    for (uint32_t i = 0; i <= kHighestDriverFeature; ++i)
        if (bits[i / 8] & (1u << (i % 8))) features.push_back(from_c<driver_feature>(i));
    return features;
}

void firmware_upgrade_start(void *board, const uint8_t *image, uint64_t size) {
    const uint32_t size32 = fit_u32(size);
    check(KorvelFirmwareUpgradeStart(board, image, size32), "KorvelFirmwareUpgradeStart");
}

std::pair<firmware_upgrade_status, uint32_t> firmware_upgrade_exec_and_get_status(void *board) {
    uint32_t status = 0;
    uint32_t percent = 0;
    check(KorvelFirmwareUpgradeExecAndGetStatus(board, &status, &percent), "KorvelFirmwareUpgradeExecAndGetStatus");
    return {from_c<firmware_upgrade_status>(status), percent};
}

} // namespace zen
