// list_boards: the machine's boards as the device library describes them.
// Every call here only reads; a query a board refuses leaves its fact unknown.
#include <romwright/frontend/inventory.hpp>

#include <romwright/board_table.hpp>
#include <romwright/error.hpp>
#include <romwright/frontend/board_selection.hpp>
#include <romwright/programming_path.hpp>
#include <zenapi/Zenapi.h>

#include "engine/devlib/zen.hpp"

namespace romwright {
namespace {

constexpr uint32_t kRevisionMinorUnset = 15;

uint32_t fpga_major(uint32_t signature) { return (signature >> 16) & 0xFFu; }
uint32_t fpga_minor(uint32_t signature) { return (signature >> 24) & 0x0Fu; }

} // namespace

BoardFacts board_facts(void *board, uint32_t system_id, uint32_t board_id) {
    BoardFacts facts;
    facts.system_id = system_id;
    facts.board_id = board_id;
    facts.present = board != nullptr;
    if (!board) return facts;
    facts.kind = KorvelGetBoardKind(board);
    const BoardModel *model = find_board_model(facts.kind);
    facts.model = model ? model->designation : "unknown";
    uint32_t value = 0;
    if (KorvelQueryCapability(board, ZENAPI_CAP_SERIAL_NUMBER, 0, &value) == ZENAPI_SUCCESS) facts.serial = value;
    if (KorvelQueryCapability(board, ZENAPI_CAP_KSOPC_SIGNATURE, 0, &value) == ZENAPI_SUCCESS)
        facts.fpga = Version{fpga_major(value), fpga_minor(value)};
    uint8_t major = 0, minor = 0;
    if (KorvelGetCPLDVersion(board, &major, &minor) == ZENAPI_SUCCESS) facts.cpld = Version{major, minor};
    if (KorvelGetBoardRevision(board, &major, &minor) == ZENAPI_SUCCESS)
        facts.revision = Version{major, minor == kRevisionMinorUnset ? 0u : uint32_t{minor}};
    try {
        facts.update_path = path_name(choose_path(board));
    } catch (const romwright::error &) {
        facts.update_path = "unknown";
    }
    return facts;
}

std::vector<BoardFacts> list_boards() {
    std::vector<BoardFacts> boards;
    const uint32_t systems = KorvelNumOfSystems();
    if (systems > frontend::kMostBoards)
        throw romwright::error(error_kind::device_call, "KorvelNumOfSystems() reports more systems than any machine has");
    for (uint32_t system = 1; system <= systems; ++system) {
        for (const frontend::SelectedBoard &board : frontend::boards_of_system(system))
            boards.push_back(board_facts(board.handle, board.system_id, board.board_id));
    }
    return boards;
}

} // namespace romwright
