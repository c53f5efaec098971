#include "engine/bundle/zip_archive.hpp"

#include <algorithm>
#include <cctype>
#include <climits>
#include <set>

#include <fmt/format.h>
#include <zlib.h>

#include <romwright/error.hpp>

namespace romwright::bundle {
namespace {

constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr std::size_t kLocalHeaderBytes = 30;
constexpr std::size_t kCentralHeaderBytes = 46;
constexpr std::size_t kEndRecordBytes = 22;
constexpr std::size_t kLongestComment = 0xFFFF;

constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;
// Flags a reader may meet without changing how it reads: the deflate level
// (bits 1, 2), a data descriptor after the data (bit 3), UTF-8 names (bit 11).
constexpr uint16_t kDataDescriptorFlag = 0x0008;
constexpr uint16_t kHarmlessFlags = 0x0002 | 0x0004 | kDataDescriptorFlag | 0x0800;
constexpr uint16_t kEncryptedFlags = 0x0001 | 0x0040 | 0x2000;

romwright::error refusal(const std::string &what, const std::string &why) {
    return romwright::error(error_kind::file, fmt::format("{} is not a bundle this program takes: {}", what, why));
}

romwright::error file_refusal(const std::string &what, const std::string &name, const std::string &why) {
    return romwright::error(error_kind::file, fmt::format("{} in {} {}", name, what, why));
}

// Little-endian fields at an offset the caller has checked.
uint16_t u16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// The names Windows keeps for devices, whatever follows their first dot.
bool reserved_on_windows(const std::string &name) {
    static const char *const kDevices[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                           "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                           "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
    std::string stem = name.substr(0, name.find('.'));
    for (char &c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return std::any_of(std::begin(kDevices), std::end(kDevices), [&stem](const char *device) { return stem == device; });
}

std::string folded(const std::string &name) {
    std::string out = name;
    for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The name as a message shows it: printable ASCII, the rest escaped.
std::string shown(const std::string &name) {
    std::string out;
    for (const char c : name.substr(0, kMostNameBytes)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '"')
            out += c;
        else
            out += fmt::format("\\x{:02X}", byte);
    }
    if (name.size() > kMostNameBytes) out += "...";
    return "\"" + out + "\"";
}

struct End {
    std::size_t offset = 0;
    uint16_t entries = 0;
    uint32_t directory_size = 0;
    uint32_t directory_offset = 0;
};

// The end record: the last place whose signature and comment length close
// the bytes exactly.
End find_end(const uint8_t *bytes, std::size_t size, const std::string &what) {
    if (size < kEndRecordBytes) throw refusal(what, fmt::format("it holds {} bytes, too few for a ZIP archive", size));
    const std::size_t lowest = size - kEndRecordBytes > kLongestComment ? size - kEndRecordBytes - kLongestComment : 0;
    for (std::size_t at = size - kEndRecordBytes + 1; at-- > lowest;) {
        const uint8_t *p = bytes + at;
        if (u32(p) != kEndSignature || at + kEndRecordBytes + u16(p + 20) != size) continue;
        if (u16(p + 4) != 0 || u16(p + 6) != 0 || u16(p + 8) != u16(p + 10))
            throw refusal(what, "it spans several disks");
        End end{at, u16(p + 10), u32(p + 12), u32(p + 16)};
        if (end.entries == 0xFFFF || end.directory_size == 0xFFFFFFFF || end.directory_offset == 0xFFFFFFFF)
            throw refusal(what, "it is a ZIP64 archive; a bundle is far smaller than 4 GiB and is not one");
        return end;
    }
    throw refusal(what, "it is not a ZIP archive (no end of central directory record)");
}

struct Central {
    ZipEntry entry;
    uint16_t flags = 0;
    uint32_t local_offset = 0;
};

void check_name(const std::string &what, const std::string &name) {
    const std::string problem = name_problem(name);
    if (!problem.empty()) throw refusal(what, fmt::format("the file {} {}", shown(name), problem));
}

Central read_central(const uint8_t *bytes, std::size_t end, std::size_t &at, const std::string &what) {
    if (end - at < kCentralHeaderBytes || u32(bytes + at) != kCentralSignature)
        throw refusal(what, "its central directory is damaged");
    const uint8_t *p = bytes + at;
    const std::size_t name_bytes = u16(p + 28), extra_bytes = u16(p + 30), comment_bytes = u16(p + 32);
    if (end - at - kCentralHeaderBytes < name_bytes + extra_bytes + comment_bytes)
        throw refusal(what, "its central directory is damaged");
    Central central;
    central.entry.name.assign(reinterpret_cast<const char *>(p + kCentralHeaderBytes), name_bytes);
    central.flags = u16(p + 8);
    central.entry.method = u16(p + 10);
    central.entry.crc32 = u32(p + 16);
    central.entry.compressed_size = u32(p + 20);
    central.entry.size = u32(p + 24);
    central.local_offset = u32(p + 42);
    if (u16(p + 34) != 0) throw refusal(what, "it spans several disks");
    if (central.entry.compressed_size == 0xFFFFFFFF || central.entry.size == 0xFFFFFFFF ||
        central.local_offset == 0xFFFFFFFF)
        throw refusal(what, "it is a ZIP64 archive; a bundle is far smaller than 4 GiB and is not one");
    at += kCentralHeaderBytes + name_bytes + extra_bytes + comment_bytes;
    return central;
}

void check_entry(const Central &central, const std::string &what) {
    const ZipEntry &entry = central.entry;
    const std::string name = shown(entry.name);
    if (central.flags & kEncryptedFlags) throw file_refusal(what, name, "is encrypted");
    if (central.flags & ~(kHarmlessFlags | kEncryptedFlags))
        throw file_refusal(what, name, fmt::format("has flags 0x{:04X}, which this reader does not know", central.flags));
    if (entry.method != kStored && entry.method != kDeflated)
        throw file_refusal(what, name, fmt::format("is compressed by method {}; only stored (0) and deflated (8) "
                                                   "files are taken",
                                                   entry.method));
    if (entry.size == 0) throw file_refusal(what, name, "is empty");
    if (entry.size > kMostEntryBytes)
        throw file_refusal(what, name, fmt::format("is {} bytes long inflated; a bundle's file holds at most {}",
                                                   entry.size, kMostEntryBytes));
    if (entry.method == kStored && entry.compressed_size != entry.size)
        throw file_refusal(what, name, fmt::format("is stored, but its directory gives it {} bytes stored and {} "
                                                   "inflated",
                                                   entry.compressed_size, entry.size));
    if (entry.size > kRatioFloor && entry.size > entry.compressed_size * kMostInflationRatio)
        throw file_refusal(what, name, fmt::format("would inflate {} bytes to {}, more than {} times as many: "
                                                   "refused as a compression bomb",
                                                   entry.compressed_size, entry.size, kMostInflationRatio));
}

// The local header agrees with the directory; where the file's data lies.
uint64_t check_local(const uint8_t *bytes, std::size_t directory_offset, const Central &central,
                     const std::string &what) {
    const ZipEntry &entry = central.entry;
    const std::string name = shown(entry.name);
    const std::size_t at = central.local_offset;
    if (at > directory_offset || directory_offset - at < kLocalHeaderBytes || u32(bytes + at) != kLocalSignature)
        throw file_refusal(what, name, "has no local header where the directory says");
    const uint8_t *p = bytes + at;
    const std::size_t name_bytes = u16(p + 26), extra_bytes = u16(p + 28);
    const uint64_t data = uint64_t{at} + kLocalHeaderBytes + name_bytes + extra_bytes;
    if (data > directory_offset || directory_offset - data < entry.compressed_size)
        throw file_refusal(what, name, "has data that runs into the central directory or past the archive's end");
    const std::string local_name(reinterpret_cast<const char *>(p + kLocalHeaderBytes), name_bytes);
    if (local_name != entry.name)
        throw file_refusal(what, name, fmt::format("has the name {} in its local header", shown(local_name)));
    if (u16(p + 6) != central.flags || u16(p + 8) != entry.method)
        throw file_refusal(what, name, "has a local header whose flags or method differ from the directory's");
    const uint32_t crc = u32(p + 14), compressed = u32(p + 18), inflated = u32(p + 22);
    const bool descriptor = central.flags & kDataDescriptorFlag;
    const auto agrees = [descriptor](uint64_t local, uint64_t central_value) {
        return local == central_value || (descriptor && local == 0);
    };
    if (!agrees(crc, entry.crc32) || !agrees(compressed, entry.compressed_size) || !agrees(inflated, entry.size))
        throw file_refusal(what, name, fmt::format("has a local header that gives {} bytes ({} stored, CRC-32 "
                                                   "{:08x}) where the directory gives {} ({} stored, CRC-32 {:08x})",
                                                   inflated, compressed, crc, entry.size, entry.compressed_size,
                                                   entry.crc32));
    return data;
}

} // namespace

std::string name_problem(const std::string &name) {
    if (name.empty()) return "has no name";
    if (name.size() > kMostNameBytes) return fmt::format("has a name longer than {} bytes", kMostNameBytes);
    if (name[0] == '/' || name[0] == '\\' || (name.size() >= 2 && name[1] == ':'))
        return "has an absolute path; a bundle's files lie at its top level";
    std::size_t begin = 0;
    while (begin <= name.size()) {
        const std::size_t end = std::min(name.find_first_of("/\\", begin), name.size());
        if (name.compare(begin, end - begin, "..") == 0) return "has \"..\" in its path, which would leave the bundle";
        begin = end + 1;
    }
    if (name.find_first_of("/\\") != std::string::npos) return "lies in a folder; a bundle's files lie at its top level";
    for (const char c : name) {
        const bool allowed = std::isalnum(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80;
        if (!allowed && c != '.' && c != '_' && c != '-' && c != '+')
            return "has a character other than letters, digits and . _ - +";
    }
    if (name == "." || name.back() == '.') return "ends in a dot";
    if (reserved_on_windows(name)) return "has a name Windows keeps for a device";
    return {};
}

std::vector<ZipEntry> read_zip_directory(const uint8_t *bytes, std::size_t size, const std::string &what) {
    const End end = find_end(bytes, size, what);
    if (end.entries == 0) throw refusal(what, "it holds no files");
    if (end.entries > kMostArchiveEntries)
        throw refusal(what, fmt::format("it holds {} files; a bundle holds at most {}", end.entries,
                                        kMostArchiveEntries));
    if (uint64_t{end.directory_offset} + end.directory_size != end.offset)
        throw refusal(what, "its central directory does not end where its end record begins");

    std::vector<Central> found;
    std::size_t at = end.directory_offset;
    for (uint16_t i = 0; i < end.entries; ++i) found.push_back(read_central(bytes, end.offset, at, what));
    if (at != end.offset) throw refusal(what, "its central directory holds more than its end record counts");

    std::set<std::string> names;
    uint64_t total = 0;
    for (const Central &central : found) {
        check_name(what, central.entry.name);
        if (!names.insert(folded(central.entry.name)).second)
            throw refusal(what, fmt::format("it holds the file {} twice (names that differ only in the case of "
                                            "their letters are one name on Windows)",
                                            shown(central.entry.name)));
        check_entry(central, what);
        total += central.entry.size;
        if (total > kMostArchiveBytes)
            throw refusal(what, fmt::format("its files inflate to more than {} bytes together", kMostArchiveBytes));
    }

    std::vector<ZipEntry> entries;
    std::vector<std::pair<uint64_t, uint64_t>> spans;  // local header to data end
    for (Central &central : found) {
        central.entry.data_offset = check_local(bytes, end.directory_offset, central, what);
        spans.emplace_back(central.local_offset, central.entry.data_offset + central.entry.compressed_size);
        entries.push_back(central.entry);
    }
    std::sort(spans.begin(), spans.end());
    for (std::size_t i = 1; i < spans.size(); ++i)
        if (spans[i].first < spans[i - 1].second)
            throw refusal(what, "two of its files share bytes (overlapping entries, as a compression bomb has)");
    return entries;
}

std::vector<uint8_t> inflate_zip_entry(const uint8_t *bytes, std::size_t size, const ZipEntry &entry,
                                       const std::string &what) {
    const std::string name = shown(entry.name);
    if (entry.data_offset > size || size - entry.data_offset < entry.compressed_size || entry.size > kMostEntryBytes)
        throw file_refusal(what, name, "lies outside the archive");
    const uint8_t *data = bytes + entry.data_offset;
    std::vector<uint8_t> out(static_cast<std::size_t>(entry.size));
    if (entry.method == kStored) {
        std::copy(data, data + entry.compressed_size, out.begin());
    } else {
        z_stream stream{};
        if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) throw file_refusal(what, name, "cannot be inflated (zlib)");
        stream.next_in = const_cast<Bytef *>(data);
        stream.avail_in = static_cast<uInt>(entry.compressed_size);
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        const int result = inflate(&stream, Z_FINISH);
        const std::string message = stream.msg ? stream.msg : "";
        const uInt left_in = stream.avail_in, left_out = stream.avail_out;
        inflateEnd(&stream);
        if (result == Z_DATA_ERROR || result == Z_NEED_DICT || result == Z_MEM_ERROR)
            throw file_refusal(what, name, fmt::format("has damaged compressed data ({})", message.empty() ? "zlib" : message));
        if (result != Z_STREAM_END && left_out == 0)
            throw file_refusal(what, name, fmt::format("inflates to more than the {} bytes its directory gives it",
                                                       entry.size));
        if (result != Z_STREAM_END) throw file_refusal(what, name, "has compressed data that ends early");
        if (left_out != 0)
            throw file_refusal(what, name, fmt::format("inflates to {} bytes, not the {} its directory gives it",
                                                       entry.size - left_out, entry.size));
        if (left_in != 0) throw file_refusal(what, name, "has bytes after its compressed data");
    }
    uLong crc = crc32(0L, Z_NULL, 0);
    std::size_t done = 0;
    while (done < out.size()) {
        const std::size_t piece = std::min<std::size_t>(out.size() - done, UINT_MAX);
        crc = crc32(crc, out.data() + done, static_cast<uInt>(piece));
        done += piece;
    }
    if (static_cast<uint32_t>(crc) != entry.crc32)
        throw file_refusal(what, name, fmt::format("is damaged: its CRC-32 is {:08x}, the archive says {:08x}",
                                                   static_cast<uint32_t>(crc), entry.crc32));
    return out;
}

} // namespace romwright::bundle
