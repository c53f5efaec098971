// The update history of one program's run: a record for each board the run
// works on, started when the work begins and completed with its outcome when
// it ends, and the refusals of a run that never got to its boards. Every
// program records through here: the board loop's hooks with recording()
// added, and restore through begin() and end() itself.
//
// What a record says of the board comes from the update's report where the
// update identified the board (the register paths: model, serial, firmware
// version), else from three read-only library calls once the board's work
// has ended (the kind, the serial, the KSoPC signature): the driver's
// services identify nothing, and a refused board was not identified. The
// KSoPC signature changes only when the computer is powered off and on, so
// after the work it still tells the version before. A board a stop request
// ended the run before, and a run refused before its boards were worked on,
// are recorded without asking the board anything.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <romwright/frontend/board_loop.hpp>
#include <romwright/frontend/board_selection.hpp>
#include <romwright/frontend/history.hpp>

namespace romwright::frontend {

// Why a record says a run was refused by the version gate.
inline constexpr const char *kTooOldRecorded = "The device library or the driver is older than 7.1";

// Which board a record is of, as far as the program knows: both IDs of a
// selected board; for a run refused before its boards were selected, the
// IDs its command line named (0, all, is none).
struct BoardRef {
    std::optional<uint32_t> system_id;
    std::optional<uint32_t> board_id;
};
BoardRef board_ref(const SelectedBoard &board);
BoardRef board_ref_of_ids(int32_t system_id, int32_t board_id);

// What the board says about itself through read-only calls, for a record.
struct AskedFacts {
    std::optional<std::string> model;
    std::optional<uint32_t> serial;
    std::optional<std::string> version;  // from the KSoPC signature, "major.minor"
};
AskedFacts ask_board(void *board);

class BoardHistory {
public:
    // program names the program; file is the firmware file or backup as the
    // command line gave it (its size and Adler-32 are read once, when the
    // first record is made; a file that cannot be read leaves them empty).
    BoardHistory(History &history, std::string program, std::string file);

    BoardHistory(const BoardHistory &) = delete;
    BoardHistory &operator=(const BoardHistory &) = delete;

    // The file's size and Adler-32 as the program already knows them, so
    // the file is not read again for them.
    void file_known(uint64_t size, uint32_t adler32);

    // A bundle's update: file (given to the constructor) is the bundle, and
    // each record says which of its files the board took, with that file's
    // size and Adler-32, and the accepted signature's key and trusted comment
    // (none for an unsigned bundle).
    struct BundleFileFacts {
        std::string name;  // in the bundle
        uint64_t size = 0;
        uint32_t adler32 = 0;
    };
    void bundle_signature(std::optional<std::string> key_id, std::optional<std::string> trusted_comment);
    // The file of the loop's board index (recording() hands it to its record).
    void board_files(std::vector<std::optional<BundleFileFacts>> files);

    // The work on board begins: its record is added as started. facts, when
    // given, are what the program already asked of the board.
    void begin(const BoardRef &board, const std::optional<AskedFacts> &facts = std::nullopt);
    // The work on board ended with outcome: the record begun is completed,
    // or a whole one added when none was begun. handle is the board's (null
    // when there is none), asked for what neither the report nor begin()
    // told, unless the outcome is a stop.
    void end(const BoardRef &board, void *handle, const BoardOutcome &outcome);

    // hooks with the records of boards, the loop's boards, added. The hooks
    // refer to this object and to boards, which must outlive the loop.
    BoardLoopHooks recording(BoardLoopHooks hooks, const BoardList &boards);

    // A run refused before its boards were worked on (a library or driver
    // too old): a refused record for each board given, or one without a
    // board when none is; nothing is asked of the boards.
    void refused(const std::vector<BoardRef> &boards, const std::string &reason);

private:
    HistoryRecord new_record(const BoardRef &board);

    History &history_;
    std::string program_;
    std::string file_;
    bool file_read_ = false;
    std::optional<std::string> file_path_;
    std::optional<uint64_t> file_size_;
    std::optional<uint32_t> file_adler_;
    std::string host_;
    bool bundle_ = false;
    std::optional<std::string> signature_key_id_;
    std::optional<std::string> signature_comment_;
    std::vector<std::optional<BundleFileFacts>> board_files_;
    std::optional<BundleFileFacts> current_file_;  // of the board whose record is made next
    std::optional<HistoryRecord> open_;  // begun, not yet ended
    int64_t open_id_ = 0;
};

} // namespace romwright::frontend
