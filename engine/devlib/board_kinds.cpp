// Model designations of the board kinds. Firmware file names must carry the
// designation of the board they are meant for, so these texts are part of
// what a user types.
#include <ostream>

#include "engine/devlib/zen.hpp"

namespace zen {
namespace {

// Index i holds kind i + 1.
constexpr const char *kModelNames[] = {
    "ZEN5100", "ZEN5101", "ZEN5102", "ZEN5103", "ZEN5105", "ZEN5106", "ZEN5107", "ZEN5108", "ZEN5109", "ZEN5112",
    "ZEN5110", "ZEN5104", "ZEN5120", "ZEN5130", "ZEN5131", "ZEN5140", "ZEN5141", "ZEN5132", "ZEN5133", "ZEN5111",
    "ZEN5121", "ZEN5150", "ZEN5152", "ZEN5151", "ZEN5160", "ZEN5161", "ZEN5162", "ZEN5123", "ZEN5170", "ZEN5142",
    "ZEN5172", "ZEN5180", "ZEN5171", "ZEN5181", "ZEN5190", "ZEN5191", "ZEN5192", "ZEN5193", "ZEN5173", "ZEN5174",
    "ZEN5182", "ZEN5183", "ZEN5143", "ZEN5144", "ZEN5153", "ZEN5154", "ZEN5163", "ZEN5164", "ZEN5165", "ZEN5175",
    "ZEN5184", "ZEN5185", "ZEN5194", "ZEN5195", "ZEN5196", "ZEN5197", "ZEN5198",
};
static_assert(std::size(kModelNames) == 57, "one designation per board kind 1..57");

} // namespace

const char *model_name(board_kind kind) {
    const uint32_t value = static_cast<uint32_t>(kind);
    if (value < 1 || value > std::size(kModelNames)) return nullptr;
    return kModelNames[value - 1];
}

std::ostream &operator<<(std::ostream &out, board_kind kind) {
    const char *name = model_name(kind);
    if (name)
        out << name;
    else
        out.setstate(std::ios::failbit);
    return out;
}

} // namespace zen
