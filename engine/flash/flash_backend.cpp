#include "engine/flash/flash_backend.hpp"

#include <algorithm>
#include <cstddef>

namespace romwright {

void FlashBackend::Progress(ROMWRIGHT_PROGRESS_CALLBACK progress, float value) const {
    if (progress) progress(value, log_.user_data());
}

const uint8_t *FlashBackend::ImageBytes(const std::vector<uint8_t> &image, uint64_t offset, uint32_t size,
                                        uint8_t padding) {
    if (offset + size <= image.size()) return image.data() + offset;
    padded_.resize(size);
    CopyPadded(image, offset, size, padding, padded_.data());
    return padded_.data();
}

void FlashBackend::CopyPadded(const std::vector<uint8_t> &image, uint64_t first, uint32_t length, uint8_t padding,
                              uint8_t *out) {
    const uint64_t from_image = first < image.size() ? std::min<uint64_t>(length, image.size() - first) : 0;
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(std::min<uint64_t>(first, image.size())), from_image, out);
    std::fill(out + from_image, out + length, padding);
}

} // namespace romwright
