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

#include "cli/console.hpp"
#include "cli/usage.hpp"
#include "engine/options.hpp"
#include "zenapi/Zenapi.h"

namespace {

using Arguments = std::map<std::string, docopt::value>;
using romwright::cli::Console;

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitRefused = -1;

constexpr const char *kTooOld =
    "Error: Your library and driver are too old to run\n"
    "       a safe update of your system. Please update\n"
    "       to the latest version from Korvelon's\n"
    "       website and run this program again.\n";

struct Version {
    uint8_t major = 0, minor = 0, revision = 0;
};

using VersionQuery = uint32_t (*)(uint8_t *, uint8_t *, uint8_t *);

Version query_version(VersionQuery query, const char *failure) {
    Version version;
    if (query(&version.major, &version.minor, &version.revision) != ZENAPI_SUCCESS) throw std::runtime_error(failure);
    return version;
}

// 7.1 is the oldest library and driver that update a board safely.
bool recent_enough(const Version &version) { return version.major > 7 || (version.major == 7 && version.minor >= 1); }

bool library_and_driver_recent_enough() {
    if (!recent_enough(query_version(KorvelGetSDKVersion, "Could not query SDK version"))) return false;
    return recent_enough(query_version(KorvelGetDriverVersion, "Could not query driver version"));
}

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

void update_boards(const std::vector<void *> &boards, const std::string &path, const romwright::options &options,
                   Console &console) {
    const romwright::cli::UpdateCallbacks callbacks{
        [&console](ROMWRIGHT_OPERATION operation) { console.on_operation(operation); },
        [&console](float progress) { console.on_progress(progress); },
        [](ROMWRIGHT_LOG_LEVEL level, const char *text) { romwright::cli::append_log_line(level, text); },
    };
    for (std::size_t i = 0; i < boards.size(); ++i) {
        console.begin_board(static_cast<int32_t>(i));
        romwright::cli::check_firmware_path(path, boards[i]);
        romwright::cli::update_board(path, boards[i], callbacks, std::make_unique<romwright::options>(options));
        std::fflush(stdout);
    }
    console.drop_bar();
}

int run(const Arguments &args) {
    romwright::options options;
    const int32_t system_id = id_option(args, "--system");
    const int32_t board_id = id_option(args, "--board");
    if (!library_and_driver_recent_enough()) {
        fmt::print("{}", kTooOld);
        return kExitRefused;
    }
    const bool quiet = flag(args, "--quiet");
    romwright::cli::force_pages(flag(args, "--page0"), flag(args, "--page1"), options);

    const std::vector<void *> boards = romwright::cli::select_boards(system_id, board_id);
    Console console(quiet, std::cout);
    console.set_board_count(static_cast<uint32_t>(boards.size()));
    update_boards(boards, args.at("<file>").asString(), options, console);
    if (!quiet) fmt::print("Update of {} board{} successful\n", boards.size(), boards.size() >= 2 ? "s" : "");
    return kExitSuccess;
}

} // namespace

int main(int argc, char **argv) {
    // A program may be started with no argument vector at all (argc 0).
    const std::vector<std::string> arguments(argc > 1 ? argv + 1 : argv, argc > 1 ? argv + argc : argv);
    // Help, version and a command line that does not match end inside the parser.
    const Arguments args =
        docopt::docopt(romwright::cli::kUsage, arguments, true, romwright::cli::kVersionText, false);
    if (!flag(args, "update")) return kExitSuccess;
    try {
        return run(args);
    } catch (const std::exception &error) {
        fmt::print("\nError: {}\n", error.what());
    } catch (...) {
        fmt::print("\nUnknown error\n");
    }
    return kExitFailure;
}
