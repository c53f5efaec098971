// The four ways a board's flash is programmed, and the one place that picks
// a board's way: the driver's firmware-upgrade service, else its flash-sector
// service, else the engine's own register path in the mode the board table
// gives the board's kind. Programs show a path by its name; the code keys on
// the value.
#pragma once

namespace romwright {

enum class ProgrammingPath {
    firmware_upgrade_service,  // the driver takes the whole image and reads nothing back
    flash_sector_service,      // the library erases, writes and reads whole sectors of its size
    page_mode,                 // the engine's page calls: 128 KB sectors, 32-byte pages
    sector_mode,               // the engine's flash controller driver: 256 KB sectors
    none,                      // no service, and a kind the engine does not program (its update refuses it)
};

// "firmware-upgrade service", "flash-sector service", "page mode", "sector mode" or "none".
const char *path_name(ProgrammingPath path) noexcept;

// Whether the engine programs the path itself, through the board's registers
// (none included: the register path is what refuses such a board).
bool through_registers(ProgrammingPath path) noexcept;

// The path an update of board takes. Raises romwright::error (a device call)
// when the driver's features cannot be read.
ProgrammingPath choose_path(void *board);

// The first half of choose_path, asking the driver only: its service that
// an update of board takes, or none when the engine programs the board
// through its registers (whose mode identification then reads from the board).
ProgrammingPath service_path(void *board);

// The path through which the flash of board is read back. It is the path
// that writes it, except for the firmware-upgrade service, which reads
// nothing: such a board is read through the flash-sector service when its
// driver offers that too, and otherwise cannot be read (the result is then
// the firmware-upgrade service).
ProgrammingPath choose_read_path(void *board);

} // namespace romwright
