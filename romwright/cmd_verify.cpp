// romwright verify: does the board already hold what an update with the file
// would write? Reads only.
#include <cstdio>
#include <string>

#include <fmt/format.h>

#include <optional>

#include <romwright/board_flash.hpp>
#include <romwright/error.hpp>
#include <romwright/frontend/bundle_source.hpp>

#include "commands.hpp"
#include "json_writer.hpp"

namespace romwright::tool {

int run_verify(const Arguments &args) {
    const BoardIds ids = board_ids(args);
    const bool json_output = flag(args, "--json");
    const std::string file = args.at("<file>").asString();
    // A bundle is read and checked whole, with its signature, before the
    // first device-library call.
    std::optional<frontend::OpenedBundle> opened;
    if (frontend::is_bundle_path(file)) opened = frontend::open_bundle(file, bundle_policy(args), kProgram);
    if (!versions_accepted(json_output)) return kExitRefused;
    const OneBoard board = board_at(ids);
    const uint32_t system_id = board.system_id, board_id = board.board_id;
    // The bundle's file for the board, written to a private folder for as
    // long as the comparison takes.
    std::optional<frontend::BundleFiles> files;
    std::optional<std::string> bundle_file;
    std::string compared = file;
    if (opened) {
        const frontend::BoardFile choice = frontend::bundle_file_for(opened->bundle, board.handle);
        if (!choice.file)
            throw romwright::error(error_kind::board,
                                   fmt::format("Board {}/{} ({}) is not covered by {}: it has no file for a {}",
                                               system_id, board_id, choice.model.empty() ? "unknown" : choice.model,
                                               file, frontend::board_file_described(choice)));
        files.emplace(opened->bundle);
        compared = files->path_of(*choice.file);
        bundle_file = choice.file->file;
    }
    const VerifyReport report = verify_firmware(compared, board.handle);
    if (json_output) {
        JsonWriter json;
        json.begin_object().field("schema_version", uint32_t{1}).field("command", "verify");
        json.field("system_id", system_id).field("board_id", board_id).field("model", report.model);
        json.field("path", path_name(report.path)).field("file", file).field("bundle_file", bundle_file);
        json.field("matches", report.matches()).begin_array("ranges");
        for (const VerifiedRange &r : report.ranges) {
            json.begin_object().field("begin", r.begin).field("end", r.end).field("matches", r.matches);
            if (r.matches) json.null_field("first_difference"); else json.field("first_difference", r.first_difference);
            json.end_object();
        }
        json.end_array().end_object();
        std::fputs(json.text().c_str(), stdout);
    } else {
        std::string out = fmt::format("Board {}/{} ({}, {}), {}{}:\n", system_id, board_id, report.model,
                                      path_name(report.path), file, bundle_file ? " (" + *bundle_file + ")" : "");
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
