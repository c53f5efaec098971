// A board's configuration flash read, compared and written sector by sector
// through the same paths an update uses: page mode's page reads, sector
// mode's flash controller, and the driver's flash-sector service. A board
// whose only path is the firmware-upgrade service cannot be read: that
// service takes an image and reads nothing back.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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

    const std::string &path() const;  // "page mode", "sector mode" or "flash-sector service"
    uint32_t kind() const;
    const std::string &model() const;
    uint32_t sector_size() const;

    // Reads one sector; false when the board refuses the read (past its flash).
    bool ReadSector(uint32_t sector, uint8_t *out);
    // Erases the sector, checks it reads erased, writes bytes (page mode:
    // its pages that are not blank) and reads it back; throws romwright::error
    // (a verification) naming the first address that differs.
    void RewriteSector(uint32_t sector, const uint8_t *bytes);

    // What an update of the board with firmware would write: the image and
    // the sectors to compare (register path: checked and planned as the
    // update does; flash-sector service: the file's sectors from 0).
    void PlanUpdate(const std::string &firmware, std::vector<uint8_t> &image, std::vector<bool> &sectors);

    // The flash size, found by reading: the number of sectors that can be
    // read, by a binary search for the first refused read up to 256 MiB.
    // method says how.
    uint64_t FindFlashSize(std::string &method);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// One range an update of the file would write, compared with the flash.
struct VerifiedRange {
    uint32_t begin = 0, end = 0;
    bool matches = true;
    uint32_t first_difference = 0;  // when it does not
    std::string failure;            // a read refused inside it
};

struct VerifyReport {
    std::string path;  // as BoardFlash::path
    std::string model;
    std::vector<VerifiedRange> ranges;
    bool matches() const;
};

// Reads what an update of board with the file at firmware would write
// (register path: the planned sectors, checked and planned as the update
// does; flash-sector service: the file's sectors from 0) and compares it,
// without erasing or writing. Throws romwright::error on refusals.
VerifyReport verify_firmware(const std::string &firmware, void *board);

// What a backup was taken from, as its description says.
struct BackupOrigin {
    uint32_t kind = 0;
    uint64_t flash_size = 0;
    bool serial_known = false;
    uint32_t serial = 0;
};

struct RestoreReport {
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
// reported). progress gets the fraction of sectors done.
RestoreReport restore_flash(void *board, const std::vector<uint8_t> &backup, const BackupOrigin &origin,
                            bool any_serial, const std::function<void(float)> &progress = {});

// Adler-32 (start value 1) of bytes, as the log header shows a file's.
uint32_t adler32_of(const std::vector<uint8_t> &bytes);

// The board's serial, if it tells.
bool board_serial(void *board, uint32_t &serial);

} // namespace romwright
