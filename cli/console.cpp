#include "cli/console.hpp"

#include <cstdio>
#include <cstring>
#include <ostream>
#include <stdexcept>

#include <fmt/format.h>

#include "engine/devlib/zen.hpp"
#include "engine/platform.hpp"
#include "zenapi/Zenapi.h"

namespace romwright::cli {
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

constexpr const char *kFileKinds[] = {".rpd", ".pof"};

bool contains(const std::string &text, const char *part) { return text.find(part) != std::string::npos; }

void forward_operation(ROMWRIGHT_OPERATION operation, void *user_data) {
    static_cast<const UpdateCallbacks *>(user_data)->operation(operation);
}
void forward_progress(float progress, void *user_data) {
    static_cast<const UpdateCallbacks *>(user_data)->progress(progress);
}
void forward_log(ROMWRIGHT_LOG_LEVEL level, const char *text, void *user_data) {
    static_cast<const UpdateCallbacks *>(user_data)->log(level, text);
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

void append_log_line(ROMWRIGHT_LOG_LEVEL level, const char *text) {
    if (level == ROMWRIGHT_LOG_DEBUG || !text) return;
    platform::SharedFile file = platform::open_shared(kLogFileName, "ab");
    if (!file) return;  // a line that cannot be recorded is not worth stopping an update for
    std::fwrite(text, 1, std::strlen(text), file.get());
}

std::vector<void *> select_boards(int32_t system_id, int32_t board_id) {
    const auto system = static_cast<uint32_t>(system_id);
    if (board_id != 0) return {KorvelGetBoardBySystemID(system, static_cast<uint32_t>(board_id))};
    std::vector<void *> boards;
    const auto add_system = [&boards](uint32_t s) {
        // 64-bit count so that a library claiming 0xFFFFFFFF boards cannot wrap it.
        for (uint64_t j = 1; j <= KorvelBoardsInSystemBySystemID(s); ++j)
            boards.push_back(KorvelGetBoardBySystemID(s, static_cast<uint32_t>(j)));
    };
    if (system_id != 0) {
        add_system(system);
    } else {
        for (uint64_t s = 1; s <= KorvelNumOfSystems(); ++s) add_system(static_cast<uint32_t>(s));
    }
    return boards;
}

void check_firmware_path(const std::string &path, void *board) {
    if (path.empty()) throw std::runtime_error("No valid file passed");
    bool known_kind = false;
    for (const char *kind : kFileKinds) known_kind = known_kind || contains(path, kind);
    if (!known_kind) throw std::runtime_error("Invalid firmware file format");
    const char *model = zen::model_name(zen::get_board_kind(board));
    if (!model || !contains(path, model)) throw std::runtime_error("Invalid firmware board type");
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

void update_board(const std::string &path, void *board, const UpdateCallbacks &callbacks,
                  std::unique_ptr<romwright::options> options) {
    const ROMWRIGHT_RC rc = romwright_update_firmware(path.c_str(), board, forward_operation, forward_progress,
                                                      forward_log, options->record(),
                                                      const_cast<UpdateCallbacks *>(&callbacks));
    options.reset();
    if (rc != ROMWRIGHT_RC_SUCCESS) throw romwright::exception(rc);
}

} // namespace romwright::cli
