#include "engine/image/hex_dump.hpp"

#include <algorithm>
#include <string>

namespace romwright {

namespace {

// Bytes 8 and up of a line sit one blank further right, so the two halves
// of a 16-byte line read apart.
constexpr uint32_t kHalfLine = 8;

bool printable(uint8_t byte) { return byte >= 0x20 && byte <= 0x7E; }

void dump_line(const LogSink &log, const uint8_t *bytes, uint32_t count, uint32_t address, uint32_t per_line) {
    log.info(" {:08X} ", address);
    for (uint32_t column = 0; column < count; ++column) {
        if (column == kHalfLine) log.info(" ");
        log.info("{:02X} ", bytes[column]);
    }
    // A short last line is padded so its characters start where a full line's do.
    for (uint32_t column = count; column < per_line; ++column) {
        if (column == kHalfLine) log.info(" ");
        log.info("   ");
    }
    log.info(" ");
    for (uint32_t column = 0; column < count; ++column) {
        const char shown = printable(bytes[column]) ? static_cast<char>(bytes[column]) : '.';
        log.write(ROMWRIGHT_LOG_INFO, std::string(1, shown));
    }
    log.info("\n");
}

} // namespace

void hex_dump(const LogSink &log, const uint8_t *bytes, std::size_t length, uint32_t address,
              uint32_t bytes_per_line) {
    if (!log.enabled() || length == 0 || bytes == nullptr) return;
    // A zero width would never advance; every caller means the usual 16.
    const uint32_t per_line = bytes_per_line ? bytes_per_line : 16;
    for (std::size_t offset = 0; offset < length; offset += per_line) {
        const uint32_t count = static_cast<uint32_t>(std::min<std::size_t>(per_line, length - offset));
        dump_line(log, bytes + offset, count, address + static_cast<uint32_t>(offset), per_line);
    }
}

} // namespace romwright
