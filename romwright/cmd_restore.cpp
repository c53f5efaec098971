// romwright restore: a backup made by read written back to its board.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include <romwright/board_flash.hpp>
#include <romwright/error.hpp>

#include "backup.hpp"
#include "commands.hpp"
#include "console.hpp"
#include "json_writer.hpp"

namespace romwright::tool {

int run_restore(const Arguments &args) {
    const BoardIds ids = board_ids(args);
    const std::string path = args.at("<backup>").asString();
    // The files first: one that is not what read wrote is refused before the
    // device library is asked anything.
    const Backup backup = load_backup(path);
    const bool json_output = flag(args, "--json");
    if (!versions_accepted(json_output)) return kExitRefused;
    const OneBoard board = board_at(ids);
    romwright::console::Console console(flag(args, "--quiet") || json_output, std::cout);
    console.set_board_count(1);
    const BackupFacts &facts = backup.facts;
    const BackupOrigin origin{facts.kind, facts.flash_size, facts.serial.has_value(), facts.serial.value_or(0)};
    // The bar starts with the first sector compared: a restore refused
    // before it shows none.
    const RestoreReport report =
        restore_flash(board.handle, backup.bytes, origin, flag(args, "--any-serial"), [&console](float done) {
            console.on_operation(ROMWRIGHT_OPERATION_WRITING);
            console.on_progress(done);
        });
    console.drop_bar();
    if (json_output) {
        JsonWriter json;
        json.begin_object().field("schema_version", uint32_t{1}).field("command", "restore");
        json.field("system_id", board.system_id).field("board_id", board.board_id).field("backup", path);
        json.field("sectors", report.sectors).field("rewritten", report.rewritten).field("matched", report.matched);
        if (report.protected_area_differs) json.field("protected_area", report.protected_note);
        else json.null_field("protected_area");
        json.end_object();
        std::fputs(json.text().c_str(), stdout);
    } else if (!flag(args, "--quiet")) {
        std::printf("Restored board %u/%u from %s: %u of %u sectors erased, written and verified, %u already held "
                    "the backup.\n",
                    board.system_id, board.board_id, path.c_str(), report.rewritten, report.sectors, report.matched);
    }
    if (report.protected_area_differs) complain("note: " + report.protected_note);
    return kExitSuccess;
}

} // namespace romwright::tool
