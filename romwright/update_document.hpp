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
#include <romwright/frontend/bundle_source.hpp>

namespace romwright::tool {

class UpdateDocument {
public:
    UpdateDocument(std::string file, std::size_t boards_selected);

    // Adds a board_ended hook that records each board, after the one
    // already there (if any).
    void watch(frontend::BoardLoopHooks &hooks);

    // A bundle's update: its signature, and the file of each of the loop's
    // boards, in order.
    void bundle(const frontend::SignatureState &signature, const std::vector<frontend::BoardFile> &files);

    // Whether a board has ended, i.e. the loop has begun its work.
    bool has_boards() const { return !boards_.empty(); }

    // The JSON text, with a final line break.
    std::string text(bool succeeded) const;

private:
    struct Board {
        uint32_t system_id = 0;
        uint32_t board_id = 0;
        std::optional<std::string> model;
        std::optional<std::string> bundle_file;
        frontend::BoardOutcome outcome;
    };
    void record(std::size_t index, const frontend::SelectedBoard &board, const frontend::BoardOutcome &outcome);

    std::string file_;
    std::size_t boards_selected_ = 0;
    std::vector<Board> boards_;
    bool bundle_ = false;
    frontend::SignatureState signature_;
    std::vector<std::string> bundle_files_;
};

} // namespace romwright::tool
