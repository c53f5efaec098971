#include <romwright/frontend/firmware_name.hpp>

#include <stdexcept>

#include <romwright/error.hpp>

#include "engine/devlib/zen.hpp"

namespace romwright::frontend {
namespace {

constexpr const char *kImageKinds[] = {".rpd", ".pof"};

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

} // namespace

std::string model_designation(void *board) {
    const char *model = zen::model_name(zen::get_board_kind(board));
    return model ? model : "";
}

void check_board_model(const std::string &path, void *board) {
    const std::string model = model_designation(board);
    if (model.empty() || !contains(path, model))
        throw romwright::error(error_kind::usage, "Invalid firmware board type");
}

void check_firmware_path(const std::string &path, void *board) {
    if (path.empty()) throw romwright::error(error_kind::usage, "No valid file passed");
    bool known_kind = false;
    for (const char *kind : kImageKinds) known_kind = known_kind || contains(path, kind);
    if (!known_kind) throw romwright::error(error_kind::usage, "Invalid firmware file format");
    check_board_model(path, board);
}

} // namespace romwright::frontend
