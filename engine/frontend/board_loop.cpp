#include <romwright/frontend/board_loop.hpp>

#include <fmt/format.h>

namespace romwright::frontend {
namespace {

// A stop requested before board index ends the run there, telling the front end first.
void stop_before(std::size_t index, std::size_t count, const BoardLoopHooks &hooks) {
    try {
        stop_if_requested(index, count);
    } catch (const stop_requested_error &stop) {
        if (hooks.stopped) hooks.stopped(stop);
        throw;
    }
}

void update_one(std::size_t index, void *board, const std::string &path, const romwright::options &options,
                SectorWrites writes, const BoardLoopHooks &hooks) {
    const UpdateCallbacks callbacks = hooks.callbacks(index);
    try {
        update_board(path, board, callbacks, options, writes);
    } catch (...) {
        if (hooks.board_done) hooks.board_done(index);
        throw;
    }
    if (hooks.board_done) hooks.board_done(index);
}

} // namespace

void update_boards(const BoardList &boards, const std::string &path, const romwright::options &options,
                   SectorWrites writes, const BoardLoopHooks &hooks) {
    const std::size_t count = boards.size();
    for (std::size_t i = 0; i < count; ++i) {
        stop_before(i, count, hooks);
        if (hooks.begin_board) hooks.begin_board(i, count);
        if (hooks.before_update) {
            hooks.before_update(i, boards[i]);
            // What the front end did first (a backup's read) took time; a
            // stop that came meanwhile still finds the board untouched.
            stop_before(i, count, hooks);
        }
        update_one(i, boards[i], path, options, writes, hooks);
    }
    if (count > 0 && hooks.stop_after_last_board)
        if (const char *request = stop_requested())
            hooks.stop_after_last_board(fmt::format("{} came during board {} of {}, the last; it was finished, so "
                                                    "nothing was left to stop.",
                                                    request, count, count));
}

} // namespace romwright::frontend
