#include "arguments.hpp"

#include <limits>
#include <stdexcept>

#include <fmt/format.h>

#include <romwright/error.hpp>

namespace romwright::console {

int32_t parse_id(const std::string &key, const std::string &text) {
    std::size_t used = 0;
    long long number = 0;
    try {
        number = std::stoll(text, &used, 10);
    } catch (const std::out_of_range &) {
        throw romwright::error(error_kind::usage, fmt::format("{} {} is out of range", key, text));
    } catch (const std::exception &) {
        used = 0;
    }
    if (used == 0 || used != text.size())
        throw romwright::error(error_kind::usage, fmt::format("{} must be a whole number, not \"{}\"", key, text));
    if (number < std::numeric_limits<int32_t>::min() || number > std::numeric_limits<int32_t>::max())
        throw romwright::error(error_kind::usage, fmt::format("{} {} is out of range", key, number));
    return static_cast<int32_t>(number);
}

} // namespace romwright::console
