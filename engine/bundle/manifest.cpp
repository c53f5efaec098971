// A bundle's manifest, parsed as hostile input: one JSON object and nothing
// else, no key twice at any depth, the keys below and no other, each of its
// type and range; then the rules that span entries (no file twice, no two
// files for one board).
#include <romwright/bundle.hpp>

#include <algorithm>
#include <cctype>
#include <set>
#include <utility>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <romwright/board_table.hpp>
#include <romwright/error.hpp>
#include <romwright/strict_json.hpp>

#include "engine/bundle/zip_archive.hpp"

namespace romwright {
namespace {

using nlohmann::json;

constexpr std::size_t kLargestManifest = 1u << 20;
constexpr std::size_t kLongestText = 200;

const char *const kTopKeys[] = {"schema_version", "name", "version", "created", "files"};
const char *const kFileKeys[] = {"file", "models", "revision", "variant", "size", "sha256"};
const char *const kRequiredFileKeys[] = {"file", "models", "size", "sha256"};

romwright::error refusal(const std::string &what, const std::string &why) {
    return romwright::error(error_kind::file, fmt::format("{}: {}", what, why));
}

// A value as a message shows it: in ASCII, shortened. A list or an object
// is only counted: written out, one nested a million deep would take the
// writer's recursion as deep.
std::string shown(const json &value) {
    if (value.is_array()) return value.empty() ? "[]" : fmt::format("a list of {}", value.size());
    if (value.is_object()) return value.empty() ? "{}" : fmt::format("an object of {} keys", value.size());
    std::string text = value.dump(-1, ' ', true);
    if (text.size() > 60) text = text.substr(0, 57) + "...";
    return text;
}

template <std::size_t N> bool one_of(const std::string &key, const char *const (&keys)[N]) {
    return std::any_of(std::begin(keys), std::end(keys), [&key](const char *k) { return key == k; });
}

json parse_strictly(const std::string &text, const std::string &what) {
    if (text.size() > kLargestManifest)
        throw refusal(what, fmt::format("it holds {} bytes; a manifest holds at most {}", text.size(), kLargestManifest));
    StrictJson parsed = parse_json_strictly(text);
    if (!parsed.not_json.empty()) throw refusal(what, fmt::format("not a JSON document: {}", parsed.not_json));
    if (!parsed.twice.empty()) throw refusal(what, fmt::format("it has \"{}\" twice in one object", parsed.twice));
    const json &document = parsed.document;
    if (!document.is_object()) throw refusal(what, "not a JSON object");
    return std::move(parsed.document);
}

void check_keys(const json &object, const std::string &where, const std::string &what, const char *const *begin,
                const char *const *end, const char *const *required_begin, const char *const *required_end) {
    for (const auto &item : object.items())
        if (std::none_of(begin, end, [&item](const char *key) { return item.key() == key; }))
            throw refusal(what, fmt::format("{} has \"{}\", which a manifest does not have", where, item.key()));
    for (const char *const *key = required_begin; key != required_end; ++key)
        if (!object.contains(*key)) throw refusal(what, fmt::format("{} has no \"{}\"", where, *key));
}

[[noreturn]] void wrong(const std::string &what, const std::string &where, const char *key, const json &value,
                        const std::string &wanted) {
    throw refusal(what, fmt::format("{} \"{}\" is {}, not {}", where, key, shown(value), wanted));
}

std::string text_of(const json &object, const char *key, const std::string &where, const std::string &what) {
    const json &value = object.at(key);
    if (!value.is_string()) wrong(what, where, key, value, "a text");
    const std::string text = value.get<std::string>();
    const bool control = std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    if (text.empty() || text.size() > kLongestText || control)
        wrong(what, where, key, value, fmt::format("a text of 1 to {} bytes without control characters", kLongestText));
    return text;
}

uint64_t number_of(const json &object, const char *key, uint64_t least, uint64_t most, const std::string &where,
                   const std::string &what) {
    const json &value = object.at(key);
    if (!value.is_number_unsigned() || value.get<uint64_t>() < least || value.get<uint64_t>() > most)
        wrong(what, where, key, value, fmt::format("a whole number from {} to {}", least, most));
    return value.get<uint64_t>();
}

bool is_utc_time(const std::string &text) {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char z = 0, end = 0;
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':')
        return false;
    for (const std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18})
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    if (std::sscanf(text.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u%c%c", &year, &month, &day, &hour, &minute, &second, &z,
                    &end) != 7)
        return false;
    return z == 'Z' && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23 && minute <= 59 &&
           second <= 60;
}

std::optional<Version> version_of(const std::string &text) {
    const std::size_t dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == text.size() || dot > 3 || text.size() - dot - 1 > 3)
        return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (i != dot && !std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    const Version version{static_cast<uint32_t>(std::stoul(text.substr(0, dot))),
                          static_cast<uint32_t>(std::stoul(text.substr(dot + 1)))};
    if (version.first > 255 || version.second > 255) return std::nullopt;
    return version;
}

