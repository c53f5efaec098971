#include "zenapi/sim/flash_service.hpp"

#include "zenapi/sim/return_codes.hpp"

namespace zenapi_sim {
namespace {

const SectorStatusFault *find_sector_fault(const std::vector<SectorStatusFault> &faults, uint32_t sector) {
    for (const SectorStatusFault &fault : faults)
        if (fault.sector == sector) return &fault;
    return nullptr;
}

} // namespace

FlashSectorService::FlashSectorService(NorFlash &flash, uint32_t sector_size, const BoardFaults &faults)
    : flash_(flash), sector_size_(sector_size), faults_(faults) {}

uint32_t FlashSectorService::open(uint32_t flags, uint32_t *sector_size, uint32_t *status) {
    if (!sector_size || !status) return rc::null_param;
    if (flags != 0) {
        *status = flash_invalid_parameter;
        return rc::failed;
    }
    state_ = State::open;
    *sector_size = faults_.zero_sector_size ? 0 : sector_size_;
    *status = flash_idle;
    return rc::success;
}

uint32_t FlashSectorService::check_transfer(uint32_t sector, uint32_t count, const void *buffer,
                                            uint32_t *status) const {
    if (!status) return rc::null_param;
    if (!buffer) {
        *status = flash_invalid_parameter;
        return rc::null_param;
    }
    const bool inside = (uint64_t(sector) + 1) * sector_size_ <= flash_.size();
    if (state_ != State::open || count != 1 || !inside) {
        *status = flash_invalid_parameter;
        return rc::failed;
    }
    return rc::success;
}

uint32_t FlashSectorService::write(uint32_t sector, uint32_t count, const void *buffer, uint32_t *status) {
    const uint32_t checked = check_transfer(sector, count, buffer, status);
    if (checked != rc::success) return checked;
    if (const SectorStatusFault *fault = find_sector_fault(faults_.flash_write_status, sector)) {
        *status = fault->status;
        return fault->code;
    }
    const uint64_t offset = uint64_t(sector) * sector_size_;
    flash_.erase(offset, sector_size_);
    flash_.program(offset, static_cast<const uint8_t *>(buffer), sector_size_);
    *status = flash_idle;
    return rc::success;
}

uint32_t FlashSectorService::read(uint32_t sector, uint32_t count, void *buffer, uint32_t *status) const {
    const uint32_t checked = check_transfer(sector, count, buffer, status);
    if (checked != rc::success) return checked;
    if (const SectorStatusFault *fault = find_sector_fault(faults_.flash_read_status, sector)) {
        *status = fault->status;
        return fault->code;
    }
    const uint64_t offset = uint64_t(sector) * sector_size_;
    auto *out = static_cast<uint8_t *>(buffer);
    flash_.read(offset, out, sector_size_);
    for (uint64_t address : faults_.readback_addresses)
        if (address >= offset && address - offset < sector_size_) out[address - offset] ^= 0xFF;
    *status = flash_idle;
    return rc::success;
}

uint32_t FlashSectorService::close() {
    if (state_ != State::open) return rc::failed;
    state_ = State::closed;
    return rc::success;
}

} // namespace zenapi_sim
