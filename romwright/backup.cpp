#include "backup.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <set>

#if defined(_WIN32)
#  include <io.h>
#else
#  include <unistd.h>
#endif

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <romwright/board_flash.hpp>
#include <romwright/error.hpp>

#include "file_identity.hpp"
#include "json_writer.hpp"
#include "platform.hpp"

namespace romwright::tool {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// A description read writes is a few hundred bytes.
constexpr uint64_t kLargestDescription = 64 * 1024;
// Read back and compared a piece at a time.
constexpr std::size_t kReadBackPiece = 1 << 20;

// The keys of a description, every one of them, and no other.
const char *const kKeys[] = {"schema_version", "command", "kind", "model", "serial", "revision", "flash_size",
                             "flash_size_found_by", "read_through", "adler32", "time"};
const char *const kPaths[] = {"page mode", "sector mode", "flash-sector service"};

romwright::error file_error(const std::string &message) { return romwright::error(error_kind::file, message); }

// ---------------------------------------------------------------------------
// Files in.

// Opens path for reading only when it is a regular file of at least one
// byte; a FIFO or a device is refused at once, without waiting or reading.
platform::RegularFile open_input(const std::string &path, const char *what) {
    platform::RegularFile file;
    switch (platform::open_regular_file(path, file)) {
    case platform::OpenRegularResult::opened: return file;
    case platform::OpenRegularResult::not_regular:
        throw file_error(fmt::format("{} is not a regular file of at least one byte: a folder, a FIFO, a device or "
                                     "an empty file is no {}",
                                     path, what));
    case platform::OpenRegularResult::cannot_open: break;
    }
    throw file_error(fmt::format("Cannot open the {} {}: {}", what, path, std::strerror(errno)));
}

std::vector<uint8_t> read_whole(platform::RegularFile &file, const std::string &path) {
    std::vector<uint8_t> bytes(static_cast<std::size_t>(file.size));
    if (std::fread(bytes.data(), 1, bytes.size(), file.file.get()) != bytes.size())
        throw file_error(fmt::format("Cannot read the {} bytes of {}", file.size, path));
    return bytes;
}

// ---------------------------------------------------------------------------
// The description, exactly as description_text writes it.

// The value as the document has it, shortened, for messages: in ASCII
// (\u escapes), so that cutting it never splits a character.
std::string shown(const json &value) {
    std::string text = value.dump(-1, ' ', true);
    if (text.size() > 60) text = text.substr(0, 57) + "...";
    return text;
}

[[noreturn]] void refuse(const std::string &sidecar, const char *key, const json &value, const char *wanted) {
    throw file_error(fmt::format("{}: \"{}\" is {}, not {}", sidecar, key, shown(value), wanted));
}

uint64_t whole_number(const json &document, const std::string &sidecar, const char *key, uint64_t least,
                      uint64_t most, const char *wanted) {
    const json &value = document.at(key);
    if (!value.is_number_unsigned() || value.get<uint64_t>() < least || value.get<uint64_t>() > most)
        refuse(sidecar, key, value, wanted);
    return value.get<uint64_t>();
}

std::string text_of(const json &document, const std::string &sidecar, const char *key) {
    const json &value = document.at(key);
    if (!value.is_string()) refuse(sidecar, key, value, "a text");
    return value.get<std::string>();
}

bool is_decimal(const std::string &digits) {
    return !digits.empty() && digits.size() <= 10 &&
           std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
           std::stoull(digits) <= std::numeric_limits<uint32_t>::max();
}

std::optional<Version> revision_of(const json &document, const std::string &sidecar) {
    const json &value = document.at("revision");
    if (value.is_null()) return std::nullopt;
    const std::string text = value.is_string() ? value.get<std::string>() : std::string();
    const std::size_t dot = text.find('.');
    if (dot == std::string::npos || !is_decimal(text.substr(0, dot)) || !is_decimal(text.substr(dot + 1)))
        refuse(sidecar, "revision", value, "a \"major.minor\" text or null");
    return Version{static_cast<uint32_t>(std::stoul(text.substr(0, dot))),
                   static_cast<uint32_t>(std::stoul(text.substr(dot + 1)))};
}

uint32_t adler32_of_text(const json &document, const std::string &sidecar) {
    const json &value = document.at("adler32");
    const std::string text = value.is_string() ? value.get<std::string>() : std::string();
    const bool hex = text.size() == 8 && std::all_of(text.begin(), text.end(), [](char c) {
                         return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
                     });
    if (!hex) refuse(sidecar, "adler32", value, "eight lower-case hex digits");
    return static_cast<uint32_t>(std::stoul(text, nullptr, 16));
}

// The document, parsed strictly: one JSON value and nothing after it. The
// library keeps the last of two equal keys without a word, so the keys of
// the outer object are counted on the way.
json parse_description(const std::string &text, const std::string &sidecar) {
    std::set<std::string> keys;
    std::string twice;
    const json::parser_callback_t count_keys = [&keys, &twice](int depth, json::parse_event_t event, json &parsed) {
        if (event == json::parse_event_t::key && depth == 1 && !keys.insert(parsed.get<std::string>()).second &&
            twice.empty())
            twice = parsed.get<std::string>();
        return true;
    };
    json document;
    try {
        document = json::parse(text, count_keys);
    } catch (const json::parse_error &failure) {
        std::string why = failure.what();
        const std::size_t tag_end = why.find("] ");
        if (why.rfind("[json.exception.", 0) == 0 && tag_end != std::string::npos) why = why.substr(tag_end + 2);
        throw file_error(fmt::format("{} is not a JSON document: {}", sidecar, why));
    }
    if (!document.is_object()) throw file_error(fmt::format("{} is not a JSON object", sidecar));
    if (!twice.empty()) throw file_error(fmt::format("{} has \"{}\" twice", sidecar, twice));
    for (const auto &item : document.items())
        if (std::find_if(std::begin(kKeys), std::end(kKeys), [&item](const char *key) { return item.key() == key; }) ==
            std::end(kKeys))
            throw file_error(
                fmt::format("{} has \"{}\", which a backup description does not have", sidecar, item.key()));
    for (const char *key : kKeys)
        if (!document.contains(key)) throw file_error(fmt::format("{} has no \"{}\"", sidecar, key));
    return document;
}

BackupFacts facts_of(const json &document, const std::string &sidecar) {
    constexpr uint64_t most32 = std::numeric_limits<uint32_t>::max();
    whole_number(document, sidecar, "schema_version", 1, 1, "1");
    if (document.at("command") != "read") refuse(sidecar, "command", document.at("command"), "\"read\"");
    BackupFacts facts;
    facts.kind = static_cast<uint32_t>(
        whole_number(document, sidecar, "kind", 0, most32, "a board kind, a whole number from 0 to 4294967295"));
    facts.model = text_of(document, sidecar, "model");
    if (!document.at("serial").is_null())
        facts.serial = static_cast<uint32_t>(
            whole_number(document, sidecar, "serial", 0, most32, "a whole number from 0 to 4294967295, or null"));
    facts.revision = revision_of(document, sidecar);
    facts.flash_size = whole_number(document, sidecar, "flash_size", 1, kLargestFlash,
                                    "a flash size from 1 to 268435456 bytes");
    facts.size_method = text_of(document, sidecar, "flash_size_found_by");
    facts.path = text_of(document, sidecar, "read_through");
    if (std::find(std::begin(kPaths), std::end(kPaths), facts.path) == std::end(kPaths))
        refuse(sidecar, "read_through", document.at("read_through"),
               "\"page mode\", \"sector mode\" or \"flash-sector service\"");
    facts.adler32 = adler32_of_text(document, sidecar);
    facts.time = text_of(document, sidecar, "time");
    return facts;
}

BackupFacts load_description(const std::string &sidecar) {
    platform::RegularFile file = open_input(sidecar, "backup description");
    if (file.size > kLargestDescription)
        throw file_error(fmt::format("{} holds {} bytes; a backup's description holds a few hundred", sidecar,
                                     file.size));
    const std::vector<uint8_t> bytes = read_whole(file, sidecar);
    return facts_of(parse_description(std::string(bytes.begin(), bytes.end()), sidecar), sidecar);
}

// ---------------------------------------------------------------------------
// Files out.

bool exists(const std::string &path) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(fs::u8path(path), ignored));
}