void read_revision(const json &entry, const std::string &where, const std::string &what, BundleFile &file) {
    const json &rule = entry.at("revision");
    if (!rule.is_object() || rule.empty())
        wrong(what, where, "revision", rule, "an object with \"min\", \"max\" or both");
    for (const auto &item : rule.items()) {
        if (item.key() != "min" && item.key() != "max")
            throw refusal(what, fmt::format("{} \"revision\" has \"{}\"; a revision rule has \"min\" and \"max\"",
                                            where, item.key()));
        const std::optional<Version> version =
            item.value().is_string() ? version_of(item.value().get<std::string>()) : std::nullopt;
        if (!version)
            throw refusal(what, fmt::format("{} \"revision\" \"{}\" is {}, not a \"major.minor\" text", where,
                                            item.key(), shown(item.value())));
        (item.key() == "min" ? file.revision_min : file.revision_max) = version;
    }
    if (file.revision_min && file.revision_max && *file.revision_min > *file.revision_max)
        throw refusal(what, fmt::format("{} \"revision\" has a \"min\" above its \"max\"", where));
}

void read_variants(const json &entry, const std::string &where, const std::string &what, BundleFile &file) {
    const json &list = entry.at("variant");
    if (!list.is_array() || list.empty() || list.size() > 256)
        wrong(what, where, "variant", list, "a list of the board variants (0 to 255) the file is for");
    for (const json &value : list) {
        if (!value.is_number_unsigned() || value.get<uint64_t>() > 255)
            wrong(what, where, "variant", list, "a list of the board variants (0 to 255) the file is for");
        const auto variant = static_cast<uint32_t>(value.get<uint64_t>());
        if (std::find(file.variants.begin(), file.variants.end(), variant) != file.variants.end())
            throw refusal(what, fmt::format("{} \"variant\" lists {} twice", where, variant));
        file.variants.push_back(variant);
    }
}

void read_models(const json &entry, const std::string &where, const std::string &what, BundleFile &file) {
    const json &list = entry.at("models");
    if (!list.is_array() || list.empty() || list.size() > 64)
        wrong(what, where, "models", list, "a list of model designations");
    for (const json &value : list) {
        const std::string model = value.is_string() ? value.get<std::string>() : std::string();
        const auto known = std::find_if(board_models().begin(), board_models().end(),
                                        [&model](const BoardModel &row) { return model == row.designation; });
        if (known == board_models().end() || known->path == UpdatePath::unsupported)
            throw refusal(what, fmt::format("{} \"models\" names {}, which is not a model an update takes", where,
                                            shown(value)));
        if (std::find(file.models.begin(), file.models.end(), model) != file.models.end())
            throw refusal(what, fmt::format("{} \"models\" names {} twice", where, model));
        if (file.file.find(model) == std::string::npos)
            throw refusal(what, fmt::format("{} is for {}, but its name does not carry \"{}\", which the update's "
                                            "file-name check needs",
                                            where, model, model));
        file.models.push_back(model);
    }
}

BundleFile read_file_entry(const json &entry, std::size_t index, const std::string &what) {
    std::string where = fmt::format("file {}", index + 1);
    if (!entry.is_object()) throw refusal(what, fmt::format("{} is {}, not an object", where, shown(entry)));
    check_keys(entry, where, what, std::begin(kFileKeys), std::end(kFileKeys), std::begin(kRequiredFileKeys),
               std::end(kRequiredFileKeys));
    BundleFile file;
    file.file = text_of(entry, "file", where, what);
    where = fmt::format("file {} ({})", index + 1, file.file);
    const std::string problem = bundle::name_problem(file.file);
    if (!problem.empty()) throw refusal(what, fmt::format("{} {}", where, problem));
    if (file.file == kManifestName) throw refusal(what, fmt::format("{} is the manifest itself", where));
    if (file.file.find(".pof") == std::string::npos && file.file.find(".rpd") == std::string::npos)
        throw refusal(what, fmt::format("{}: its name carries neither \".pof\" nor \".rpd\", which the update's "
                                        "file-name check needs",
                                        where));
    read_models(entry, where, what, file);
    if (entry.contains("revision")) read_revision(entry, where, what, file);
    if (entry.contains("variant")) {
        for (const std::string &model : file.models) {
            const auto row = std::find_if(board_models().begin(), board_models().end(),
                                          [&model](const BoardModel &m) { return model == m.designation; });
            if (row->variant == VariantRule::none)
                throw refusal(what, fmt::format("{} has \"variant\", but a {} has no board variant", where, model));
        }
        read_variants(entry, where, what, file);
    }
    file.size = number_of(entry, "size", 1, bundle::kMostEntryBytes, where, what);
    const json &hash = entry.at("sha256");
    const std::string digits = hash.is_string() ? hash.get<std::string>() : std::string();
    if (digits.size() != 64 || !std::all_of(digits.begin(), digits.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        }))
        wrong(what, where, "sha256", hash, "64 lower-case hex digits");
    file.sha256 = digits;
    return file;
}

