// Return codes of the device library (512 is success) and the library's own
// description of each, as KorvelErrorToText gives it.
#pragma once

#include <cstdint>

namespace zenapi_sim {

namespace rc {
constexpr uint32_t success = 512;
constexpr uint32_t failed = 513;
constexpr uint32_t access_denied = 514;
constexpr uint32_t null_param = 531;
constexpr uint32_t unsupported_function = 533;
constexpr uint32_t invalid_size = 536;
constexpr uint32_t invalid_address = 537;
constexpr uint32_t invalid_index = 539;
constexpr uint32_t not_initialized = 556;
constexpr uint32_t no_action = 562;
constexpr uint32_t invalid_handle = 572;
constexpr uint32_t busy = 617;
} // namespace rc

// The library's text for a code; null for a code the library never returns.
const char *find_return_code_text(uint32_t code);

// Every code the library can return, in ascending order.
const uint32_t *return_codes_begin();
const uint32_t *return_codes_end();

} // namespace zenapi_sim
