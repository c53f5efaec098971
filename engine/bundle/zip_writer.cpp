#include "engine/bundle/zip_writer.hpp"

#include <climits>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include <zlib.h>

namespace romwright::bundle {
namespace {

void put16(std::vector<uint8_t> &out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void put32(std::vector<uint8_t> &out, uint32_t value) {
    put16(out, value & 0xFFFFu);
    put16(out, value >> 16);
}

uint32_t fits32(uint64_t value) {
    if (value >= 0xFFFFFFFFull) throw std::runtime_error("a file of 4 GiB or more does not fit a bundle");
    return static_cast<uint32_t>(value);
}

std::vector<uint8_t> deflated(const std::vector<uint8_t> &bytes) {
    if (bytes.size() >= UINT_MAX / 2) throw std::runtime_error("a file of 2 GiB or more does not fit a bundle");
    z_stream stream{};
    if (deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("zlib cannot deflate");
    std::vector<uint8_t> out(deflateBound(&stream, static_cast<uLong>(bytes.size())));
    stream.next_in = const_cast<Bytef *>(bytes.data());
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) throw std::runtime_error("zlib could not deflate a file");
    return out;
}

// MS-DOS date and time words of a UTC text; 1980-01-01 00:00 when it is not one.
std::pair<uint16_t, uint16_t> dos_time(const std::string &utc) {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (std::sscanf(utc.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u", &year, &month, &day, &hour, &minute, &second) != 6 ||
        year < 1980 || year > 2107)
        return {0, static_cast<uint16_t>(1 << 5 | 1)};
    return {static_cast<uint16_t>(hour << 11 | minute << 5 | second / 2),
            static_cast<uint16_t>((year - 1980) << 9 | month << 5 | day)};
}

} // namespace

std::vector<uint8_t> zip_archive(const std::vector<ZipFile> &files, const std::string &utc) {
    const std::pair<uint16_t, uint16_t> stamp = dos_time(utc);
    const uint16_t time = stamp.first, date = stamp.second;
    std::vector<uint8_t> out, directory;
    for (const ZipFile &file : files) {
        std::vector<uint8_t> packed = deflated(file.bytes);
        uint16_t method = 8;
        if (packed.size() >= file.bytes.size()) {
            packed = file.bytes;
            method = 0;
        }
        uLong crc = crc32(0L, Z_NULL, 0);
        crc = crc32(crc, file.bytes.data(), static_cast<uInt>(file.bytes.size()));
        const uint32_t offset = fits32(out.size());
        const auto header = [&](std::vector<uint8_t> &to, bool central) {
            put32(to, central ? 0x02014b50 : 0x04034b50);
            if (central) put16(to, 20);  // made by: MS-DOS, version 2.0
            put16(to, 20);               // needed: 2.0
            put16(to, 0);                // flags
            put16(to, method);
            put16(to, time);
            put16(to, date);
            put32(to, static_cast<uint32_t>(crc));
            put32(to, fits32(packed.size()));
            put32(to, fits32(file.bytes.size()));
            put16(to, static_cast<uint32_t>(file.name.size()));
            put16(to, 0);  // extra field
            if (central) {
                put16(to, 0);  // comment
                put16(to, 0);  // disk
                put16(to, 0);  // internal attributes
                put32(to, 0);  // external attributes
                put32(to, offset);
            }
            to.insert(to.end(), file.name.begin(), file.name.end());
        };
        header(out, false);
        out.insert(out.end(), packed.begin(), packed.end());
        header(directory, true);
    }
    const uint32_t directory_offset = fits32(out.size());
    out.insert(out.end(), directory.begin(), directory.end());
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<uint32_t>(files.size()));
    put16(out, static_cast<uint32_t>(files.size()));
    put32(out, fits32(directory.size()));
    put32(out, directory_offset);
    put16(out, 0);
    fits32(out.size());
    return out;
}

} // namespace romwright::bundle
