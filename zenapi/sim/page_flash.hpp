// The configuration flash of a page-mode board as the ZEN5110 page calls
// reach it: 128 KB erase sectors, 32-byte program pages, 16-byte reads, all
// at 16-bit word addresses (byte address / 2), NOR rules (erase sets 0xFF,
// programming only clears bits).
//
// The flash leaves read-array mode when it is erased or programmed and then
// answers reads with its status word (ready), until control command 3 puts
// it back into read-array mode, as the parallel NOR parts of these boards do.
// Reads and programs reach the array only while the board's flash enable bit
// is set; otherwise the data lines float and reads see 0x0000 words.
//
// Not modelled: erase and program timing inside the part (an erase completes
// at once; the library call then blocks for the configured busy time), erase
// suspend, block locking, wear and endurance, program-buffer faults other than
// the injected ones.
#pragma once

#include <cstdint>
#include <vector>

#include "zenapi/sim/machine_config.hpp"
#include "zenapi/sim/nor_flash.hpp"

namespace zenapi_sim {

class PageFlash {
public:
    static constexpr uint32_t kSectorBytes = 0x20000;
    static constexpr uint32_t kPageBytes = 32;
    static constexpr uint32_t kPageWords = kPageBytes / 2;
    static constexpr uint32_t kReadWords = 8;
    static constexpr uint32_t kReadArrayCommand = 3;
    static constexpr uint16_t kStatusReady = 0x0080;
    static constexpr uint16_t kFloatingBus = 0x0000;

    PageFlash(NorFlash &flash, const BoardFaults &faults);

    // Each returns a device-library return code.
    uint32_t erase_sector(uint32_t sector);
    uint32_t write_page(uint32_t word_address, const uint16_t *words, bool flash_enabled);
    uint32_t read(uint32_t word_address, uint16_t *words, bool flash_enabled) const;
    uint32_t control_command(uint32_t command);

private:
    enum class Mode { read_array, status };

    void apply_erase_residue(uint32_t sector);
    void apply_program_error(uint64_t page_offset, uint8_t *data);

    NorFlash &flash_;
    const BoardFaults &faults_;
    Mode mode_ = Mode::read_array;   // parts power up in read-array mode
    std::vector<uint32_t> residue_erases_;   // per page_erase_residues entry: erases so far
    std::vector<uint32_t> program_attempts_; // per page_program_errors entry: attempts so far
};

} // namespace zenapi_sim
