// A board's configuration flash read, compared and written sector by sector
// through the same paths an update uses: page mode's page reads, sector
// mode's flash controller, and the driver's flash-sector service. A board
// whose only path is the firmware-upgrade service cannot be read: that
// service takes an image and reads nothing back.
#pragma once

#include <cstdint>
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

// Adler-32 (start value 1) of bytes, as the log header shows a file's.
uint32_t adler32_of(const std::vector<uint8_t> &bytes);

// The board's serial, if it tells.
bool board_serial(void *board, uint32_t &serial);

} // namespace romwright