// Whether two files' rules both take some board of a model they share.
bool overlap(const BundleFile &a, const BundleFile &b) {
    const Version lowest{0, 0}, highest{255, 255};
    const Version a_min = a.revision_min.value_or(lowest), a_max = a.revision_max.value_or(highest);
    const Version b_min = b.revision_min.value_or(lowest), b_max = b.revision_max.value_or(highest);
    if (a_max < b_min || b_max < a_min) return false;
    if (a.variants.empty() || b.variants.empty()) return true;
    return std::any_of(a.variants.begin(), a.variants.end(), [&b](uint32_t v) {
        return std::find(b.variants.begin(), b.variants.end(), v) != b.variants.end();
    });
}

std::string folded(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

std::string version_text(const Version &version) { return fmt::format("{}.{}", version.first, version.second); }

bool BundleFile::takes(const std::string &model, const std::optional<Version> &revision,
                       const std::optional<uint32_t> &variant) const {
    if (std::find(models.begin(), models.end(), model) == models.end()) return false;
    if (has_revision_rule()) {
        if (!revision) return false;
        if (revision_min && *revision < *revision_min) return false;
        if (revision_max && *revision > *revision_max) return false;
    }
    if (!variants.empty() && (!variant || std::find(variants.begin(), variants.end(), *variant) == variants.end()))
        return false;
    return true;
}

BundleManifest parse_manifest(const std::string &text, const std::string &what) {
    const json document = parse_strictly(text, what);
    check_keys(document, "the manifest", what, std::begin(kTopKeys), std::end(kTopKeys), std::begin(kTopKeys),
               std::end(kTopKeys));
    BundleManifest manifest;
    manifest.schema_version = static_cast<uint32_t>(
        number_of(document, "schema_version", kBundleSchemaVersion, kBundleSchemaVersion, "the manifest", what));
    manifest.name = text_of(document, "name", "the manifest", what);
    manifest.version = text_of(document, "version", "the manifest", what);
    manifest.created = text_of(document, "created", "the manifest", what);
    if (!is_utc_time(manifest.created))
        wrong(what, "the manifest", "created", document.at("created"), "a UTC time \"YYYY-MM-DDTHH:MM:SSZ\"");
    const json &files = document.at("files");
    if (!files.is_array() || files.empty() || files.size() >= bundle::kMostArchiveEntries)
        wrong(what, "the manifest", "files", files,
              fmt::format("a list of 1 to {} files", bundle::kMostArchiveEntries - 1));
    std::set<std::string> names;
    for (std::size_t i = 0; i < files.size(); ++i) {
        BundleFile file = read_file_entry(files[i], i, what);
        if (!names.insert(folded(file.file)).second)
            throw refusal(what, fmt::format("it lists the file {} twice", file.file));
        for (const BundleFile &earlier : manifest.files)
            for (const std::string &model : file.models)
                if (std::find(earlier.models.begin(), earlier.models.end(), model) != earlier.models.end() &&
                    overlap(earlier, file))
                    throw refusal(what, fmt::format("both {} and {} are for {} boards of the same revision and "
                                                    "variant; each board must have one file (give them \"revision\" "
                                                    "or \"variant\" rules that do not overlap)",
                                                    earlier.file, file.file, model));
        manifest.files.push_back(std::move(file));
    }
    return manifest;
}

std::string manifest_text(const BundleManifest &manifest) {
    // In the order a reader expects them, not the keys' alphabetical order.
    using ordered = nlohmann::ordered_json;
    ordered document = ordered::object();
    document["schema_version"] = manifest.schema_version;
    document["name"] = manifest.name;
    document["version"] = manifest.version;
    document["created"] = manifest.created;
    ordered files = ordered::array();
    for (const BundleFile &file : manifest.files) {
        ordered entry = ordered::object();
        entry["file"] = file.file;
        entry["models"] = file.models;
        if (file.has_revision_rule()) {
            ordered rule = ordered::object();
            if (file.revision_min) rule["min"] = version_text(*file.revision_min);
            if (file.revision_max) rule["max"] = version_text(*file.revision_max);
            entry["revision"] = rule;
        }
        if (!file.variants.empty()) entry["variant"] = file.variants;
        entry["size"] = file.size;
        entry["sha256"] = file.sha256;
        files.push_back(entry);
    }
    document["files"] = files;
    return document.dump(2) + "\n";
}

} // namespace romwright
