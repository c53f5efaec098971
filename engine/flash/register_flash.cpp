#include "engine/flash/register_flash.hpp"

#include <algorithm>

#include <fmt/format.h>

#include <romwright/error.hpp>

namespace romwright {

void RegisterFlash::EraseSectors(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress) {
    const UpdatePlan &plan = work.plan;
    log_.info("Erasing {} of {} sectors.\n", plan.erase_count, plan.erase_map.size());
    Progress(progress, 0.0f);
    if (plan.erase_count <= 0) return;

    const int64_t start = clock_.wall_seconds();
    int32_t erased = 0;
    for (uint32_t sector = 0; sector < plan.erase_map.size(); ++sector) {
        if (!plan.erase_map[sector]) continue;
        Progress(progress, fraction(erased, plan.erase_count));
        // Each sector has retries of its own.
        for (int32_t retry = 0;; ++retry) {
            EraseSector(sector);
            if (SectorReadsErased(sector)) break;
            if (retry >= work.max_retries)
                throw romwright::error(error_kind::verification, "Error: erase retries depleted.");
        }
        ++erased;
    }
    if (work.debug) log_.info("Erased {} sectors in {} seconds.\n", erased, clock_.wall_seconds() - start);
    if (erased != plan.erase_count) throw romwright::error(error_kind::internal, "Error: Not all sectors erased.");
}

std::string RegisterFlash::UnreadableTail(uint32_t sector, uint32_t length, const std::string &what) const {
    const uint64_t size = sector_size();
    return fmt::format("Error: Sector {} (0x{:08X} to 0x{:08X}), in which the image of 0x{:X} bytes ends, could not "
                       "be read: {}. The image may be larger than the board's flash. Nothing was erased.\n",
                       sector, sector * size, (sector + 1) * size - 1, length, what);
}

std::string RegisterFlash::DataPastTheEnd(uint32_t sector, uint32_t address, uint32_t length) {
    return fmt::format("Error: Sector {} holds data at 0x{:08X} beyond the end of the image (0x{:X} bytes); erasing "
                       "it would lose that data. Nothing was erased.\n",
                       sector, address, length);
}

void RegisterFlash::RewriteSector(uint32_t sector, const uint8_t *bytes, uint8_t *scratch) {
    const uint32_t size = sector_size();
    const uint64_t base = uint64_t{sector} * size;
    EraseSector(sector);
    if (!SectorReadsErased(sector))
        throw romwright::error(error_kind::verification,
                               fmt::format("Sector {} at 0x{:08X} does not read erased after its erase", sector, base));
    WriteSector(sector, bytes);
    const SectorRead read = ReadSectorQuickly(sector, scratch);
    if (!read.whole())
        throw romwright::error(error_kind::verification,
                               fmt::format("Sector {} at 0x{:08X} could not be read back: {}", sector, base,
                                           read.failure));
    const auto differs = std::mismatch(scratch, scratch + size, bytes);
    if (differs.first != scratch + size)
        throw romwright::error(error_kind::verification,
                               fmt::format("Verify of sector {} failed at address 0x{:08X}", sector,
                                           base + static_cast<uint64_t>(differs.first - scratch)));
}

} // namespace romwright
