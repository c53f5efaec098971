#include "engine/image/firmware_file.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

#include <fmt/format.h>

#include <romwright/error.hpp>

namespace romwright {

namespace {

constexpr uint64_t kPositionUnknown = std::numeric_limits<uint64_t>::max();

bool lies_within(uint64_t offset, std::size_t length, uint64_t size) { return length <= size && offset <= size - length; }

} // namespace

void FirmwareBytes::read(uint64_t offset, uint8_t *out, std::size_t length) {
    if (!lies_within(offset, length, size_))
        throw romwright::error(error_kind::internal,
                               fmt::format("Could not read firmware bytes: {} bytes at offset {} lie beyond their {}",
                                           length, offset, size_));
    if (length > 0) std::memcpy(out, bytes_ + offset, length);
}

std::string FirmwareFile::not_regular_message(const std::string &path) {
    return fmt::format("Error: Firmware file {} is not a regular, non-empty file", path);
}

std::optional<FirmwareFile> FirmwareFile::open(const std::string &path) {
    platform::RegularFile opened;
    switch (platform::open_regular_file(path, opened)) {
    case platform::OpenRegularResult::opened: return FirmwareFile(path, std::move(opened));
    case platform::OpenRegularResult::not_regular: throw romwright::error(error_kind::file, not_regular_message(path));
    case platform::OpenRegularResult::cannot_open: break;
    }
    return std::nullopt;
}

void FirmwareFile::read(uint64_t offset, uint8_t *out, std::size_t length) {
    if (!lies_within(offset, length, size_))
        throw romwright::error(error_kind::file,
                               fmt::format("Could not read file {}: {} bytes at offset {} lie beyond its {} bytes",
                                           path_, length, offset, size_));
    if (offset != position_) {
        if (!platform::seek_to(file_.get(), offset))
            throw romwright::error(error_kind::file,
                                   fmt::format("Could not read file {}: cannot move to offset {}", path_, offset));
        position_ = offset;
    }
    while (length > 0) {
        const std::size_t piece = std::min(length, kFirmwareReadChunk);
        if (std::fread(out, 1, piece, file_.get()) != piece) {
            const uint64_t failed_at = position_;
            position_ = kPositionUnknown;
            // The file was sized when it was opened; it has shrunk or the
            // medium failed since.
            throw romwright::error(error_kind::file,
                                   fmt::format("Could not read file {}: {} bytes at offset {} could not be read", path_,
                                               piece, failed_at));
        }
        position_ += piece;
        out += piece;
        length -= piece;
    }
}

void append_from(FirmwareSource &source, uint64_t offset, uint64_t length, std::vector<uint8_t> &out,
                 const std::function<void(const uint8_t *, std::size_t)> &each_chunk) {
    if (length > out.max_size() - out.size())
        throw romwright::error(error_kind::image,
                               fmt::format("Error: {} bytes of firmware do not fit in memory", length));
    out.reserve(out.size() + static_cast<std::size_t>(length));
    for (uint64_t done = 0; done < length;) {
        const std::size_t piece = static_cast<std::size_t>(std::min<uint64_t>(length - done, kFirmwareReadChunk));
        const std::size_t at = out.size();
        out.resize(at + piece);
        source.read(offset + done, out.data() + at, piece);
        if (each_chunk) each_chunk(out.data() + at, piece);
        done += piece;
    }
}

} // namespace romwright
