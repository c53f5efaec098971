// What romwright-cli shows and records while boards are updated: the progress
// bar driven by the engine's operation and progress reports, the log file,
// the board list, and the wrapper that calls the update entry with callables.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "cli/progress_bar.hpp"
#include "engine/options.hpp"
#include "engine/romwright.h"

namespace romwright::cli {

// Progress display state for the whole run.
class Console {
public:
    Console(bool quiet, std::ostream &out);

    bool quiet() const { return quiet_; }
    void set_board_count(uint32_t count) { board_count_ = count; }
    // Called before each board; a new index shows a new bar for the current operation.
    void begin_board(int32_t index);

    void on_operation(ROMWRIGHT_OPERATION operation);
    void on_progress(float progress);

    // Finishes and drops the current bar, if any.
    void drop_bar();
    bool has_bar() const { return bar_ != nullptr; }

private:
    void refresh_bar();

    bool quiet_;
    std::ostream &out_;
    int32_t current_board_index_ = 0;
    uint32_t board_count_ = 0;
    ROMWRIGHT_OPERATION current_operation_ = ROMWRIGHT_OPERATION_NONE;
    std::shared_ptr<ProgressBar> bar_;
};

// Appends one engine log line to romwright-cli.log in the working directory;
// debug lines are dropped. The file is opened and closed for every line.
void append_log_line(ROMWRIGHT_LOG_LEVEL level, const char *text);
inline constexpr const char *kLogFileName = "romwright-cli.log";

// The boards a system ID and board ID select (0 meaning all), in order.
std::vector<void *> select_boards(int32_t system_id, int32_t board_id);

// Refuses a firmware path that is empty, is neither ".rpd" nor ".pof", or
// lacks the model designation of the board.
void check_firmware_path(const std::string &path, void *board);

// "--page0" / "--page1": each forced page turns automatic page selection off.
void force_pages(bool page0, bool page1, romwright::options &options);

struct UpdateCallbacks {
    std::function<void(ROMWRIGHT_OPERATION)> operation;
    std::function<void(float)> progress;
    std::function<void(ROMWRIGHT_LOG_LEVEL, const char *)> log;
};

// Runs the update entry for one board with the given private options copy,
// which is released afterwards; a non-zero result raises romwright::exception.
void update_board(const std::string &path, void *board, const UpdateCallbacks &callbacks,
                  std::unique_ptr<romwright::options> options);

} // namespace romwright::cli
