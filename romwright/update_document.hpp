// The document of romwright update --json: the file, and for each board the
// run came to, its IDs, model, path, result, error and the sectors erased,
// written and left alone. It is written once the board loop has begun, after
// a failed or stopped board too (that board's error is the reason); a run
// that ends before the loop (a bad command line, the version gate, a
// selection that names no board, a refused backup target) writes none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <romwright/frontend/board_loop.hpp>

namespace romwright::tool {

// A selected board's system and board ID; none where they could not be told.
struct SelectedIds {
    std::optional<uint32_t> system_id;
    std::optional<uint32_t> board_id;
};

// The IDs of the count boards frontend::select_by_ids(system_id, board_id)
// gave, in its order. The board loop knows boards by their handles only, so
// they are worked out here: a board or a system's boards are named by the
// IDs given, and for every board of every system the systems' board counts
// are asked again. Boards past what those counts cover (a library whose
// machine changed in between) get none.
std::vector<SelectedIds> selected_ids(int32_t system_id, int32_t board_id, std::size_t count);

class UpdateDocument {
public:
    UpdateDocument(std::string file, std::vector<SelectedIds> ids);

    // Adds a board_ended hook that records each board, after the one
    // already there (if any).
    void watch(frontend::BoardLoopHooks &hooks);

    // Whether a board has ended, i.e. the loop has begun its work.
    bool has_boards() const { return !boards_.empty(); }

    // The JSON text, with a final line break.
    std::string text(bool succeeded) const;

private:
    struct Board {
        SelectedIds ids;
        std::optional<std::string> model;
        frontend::BoardOutcome outcome;
    };
    void record(std::size_t index, void *board, const frontend::BoardOutcome &outcome);

    std::string file_;
    std::vector<SelectedIds> ids_;
    std::vector<Board> boards_;
};

} // namespace romwright::tool
