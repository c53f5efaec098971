// romwright verify: does the board already hold what an update with the file
// would write? Reads only.
#include <cstdio>
#include <string>

#include <fmt/format.h>

#include <romwright/board_flash.hpp>

#include "commands.hpp"
#include "json_writer.hpp"

namespace romwright::tool {

int run_verify(const Arguments &args) {
    const BoardIds ids = board_ids(args);
    const bool json_output = flag(args, "--json");
    if (!versions_accepted(json_output)) return kExitRefused;
    const OneBoard board = board_at(ids);
    const uint32_t system_id = board.system_id, board_id = board.board_id;
    const std::string file = args.at("<file>").asString();
    const VerifyReport report = verify_firmware(file, board.handle);
    if (json_output) {
        JsonWriter json;
        json.begin_object().field("schema_version", uint32_t{1}).field("command", "verify");
        json.field("system_id", system_id).field("board_id", board_id).field("model", report.model);
        json.field("path", path_name(report.path)).field("file", file).field("matches", report.matches()).begin_array("ranges");
        for (const VerifiedRange &r : report.ranges) {
            json.begin_object().field("begin", r.begin).field("end", r.end).field("matches", r.matches);
            if (r.matches) json.null_field("first_difference"); else json.field("first_difference", r.first_difference);
            json.end_object();
        }
        json.end_array().end_object();
        std::fputs(json.text().c_str(), stdout);
    } else {
        std::string out = fmt::format("Board {}/{} ({}, {}), {}:\n", system_id, board_id, report.model, path_name(report.path), file);
        for (const VerifiedRange &r : report.ranges) {
            out += fmt::format("  0x{:08X}..0x{:08X} ", r.begin, r.end);
            if (r.matches)
                out += "matches\n";
            else
                out += fmt::format("differs at 0x{:08X}{}\n", r.first_difference,
                                   r.failure.empty() ? "" : " (" + r.failure + ")");
        }
        out += report.matches() ? "The board holds this firmware.\n" : "The board does not hold this firmware.\n";
        std::fputs(out.c_str(), stdout);
    }
    return report.matches() ? kExitSuccess : kExitFailure;
}

} // namespace romwright::tool
