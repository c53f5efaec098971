#include "zenapi/sim/upgrade_service.hpp"

#include <algorithm>

#include "zenapi/sim/return_codes.hpp"

namespace zenapi_sim {

namespace {
constexpr uint32_t kStatusSuccess = 2;
}

UpgradeService::UpgradeService(NorFlash &flash, const UpgradeConfig &config) : flash_(flash), config_(config) {}

uint32_t UpgradeService::start(const uint8_t *image, uint32_t size) {
    if (!image) return rc::null_param;
    if (state_ == State::running) return rc::busy;
    if (size == 0 || size > flash_.size()) return rc::invalid_size;
    image_.assign(image, image + size);
    state_ = State::running;
    polls_done_ = 0;
    written_ = 0;
    erased_end_ = 0;
    return rc::success;
}

// How far the work gets: the whole image on success, the end percent of it
// on failure.
uint64_t UpgradeService::final_bytes() const {
    if (config_.end_status == kStatusSuccess) return image_.size();
    return image_.size() * config_.end_percent / 100;
}

void UpgradeService::write_up_to(uint64_t end) {
    end = std::min<uint64_t>(end, image_.size());
    while (written_ < end) {
        if (written_ >= erased_end_) {
            flash_.erase(erased_end_, kBlockBytes);
            erased_end_ += kBlockBytes;
        }
        const uint64_t chunk = std::min(end, erased_end_) - written_;
        flash_.program(written_, image_.data() + written_, static_cast<std::size_t>(chunk));
        written_ += chunk;
    }
}

uint32_t UpgradeService::poll(uint32_t *status, uint32_t *percent) {
    if (!status || !percent) return rc::null_param;
    if (state_ == State::idle) return rc::no_action;
    if (state_ == State::running) {
        ++polls_done_;
        const uint64_t steps = uint64_t(config_.polls) + 1;
        if (polls_done_ <= config_.polls) {
            write_up_to(final_bytes() * polls_done_ / steps);
            *status = kStatusRunning;
            *percent = static_cast<uint32_t>(uint64_t(config_.end_percent) * polls_done_ / steps);
            return rc::success;
        }
        write_up_to(final_bytes());
        final_status_ = config_.end_status;
        final_percent_ = config_.end_percent;
        state_ = State::done;
        image_.clear();
        image_.shrink_to_fit();
    }
    *status = final_status_;
    *percent = final_percent_;
    return rc::success;
}

} // namespace zenapi_sim
