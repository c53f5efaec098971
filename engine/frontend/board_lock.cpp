#include <romwright/frontend/board_lock.hpp>
#include <romwright/frontend/history.hpp>

#include <cstdlib>
#include <filesystem>

#include <fmt/format.h>
#include <zenapi/Zenapi.h>

#include "engine/platform/file_lock.hpp"
#include "engine/platform/process.hpp"

namespace romwright::frontend {
namespace {


// The board's names, each of which one lock stands for.
std::vector<std::string> lock_names(const SelectedBoard &board) {
    std::vector<std::string> names{fmt::format("system{}-board{}.lock", board.system_id, board.board_id)};
    uint32_t serial = 0;
    if (board.handle && KorvelQueryCapability(board.handle, ZENAPI_CAP_SERIAL_NUMBER, 0, &serial) == ZENAPI_SUCCESS)
        names.push_back(fmt::format("serial{}.lock", serial));
    return names;
}

} // namespace

struct BoardLock::Held {
    std::unique_ptr<platform::FileLock> lock;
};

std::string lock_folder() {
    if (const char *folder = std::getenv("ROMWRIGHT_LOCK_DIR"); folder && *folder) return folder;
    return platform::default_lock_folder();
}

BoardLock::BoardLock(const SelectedBoard &board, const std::string &program) {
    const std::string holder =
        fmt::format("{}, process {}, since {}", program, platform::process_id(), utc_now_text());
    const std::filesystem::path folder = std::filesystem::u8path(lock_folder());
    for (const std::string &name : lock_names(board)) {
        std::string found;
        auto lock = platform::try_lock_file((folder / name).u8string(), holder, found);
        if (!lock)
            throw board_busy_error(fmt::format("Board {}/{} is being written by another program ({}); nothing was "
                                               "changed. Try again when it is done.",
                                               board.system_id, board.board_id,
                                               found.empty() ? "it has not said which yet" : found));
        held_.push_back(std::make_unique<Held>(Held{std::move(lock)}));
    }
}

BoardLock::~BoardLock() = default;

} // namespace romwright::frontend
