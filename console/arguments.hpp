// The system and board IDs of a console program's command line.
#pragma once

#include <cstdint>
#include <string>

namespace romwright::console {

// text as a whole number that fits 32 bits (an ID that does not fit would
// select some other system or board). Raises romwright::error (usage)
// naming the option: "<key> must be a whole number, not \"<text>\"" or
// "<key> <number> is out of range".
int32_t parse_id(const std::string &key, const std::string &text);

} // namespace romwright::console
