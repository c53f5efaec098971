#include "backup.hpp"

#include <algorithm>
#include <limits>
#include <utility>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <romwright/board_flash.hpp>
#include <romwright/error.hpp>
#include <romwright/frontend/files.hpp>
#include <romwright/programming_path.hpp>
#include <romwright/strict_json.hpp>

#include "json_writer.hpp"

namespace romwright::tool {
namespace {

using nlohmann::json;

// A description read writes is a few hundred bytes.
constexpr uint64_t kLargestDescription = 64 * 1024;

// The keys of a description, every one of them, and no other.
const char *const kKeys[] = {"schema_version", "command", "kind", "model", "serial", "revision", "flash_size",
                             "flash_size_found_by", "read_through", "adler32", "time"};
// The paths a flash is read through.
const ProgrammingPath kReadingPaths[] = {ProgrammingPath::page_mode, ProgrammingPath::sector_mode,
                                         ProgrammingPath::flash_sector_service};

romwright::error file_error(const std::string &message) { return romwright::error(error_kind::file, message); }

// ---------------------------------------------------------------------------
// Files in.

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

// The document, parsed strictly: one JSON value and nothing after it, no key
// twice in an object.
json parse_description(const std::string &text, const std::string &sidecar) {
    StrictJson parsed = parse_json_strictly(text);
    if (!parsed.not_json.empty())
        throw file_error(fmt::format("{} is not a JSON document: {}", sidecar, parsed.not_json));
    const json &document = parsed.document;
    if (!document.is_object()) throw file_error(fmt::format("{} is not a JSON object", sidecar));
    if (!parsed.twice.empty()) throw file_error(fmt::format("{} has \"{}\" twice", sidecar, parsed.twice));
    for (const auto &item : document.items())
        if (std::find_if(std::begin(kKeys), std::end(kKeys), [&item](const char *key) { return item.key() == key; }) ==
            std::end(kKeys))
            throw file_error(
                fmt::format("{} has \"{}\", which a backup description does not have", sidecar, item.key()));
    for (const char *key : kKeys)
        if (!document.contains(key)) throw file_error(fmt::format("{} has no \"{}\"", sidecar, key));
    return std::move(parsed.document);
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
    if (std::none_of(std::begin(kReadingPaths), std::end(kReadingPaths),
                     [&facts](ProgrammingPath path) { return facts.path == path_name(path); }))
        refuse(sidecar, "read_through", document.at("read_through"),
               "\"page mode\", \"sector mode\" or \"flash-sector service\"");
    facts.adler32 = adler32_of_text(document, sidecar);
    facts.time = text_of(document, sidecar, "time");
    return facts;
}

BackupFacts load_description(const std::string &sidecar) {
    frontend::InputFile file(sidecar, "backup description");
    if (file.size() > kLargestDescription)
        throw file_error(fmt::format("{} holds {} bytes; a backup's description holds a few hundred", sidecar,
                                     file.size()));
    const std::vector<uint8_t> bytes = file.ReadAll();
    return facts_of(parse_description(std::string(bytes.begin(), bytes.end()), sidecar), sidecar);
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
        if (frontend::same_file(out, firmware))
            throw file_error(fmt::format("The backup {} is the firmware file {}; nothing was read or written", out,
                                         firmware));
        if (frontend::same_file(sidecar, firmware))
            throw file_error(fmt::format("The backup's description {} is the firmware file {}; nothing was read or "
                                         "written",
                                         sidecar, firmware));
    }
    if (overwrite) return;
    for (const std::string &target : {out, sidecar})
        if (frontend::file_exists(target))
            throw file_error(fmt::format("{} already exists; --overwrite replaces it", target));
}

Backup load_backup(const std::string &path) {
    const std::string sidecar = path + ".json";
    Backup backup{load_description(sidecar), {}};
    frontend::InputFile file(path, "backup");
    if (file.size() != backup.facts.flash_size)
        throw file_error(fmt::format("{} holds {} bytes but its description {} says flash_size {}; nothing was "
                                     "written",
                                     path, file.size(), sidecar, backup.facts.flash_size));
    backup.bytes = file.ReadAll();
    const uint32_t adler = adler32_of(backup.bytes);
    if (adler != backup.facts.adler32)
        throw file_error(fmt::format("{} has Adler-32 {:08x} but its description {} says adler32 {:08x}: the backup "
                                     "has changed since it was read; nothing was written",
                                     path, adler, sidecar, backup.facts.adler32));
    return backup;
}

} // namespace romwright::tool
