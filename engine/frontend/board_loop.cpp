#include <romwright/frontend/board_loop.hpp>

#include <romwright/frontend/board_lock.hpp>

#include <chrono>
#include <memory>

#include <fmt/format.h>

namespace romwright::frontend {
namespace {

using Clock = std::chrono::steady_clock;

uint64_t milliseconds_since(Clock::time_point start) {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

void ended(const BoardLoopHooks &hooks, std::size_t index, const SelectedBoard &board, BoardOutcome outcome, Clock::time_point start) {
    outcome.milliseconds = milliseconds_since(start);
    if (hooks.board_ended) hooks.board_ended(index, board, outcome);
}

// A stop requested before board index ends the run there, telling the front end first.
void stop_before(std::size_t index, std::size_t count, const SelectedBoard &board, const BoardLoopHooks &hooks,
                 Clock::time_point start) {
    try {
        stop_if_requested(index, count);
    } catch (const stop_requested_error &stop) {
        if (hooks.stopped) hooks.stopped(stop);
        ended(hooks, index, board, BoardOutcome{BoardOutcome::Result::stopped, stop.what(), {}, 0}, start);
        throw;
    }
}

// The board's lock, for as long as its work lasts; a board another program
// writes is refused.
std::unique_ptr<BoardLock> lock_board(std::size_t index, const SelectedBoard &board, const BoardLoopHooks &hooks,
                                      Clock::time_point start) {
    try {
        return std::make_unique<BoardLock>(board, hooks.program);
    } catch (const std::exception &refusal) {
        ended(hooks, index, board, BoardOutcome{BoardOutcome::Result::refused, refusal.what(), {}, 0}, start);
        throw;
    }
}

// The board's own firmware file, where the front end picks one per board.
std::string firmware_file(std::size_t index, const SelectedBoard &board, const std::string &path,
                          const BoardLoopHooks &hooks, Clock::time_point start) {
    if (!hooks.firmware_file) return path;
    try {
        return hooks.firmware_file(index, board);
    } catch (const std::exception &refusal) {
        ended(hooks, index, board, BoardOutcome{BoardOutcome::Result::refused, refusal.what(), {}, 0}, start);
        throw;
    }
}

// The front end's own checks and work before the board is changed.
void before_update(std::size_t index, const SelectedBoard &board, const BoardLoopHooks &hooks, Clock::time_point start) {
    if (!hooks.before_update) return;
    try {
        hooks.before_update(index, board);
    } catch (const std::exception &refusal) {
        ended(hooks, index, board, BoardOutcome{BoardOutcome::Result::refused, refusal.what(), {}, 0}, start);
        throw;
    }
}

void update_one(std::size_t index, const SelectedBoard &board, const std::string &path, const romwright::options &options,
                SectorWrites writes, const BoardLoopHooks &hooks, Clock::time_point start) {
    const UpdateCallbacks callbacks = hooks.callbacks(index);
    BoardOutcome outcome;
    try {
        update_board(path, board.handle, callbacks, options, writes, &outcome.report);
    } catch (const romwright::exception &failure) {
        if (hooks.board_done) hooks.board_done(index);
        outcome.error = failure.cause() ? failure.cause()->what() : failure.what();
        ended(hooks, index, board, outcome, start);
        throw;
    } catch (...) {
        if (hooks.board_done) hooks.board_done(index);
        ended(hooks, index, board, outcome, start);
        throw;
    }
    if (hooks.board_done) hooks.board_done(index);
    outcome.result = BoardOutcome::Result::succeeded;
    ended(hooks, index, board, outcome, start);
}

} // namespace

const char *result_name(BoardOutcome::Result result) noexcept {
    switch (result) {
    case BoardOutcome::Result::succeeded:
        return "succeeded";
    case BoardOutcome::Result::failed:
        return "failed";
    case BoardOutcome::Result::refused:
        return "refused";
    case BoardOutcome::Result::stopped:
        return "stopped";
    }
    return "failed";
}

void update_boards(const BoardList &boards, const std::string &path, const romwright::options &options,
                   SectorWrites writes, const BoardLoopHooks &hooks) {
    const std::size_t count = boards.size();
    for (std::size_t i = 0; i < count; ++i) {
        const Clock::time_point start = Clock::now();
        stop_before(i, count, boards[i], hooks, start);
        const std::unique_ptr<BoardLock> lock = lock_board(i, boards[i], hooks, start);
        if (hooks.begin_board) hooks.begin_board(i, count);
        const std::string board_path = firmware_file(i, boards[i], path, hooks, start);
        if (hooks.before_update) {
            before_update(i, boards[i], hooks, start);
            // What the front end did first (a backup's read) took time; a
            // stop that came meanwhile still finds the board untouched.
            stop_before(i, count, boards[i], hooks, start);
        }
        update_one(i, boards[i], board_path, options, writes, hooks, start);
    }
    if (count > 0 && hooks.stop_after_last_board)
        if (const char *request = stop_requested())
            hooks.stop_after_last_board(fmt::format("{} came during board {} of {}, the last; it was finished, so "
                                                    "nothing was left to stop.",
                                                    request, count, count));
}

} // namespace romwright::frontend
