// romwright list: the machine's systems and boards.
#include <cstdio>
#include <string>

#include <fmt/format.h>

#include <romwright/frontend/inventory.hpp>

#include "commands.hpp"
#include "json_writer.hpp"

namespace romwright::tool {
namespace {

std::string shown(const std::optional<Version> &version) {
    return version ? fmt::format("{}.{}", version->first, version->second) : "unknown";
}

std::optional<std::string> json_version(const std::optional<Version> &version) {
    if (!version) return std::nullopt;
    return fmt::format("{}.{}", version->first, version->second);
}

void print_table(const std::vector<BoardFacts> &boards) {
    std::string out = fmt::format("{:<7} {:<6} {:<5} {:<8} {:<10} {:<5} {:<5} {:<9} {:<25} {}\n", "system", "board",
                                  "kind", "model", "serial", "fpga", "cpld", "revision", "update path", "flash size");
    for (const BoardFacts &b : boards) {
        if (!b.present) {
            out += fmt::format("{:<7} {:<6} (no board)\n", b.system_id, b.board_id);
            continue;
        }
        out += fmt::format("{:<7} {:<6} {:<5} {:<8} {:<10} {:<5} {:<5} {:<9} {:<25} {}\n", b.system_id, b.board_id,
                           b.kind, b.model, b.serial ? std::to_string(*b.serial) : "unknown", shown(b.fpga),
                           shown(b.cpld), shown(b.revision), b.update_path,
                           b.flash_size ? fmt::format("0x{:X}", *b.flash_size) : "unknown");
    }
    if (boards.empty()) out += "(no boards)\n";
    std::fputs(out.c_str(), stdout);
}

void print_json(const std::vector<BoardFacts> &boards) {
    JsonWriter json;
    json.begin_object().field("schema_version", uint32_t{1}).field("command", "list").begin_array("boards");
    for (const BoardFacts &b : boards) {
        json.begin_object().field("system_id", b.system_id).field("board_id", b.board_id).field("present", b.present);
        if (b.present) {
            json.field("kind", b.kind)
                .field("model", b.model)
                .field("serial", b.serial)
                .field("fpga_version", json_version(b.fpga))
                .field("cpld_version", json_version(b.cpld))
                .field("revision", json_version(b.revision))
                .field("update_path", b.update_path)
                .field("flash_size", b.flash_size);
        }
        json.end_object();
    }
    json.end_array().end_object();
    std::fputs(json.text().c_str(), stdout);
}

} // namespace

int run_list(const Arguments &args) {
    const std::vector<BoardFacts> boards = list_boards();
    if (flag(args, "--json"))
        print_json(boards);
    else
        print_table(boards);
    return kExitSuccess;
}

} // namespace romwright::tool
