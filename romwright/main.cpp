// romwright: lists, inspects, verifies, saves, restores and updates the
// firmware of this machine's boards over the update engine.
#include <csignal>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>

#include <romwright/error.hpp>
#include <romwright/frontend/board_selection.hpp>
#include <romwright/frontend/device_library.hpp>
#include <romwright/frontend/program_arguments.hpp>
#include <romwright/frontend/stop_request.hpp>
#include <romwright/frontend/version_gate.hpp>

#include "arguments.hpp"
#include "commands.hpp"
#include "console.hpp"
#include "usage.hpp"

namespace romwright::tool {

bool flag(const Arguments &args, const std::string &key) {
    auto found = args.find(key);
    return found != args.end() && found->second && found->second.isBool() && found->second.asBool();
}

std::optional<std::string> text(const Arguments &args, const std::string &key) {
    auto found = args.find(key);
    if (found == args.end() || !found->second || !found->second.isString()) return std::nullopt;
    return found->second.asString();
}

int32_t id_option(const Arguments &args, const std::string &key, int32_t fallback) {
    const std::optional<std::string> value = text(args, key);
    if (!value) return fallback;
    try {
        return romwright::console::parse_id(key, *value);
    } catch (const romwright::error &refusal) {
        throw BadCommandLine(refusal.what());
    }
}

frontend::BundlePolicy bundle_policy(const Arguments &args) {
    frontend::BundlePolicy policy;
    const auto keys = args.find("--trusted-key");
    if (keys != args.end() && keys->second && keys->second.isStringList()) policy.key_files = keys->second.asStringList();
    policy.allow_unsigned = flag(args, "--allow-unsigned");
    return policy;
}

BoardIds board_ids(const Arguments &args) {
    if (!text(args, "--system") || !text(args, "--board"))
        throw BadCommandLine("--system=<sid> and --board=<bid> name the one board to use");
    return BoardIds{id_option(args, "--system", 0), id_option(args, "--board", 0)};
}

OneBoard board_at(const BoardIds &ids) {
    if (const auto nothing = frontend::nothing_selected(ids.system_id, ids.board_id))
        throw romwright::error(error_kind::board, *nothing);
    const frontend::SelectedBoard selected =
        frontend::one_board(static_cast<uint32_t>(ids.system_id), static_cast<uint32_t>(ids.board_id)).front();
    if (!selected.handle)
        throw romwright::error(error_kind::board, fmt::format("The library gives no board for system {}, board {}",
                                                              ids.system_id, ids.board_id));
    return OneBoard{selected.system_id, selected.board_id, selected.handle,
                    std::make_unique<frontend::BoardLock>(selected, kProgram)};
}

bool versions_accepted(bool json) {
    if (frontend::library_and_driver_recent_enough()) return true;
    std::fputs(romwright::console::kTooOld, json ? stderr : stdout);
    return false;
}

void complain(const std::string &message) {
    std::string line = fmt::format("{}: {}", kProgram, message);
    while (!line.empty() && line.back() == '\n') line.pop_back();
    std::fprintf(stderr, "%s\n", line.c_str());
}

namespace {

int dispatch(const Arguments &args) {
    // What needs no board needs no device library either.
    if (flag(args, "inspect")) return run_inspect(args);
    if (flag(args, "history")) return run_history(args);
    if (!flag(args, "list") && !flag(args, "verify") && !flag(args, "read") && !flag(args, "restore") &&
        !flag(args, "update"))
        return kExitSuccess;
    if (const auto missing = frontend::device_library_missing()) {
        complain(*missing);
        return kExitRefused;
    }
    if (flag(args, "list")) return run_list(args);
    if (flag(args, "verify")) return run_verify(args);
    if (flag(args, "read")) return run_read(args);
    if (flag(args, "restore")) return run_restore(args);
    return run_update(args);
}

} // namespace
} // namespace romwright::tool

int main(int argc, char **argv) {
    using namespace romwright::tool;
    // Ctrl+C, SIGTERM and a closed terminal wait for the board being written.
    romwright::frontend::defer_stop_requests(kProgram);
#ifdef SIGXFSZ
    // A file that outgrows the size limit (ulimit -f) fails its write instead
    // of ending the program, so a backup cut short is removed, not left behind.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    romwright::frontend::use_utf8_console();
    // In UTF-8 on every system, so a file path in any script reaches the file.
    const std::vector<std::string> arguments = romwright::frontend::program_arguments(argc, argv);
    // romwright bundle has a command line of its own: its --version takes a
    // text, where romwright's shows the program's version.
    const bool bundle = !arguments.empty() && arguments.front() == "bundle";
    const Arguments args = bundle ? docopt::docopt(kBundleUsage, arguments, true, "", false)
                                  : docopt::docopt(kUsage, arguments, true, kVersionText, false);
    try {
        if (bundle) return run_bundle(args);
        return dispatch(args);
    } catch (const BadCommandLine &failure) {
        complain(failure.what());
        return kExitRefused;
    } catch (const std::exception &failure) {
        complain(failure.what());
    } catch (...) {
        complain("unknown error");
    }
    return kExitFailure;
}
