#include <romwright/frontend/board_selection.hpp>

#include <stdexcept>

#include <fmt/format.h>

#include <romwright/error.hpp>
#include <zenapi/Zenapi.h>

namespace romwright::frontend {
namespace {

uint64_t checked_count(uint64_t count, const std::string &call, const char *what) {
    if (count > kMostBoards)
        throw romwright::error(error_kind::device_call, fmt::format("{} reports {} {}; no machine holds more than {}",
                                                                    call, count, what, kMostBoards));
    return count;
}

uint64_t boards_in(uint32_t system_id) {
    return checked_count(KorvelBoardsInSystemBySystemID(system_id),
                         fmt::format("KorvelBoardsInSystemBySystemID({})", system_id), "boards");
}

uint64_t systems() { return checked_count(KorvelNumOfSystems(), "KorvelNumOfSystems()", "systems"); }

void add_boards_of(uint32_t system_id, BoardList &boards) {
    for (uint64_t board = 1; board <= boards_in(system_id); ++board) {
        if (boards.size() == kMostBoards)
            throw romwright::error(
                error_kind::device_call,
                fmt::format("The library reports more than {} boards in all; no machine holds that many", kMostBoards));
        boards.push_back(KorvelGetBoardBySystemID(system_id, static_cast<uint32_t>(board)));
    }
}

} // namespace

BoardList boards_of_system(uint32_t system_id) {
    BoardList boards;
    add_boards_of(system_id, boards);
    return boards;
}

BoardList boards_of_all_systems() {
    BoardList boards;
    for (uint64_t system = 1; system <= systems(); ++system) add_boards_of(static_cast<uint32_t>(system), boards);
    return boards;
}

BoardList one_board(uint32_t system_id, uint32_t board_id) { return {KorvelGetBoardBySystemID(system_id, board_id)}; }

BoardList select_by_ids(int32_t system_id, int32_t board_id) {
    const auto system = static_cast<uint32_t>(system_id);
    if (board_id != 0) return one_board(system, static_cast<uint32_t>(board_id));
    if (system_id != 0) return boards_of_system(system);
    return boards_of_all_systems();
}

} // namespace romwright::frontend
