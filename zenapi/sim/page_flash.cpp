#include "zenapi/sim/page_flash.hpp"

#include <cstring>

#include "zenapi/sim/return_codes.hpp"

namespace zenapi_sim {

PageFlash::PageFlash(NorFlash &flash, const BoardFaults &faults)
    : flash_(flash),
      faults_(faults),
      residue_erases_(faults.page_erase_residues.size(), 0),
      program_attempts_(faults.page_program_errors.size(), 0) {}

uint32_t PageFlash::erase_sector(uint32_t sector) {
    const uint64_t offset = uint64_t(sector) * kSectorBytes;
    if (offset + kSectorBytes > flash_.size()) return rc::invalid_address;
    flash_.erase(offset, kSectorBytes);
    apply_erase_residue(sector);
    mode_ = Mode::status;
    return rc::success;
}

void PageFlash::apply_erase_residue(uint32_t sector) {
    for (std::size_t i = 0; i < faults_.page_erase_residues.size(); ++i) {
        const EraseResidueFault &fault = faults_.page_erase_residues[i];
        if (fault.sector != sector || residue_erases_[i] >= fault.times) continue;
        ++residue_erases_[i];
        // Flash words are little-endian in the byte picture of the flash.
        flash_.force_byte(fault.address, static_cast<uint8_t>(fault.value & 0xFF));
        flash_.force_byte(fault.address + 1, static_cast<uint8_t>(fault.value >> 8));
    }
}

uint32_t PageFlash::write_page(uint32_t word_address, const uint16_t *words, bool flash_enabled) {
    if (!words) return rc::null_param;
    const uint64_t offset = uint64_t(word_address) * 2;
    // The part's write buffer holds exactly one page.
    if (offset % kPageBytes) return rc::invalid_address;
    if (offset + kPageBytes > flash_.size()) return rc::invalid_address;
    if (!flash_enabled) return rc::success;   // the bus cycles never reach the part

    uint8_t data[kPageBytes];
    std::memcpy(data, words, kPageBytes);
    apply_program_error(offset, data);
    flash_.program(offset, data, kPageBytes);
    mode_ = Mode::status;
    return rc::success;
}

// "A bit stays 1": the lowest bit that this program would clear at the
// faulted byte is kept set. A page whose data clears no bit there programs
// correctly (but the attempt still counts).
void PageFlash::apply_program_error(uint64_t page_offset, uint8_t *data) {
    for (std::size_t i = 0; i < faults_.page_program_errors.size(); ++i) {
        const ProgramErrorFault &fault = faults_.page_program_errors[i];
        if (fault.address / kPageBytes != page_offset / kPageBytes || program_attempts_[i] >= fault.times) continue;
        ++program_attempts_[i];
        const std::size_t at = static_cast<std::size_t>(fault.address - page_offset);
        const uint8_t old_byte = flash_.bytes()[fault.address];
        const uint8_t cleared = static_cast<uint8_t>(old_byte & ~data[at]);
        if (cleared) data[at] = static_cast<uint8_t>(data[at] | (cleared & -cleared));
    }
}

uint32_t PageFlash::read(uint32_t word_address, uint16_t *words, bool flash_enabled) const {
    if (!words) return rc::null_param;
    const uint64_t offset = uint64_t(word_address) * 2;
    if (offset + kReadWords * 2 > flash_.size()) return rc::invalid_address;
    if (!flash_enabled) {
        for (uint32_t i = 0; i < kReadWords; ++i) words[i] = kFloatingBus;
    } else if (mode_ == Mode::status) {
        for (uint32_t i = 0; i < kReadWords; ++i) words[i] = kStatusReady;
    } else {
        std::memcpy(words, flash_.bytes() + offset, kReadWords * 2);
    }
    return rc::success;
}

uint32_t PageFlash::control_command(uint32_t command) {
    if (command != kReadArrayCommand) return rc::invalid_index;
    mode_ = Mode::read_array;
    return rc::success;
}

} // namespace zenapi_sim
