// The subcommands of romwright, one file each, and what they share: the
// parsed command line, its flags and IDs, and the console's error line.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include <docopt/docopt.h>

namespace romwright::tool {

using Arguments = std::map<std::string, docopt::value>;

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitRefused = -1;

constexpr const char *kProgram = "romwright";
constexpr const char *kLogFileName = "romwright.log";

bool flag(const Arguments &args, const std::string &key);
std::optional<std::string> text(const Arguments &args, const std::string &key);
// A 32-bit ID; absent gives fallback. Raises romwright::error (usage) naming the option.
int32_t id_option(const Arguments &args, const std::string &key, int32_t fallback);
// --system and --board of a command that takes exactly one board.
void *single_board(const Arguments &args, uint32_t &system_id, uint32_t &board_id);
// The library and driver gate of romwright-cli; false when refused (the text was printed).
bool versions_accepted();
// "romwright: <text>" on standard error.
void complain(const std::string &text);

int run_list(const Arguments &args);
int run_inspect(const Arguments &args);
int run_verify(const Arguments &args);
int run_read(const Arguments &args);
int run_restore(const Arguments &args);
int run_update(const Arguments &args);

} // namespace romwright::tool
