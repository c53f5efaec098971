// The driver's flash-sector service (driver feature 2): open, whole-sector
// writes and reads, close. A write erases the sector and programs it, so the
// sector afterwards holds exactly the data; a read returns the flash.
//
// States: closed -> open (KorvelFlashOpen) -> closed (KorvelFlashClose).
// Opening an open service succeeds again (the driver keeps one session per
// board and process).
//
// Not modelled: the time a sector erase and program take (calls complete at
// once), partial sector writes (count must be 1), write protection, and
// erase or program failures other than the injected statuses.
#pragma once

#include <cstdint>

#include "zenapi/sim/machine_config.hpp"
#include "zenapi/sim/nor_flash.hpp"

namespace zenapi_sim {

// The flash status that the service's calls report.
enum FlashStatus : uint32_t {
    flash_idle = 0,
    flash_busy = 1,
    flash_busy_timeout = 2,
    flash_erase_failed = 3,
    flash_program_failed = 4,
    flash_protect_failed = 5,
    flash_invalid_parameter = 6,
    flash_unsupported = 7,
};

class FlashSectorService {
public:
    enum class State { closed, open };

    FlashSectorService(NorFlash &flash, uint32_t sector_size, const BoardFaults &faults);

    uint32_t open(uint32_t flags, uint32_t *sector_size, uint32_t *status);
    uint32_t write(uint32_t sector, uint32_t count, const void *buffer, uint32_t *status);
    uint32_t read(uint32_t sector, uint32_t count, void *buffer, uint32_t *status) const;
    uint32_t close();

    State state() const { return state_; }

private:
    // Common checks of a sector transfer; sets *status and returns the code
    // to answer, or success when the transfer may go ahead.
    uint32_t check_transfer(uint32_t sector, uint32_t count, const void *buffer, uint32_t *status) const;

    NorFlash &flash_;
    uint32_t sector_size_;
    const BoardFaults &faults_;
    State state_ = State::closed;
};

} // namespace zenapi_sim
