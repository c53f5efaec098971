#include <romwright/frontend/board_history.hpp>

#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include <fmt/format.h>

#include <romwright/board_table.hpp>
#include <romwright/programming_path.hpp>
#include <romwright/version.hpp>
#include <zenapi/Zenapi.h>

#include "engine/image/firmware_file.hpp"
#include "engine/platform/places.hpp"

namespace romwright::frontend {
namespace {

// The FPGA firmware's major and minor as the KSoPC signature holds them.
std::string signature_version_text(uint32_t signature) {
    return fmt::format("{}.{}", (signature >> 16) & 0xFFu, (signature >> 24) & 0x0Fu);
}

std::string absolute_path_of(const std::string &path) {
    std::error_code error;
    const std::filesystem::path whole = std::filesystem::absolute(std::filesystem::u8path(path), error);
    return error ? path : whole.lexically_normal().u8string();
}

// The report's facts, where the update had them.
void take_report(const UpdateReport &report, HistoryRecord &record) {
    if (report.path != ProgrammingPath::none) record.path = path_name(report.path);
    record.sectors_erased = report.sectors_erased;
    record.sectors_written = report.sectors_written;
    record.sectors_skipped = report.sectors_skipped;
    if (report.model) record.model = report.model;
    if (report.serial) record.serial = report.serial;
    if (report.firmware_before)
        record.version_before = fmt::format("{}.{}", report.firmware_before->first, report.firmware_before->second);
}

// A reason as a record keeps it: without the line break it may end in; none when empty.
std::optional<std::string> recorded_reason(std::string reason) {
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
    if (reason.empty()) return std::nullopt;
    return reason;
}

void take_asked(const AskedFacts &facts, HistoryRecord &record) {
    if (!record.model) record.model = facts.model;
    if (!record.serial) record.serial = facts.serial;
    if (!record.version_before) record.version_before = facts.version;
}

} // namespace

BoardRef board_ref(const SelectedBoard &board) { return BoardRef{board.system_id, board.board_id}; }

BoardRef board_ref_of_ids(int32_t system_id, int32_t board_id) {
    BoardRef ref;
    if (system_id != 0) ref.system_id = static_cast<uint32_t>(system_id);
    if (board_id != 0) ref.board_id = static_cast<uint32_t>(board_id);
    return ref;
}

AskedFacts ask_board(void *board) {
    AskedFacts facts;
    if (!board) return facts;
    if (const BoardModel *model = find_board_model(KorvelGetBoardKind(board))) facts.model = model->designation;
    uint32_t value = 0;
    if (KorvelQueryCapability(board, ZENAPI_CAP_SERIAL_NUMBER, 0, &value) == ZENAPI_SUCCESS) facts.serial = value;
    if (KorvelQueryCapability(board, ZENAPI_CAP_KSOPC_SIGNATURE, 0, &value) == ZENAPI_SUCCESS)
        facts.version = signature_version_text(value);
    return facts;
}

BoardHistory::BoardHistory(History &history, std::string program, std::string file)
    : history_(history), program_(std::move(program)), file_(std::move(file)) {}

void BoardHistory::file_known(uint64_t size, uint32_t adler32) {
    file_size_ = size;
    file_adler_ = adler32;
}

HistoryRecord BoardHistory::new_record(const BoardRef &board) {
    if (!file_read_) {
        file_read_ = true;
        host_ = platform::host_name();
        if (!file_.empty()) file_path_ = absolute_path_of(file_);
        if (!file_.empty() && !file_size_) {
            try {
                const FileFacts facts = file_facts(file_);
                file_size_ = facts.size;
                file_adler_ = facts.adler;
            } catch (const std::exception &) {
                // Not a file that can be read: the update says why.
            }
        }
    }
    HistoryRecord record;
    record.time = utc_now_text();
    record.host = host_;
    record.program = program_;
    record.program_version = kVersion;
    record.system_id = board.system_id;
    record.board_id = board.board_id;
    record.file = file_path_;
    record.file_size = file_size_;
    record.adler32 = file_adler_;
    record.result = "started";
    if (bundle_) {
        record.signature_key_id = signature_key_id_;
        record.signature_trusted_comment = signature_comment_;
        if (current_file_) {
            record.bundle_file = current_file_->name;
            record.file_size = current_file_->size;
            record.adler32 = current_file_->adler32;
        } else {
            // The bundle's own size and Adler-32 say nothing of what a board took.
            record.file_size.reset();
            record.adler32.reset();
        }
    }
    return record;
}

void BoardHistory::bundle_signature(std::optional<std::string> key_id, std::optional<std::string> trusted_comment) {
    bundle_ = true;
    signature_key_id_ = std::move(key_id);
    signature_comment_ = std::move(trusted_comment);
}

void BoardHistory::board_files(std::vector<std::optional<BundleFileFacts>> files) {
    bundle_ = true;
    board_files_ = std::move(files);
}

void BoardHistory::begin(const BoardRef &board, const std::optional<AskedFacts> &facts) {
    try {
        open_ = new_record(board);
        if (facts) take_asked(*facts, *open_);
        open_id_ = history_.add(*open_);
    } catch (...) {
        // Out of memory: the run goes on without its record.
        open_.reset();
    }
}

void BoardHistory::end(const BoardRef &board, void *handle, const BoardOutcome &outcome) {
    try {
        HistoryRecord record = open_ ? std::move(*open_) : new_record(board);
        const int64_t id = open_ ? open_id_ : 0;
        open_.reset();
        open_id_ = 0;
        take_report(outcome.report, record);
        // Nothing known of the board yet: neither the program nor the update asked it.
        const bool unknown = !record.model && !record.serial && !record.version_before;
        if (unknown && outcome.result != BoardOutcome::Result::stopped) take_asked(ask_board(handle), record);
        record.duration_s = static_cast<double>(outcome.milliseconds) / 1000.0;
        record.result = result_name(outcome.result);
        record.error = recorded_reason(outcome.error);
        history_.complete(id, record);
    } catch (...) {
        // Out of memory: the run goes on without its record.
    }
}

BoardLoopHooks BoardHistory::recording(BoardLoopHooks hooks, const BoardList &boards) {
    hooks.begin_board = [this, &boards, shown = std::move(hooks.begin_board)](std::size_t index, std::size_t count) {
        current_file_ = index < board_files_.size() ? board_files_[index] : std::nullopt;
        begin(board_ref(boards.at(index)));
        if (shown) shown(index, count);
    };
    hooks.board_ended = [this, told = std::move(hooks.board_ended)](std::size_t index, const SelectedBoard &board,
                                                                    const BoardOutcome &outcome) {
        end(board_ref(board), board.handle, outcome);
        if (told) told(index, board, outcome);
    };
    return hooks;
}

void BoardHistory::refused(const std::vector<BoardRef> &boards, const std::string &reason) {
    const std::vector<BoardRef> each = boards.empty() ? std::vector<BoardRef>{BoardRef{}} : boards;
    for (const BoardRef &board : each) {
        try {
            HistoryRecord record = new_record(board);
            record.duration_s = 0.0;
            record.result = result_name(BoardOutcome::Result::refused);
            record.error = recorded_reason(reason);
            history_.complete(0, record);
        } catch (...) {
            // Out of memory: the run goes on without its record.
        }
    }
}

} // namespace romwright::frontend
