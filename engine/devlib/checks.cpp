// The binding's error type and the range checks that every value from the
// device library passes before the engine trusts it.
#include <stdexcept>

#include <fmt/format.h>

#include <romwright/board_table.hpp>
#include <zenapi/Zenapi.h>

#include "engine/devlib/zen.hpp"

namespace zen {
namespace {

constexpr uint32_t kDriverFeatureLast = 5;
constexpr uint32_t kUpgradeStatusLast = 3;

std::string text_or_empty(const char *text) { return text ? text : ""; }

[[noreturn]] void throw_invalid(const std::string &what) { throw zen_error(return_code::invalid_data, what); }

} // namespace

zen_error::zen_error(return_code code, const std::string &function)
    : romwright::error(romwright::error_kind::device_call, function), code_(code),
      message_(fmt::format("{} failed with error {}", function, text_or_empty(display_text(code)))) {}

template <> return_code from_c<return_code>(uint32_t value) {
    const return_code code = static_cast<return_code>(value);
    // Codes outside the table have no display text of their own to show.
    if (!display_text(code)) throw_invalid(fmt::format("[{}] Error: invalid return code {} ({})", "from_c", value, "unknown code"));
    return code;
}

template <> board_kind from_c<board_kind>(uint32_t value) {
    // The board kinds are the board table's rows.
    if (!romwright::find_board_model(value))
        throw_invalid(fmt::format("[{}] Error: invalid board type {}", "from_c", value));
    return static_cast<board_kind>(value);
}

template <> driver_feature from_c<driver_feature>(uint32_t value) {
    if (value > kDriverFeatureLast) throw_invalid(fmt::format("[{}] Error: invalid driver feature {}", "from_c", value));
    return static_cast<driver_feature>(value);
}

template <> firmware_upgrade_status from_c<firmware_upgrade_status>(uint32_t value) {
    if (value > kUpgradeStatusLast)
        throw_invalid(fmt::format("[{}] Error: invalid firwmare upgrade status {}", "from_c", value));
    return static_cast<firmware_upgrade_status>(value);
}

uint32_t fit_u32(uint64_t value) {
    if (value > 0xFFFFFFFFull) throw_invalid(fmt::format("Type {} cannot be used to fit value {}", "unsigned long", value));
    return static_cast<uint32_t>(value);
}

std::string error_text(uint32_t result) {
    // Another implementation of the library may hand back no text at all.
    const char *text = KorvelErrorToText(result);
    if (!text) return fmt::format("unknown error {}", result);
    return text;
}

void check_call(uint32_t result, const char *where) {
    if (result != ZENAPI_SUCCESS)
        throw romwright::error(romwright::error_kind::device_call,
                               fmt::format("Error in {}: {}", where, error_text(result)));
}

} // namespace zen
