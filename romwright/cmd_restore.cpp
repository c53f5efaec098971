// romwright restore: a backup made by read written back to its board.
#include <chrono>
#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include <romwright/board_flash.hpp>
#include <romwright/error.hpp>
#include <romwright/frontend/board_history.hpp>
#include <romwright/frontend/history.hpp>

#include "backup.hpp"
#include "commands.hpp"
#include "console.hpp"
#include "json_writer.hpp"

namespace romwright::tool {
namespace {

namespace frontend = romwright::frontend;
using Clock = std::chrono::steady_clock;

// The update history's record of a restore: its sectors as an update's (the
// rewritten ones erased and written, the matching ones left alone), a
// refusal before the first erase as refused, any other failure as failed.
frontend::BoardOutcome restore_outcome(const RestoreReport *report, const std::exception *failure,
                                       Clock::time_point start) {
    frontend::BoardOutcome outcome;
    if (report) {
        outcome.result = frontend::BoardOutcome::Result::succeeded;
        outcome.report.path = report->path;
        outcome.report.sectors_erased = outcome.report.sectors_written = report->rewritten;
        outcome.report.sectors_skipped = report->matched;
    } else {
        const auto *known = dynamic_cast<const romwright::error *>(failure);
        outcome.result = known && known->kind() == error_kind::board ? frontend::BoardOutcome::Result::refused
                                                                      : frontend::BoardOutcome::Result::failed;
        outcome.error = failure ? failure->what() : "unknown error";
    }
    outcome.milliseconds = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    return outcome;
}

} // namespace

int run_restore(const Arguments &args) {
    const BoardIds ids = board_ids(args);
    const std::string path = args.at("<backup>").asString();
    frontend::History history(kProgram);
    frontend::BoardHistory records(history, kProgram, path);
    const frontend::BoardRef named = frontend::board_ref_of_ids(ids.system_id, ids.board_id);
    // The files first: one that is not what read wrote is refused before the
    // device library is asked anything.
    std::optional<Backup> loaded;
    try {
        loaded.emplace(load_backup(path));
    } catch (const std::exception &refusal) {
        records.refused({named}, refusal.what());
        throw;
    }
    const Backup &backup = *loaded;
    records.file_known(backup.bytes.size(), adler32_of(backup.bytes));
    const bool json_output = flag(args, "--json");
    if (!versions_accepted(json_output)) {
        records.refused({named}, frontend::kTooOldRecorded);
        return kExitRefused;
    }
    const OneBoard board = board_at(ids);
    romwright::console::Console console(flag(args, "--quiet") || json_output, std::cout);
    console.set_board_count(1);
    const BackupFacts &facts = backup.facts;
    const BackupOrigin origin{facts.kind, facts.flash_size, facts.serial.has_value(), facts.serial.value_or(0)};
    const frontend::BoardRef ref{board.system_id, board.board_id};
    records.begin(ref, frontend::ask_board(board.handle));
    const Clock::time_point start = Clock::now();
    // The bar starts with the first sector compared: a restore refused
    // before it shows none.
    RestoreReport report;
    try {
        report = restore_flash(board.handle, backup.bytes, origin, flag(args, "--any-serial"), [&console](float done) {
            console.on_operation(ROMWRIGHT_OPERATION_WRITING);
            console.on_progress(done);
        });
    } catch (const std::exception &failure) {
        records.end(ref, board.handle, restore_outcome(nullptr, &failure, start));
        throw;
    }
    records.end(ref, board.handle, restore_outcome(&report, nullptr, start));
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
