// Reading a board's [system.board.controller] table: timing, FIFO depths,
// the power-up RCR and the injected faults. Every key is checked; anything
// unknown or out of range stops the machine from loading, naming file, line
// and key, so a typo never silently turns a fault off.
#include <algorithm>
#include <cstdint>
#include <string>

#include <fmt/format.h>

#include "zenapi/sim/config_error.hpp"
#include "zenapi/sim/sector_controller.hpp"

namespace zenapi_sim {

namespace {

const std::string table_key = "system.board.controller";
const std::string fault_key = table_key + ".fault";

[[noreturn]] void fail(const std::string &file, const toml::node &node, const std::string &key,
                       const std::string &problem) {
    throw ConfigError(fmt::format("{}:{}: {}: {}", file, node.source().begin.line, key, problem));
}

int64_t integer_in(const std::string &file, const toml::node &node, const std::string &key, int64_t min,
                   int64_t max) {
    const auto value = node.is_integer() ? node.value<int64_t>() : std::nullopt;
    if (!value || *value < min || *value > max) fail(file, node, key, fmt::format("must be an integer {}..{}", min, max));
    return *value;
}

// --- the controller table -----------------------------------------------

struct NumberKey {
    const char *name;
    uint32_t SectorControllerConfig::*field;
    int64_t min;
    int64_t max;
};

constexpr int64_t one_hour_ms = 3600 * 1000;

const NumberKey number_keys[] = {
    {"erase_ms", &SectorControllerConfig::erase_ms, 0, one_hour_ms},
    {"program_ms", &SectorControllerConfig::program_ms, 0, one_hour_ms},
    {"read_burst_ms", &SectorControllerConfig::read_burst_ms, 0, one_hour_ms},
    {"command_ms", &SectorControllerConfig::command_ms, 0, one_hour_ms},
    {"program_data_timeout_ms", &SectorControllerConfig::program_data_timeout_ms, 0, one_hour_ms},
    {"read_fifo_depth", &SectorControllerConfig::read_fifo_depth, 1, 0xFFFF},
    {"write_fifo_depth", &SectorControllerConfig::write_fifo_depth, 1, 0x100000},
};

// --- faults ---------------------------------------------------------------

struct FaultKind {
    const char *name;
    ControllerFaultType type;
    std::vector<std::string> required;
    std::vector<std::string> optional;
};

const FaultKind fault_kinds[] = {
    {"busy_stuck", ControllerFaultType::busy_stuck, {"command"}, {"times"}},
    {"no_unlock", ControllerFaultType::no_unlock, {"sector"}, {"times"}},
    {"status", ControllerFaultType::status, {"command", "error"}, {"transaction", "word", "times"}},
    {"read_stall", ControllerFaultType::read_stall, {"after"}, {"sector", "times"}},
    {"erase_bits", ControllerFaultType::erase_bits, {"sector", "offset", "mask"}, {"times"}},
    {"program_bits", ControllerFaultType::program_bits, {"sector", "offset", "mask"}, {"times"}},
};

struct FaultField {
    const char *name;
    int64_t min;
    int64_t max;
    void (*store)(ControllerFault &, int64_t);
};

const FaultField fault_fields[] = {
    {"sector", 0, 1023, [](ControllerFault &f, int64_t v) { f.sector = v; }},
    {"error", 0, 3, [](ControllerFault &f, int64_t v) { f.error = uint32_t(v); }},
    {"transaction", 0, 3, [](ControllerFault &f, int64_t v) { f.transaction = uint32_t(v); }},
    {"word", 1, 2, [](ControllerFault &f, int64_t v) { f.word = uint32_t(v); }},
    {"after", 0, UINT32_MAX, [](ControllerFault &f, int64_t v) { f.after_words = uint32_t(v); }},
    {"offset", 0, 0x3FFFF, [](ControllerFault &f, int64_t v) { f.offset = uint32_t(v); }},
    {"mask", 1, 0xFF, [](ControllerFault &f, int64_t v) { f.mask = uint8_t(v); }},
    {"times", 1, INT32_MAX, [](ControllerFault &f, int64_t v) { f.times = uint32_t(v); }},
};

const FaultKind &fault_kind(const std::string &file, const toml::table &fault) {
    const toml::node *type = fault.get("type");
    if (!type) fail(file, fault, fault_key + ".type", "missing");
    std::string names;
    for (const FaultKind &kind : fault_kinds) {
        if (type->value<std::string>() == std::string(kind.name)) return kind;
        names += (names.empty() ? "" : ", ") + std::string(kind.name);
    }
    fail(file, *type, fault_key + ".type", "must be one of " + names);
}

// A command is given by its code or its name.
int command_code(const std::string &file, const toml::node &node) {
    const std::string key = fault_key + ".command";
    if (const auto name = node.value<std::string>(); name && node.is_string()) {
        const int code = sector_controller_command_code(*name);
        if (code < 0) fail(file, node, key, fmt::format("unknown command \"{}\"", *name));
        return code;
    }
    if (!node.is_integer()) fail(file, node, key, "must be a command name or an integer 0..63");
    return int(integer_in(file, node, key, 0, 63));
}

bool listed(const std::vector<std::string> &keys, const std::string &key) {
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

// `blocks`: 256 KB blocks of the board's flash (0: not known here).
ControllerFault parse_fault(const std::string &file, const toml::table &table, uint64_t blocks) {
    const FaultKind &kind = fault_kind(file, table);
    ControllerFault fault;
    fault.type = kind.type;
    for (auto &&[name, node] : table) {
        const std::string key(name.str());
        if (key == "type") continue;
        if (!listed(kind.required, key) && !listed(kind.optional, key))
            fail(file, node, fault_key + "." + key, fmt::format("not a key of a \"{}\" fault", kind.name));
        if (key == "command") {
            fault.command = command_code(file, node);
            continue;
        }
        for (const FaultField &field : fault_fields)
            if (key == field.name) field.store(fault, integer_in(file, node, fault_key + "." + key, field.min, field.max));
    }
    for (const std::string &key : kind.required)
        if (!table.contains(key)) fail(file, table, fault_key + "." + key, fmt::format("missing for a \"{}\" fault", kind.name));
    // A fault on a block the flash does not have would never fire.
    if (blocks && fault.sector >= 0 && uint64_t(fault.sector) >= blocks)
        fail(file, *table.get("sector"), fault_key + ".sector",
             fmt::format("must be an integer 0..{} (a 256 KB block of the board's flash)", blocks - 1));
    return fault;
}

void parse_faults(const std::string &file, const toml::node &node, uint64_t blocks,
                  std::vector<ControllerFault> &faults) {
    const toml::array *array = node.as_array();
    if (!array || !array->is_array_of_tables())
        fail(file, node, fault_key, "must be an array of tables ([[system.board.controller.fault]])");
    for (const toml::node &element : *array) faults.push_back(parse_fault(file, *element.as_table(), blocks));
}

void parse_setting(const std::string &file, const std::string &key, const toml::node &node, uint64_t blocks,
                   SectorControllerConfig &config) {
    const std::string full_key = table_key + "." + key;
    for (const NumberKey &number : number_keys) {
        if (key != number.name) continue;
        config.*number.field = uint32_t(integer_in(file, node, full_key, number.min, number.max));
        return;
    }
    if (key == "rcr") {
        config.rcr = uint16_t(integer_in(file, node, full_key, 0, 0xFFFF));
        return;
    }
    if (key == "fault") return parse_faults(file, node, blocks, config.faults);
    fail(file, node, full_key, "unknown key");
}

} // namespace

SectorControllerConfig parse_sector_controller_config(const toml::table *board, const std::string &file,
                                                      uint64_t flash_size) {
    SectorControllerConfig config;
    const toml::node *node = board ? board->get("controller") : nullptr;
    if (!node) return config;
    const toml::table *table = node->as_table();
    if (!table) fail(file, *node, table_key, "must be a table ([system.board.controller])");
    const uint64_t blocks = (flash_size + 0x3FFFF) / 0x40000;
    for (auto &&[name, value] : *table) parse_setting(file, std::string(name.str()), value, blocks, config);
    return config;
}

} // namespace zenapi_sim
