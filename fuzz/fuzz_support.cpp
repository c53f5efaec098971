#include "fuzz/fuzz_support.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzzing {
namespace {

std::size_t g_logged_bytes = 0;

void read_line(ROMWRIGHT_LOG_LEVEL level, const char *text, void *user_data) {
    expect(level >= ROMWRIGHT_LOG_DEBUG && level <= ROMWRIGHT_LOG_ERROR, "log level is one of the four");
    expect(text != nullptr, "log text is not null");
    *static_cast<std::size_t *>(user_data) += std::strlen(text);
}

constexpr uint8_t kBlank = 0xFF;

} // namespace

romwright::LogSink reading_log() { return romwright::LogSink(read_line, &g_logged_bytes); }

void expect(bool holds, const char *property) {
    if (holds) return;
    std::fprintf(stderr, "==romwright-fuzz== property does not hold: %s\n", property);
    std::abort();
}

BlankImage::BlankImage(std::vector<uint8_t> &data, uint32_t length, const std::vector<Patch> &patches)
    : data_(data) {
    data_.resize(length, kBlank);
    for (const Patch &patch : patches) {
        if (patch.at >= length) continue;
        const std::size_t count = std::min<std::size_t>(patch.bytes.size(), length - patch.at);
        std::copy_n(patch.bytes.begin(), count, data_.begin() + patch.at);
        written_.emplace_back(patch.at, count);
    }
}

BlankImage::~BlankImage() {
    for (const auto &[at, count] : written_)
        std::fill_n(data_.begin() + static_cast<std::ptrdiff_t>(at), count, kBlank);
}

} // namespace fuzzing
