// Model designations of the board kinds, from the engine's board table.
// Firmware file names must carry the designation of the board they are meant
// for, so these texts are part of what a user types.
#include <ostream>

#include <romwright/board_table.hpp>

#include "engine/devlib/zen.hpp"

namespace zen {

const char *model_name(board_kind kind) {
    const romwright::BoardModel *model = romwright::find_board_model(static_cast<uint32_t>(kind));
    return model ? model->designation : nullptr;
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
