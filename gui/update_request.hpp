// The vocabulary of one update request as it travels from the main window to
// the worker thread: the host the boards are addressed on, which boards to
// update, and the Qt meta-type declarations that let these values (and the
// engine's own types) be copied into queued signals.
#pragma once

#include <cstdint>
#include <string>

#include <QMetaType>

#include <romwright/options.hpp>
#include <romwright/romwright.h>

namespace ba {

// Names the host on which the boards are addressed. Boards are always local
// today, so it carries nothing; it stays in every request so that the request
// keeps its shape if remote hosts come.
struct endpoint {
    bool operator==(const endpoint &) const { return true; }
    bool operator!=(const endpoint &) const { return false; }
};

} // namespace ba

// Which boards one request updates.
enum romwrite_mode : int32_t {
    all_boards = 0,     // every board of every system
    board_system = 1,   // every board of the system system_id
    single_board = 2,   // board board_id of system system_id
};

Q_DECLARE_METATYPE(ba::endpoint)
Q_DECLARE_METATYPE(romwrite_mode)
Q_DECLARE_METATYPE(ROMWRIGHT_OPERATION)
Q_DECLARE_METATYPE(ROMWRIGHT_LOG_LEVEL)
Q_DECLARE_METATYPE(romwright::options)
Q_DECLARE_METATYPE(std::string)

namespace romwright_gui {

// Registers ba::endpoint under its name; the program does this once at start.
void declareEndpointMetaType();

// Registers the engine's types, std::string and romwrite_mode under the names
// the queued signals use. Called by the main window before it wires the worker.
void registerUpdateMetaTypes();

} // namespace romwright_gui
