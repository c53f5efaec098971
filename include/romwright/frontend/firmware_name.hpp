// What a firmware file's name must carry before a board is touched: a known
// image kind and the model designation of the board it is for. Only the name
// is looked at (plain, case-sensitive substring searches over the whole
// path, folders included); the image's contents are the engine's to check.
#pragma once

#include <string>

namespace romwright::frontend {

// The model designation of a board ("ZEN5191"): KorvelGetBoardKind, then the
// board-kind range check, which raises zen::zen_error for a kind it does not know.
std::string model_designation(void *board);

// Raises romwright::error (usage) "Invalid firmware board type" unless path
// contains the board's model designation.
void check_board_model(const std::string &path, void *board);

// The console's check of its path, per board, in this order: "No valid file
// passed" for an empty path, "Invalid firmware file format" for one that
// holds neither ".rpd" nor ".pof", then the board's model.
void check_firmware_path(const std::string &path, void *board);

} // namespace romwright::frontend
