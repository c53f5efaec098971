// The driver's firmware-upgrade service (driver feature 5): the driver takes
// a copy of the whole image and writes it into the flash from address 0 while
// the caller polls its status. Each poll moves the work on: status 1 with a
// rising percent for the configured number of polls, then the final status
// (2 success, 0 or 3 failure) with its percent. The image reaches the flash
// as the percent rises, erasing each 64 KB block when the writing first
// enters it, so an upgrade that is abandoned or fails part-way leaves the
// flash as a real interrupted upgrade would: new blocks, one partly written
// block, old blocks.
//
// States: idle -> running (KorvelFirmwareUpgradeStart) -> done (final status
// reported). A new start is refused while running and allowed when done.
//
// Not modelled: real time (progress follows the number of polls, not the
// clock), any check of the image's format, power loss inside a block.
#pragma once

#include <cstdint>
#include <vector>

#include "zenapi/sim/machine_config.hpp"
#include "zenapi/sim/nor_flash.hpp"

namespace zenapi_sim {

class UpgradeService {
public:
    enum class State { idle, running, done };
    static constexpr uint32_t kBlockBytes = 0x10000;
    static constexpr uint32_t kStatusRunning = 1;

    UpgradeService(NorFlash &flash, const UpgradeConfig &config);

    uint32_t start(const uint8_t *image, uint32_t size);
    uint32_t poll(uint32_t *status, uint32_t *percent);

    State state() const { return state_; }

private:
    void write_up_to(uint64_t end);
    uint64_t final_bytes() const;

    NorFlash &flash_;
    const UpgradeConfig &config_;
    State state_ = State::idle;
    std::vector<uint8_t> image_;
    uint32_t polls_done_ = 0;
    uint64_t written_ = 0;      // image bytes programmed so far
    uint64_t erased_end_ = 0;   // end of the blocks erased so far
    uint32_t final_status_ = 0;
    uint32_t final_percent_ = 0;
};

} // namespace zenapi_sim
