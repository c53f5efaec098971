// A board's configuration flash read, compared and written sector by sector
// through the backend of the path that reads it back, which is the path that
// writes it except for the firmware-upgrade service: a board whose only path
// is that service cannot be read (it takes an image and reads nothing back);
// one whose driver also offers the flash-sector service is read through that.
// What an update would write is always asked of the writing path's backend,
// so padding and unwritten pages read back as the update leaves them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <romwright/programming_path.hpp>
#include <romwright/romwright.h>

namespace romwright {

class BoardFlash {
public:
    // Opens and identifies the board as an update does (the same checks and
    // refusals); log lines go to log, if given. Throws romwright::error.
    explicit BoardFlash(void *board, ROMWRIGHT_LOG_CALLBACK log = nullptr, void *user_data = nullptr);
    ~BoardFlash();
    BoardFlash(const BoardFlash &) = delete;
    BoardFlash &operator=(const BoardFlash &) = delete;

    ProgrammingPath path() const;  // the path that reads the flash
    uint32_t kind() const;
    const std::string &model() const;
    uint32_t sector_size() const;
    // Bytes from address 0 that an update never erases (page mode's first
    // 128 KB), which a restore leaves as they are too.
    uint32_t protected_bytes() const;

    // Reads one sector whole into out. A failed read is tried again from a
    // known state; throws romwright::error (a device call) naming the sector,
    // its address and why when it still fails, or when the board says the
    // sector is not in its flash.
    void ReadSector(uint32_t sector, uint8_t *out);
    // Erases the sector (where the path erases apart from writing), writes
    // bytes and reads it back; throws romwright::error (a verification)
    // naming the first address that differs.
    void RewriteSector(uint32_t sector, const uint8_t *bytes);

    // The flash size, found by reading: a binary search for the first sector
    // the board says it does not have, up to 256 MiB. A sector counts as
    // missing only when two reads agree that the board refused it as not in
    // its flash; one that cannot be read for another reason ends the search
    // with a romwright::error naming it. method says how the size was found.
    uint64_t FindFlashSize(std::string &method);

    struct State;

private:
    std::unique_ptr<State> state_;
    friend struct VerifyAccess;
};

// One range an update of the file would write, compared with the flash.
struct VerifiedRange {
    uint32_t begin = 0, end = 0;
    bool matches = true;
    uint32_t first_difference = 0;  // when it does not
    std::string failure;            // a read that failed inside it
};

struct VerifyReport {
    ProgrammingPath path = ProgrammingPath::none;  // the path that read the flash
    std::string model;
    std::vector<VerifiedRange> ranges;
    bool matches() const;
};

// Reads what an update of board with the file at firmware would write
// (register path: the planned sectors, checked and planned as the update
// does; the services: the file's sectors from 0) and compares it with what
// that update leaves there, without erasing or writing. Throws
// romwright::error on refusals.
VerifyReport verify_firmware(const std::string &firmware, void *board);

// What a backup was taken from, as its description says.
struct BackupOrigin {
    uint32_t kind = 0;
    uint64_t flash_size = 0;
    bool serial_known = false;
    uint32_t serial = 0;
};

struct RestoreReport {
    ProgrammingPath path = ProgrammingPath::none;  // the path that read and wrote the flash
    uint32_t sectors = 0;     // of the whole flash
    uint32_t rewritten = 0;   // erased, written and read back
    uint32_t matched = 0;     // already equal: read and compared
    bool protected_area_differs = false;  // page mode's first 128 KB, never erased
    std::string protected_note;
};

// Writes backup (the whole flash) back to board. Refused before the first
// erase (romwright::error, a board) unless the board's kind and flash size
// match origin, and its serial too unless any_serial; the message names what
// differs. Only sectors that differ are erased and written, and each is read
// back; page mode's first 128 KB is never erased (a difference there is only
// reported). progress gets the fraction of sectors done, from the first
// sector compared on.
RestoreReport restore_flash(void *board, const std::vector<uint8_t> &backup, const BackupOrigin &origin,
                            bool any_serial, const std::function<void(float)> &progress = {});

// Adler-32 (start value 1) of bytes, as the log header shows a file's.
uint32_t adler32_of(const std::vector<uint8_t> &bytes);

// The board's serial, if it tells.
bool board_serial(void *board, uint32_t &serial);

} // namespace romwright
