#include "tests/cli/update_rig.hpp"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <stdexcept>

#include <fmt/format.h>

#include "tests/support/bytes.hpp"
#include "tests/support/sim_machine.hpp"

namespace rig {

BoardSetup upgrade_service_board() {
    return {"upgrade_service", "ZEN5190",
            "kind = 35\nfeatures = [5]\nflash_size = 0x80000\n[system.board.upgrade]\npolls = 8\n",
            0x80000, 0x40000, 0, {}};
}

BoardSetup flash_sector_service_board() {
    return {"flash_sector_service", "ZEN5191",
            "kind = 36\nfeatures = [2]\nflash_size = 0x80000\nsector_size = 0x10000\n", 0x80000, 0x40000, 0, {}};
}

// The engine plans the sectors from page_0 (which starts at 0x20000) to the
// option bits at the image's end. No page of the image is blank, so that a
// write that goes missing always shows.
BoardSetup page_mode_board(uint32_t image_size) {
    const uint64_t flash_size = image_size + 0x40000ull;
    return {"page_mode", "ZEN5110",
            fmt::format("kind = 11\nrevision = \"2.0\"\nfeatures = []\nflash_size = 0x{:X}\n"
                        "[system.board.timing]\npage_erase_ms = 0\n",
                        flash_size),
            flash_size, image_size, 0x20000, {"--blank-fraction", "0"}};
}

// Sector mode writes whole 256 KB sectors from the first one.
BoardSetup sector_mode_board(uint32_t image_size) {
    const uint64_t flash_size = image_size + 0x40000ull;
    return {"sector_mode", "ZEN5160",
            fmt::format("kind = 25\nfeatures = []\nflash_size = 0x{:X}\n[system.board.controller]\n"
                        "erase_ms = 0\nprogram_ms = 0\nread_burst_ms = 0\ncommand_ms = 0\n",
                        flash_size),
            flash_size, image_size, 0, {"--blank-fraction", "0"}};
}

std::vector<uint8_t> old_flash(const BoardSetup &board) {
    return testsupport::pattern_bytes(board.flash_size, 13, 11, 0x5A);
}

std::vector<uint8_t> updated_flash(const BoardSetup &board, const std::vector<uint8_t> &image) {
    if (image.size() != board.image_size) throw std::invalid_argument("updated_flash: not the board's image");
    std::vector<uint8_t> flash = old_flash(board);
    std::copy(image.begin() + board.written_from, image.end(), flash.begin() + board.written_from);
    return flash;
}

std::size_t first_difference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
    return testsupport::first_difference(a, b);
}

Firmware::Firmware(const BoardSetup &board) {
    path_ = dir_.file("fw-" + board.model + ".rpd");
    std::vector<std::string> args = {"--board", board.model, "--out", path_, "--format", "rpd", "--size",
                                     std::to_string(board.image_size)};
    args.insert(args.end(), board.maker_args.begin(), board.maker_args.end());
    const auto made = testsupport::run_process(testsupport::bin_path("romwright-mkimage"), args);
    if (made.exit_code != 0) throw std::runtime_error("romwright-mkimage failed: " + made.err);
    bytes_ = testsupport::read_file(path_);
}

RunFolder::RunFolder(const BoardSetup &board)
    : board_(board), dir_(std::make_unique<testsupport::TempDir>("run-" + board.name)) {
    state_dir_ = dir_->file("state");
    work_dir_ = dir_->file("work");
    std::filesystem::create_directories(state_dir_);
    std::filesystem::create_directories(work_dir_);
    testsupport::write_file(state_dir_ + "/" + board_.name + ".flash", old_flash(board_));
}

std::string RunFolder::machine(const std::string &file_name, const std::string &board_extra,
                               const std::string &library_toml) const {
    const std::string path = dir_->file(file_name);
    testsupport::write_text(path, library_toml + "[[system]]\n[[system.board]]\nname = \"" + board_.name + "\"\n" +
                                      board_.board_toml + board_extra);
    return path;
}

testsupport::ProcessResult RunFolder::update(const std::string &config, const std::string &firmware,
                                             testsupport::ProcessOptions options,
                                             const std::map<std::string, std::string> &env) const {
    options.working_directory = work_dir_;
    options.env["ZENAPI_SIM_CONFIG"] = config;
    options.env["ZENAPI_SIM_STATE_DIR"] = state_dir_;
    // Runs of the matrix go on side by side, each on a machine of its own.
    options.env["ROMWRIGHT_LOCK_DIR"] = dir_->file("locks");
    options.env["ROMWRIGHT_HISTORY"] = history();
    for (const auto &[name, value] : env) options.env[name] = value;
    // The caller's own trace or counts must not catch these runs.
    for (const char *name : {"ZENAPI_SIM_TRACE", "ZENAPI_SIM_CALL_COUNTS"})
        if (!env.count(name)) options.unset_env.push_back(name);
    return testsupport::run_process(testsupport::bin_path("romwright-cli"), {"update", firmware}, options);
}

std::vector<uint8_t> RunFolder::flash() const {
    return testsupport::read_file(state_dir_ + "/" + board_.name + ".flash");
}

uint64_t RunFolder::flash_file_size() const {
    return std::filesystem::file_size(state_dir_ + "/" + board_.name + ".flash");
}

std::string RunFolder::log() const { return testsupport::read_text(work_dir_ + "/romwright-cli.log"); }

TimedResult timed(const std::function<testsupport::ProcessResult()> &run) {
    const auto start = std::chrono::steady_clock::now();
    TimedResult timed{run(), 0};
    timed.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return timed;
}

std::string tail(const std::string &text, std::size_t lines) {
    std::size_t at = text.size();
    for (std::size_t seen = 0; at > 0 && seen <= lines;) {
        --at;
        if (text[at] == '\n') ++seen;
    }
    return at == 0 ? text : "..." + text.substr(at);
}

std::string artifacts_dir() {
    const std::string dir = (std::filesystem::path(ROMWRIGHT_BIN_DIR).parent_path() / "test-artifacts").string();
    std::filesystem::create_directories(dir);
    return dir;
}

} // namespace rig
