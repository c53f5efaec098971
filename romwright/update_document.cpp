#include "update_document.hpp"

#include <string>
#include <utility>

#include <romwright/board_table.hpp>
#include <romwright/frontend/board_selection.hpp>
#include <romwright/programming_path.hpp>
#include <zenapi/Zenapi.h>

#include "json_writer.hpp"

namespace romwright::tool {
namespace {

// The engine's messages may end in a line break; a JSON text does not need it.
std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

} // namespace

std::vector<SelectedIds> selected_ids(int32_t system_id, int32_t board_id, std::size_t count) {
    std::vector<SelectedIds> ids;
    if (board_id != 0) {
        // System 0 with a board ID is the library's choice of system: the IDs are shown as given.
        ids.push_back({static_cast<uint32_t>(system_id), static_cast<uint32_t>(board_id)});
    } else if (system_id != 0) {
        for (std::size_t b = 1; b <= count; ++b)
            ids.push_back({static_cast<uint32_t>(system_id), static_cast<uint32_t>(b)});
    } else {
        // The counts were checked by the selection; a library that now claims
        // more stops at the boards selected.
        const uint64_t systems = KorvelNumOfSystems();
        for (uint64_t s = 1; s <= systems && s <= frontend::kMostBoards && ids.size() < count; ++s) {
            const uint64_t boards = KorvelBoardsInSystemBySystemID(static_cast<uint32_t>(s));
            for (uint64_t b = 1; b <= boards && ids.size() < count; ++b)
                ids.push_back({static_cast<uint32_t>(s), static_cast<uint32_t>(b)});
        }
    }
    ids.resize(count);
    return ids;
}

UpdateDocument::UpdateDocument(std::string file, std::vector<SelectedIds> ids)
    : file_(std::move(file)), ids_(std::move(ids)) {}

void UpdateDocument::watch(frontend::BoardLoopHooks &hooks) {
    auto before = hooks.board_ended;
    hooks.board_ended = [this, before](std::size_t index, void *board, const frontend::BoardOutcome &outcome) {
        if (before) before(index, board, outcome);
        record(index, board, outcome);
    };
}

void UpdateDocument::record(std::size_t index, void *board, const frontend::BoardOutcome &outcome) {
    Board entry{index < ids_.size() ? ids_[index] : SelectedIds{}, std::nullopt, outcome};
    if (board)
        if (const BoardModel *model = find_board_model(KorvelGetBoardKind(board))) entry.model = model->designation;
    boards_.push_back(std::move(entry));
}

std::string UpdateDocument::text(bool succeeded) const {
    JsonWriter json;
    json.begin_object().field("schema_version", uint32_t{1}).field("command", "update").field("file", file_);
    json.field("boards_selected", uint64_t{ids_.size()}).begin_array("boards");
    for (const Board &b : boards_) {
        const UpdateReport &report = b.outcome.report;
        json.begin_object().field("system_id", b.ids.system_id).field("board_id", b.ids.board_id).field("model", b.model);
        if (report.path == ProgrammingPath::none) json.null_field("path");
        else json.field("path", path_name(report.path));
        json.field("result", frontend::result_name(b.outcome.result));
        json.field("sectors_erased", report.sectors_erased)
            .field("sectors_written", report.sectors_written)
            .field("sectors_skipped", report.sectors_skipped);
        if (b.outcome.result == frontend::BoardOutcome::Result::succeeded) json.null_field("error");
        else json.field("error", trimmed(b.outcome.error));
        json.field("milliseconds", b.outcome.milliseconds).end_object();
    }
    json.end_array().field("succeeded", succeeded).end_object();
    return json.text();
}

} // namespace romwright::tool
