// Which boards an update takes, in the order it takes them: the handles the
// device library gives for the systems and boards selected. Counts are asked
// again before every step, as the library's view of the machine is the truth;
// they are counted in 64 bits, so a library that claims 0xFFFFFFFF boards
// cannot make a counter wrap.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace romwright::frontend {

// Board handles as the library returns them, a null handle included: the
// update entry reports a null one for its board.
using BoardList = std::vector<void *>;

// The system and board IDs of a selected board, as the library was asked for it.
struct BoardAddress {
    uint32_t system_id = 0;
    uint32_t board_id = 0;
};
// Each function below that selects boards puts, when given addresses, the
// IDs of each board it returns there, in the same order: the same library
// calls, no more.
using BoardAddresses = std::vector<BoardAddress>;

// No machine holds more boards (or systems) than this; a count beyond it is
// a library answering nonsense, and following it would ask for billions of
// handles. Such a count raises romwright::error (a device call) naming the call and value.
inline constexpr uint64_t kMostBoards = 0x10000;

// Boards 1, 2, ... of one system (none for a system the library does not have).
BoardList boards_of_system(uint32_t system_id, BoardAddresses *addresses = nullptr);

// Every board of systems 1, 2, ..., in order.
BoardList boards_of_all_systems(BoardAddresses *addresses = nullptr);

// The one board system_id/board_id, as the library gives it.
BoardList one_board(uint32_t system_id, uint32_t board_id, BoardAddresses *addresses = nullptr);

// The console's rule for its system ID S and board ID B, 0 meaning all: B
// not 0 takes board B of system S (system 0 included); else S not 0 takes
// every board of S; else every board of every system.
BoardList select_by_ids(int32_t system_id, int32_t board_id, BoardAddresses *addresses = nullptr);

// Why the IDs of select_by_ids name no system or board of this machine, in
// words for the user that say which there are: "System 1 has no board 7;
// its boards are 1 to 2", "There is no system 9; the only system is 1".
// Nothing when they name one (or, with 0s, every board there is, however
// few). System 0 with a board ID is left to the library, which gives a
// handle for it or none.
std::optional<std::string> nothing_selected(int32_t system_id, int32_t board_id);

} // namespace romwright::frontend
