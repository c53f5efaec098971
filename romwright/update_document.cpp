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

UpdateDocument::UpdateDocument(std::string file, std::size_t boards_selected)
    : file_(std::move(file)), boards_selected_(boards_selected) {}

void UpdateDocument::watch(frontend::BoardLoopHooks &hooks) {
    auto before = hooks.board_ended;
    hooks.board_ended = [this, before](std::size_t index, const frontend::SelectedBoard &board,
                                       const frontend::BoardOutcome &outcome) {
        if (before) before(index, board, outcome);
        record(index, board, outcome);
    };
}

void UpdateDocument::bundle(const frontend::SignatureState &signature, const std::vector<frontend::BoardFile> &files) {
    bundle_ = true;
    signature_ = signature;
    bundle_files_.clear();
    for (const frontend::BoardFile &choice : files) bundle_files_.push_back(choice.file ? choice.file->file : "");
}

void UpdateDocument::record(std::size_t index, const frontend::SelectedBoard &board,
                            const frontend::BoardOutcome &outcome) {
    Board entry{board.system_id, board.board_id, std::nullopt, std::nullopt, outcome};
    if (index < bundle_files_.size()) entry.bundle_file = bundle_files_[index];
    if (board.handle)
        if (const BoardModel *model = find_board_model(KorvelGetBoardKind(board.handle)))
            entry.model = model->designation;
    boards_.push_back(std::move(entry));
}

std::string UpdateDocument::text(bool succeeded) const {
    JsonWriter json;
    json.begin_object().field("schema_version", uint32_t{1}).field("command", "update").field("file", file_);
    json.field("boards_selected", uint64_t{boards_selected_});
    if (bundle_) {
        json.begin_object("signature").field("state", frontend::kind_name(signature_.kind));
        if (signature_.kind == frontend::SignatureState::Kind::trusted)
            json.field("key_id", signature_.key_id).field("trusted_comment", signature_.trusted_comment);
        else
            json.null_field("key_id").null_field("trusted_comment");
        json.end_object();
    } else {
        json.null_field("signature");
    }
    json.begin_array("boards");
    for (const Board &b : boards_) {
        const UpdateReport &report = b.outcome.report;
        json.begin_object().field("system_id", b.system_id).field("board_id", b.board_id).field("model", b.model);
        json.field("bundle_file", b.bundle_file);
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
