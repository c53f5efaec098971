#include "console.hpp"

#include <ostream>
#include <stdexcept>
#include <string>

#include <fmt/format.h>

namespace romwright::console {
namespace {

struct OperationWord {
    ROMWRIGHT_OPERATION operation;
    const char *word;
};

constexpr OperationWord kOperationWords[] = {
    {ROMWRIGHT_OPERATION_ERASING, "Erasing "},
    {ROMWRIGHT_OPERATION_WRITING, "Writing "},
    {ROMWRIGHT_OPERATION_VERIFYING, "Verifying "},
};

const char *operation_word(ROMWRIGHT_OPERATION operation) {
    for (const OperationWord &row : kOperationWords)
        if (row.operation == operation) return row.word;
    throw std::runtime_error("Invalid operation.");
}

} // namespace

Console::Console(bool quiet, std::ostream &out) : quiet_(quiet), out_(out) {}

void Console::begin_board(int32_t index) {
    if (index == current_board_index_) return;
    current_board_index_ = index;
    if (!quiet_) refresh_bar();
}

void Console::on_operation(ROMWRIGHT_OPERATION operation) {
    if (operation == current_operation_) return;
    current_operation_ = operation;
    if (!quiet_) refresh_bar();
}

void Console::on_progress(float progress) {
    if (!quiet_ && bar_) {
        bar_->set_progress(progress);
        bar_->draw();
    }
    if (progress == 1.0f) drop_bar();
}

void Console::drop_bar() {
    if (!bar_) return;
    bar_->finish();
    bar_.reset();
}

void Console::refresh_bar() {
    if (current_operation_ == ROMWRIGHT_OPERATION_NONE) return;
    const std::string label =
        fmt::format("{}board {} of {}", operation_word(current_operation_), current_board_index_, board_count_);
    // The old bar ends its line before the new one starts drawing.
    drop_bar();
    bar_ = std::make_shared<ProgressBar>(label, out_);
}

void log_line(frontend::LogFile &log, ROMWRIGHT_LOG_LEVEL level, const std::string &text) {
    if (level != ROMWRIGHT_LOG_DEBUG) log.append(text);
}

void force_pages(bool page0, bool page1, romwright::options &options) {
    if (page0) {
        options.set_bool(ROMWRIGHT_OPTION_AUTO_SELECT_PAGES, false);
        options.set_bool(ROMWRIGHT_OPTION_WRITE_PAGE0, true);
    }
    if (page1) {
        options.set_bool(ROMWRIGHT_OPTION_AUTO_SELECT_PAGES, false);
        options.set_bool(ROMWRIGHT_OPTION_WRITE_PAGE1, true);
    }
}

} // namespace romwright::console
