// The loop over the boards of a run, which every front end runs the same
// way: before each board a stop request ends the run (the board before was
// finished whole, this one is not touched), then the board's lock is taken
// (another program writing it turns the run away), then the front end's own
// checks and work before the board is changed (a file-name check, a backup),
// a stop requested meanwhile ends the run there too, then the update; the
// lock is let go once the board is done, and the first board that fails
// ends the run. What a program shows and keeps
// (progress, log file, signals to a window) comes in through the hooks;
// the loop itself prints nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include <romwright/frontend/board_selection.hpp>
#include <romwright/frontend/board_update.hpp>
#include <romwright/frontend/stop_request.hpp>
#include <romwright/options.hpp>
#include <romwright/update_report.hpp>

namespace romwright::frontend {

// How the work on one board of a run ended.
struct BoardOutcome {
    enum class Result {
        succeeded,  // updated (and verified)
        failed,     // the update failed
        refused,    // a check or work of the front end's own before the update refused it: nothing was changed
        stopped,    // a stop request ended the run before the board was changed
    };
    Result result = Result::failed;
    std::string error;         // why it failed, was refused or stopped ("" when it succeeded)
    UpdateReport report;       // what the update did, as far as it came
    uint64_t milliseconds = 0; // from the board's start to its end
};

// "succeeded", "failed", "refused" or "stopped".
const char *result_name(BoardOutcome::Result result) noexcept;

struct BoardLoopHooks {
    // The program's name, which the board's lock gives those it turns away.
    std::string program;
    // Before board index (from 0) of count: show it. Optional.
    std::function<void(std::size_t index, std::size_t count)> begin_board;
    // The firmware file of board index when it is not the run's one file
    // (a bundle's file for the board's model, written where the engine can
    // read it); asked after begin_board, before before_update; raising
    // refuses the board and ends the run. Optional: without it every board
    // takes the run's file.
    std::function<std::string(std::size_t index, const SelectedBoard &board)> firmware_file;
    // The front end's checks and work on the board before it is changed;
    // raising ends the run. Optional.
    std::function<void(std::size_t index, const SelectedBoard &board)> before_update;
    // The callbacks of this board's update (the loop keeps them for its
    // length).
    std::function<UpdateCallbacks(std::size_t index)> callbacks;
    // After the update of board index, whether it succeeded or not. Optional.
    std::function<void(std::size_t index)> board_done;
    // How the work on board index ended: after its update, after a refusal
    // before it, or after a stop request that ended the run before it.
    // Optional.
    std::function<void(std::size_t index, const SelectedBoard &board, const BoardOutcome &outcome)> board_ended;
    // A stop request ended the run before a board; the loop raises the
    // stop_requested_error after this. Optional.
    std::function<void(const stop_requested_error &stop)> stopped;
    // A stop request that came during the last board, which was finished
    // whole: nothing was left to stop. Optional; without it such a request
    // ends the run as usual.
    std::function<void(const std::string &notice)> stop_after_last_board;
};

// Updates boards one after another with the file at path; raises
// stop_requested_error for a stop before a board, board_busy_error for a
// board another program holds, and what the update or a hook raised for the
// first board that fails (a failed update is a romwright::exception carrying
// the engine's failure).
void update_boards(const BoardList &boards, const std::string &path, const romwright::options &options,
                   SectorWrites writes, const BoardLoopHooks &hooks);

} // namespace romwright::frontend