// A name in the folder of path that nothing has yet: path's own name, a
// random part and ".part", so that one left behind by a kill shows what it was.
fs::path unused_name_beside(const fs::path &path) {
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path name = path.parent_path() / fs::u8path(fmt::format(
                                                      "{}.{:08x}.part", path.filename().u8string(), entropy()));
        if (!exists(name.u8string())) return name;
    }
    throw file_error(fmt::format("Cannot find a free name for a new file beside {}", path.u8string()));
}

// Flushes what was written to file to the disk itself, so that the renamed
// file survives a power loss during the update that follows a backup.
bool flush_to_disk(std::FILE *file) {
    if (std::fflush(file) != 0) return false;
#if defined(_WIN32)
    return _commit(_fileno(file)) == 0;
#else
    return ::fsync(fileno(file)) == 0;
#endif
}

void write_to(const std::string &path, const std::vector<uint8_t> &bytes) {
    platform::SharedFile file = platform::open_shared(path, "wb");
    if (!file) throw file_error(fmt::format("Cannot create {}: {}", path, std::strerror(errno)));
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() || !flush_to_disk(file.get()))
        throw file_error(fmt::format("Cannot write {}: {}", path, std::strerror(errno)));
    if (std::fclose(file.release()) != 0)
        throw file_error(fmt::format("Cannot write {}: {}", path, std::strerror(errno)));
}

