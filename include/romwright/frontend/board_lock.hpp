// One writer per board. Before its first call that changes a board, a
// program takes the board's lock and holds it until the board is done
// (verified or failed); a second program that wants the board is turned
// away at once, told who holds it. The lock is the operating system's: it
// is freed when its holder ends, however it ends, so a crashed or killed
// program never leaves a board blocked. verify and read hold it too while
// they read, so that nobody reads a flash that is being written.
//
// A board is known by its system and board ID and, where it tells, its
// serial: the lock of each is taken, so that neither another numbering of
// the boards nor a serial that cannot be read lets two writers in.
// The lock files live in ROMWRIGHT_LOCK_DIR when it is set, else in the
// machine-wide folder of the platform (/run/lock/romwright on Linux,
// %ProgramData%\Korvelon\romwright\locks on Windows).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <romwright/error.hpp>
#include <romwright/frontend/board_selection.hpp>

namespace romwright::frontend {

// Raised when another process holds the board: what() names the board and
// the holder (program, process ID, since when).
class board_busy_error : public error {
public:
    explicit board_busy_error(const std::string &message) : error(error_kind::board, message) {}
};

class BoardLock {
public:
    // Takes the board's locks for program (its name, as the holder's note
    // says); raises board_busy_error when another process holds one of them,
    // and romwright::error (a file) when the lock files cannot be used.
    BoardLock(const SelectedBoard &board, const std::string &program);
    ~BoardLock();
    BoardLock(const BoardLock &) = delete;
    BoardLock &operator=(const BoardLock &) = delete;

private:
    struct Held;
    std::vector<std::unique_ptr<Held>> held_;
};

// The folder of the lock files.
std::string lock_folder();

} // namespace romwright::frontend
