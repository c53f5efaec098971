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

std::string systems_there(uint64_t count) {
    if (count == 0) return "this machine has no systems";
    if (count == 1) return "the only system is 1";
    return fmt::format("the systems are 1 to {}", count);
}

std::string boards_there(uint64_t count) {
    if (count == 0) return "it has no boards";
    if (count == 1) return "its only board is 1";
    return fmt::format("its boards are 1 to {}", count);
}

void add_boards_of(uint32_t system_id, BoardList &boards) {
    for (uint64_t board = 1; board <= boards_in(system_id); ++board) {
        if (boards.size() == kMostBoards)
            throw romwright::error(
                error_kind::device_call,
                fmt::format("The library reports more than {} boards in all; no machine holds that many", kMostBoards));
        const auto board_id = static_cast<uint32_t>(board);
        boards.push_back(SelectedBoard{KorvelGetBoardBySystemID(system_id, board_id), system_id, board_id});
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
    for (uint64_t system = 1; system <= systems(); ++system)
        add_boards_of(static_cast<uint32_t>(system), boards);
    return boards;
}

BoardList one_board(uint32_t system_id, uint32_t board_id) {
    return {SelectedBoard{KorvelGetBoardBySystemID(system_id, board_id), system_id, board_id}};
}

std::optional<std::string> nothing_selected(int32_t system_id, int32_t board_id) {
    if (system_id == 0 && board_id == 0) return std::nullopt;
    if (system_id == 0 && KorvelGetBoardBySystemID(0, static_cast<uint32_t>(board_id))) return std::nullopt;
    const uint64_t system_count = systems();
    if (system_id <= 0 || static_cast<uint64_t>(system_id) > system_count)
        return fmt::format("There is no system {}; {}", system_id, systems_there(system_count));
    if (board_id == 0) return std::nullopt;
    const uint64_t board_count = boards_in(static_cast<uint32_t>(system_id));
    if (board_id < 0 || static_cast<uint64_t>(board_id) > board_count)
        return fmt::format("System {} has no board {}; {}", system_id, board_id, boards_there(board_count));
    return std::nullopt;
}

BoardList select_by_ids(int32_t system_id, int32_t board_id) {
    const auto system = static_cast<uint32_t>(system_id);
    if (board_id != 0) return one_board(system, static_cast<uint32_t>(board_id));
    if (system_id != 0) return boards_of_system(system);
    return boards_of_all_systems();
}

} // namespace romwright::frontend