void check_reads_back(const std::string &path, const std::vector<uint8_t> &bytes) {
    platform::RegularFile file;
    if (platform::open_regular_file(path, file) != platform::OpenRegularResult::opened || file.size != bytes.size())
        throw file_error(fmt::format("{} does not read back as the {} bytes written to it", path, bytes.size()));
    std::vector<uint8_t> piece(std::min(kReadBackPiece, bytes.size()));
    for (std::size_t at = 0; at < bytes.size(); at += piece.size()) {
        const std::size_t length = std::min(piece.size(), bytes.size() - at);
        if (std::fread(piece.data(), 1, length, file.file.get()) != length ||
            std::memcmp(piece.data(), bytes.data() + at, length) != 0)
            throw file_error(fmt::format("{} does not read back as written: it differs from 0x{:X} on", path, at));
    }
}

} // namespace

std::string description_text(const BackupFacts &facts) {
    JsonWriter json;
    json.begin_object().field("schema_version", uint32_t{1}).field("command", "read");
    json.field("kind", facts.kind).field("model", facts.model).field("serial", facts.serial);
    if (facts.revision) json.field("revision", fmt::format("{}.{}", facts.revision->first, facts.revision->second));
    else json.null_field("revision");
    json.field("flash_size", facts.flash_size).field("flash_size_found_by", facts.size_method);
    json.field("read_through", facts.path).field("adler32", fmt::format("{:08x}", facts.adler32));
    json.field("time", facts.time).end_object();
    return json.text();
}

void check_backup_target(const std::string &out, bool overwrite, const std::string &firmware) {
    const std::string sidecar = out + ".json";
    if (!firmware.empty()) {
        if (platform::same_file(out, firmware))
            throw file_error(fmt::format("The backup {} is the firmware file {}; nothing was read or written", out,
                                         firmware));
        if (platform::same_file(sidecar, firmware))
            throw file_error(fmt::format("The backup's description {} is the firmware file {}; nothing was read or "
                                         "written",
                                         sidecar, firmware));
    }
    if (overwrite) return;
    for (const std::string &target : {out, sidecar})
        if (exists(target))
            throw file_error(fmt::format("{} already exists; --overwrite replaces it", target));
}

void write_whole_file(const std::string &path, const std::vector<uint8_t> &bytes) {
    const fs::path final_name = fs::u8path(path);
    const fs::path temporary = unused_name_beside(final_name);
    try {
        write_to(temporary.u8string(), bytes);
        check_reads_back(temporary.u8string(), bytes);
        std::error_code failure;
        fs::rename(temporary, final_name, failure);
        if (failure)
            throw file_error(fmt::format("Cannot rename {} to {}: {}", temporary.u8string(), path, failure.message()));
    } catch (...) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw;
    }
}

Backup load_backup(const std::string &path) {
    const std::string sidecar = path + ".json";
    Backup backup{load_description(sidecar), {}};
    platform::RegularFile file = open_input(path, "backup");
    if (file.size != backup.facts.flash_size)
        throw file_error(fmt::format("{} holds {} bytes but its description {} says flash_size {}; nothing was "
                                     "written",
                                     path, file.size, sidecar, backup.facts.flash_size));
    backup.bytes = read_whole(file, path);
    const uint32_t adler = adler32_of(backup.bytes);
    if (adler != backup.facts.adler32)
        throw file_error(fmt::format("{} has Adler-32 {:08x} but its description {} says adler32 {:08x}: the backup "
                                     "has changed since it was read; nothing was written",
                                     path, adler, sidecar, backup.facts.adler32));
    return backup;
}

} // namespace romwright::tool
