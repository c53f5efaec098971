// What romwright-cli shows and records while boards are updated: the
// progress bar driven by the engine's operation and progress reports and by
// board changes, the log lines it keeps, and the pages the command line forces.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include <romwright/frontend/log_file.hpp>
#include <romwright/options.hpp>
#include <romwright/romwright.h>

#include "progress_bar.hpp"

namespace romwright::console {

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

// The engine's log lines go to this file in the working directory.
inline constexpr const char *kLogFileName = "romwright-cli.log";

// What a console program prints when the version gate refuses the library or
// the driver (romwright says it in romwright-cli's words).
inline constexpr const char *kTooOld =
    "Error: Your library and driver are too old to run\n"
    "       a safe update of your system. Please update\n"
    "       to the latest version from Korvelon's\n"
    "       website and run this program again.\n";

// The console's log sink: lines of levels 1 to 3 go to the log as received
// (no time stamp, level mark or line break of its own); debug lines are dropped.
void log_line(frontend::LogFile &log, ROMWRIGHT_LOG_LEVEL level, const std::string &text);

// "--page0" / "--page1": each forced page turns automatic page selection off.
void force_pages(bool page0, bool page1, romwright::options &options);

} // namespace romwright::console
