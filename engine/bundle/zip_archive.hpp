// A bundle's ZIP archive read from its bytes in memory, as hostile input:
// nothing is unpacked to disk, every offset and size the archive states is
// checked against the bytes there are before it is used, and a file is
// inflated into a buffer of the size the archive declares for it and no
// more. What the reader takes:
//
// - one archive on one disk, its end record closing the bytes exactly (no
//   bytes after it but its own comment); no ZIP64, no encryption;
// - at most kMostArchiveEntries files, each stored or deflated, each of 1 to
//   kMostEntryBytes bytes, kMostArchiveBytes in all, none inflating more than
//   kMostInflationRatio times its compressed size (above kRatioFloor bytes);
// - each local header agreeing with the central directory (name, method,
//   flags, and the sizes and CRC-32 unless a data descriptor follows), the
//   files' data lying one after another before the directory, none overlapping;
// - names that are plain file names: no folder, no "..", no absolute path or
//   drive, none twice (nor twice but for the case of its letters, which
//   Windows takes for one name), of letters, digits and . _ - + only, and
//   none that Windows reserves for a device (CON, NUL, COM1, ...).
//
// Every refusal is a romwright::error (a file) that names the archive (the
// `what` given) and, where there is one, the file inside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace romwright::bundle {

inline constexpr std::size_t kMostArchiveEntries = 64;
inline constexpr uint64_t kMostEntryBytes = 256ull << 20;    // a flash of 256 MiB, the largest there is
inline constexpr uint64_t kMostArchiveBytes = 1024ull << 20; // every file inflated, together
inline constexpr uint64_t kMostInflationRatio = 256;
inline constexpr uint64_t kRatioFloor = 1ull << 20;           // smaller files may inflate any amount
inline constexpr std::size_t kMostNameBytes = 200;

struct ZipEntry {
    std::string name;
    uint16_t method = 0;  // 0 stored, 8 deflated
    uint32_t crc32 = 0;
    uint64_t compressed_size = 0;
    uint64_t size = 0;         // inflated
    uint64_t data_offset = 0;  // of the compressed bytes in the archive
};

// The archive's files in the order of its central directory.
std::vector<ZipEntry> read_zip_directory(const uint8_t *bytes, std::size_t size, const std::string &what);

// One file's bytes, inflated into a buffer of entry.size bytes and checked:
// it must fill that buffer exactly, use all its compressed bytes and have
// the CRC-32 the directory says.
std::vector<uint8_t> inflate_zip_entry(const uint8_t *bytes, std::size_t size, const ZipEntry &entry,
                                       const std::string &what);

// Why a name is not one a bundle's file may have ("" when it may).
std::string name_problem(const std::string &name);

} // namespace romwright::bundle
