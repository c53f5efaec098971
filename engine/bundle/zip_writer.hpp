// Writes a ZIP archive in memory: each file deflated (or stored, where
// deflating does not make it smaller), with the time given, in the order
// given. Depends on zlib and the standard library only, so the fuzz targets'
// seed writer builds it as it is. Throws std::runtime_error when zlib fails.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace romwright::bundle {

struct ZipFile {
    std::string name;
    std::vector<uint8_t> bytes;
};

// utc is "YYYY-MM-DDTHH:MM:SSZ"; the archive keeps it as its files' time (an
// archive has no time zone: whoever unpacks it sees that time as local).
std::vector<uint8_t> zip_archive(const std::vector<ZipFile> &files, const std::string &utc);

} // namespace romwright::bundle
