#include "engine/flash/flash_backend.hpp"

#include <algorithm>
#include <cstddef>

#include <romwright/error.hpp>

namespace romwright {

void FlashBackend::Progress(ROMWRIGHT_PROGRESS_CALLBACK progress, float value) const {
    if (progress) progress(value, log_.user_data());
}

const uint8_t *FlashBackend::ImageBytes(const std::vector<uint8_t> &image, uint64_t offset, uint32_t size) {
    if (offset + size <= image.size()) return image.data() + offset;
    padded_.assign(size, 0xFF);
    if (offset < image.size())
        std::copy(image.begin() + static_cast<std::ptrdiff_t>(offset), image.end(), padded_.begin());
    return padded_.data();
}

void FlashBackend::EraseSectors(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress) {
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

} // namespace romwright
