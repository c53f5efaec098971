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
#include <romwright/frontend/board_selection.hpp>
#include <romwright/frontend/board_update.hpp>
#include <romwright/frontend/firmware_name.hpp>
#include <romwright/frontend/log_file.hpp>
#include <romwright/frontend/stop_request.hpp>
#include <romwright/options.hpp>

#include "backup.hpp"
#include "commands.hpp"
#include "console.hpp"
#include "output.hpp"

namespace romwright::tool {
namespace {

namespace frontend = romwright::frontend;
using romwright::cli::Console;
using romwright::cli::print;

struct Run {
    const frontend::BoardList &boards;
    std::string path;
    romwright::options options;
    frontend::SectorWrites writes;
    std::string backup;
    Console &console;
    frontend::LogFile &log;
};

void update_one(Run &run, std::size_t i) {
    const frontend::UpdateCallbacks callbacks{
        [&run](ROMWRIGHT_OPERATION operation) { run.console.on_operation(operation); },
        [&run](float progress) { run.console.on_progress(progress); },
        [&run](ROMWRIGHT_LOG_LEVEL level, const std::string &text) { romwright::cli::log_line(run.log, level, text); },
    };
    const std::size_t count = run.boards.size();
    try {
        frontend::stop_if_requested(i, count);
    } catch (const frontend::stop_requested_error &stop) {
        run.log.append(std::string(stop.what()) + "\n");
        throw;
    }
    run.console.begin_board(static_cast<int32_t>(i));
    frontend::check_firmware_path(run.path, run.boards[i]);
    if (!run.backup.empty()) save_backup(run.boards[i], 0, 0, run.backup);
    try {
        const frontend::BoardLogEntry entry(run.log);
        frontend::update_board(run.path, run.boards[i], callbacks, run.options, run.writes);
    } catch (const romwright::exception &failure) {
        run.console.drop_bar();
        std::string reason = failure.cause() ? failure.cause()->what() : failure.what();
        while (!reason.empty() && reason.back() == '\n') reason.pop_back();
        throw romwright::error(error_kind::entry, fmt::format("update of board {}/{} failed: {} (see {})", i + 1, count,
                                                              reason, kLogFileName));
    }
    std::fflush(stdout);
}

} // namespace

int run_update(const Arguments &args) {
    romwright::options options;
    const int32_t system_id = id_option(args, "--system", 0);
    const int32_t board_id = id_option(args, "--board", 0);
    if (const auto out = text(args, "--backup"))
        check_backup_target(*out, flag(args, "--overwrite"), args.at("<file>").asString());
    if (!versions_accepted()) return kExitRefused;
    const bool quiet = flag(args, "--quiet");
    romwright::cli::force_pages(flag(args, "--page0"), flag(args, "--page1"), options);

    if (const auto nothing = frontend::nothing_selected(system_id, board_id))
        throw romwright::error(error_kind::board, *nothing);
    const frontend::BoardList boards = frontend::select_by_ids(system_id, board_id);
    const std::string backup = text(args, "--backup").value_or("");
    if (!backup.empty() && boards.size() != 1)
        throw romwright::error(error_kind::usage, "--backup takes one board: give --system and --board");
    Console console(quiet, std::cout);
    console.set_board_count(static_cast<uint32_t>(boards.size()));
    frontend::LogFile log(kProgram, kLogFileName);
    Run run{boards,  args.at("<file>").asString(), options, flag(args, "--full") ? frontend::SectorWrites::all
                                                                                  : frontend::SectorWrites::differing,
            backup, console, log};
    for (std::size_t i = 0; i < boards.size(); ++i) update_one(run, i);
    console.drop_bar();
    if (!quiet) print("Update of {} board{} successful\n", boards.size(), boards.size() >= 2 ? "s" : "");
    return kExitSuccess;
}

} // namespace romwright::tool
