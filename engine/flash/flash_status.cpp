#include "engine/flash/flash_status.hpp"

namespace romwright {
namespace {

constexpr const char *kTransactionTexts[] = {
    "0: Transaction in progress",
    "1: Transaction success",
    "2: Transaction error",
    "3: Transaction reserved",
};

constexpr const char *kErrorTexts[] = {
    "0: No error",
    "1: Flash not ready for write",
    "2: Timout on writing or reading",
    "3: Not enough room in C2S flash-fifo for flash reading",
};

std::string message_of(const FlashStatus &status) {
    return std::string("Transaction result = ") + describe(status.transaction) +
           "\nError result = " + describe(status.error) + "\n";
}

error_kind kind_of(const FlashStatus &status) {
    return status.error == ErrorResult::timeout ? error_kind::timeout : error_kind::device_call;
}

} // namespace

FlashStatus FlashStatus::decode(uint32_t word) noexcept {
    return FlashStatus{word, static_cast<TransactionResult>((word >> 26) & 3u),
                       static_cast<ErrorResult>((word >> 28) & 3u)};
}

const char *describe(TransactionResult result) noexcept {
    return kTransactionTexts[static_cast<uint32_t>(result) & 3u];
}

const char *describe(ErrorResult result) noexcept { return kErrorTexts[static_cast<uint32_t>(result) & 3u]; }

flash_status_error::flash_status_error(const FlashStatus &status)
    : error(kind_of(status), message_of(status)), status_(status) {}

} // namespace romwright
