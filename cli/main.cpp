// romwright-cli: updates the boards of this machine with a firmware file.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include <docopt/docopt.h>
#include <fmt/format.h>

#include <romwright/frontend/board_history.hpp>
#include <romwright/frontend/board_loop.hpp>
#include <romwright/frontend/board_selection.hpp>
#include <romwright/frontend/device_library.hpp>
#include <romwright/frontend/firmware_name.hpp>
#include <romwright/frontend/history.hpp>
#include <romwright/frontend/log_file.hpp>
#include <romwright/frontend/program_arguments.hpp>
#include <romwright/frontend/stop_request.hpp>
#include <romwright/frontend/version_gate.hpp>
#include <romwright/options.hpp>

#include "arguments.hpp"
#include "console.hpp"
#include "output.hpp"
#include "usage.hpp"

namespace {

using Arguments = std::map<std::string, docopt::value>;
using romwright::console::Console;
using romwright::console::print;
namespace frontend = romwright::frontend;

constexpr const char *kProgram = "romwright-cli";

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitRefused = -1;

bool flag(const Arguments &args, const std::string &key) {
    auto found = args.find(key);
    return found != args.end() && found->second && found->second.isBool() && found->second.asBool();
}

int32_t id_option(const Arguments &args, const std::string &key) {
    return romwright::console::parse_id(key, args.at(key).asString());
}

// The loop's hooks: the progress bar per board, the file-name check before
// it, its log lines, and a stop's reason in the log as well as on the screen.
frontend::BoardLoopHooks console_hooks(const std::string &path, Console &console, frontend::LogFile &log) {
    frontend::BoardLoopHooks hooks;
    hooks.program = kProgram;
    hooks.begin_board = [&console](std::size_t index, std::size_t) { console.begin_board(static_cast<int32_t>(index)); };
    hooks.before_update = [path](std::size_t, const frontend::SelectedBoard &board) {
        frontend::check_firmware_path(path, board.handle);
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
    hooks.stopped = [&log](const frontend::stop_requested_error &stop) { log.append(std::string(stop.what()) + "\n"); };
    return hooks;
}

int run(const Arguments &args) {
    romwright::options options;
    const int32_t system_id = id_option(args, "--system");
    const int32_t board_id = id_option(args, "--board");
    const std::string path = args.at("<file>").asString();
    frontend::History history(kProgram);
    frontend::BoardHistory records(history, kProgram, path);
    if (!frontend::library_and_driver_recent_enough()) {
        print("{}", romwright::console::kTooOld);
        records.refused({frontend::board_ref_of_ids(system_id, board_id)}, frontend::kTooOldRecorded);
        return kExitRefused;
    }
    const bool quiet = flag(args, "--quiet");
    romwright::console::force_pages(flag(args, "--page0"), flag(args, "--page1"), options);

    const frontend::BoardList boards = frontend::select_by_ids(system_id, board_id);
    Console console(quiet, std::cout);
    console.set_board_count(static_cast<uint32_t>(boards.size()));
    // A text file: on Windows its lines end in CR LF, as the system's editors expect.
    frontend::LogFile log(kProgram, romwright::console::kLogFileName, "a");
    frontend::update_boards(boards, path, options, frontend::SectorWrites::all,
                            records.recording(console_hooks(path, console, log), boards));
    console.drop_bar();
    if (!quiet) print("Update of {} board{} successful\n", boards.size(), boards.size() >= 2 ? "s" : "");
    return kExitSuccess;
}

} // namespace

int main(int argc, char **argv) {
    // From here on Ctrl+C, SIGTERM and a closed terminal wait for the board
    // being written, and a closed output pipe does not end the program.
    frontend::defer_stop_requests(kProgram);
    frontend::use_utf8_console();
    // In UTF-8 on every system, so a firmware path in any script reaches the file.
    const std::vector<std::string> arguments = frontend::program_arguments(argc, argv);
    // Help, version and a command line that does not match end inside the parser.
    const Arguments args =
        docopt::docopt(romwright::cli::kUsage, arguments, true, romwright::cli::kVersionText, false);
    if (!flag(args, "update")) return kExitSuccess;
    if (const auto missing = frontend::device_library_missing()) {
        print("Error: {}\n", *missing);
        return kExitRefused;
    }
    try {
        return run(args);
    } catch (const std::exception &error) {
        print("\nError: {}\n", error.what());
    } catch (...) {
        print("\nUnknown error\n");
    }
    return kExitFailure;
}
