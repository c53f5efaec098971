// One board's update through the engine's update entry, with callables in
// place of the entry's plain function callbacks: the callables are kept in
// one record, whose address goes to the entry as its user data, and three
// plain functions forward each callback into it.
#pragma once

#include <functional>
#include <string>

#include <romwright/options.hpp>
#include <romwright/romwright.h>
#include <romwright/update_report.hpp>

namespace romwright::frontend {

struct UpdateCallbacks {
    std::function<void(ROMWRIGHT_OPERATION)> on_operation;
    std::function<void(float)> on_progress;
    std::function<void(ROMWRIGHT_LOG_LEVEL, std::string)> on_log;
};

// The entry's callbacks; user_data points at an UpdateCallbacks. A missing
// log text is forwarded as an empty one.
void forward_operation(ROMWRIGHT_OPERATION operation, void *user_data);
void forward_progress(float progress, void *user_data);
void forward_log(ROMWRIGHT_LOG_LEVEL level, const char *text, void *user_data);

// Runs the update entry for one board with a private copy of options (made
// before the call, released after it; a copy that cannot be made raises
// romwright::exception with code 1). A non-zero result raises
// romwright::exception with that code.
void update_board(const std::string &path, void *board, const UpdateCallbacks &callbacks,
                  const romwright::options &options);

// Which planned sectors an update erases and writes: all of them (as
// romwright-cli), or only those that do not already read as the update
// would leave them; that comparison is their verification.
enum class SectorWrites { all, differing };

// update_board with the choice above (the register path only; the driver's
// services take the whole image either way). report, when given, gets what
// the update did, as far as it came, whether it succeeded or not.
void update_board(const std::string &path, void *board, const UpdateCallbacks &callbacks,
                  const romwright::options &options, SectorWrites writes, UpdateReport *report = nullptr);

} // namespace romwright::frontend
