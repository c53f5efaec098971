// romwright update: romwright-cli's update (options, version gate, file-name
// checks, log lines, signals, exit codes), plus a backup before the first
// erase and, unless --full, no erase or write of sectors that already hold
// the image. A failure says on the console why, not only in the log.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>

#include <fmt/format.h>

#include <romwright/error.hpp>
#include <romwright/frontend/board_history.hpp>
#include <romwright/frontend/board_loop.hpp>
#include <romwright/frontend/board_selection.hpp>
#include <romwright/frontend/firmware_name.hpp>
#include <romwright/frontend/history.hpp>
#include <romwright/frontend/log_file.hpp>
#include <romwright/frontend/stop_request.hpp>
#include <romwright/options.hpp>

#include "backup.hpp"
#include "commands.hpp"
#include "console.hpp"
#include "output.hpp"
#include "update_document.hpp"

namespace romwright::tool {
namespace {

namespace frontend = romwright::frontend;
using romwright::console::Console;
using romwright::console::print;

// The board loop's hooks: the progress bar, the file-name check and the
// backup before a board, the log lines, a stop's reason in the log, and a
// stop that came during the last board acknowledged on both.
frontend::BoardLoopHooks tool_hooks(const std::string &path, const std::string &backup, Console &console,
                                    frontend::LogFile &log, std::size_t &current) {
    frontend::BoardLoopHooks hooks;
    hooks.program = kProgram;
    hooks.begin_board = [&console, &current](std::size_t index, std::size_t) {
        current = index;
        console.begin_board(static_cast<int32_t>(index));
    };
    hooks.before_update = [path, backup](std::size_t, const frontend::SelectedBoard &board) {
        frontend::check_firmware_path(path, board.handle);
        if (!backup.empty()) save_backup(board.handle, board.system_id, board.board_id, backup);
    };
    hooks.callbacks = [&console, &log](std::size_t) {
        return frontend::UpdateCallbacks{
            [&console](ROMWRIGHT_OPERATION operation) { console.on_operation(operation); },
            [&console](float progress) { console.on_progress(progress); },
            [&log](ROMWRIGHT_LOG_LEVEL level, const std::string &text) { romwright::console::log_line(log, level, text); },
        };
    };
    hooks.board_done = [&log](std::size_t) {
        log.end_entry();
        std::fflush(stdout);
    };
    hooks.stopped = [&log, &console](const frontend::stop_requested_error &stop) {
        console.drop_bar();
        log.append(std::string(stop.what()) + "\n");
    };
    hooks.stop_after_last_board = [&log, &console](const std::string &notice) {
        console.drop_bar();
        log.append(notice + "\n");
        complain(notice);
    };
    return hooks;
}

// A failed update says on the console why, not only in the log.
romwright::error board_failure(const romwright::exception &failure, std::size_t index, std::size_t count) {
    std::string reason = failure.cause() ? failure.cause()->what() : failure.what();
    while (!reason.empty() && reason.back() == '\n') reason.pop_back();
    return romwright::error(error_kind::entry,
                            fmt::format("update of board {}/{} failed: {} (see {})", index + 1, count, reason,
                                        kLogFileName));
}

} // namespace

int run_update(const Arguments &args) {
    romwright::options options;
    const int32_t system_id = id_option(args, "--system", 0);
    const int32_t board_id = id_option(args, "--board", 0);
    if (const auto out = text(args, "--backup"))
        check_backup_target(*out, flag(args, "--overwrite"), args.at("<file>").asString());
    const std::string path = args.at("<file>").asString();
    frontend::History history(kProgram);
    frontend::BoardHistory records(history, kProgram, path);
    const bool json_output = flag(args, "--json");
    if (!versions_accepted(json_output)) {
        records.refused({frontend::board_ref_of_ids(system_id, board_id)}, frontend::kTooOldRecorded);
        return kExitRefused;
    }
    // Under --json standard output holds the document alone: no bar, no text.
    const bool quiet = flag(args, "--quiet") || json_output;
    romwright::console::force_pages(flag(args, "--page0"), flag(args, "--page1"), options);

    if (const auto nothing = frontend::nothing_selected(system_id, board_id))
        throw romwright::error(error_kind::board, *nothing);
    const frontend::BoardList boards = frontend::select_by_ids(system_id, board_id);
    const std::string backup = text(args, "--backup").value_or("");
    if (!backup.empty() && boards.size() != 1)
        throw romwright::error(error_kind::usage, "--backup takes one board: give --system and --board");
    Console console(quiet, std::cout);
    console.set_board_count(static_cast<uint32_t>(boards.size()));
    frontend::LogFile log(kProgram, kLogFileName);
    const frontend::SectorWrites writes =
        flag(args, "--full") ? frontend::SectorWrites::all : frontend::SectorWrites::differing;
    std::size_t current = 0;
    frontend::BoardLoopHooks hooks = tool_hooks(path, backup, console, log, current);
    UpdateDocument document(path, boards.size());
    if (json_output) document.watch(hooks);
    // A run that failed once a board's work had ended still writes its
    // document: the failed board's error is why.
    const auto write_failed_document = [&] {
        if (json_output && document.has_boards()) print("{}", document.text(false));
    };
    try {
        frontend::update_boards(boards, path, options, writes, records.recording(hooks, boards));
    } catch (const romwright::exception &failure) {
        console.drop_bar();
        write_failed_document();
        throw board_failure(failure, current, boards.size());
    } catch (...) {
        write_failed_document();
        throw;
    }
    console.drop_bar();
    if (json_output) print("{}", document.text(true));
    if (!quiet) print("Update of {} board{} successful\n", boards.size(), boards.size() >= 2 ? "s" : "");
    return kExitSuccess;
}

} // namespace romwright::tool
