#include "backup.hpp"

#include <fstream>
#include <sstream>

#include <fmt/format.h>

#include <romwright/error.hpp>

namespace romwright::tool {
namespace {

// The text after "key": in a sidecar that read wrote (one flat object);
// empty when the key is not there.
std::string raw_value(const std::string &document, const std::string &key) {
    const std::string marker = "\"" + key + "\":";
    const std::size_t at = document.find(marker);
    if (at == std::string::npos) return {};
    std::size_t begin = at + marker.size();
    if (document[begin] == '"') return document.substr(begin + 1, document.find('"', begin + 1) - begin - 1);
    const std::size_t end = document.find_first_of(",}", begin);
    return document.substr(begin, end - begin);
}

uint64_t number(const std::string &document, const std::string &key, const std::string &sidecar) {
    const std::string value = raw_value(document, key);
    try {
        std::size_t used = 0;
        const uint64_t parsed = std::stoull(value, &used);
        if (used == value.size()) return parsed;
    } catch (const std::exception &) {
    }
    throw romwright::error(error_kind::file, fmt::format("{} has no {} that restore can use", sidecar, key));
}

} // namespace

BackupFacts load_backup_facts(const std::string &sidecar) {
    std::ifstream in(sidecar, std::ios::binary);
    if (!in) throw romwright::error(error_kind::file, fmt::format("Cannot read {}, the backup's description", sidecar));
    std::stringstream text;
    text << in.rdbuf();
    const std::string document = text.str();
    BackupFacts facts;
    facts.kind = static_cast<uint32_t>(number(document, "kind", sidecar));
    facts.model = raw_value(document, "model");
    facts.flash_size = number(document, "flash_size", sidecar);
    if (raw_value(document, "serial") != "null")
        facts.serial = static_cast<uint32_t>(number(document, "serial", sidecar));
    facts.path = raw_value(document, "read_through");
    return facts;
}

} // namespace romwright::tool
