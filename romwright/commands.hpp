// The subcommands of romwright, one file each, and what they share: the
// parsed command line, its flags and IDs, and the console's error line.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <docopt/docopt.h>

#include <romwright/error.hpp>
#include <romwright/frontend/board_lock.hpp>
#include <romwright/frontend/bundle_source.hpp>

namespace romwright::tool {

using Arguments = std::map<std::string, docopt::value>;

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitRefused = -1;

constexpr const char *kProgram = "romwright";
constexpr const char *kLogFileName = "romwright.log";

// A command line that the usage text allows but that cannot be followed (an
// ID that is not a number, a board command without its board): the program
// says why and exits with 255, as for one the parser refuses.
class BadCommandLine : public romwright::error {
public:
    explicit BadCommandLine(const std::string &message) : romwright::error(error_kind::usage, message) {}
};

bool flag(const Arguments &args, const std::string &key);
std::optional<std::string> text(const Arguments &args, const std::string &key);
// A 32-bit ID; absent gives fallback. Raises BadCommandLine naming the option.
int32_t id_option(const Arguments &args, const std::string &key, int32_t fallback);

// --system and --board of a command that takes exactly one board, as given.
struct BoardIds {
    int32_t system_id = 0;
    int32_t board_id = 0;
};
// Raises BadCommandLine when either is missing or not a number.
BoardIds board_ids(const Arguments &args);

// One board and its lock, held for as long as the command works on it: no
// other program writes the board meanwhile, and a board another program is
// writing is turned away rather than read half-written.
struct OneBoard {
    uint32_t system_id = 0;
    uint32_t board_id = 0;
    void *handle = nullptr;
    std::unique_ptr<frontend::BoardLock> lock;
};
// The board the IDs name, locked; romwright::error (a board) naming the
// systems or boards there are when there is none, frontend::board_busy_error
// naming the holder when another program holds it.
OneBoard board_at(const BoardIds &ids);

// The library and driver gate of romwright-cli; false when refused, with
// romwright-cli's text printed: on standard output as romwright-cli does,
// on standard error under --json (json), where standard output holds a
// document or nothing.
bool versions_accepted(bool json = false);
// "romwright: <text>" on standard error.
void complain(const std::string &text);

int run_list(const Arguments &args);
int run_inspect(const Arguments &args);
int run_verify(const Arguments &args);
int run_read(const Arguments &args);
int run_restore(const Arguments &args);
int run_update(const Arguments &args);
int run_history(const Arguments &args);
int run_bundle(const Arguments &args);

// --trusted-key and --allow-unsigned: how a bundle's signature is judged.
frontend::BundlePolicy bundle_policy(const Arguments &args);

} // namespace romwright::tool
