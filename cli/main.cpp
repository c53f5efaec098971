// romwright-cli: updates the boards of this machine with a firmware file.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <docopt/docopt.h>
#include <fmt/format.h>

#include <romwright/frontend/board_selection.hpp>
#include <romwright/frontend/board_update.hpp>
#include <romwright/frontend/firmware_name.hpp>
#include <romwright/frontend/log_file.hpp>
#include <romwright/frontend/program_arguments.hpp>
#include <romwright/frontend/stop_request.hpp>
#include <romwright/frontend/version_gate.hpp>
#include <romwright/options.hpp>

#include "console.hpp"
#include "output.hpp"
#include "usage.hpp"

namespace {

using Arguments = std::map<std::string, docopt::value>;
using romwright::cli::Console;
using romwright::cli::print;
namespace frontend = romwright::frontend;

constexpr const char *kProgram = "romwright-cli";

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitRefused = -1;

bool flag(const Arguments &args, const std::string &key) {
    auto found = args.find(key);
    return found != args.end() && found->second && found->second.isBool() && found->second.asBool();
}

// An ID that does not fit 32 bits would select some other system or board.
int32_t id_option(const Arguments &args, const std::string &key) {
    const docopt::value &value = args.at(key);
    long number = 0;
    try {
        number = value.asLong();
    } catch (const std::out_of_range &) {
        // Beyond long, which is only 32 bits wide on some platforms: the
        // same refusal as any other number that does not fit.
        throw std::runtime_error(fmt::format("{} {} is out of range", key, value.asString()));
    } catch (const std::exception &) {
        throw std::runtime_error(fmt::format("{} must be a whole number, not \"{}\"", key, value.asString()));
    }
    if (number < std::numeric_limits<int32_t>::min() || number > std::numeric_limits<int32_t>::max())
        throw std::runtime_error(fmt::format("{} {} is out of range", key, number));
    return static_cast<int32_t>(number);
}

// A stop requested meanwhile ends the run here, before board `next` is
// touched; the reason goes to the log as well as to the screen.
void stop_before_board(std::size_t next, std::size_t count, frontend::LogFile &log) {
    try {
        frontend::stop_if_requested(next, count);
    } catch (const frontend::stop_requested_error &stop) {
        log.append(std::string(stop.what()) + "\n");
        throw;
    }
}

void update_boards(const frontend::BoardList &boards, const std::string &path, const romwright::options &options,
                   Console &console, frontend::LogFile &log) {
    const frontend::UpdateCallbacks callbacks{
        [&console](ROMWRIGHT_OPERATION operation) { console.on_operation(operation); },
        [&console](float progress) { console.on_progress(progress); },
        [&log](ROMWRIGHT_LOG_LEVEL level, const std::string &text) { romwright::cli::log_line(log, level, text); },
    };
    for (std::size_t i = 0; i < boards.size(); ++i) {
        stop_before_board(i, boards.size(), log);
        console.begin_board(static_cast<int32_t>(i));
        frontend::check_firmware_path(path, boards[i]);
        {
            const frontend::BoardLogEntry entry(log);
            frontend::update_board(path, boards[i], callbacks, options);
        }
        std::fflush(stdout);
    }
    console.drop_bar();
}

int run(const Arguments &args) {
    romwright::options options;
    const int32_t system_id = id_option(args, "--system");
    const int32_t board_id = id_option(args, "--board");
    if (!frontend::library_and_driver_recent_enough()) {
        print("{}", romwright::cli::kTooOld);
        return kExitRefused;
    }
    const bool quiet = flag(args, "--quiet");
    romwright::cli::force_pages(flag(args, "--page0"), flag(args, "--page1"), options);

    const frontend::BoardList boards = frontend::select_by_ids(system_id, board_id);
    Console console(quiet, std::cout);
    console.set_board_count(static_cast<uint32_t>(boards.size()));
    // A text file: on Windows its lines end in CR LF, as the system's editors expect.
    frontend::LogFile log(kProgram, romwright::cli::kLogFileName, "a");
    update_boards(boards, args.at("<file>").asString(), options, console, log);
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
    try {
        return run(args);
    } catch (const std::exception &error) {
        print("\nError: {}\n", error.what());
    } catch (...) {
        print("\nUnknown error\n");
    }
    return kExitFailure;
}
