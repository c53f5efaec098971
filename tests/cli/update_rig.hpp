// One small board per programming path, a firmware file made for it, and the
// flash a correct update leaves on it: what the fault matrix and the
// power-loss runs update again and again, each run in a folder of its own
// (flash files, machine description, working folder with the log file), so
// that runs can go side by side.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"

namespace rig {

// The sanitizer build runs the programs about ten times slower; the long
// runs do less there.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

struct BoardSetup {
    std::string name;        // readable and stable: names tests, folders and the board in the machine
    std::string model;       // model designation, also in the firmware file's name
    std::string board_toml;  // the [[system.board]] table, without faults
    uint64_t flash_size = 0;
    uint32_t image_size = 0;
    // The update rewrites the flash from here up to image_size; the bytes
    // before and after keep what the board held.
    uint32_t written_from = 0;
    std::vector<std::string> maker_args;  // romwright-mkimage arguments besides board, size and output
};

inline void PrintTo(const BoardSetup &board, std::ostream *out) { *out << board.name; }

// ZEN5190 with the firmware-upgrade service, ZEN5191 with the flash-sector
// service, ZEN5110 in page mode, ZEN5160 in sector mode: small flash, no busy
// times, whole-sector images.
BoardSetup upgrade_service_board();
BoardSetup flash_sector_service_board();
BoardSetup page_mode_board(uint32_t image_size = 0x40000);
BoardSetup sector_mode_board(uint32_t image_size = 0x80000);

// What the board holds before an update: a pattern no image has.
std::vector<uint8_t> old_flash(const BoardSetup &board);
// The old flash with the image from written_from to image_size.
std::vector<uint8_t> updated_flash(const BoardSetup &board, const std::vector<uint8_t> &image);
// Offset of the first byte that differs, or the size of `a` when equal.
std::size_t first_difference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b);

// The board's firmware file, written by romwright-mkimage as a raw picture of
// the flash, so that its bytes are what the flash must hold.
class Firmware {
public:
    explicit Firmware(const BoardSetup &board);
    const std::string &path() const { return path_; }
    const std::vector<uint8_t> &bytes() const { return bytes_; }

private:
    testsupport::TempDir dir_{"firmware"};
    std::string path_;
    std::vector<uint8_t> bytes_;
};

// A machine of the one board, its flash files and a working folder.
class RunFolder {
public:
    // The board starts with old_flash().
    explicit RunFolder(const BoardSetup &board);

    // Writes a machine description of the board with `board_extra` appended
    // to its table and `library_toml` before it; returns its path.
    std::string machine(const std::string &file_name, const std::string &board_extra = "",
                        const std::string &library_toml = "") const;

    // romwright-cli update <firmware> on the machine `config`, in the
    // working folder; `env` is added to the simulator's variables.
    testsupport::ProcessResult update(const std::string &config, const std::string &firmware,
                                      testsupport::ProcessOptions options = {},
                                      const std::map<std::string, std::string> &env = {}) const;

    std::vector<uint8_t> flash() const;
    uint64_t flash_file_size() const;
    std::string log() const;
    std::string file(const std::string &name) const { return dir_->file(name); }
    // The update history of the runs (ROMWRIGHT_HISTORY).
    std::string history() const { return file("history.sqlite"); }

private:
    BoardSetup board_;
    std::unique_ptr<testsupport::TempDir> dir_;
    std::string state_dir_;
    std::string work_dir_;
};

// Seconds a program took, with the result.
struct TimedResult {
    testsupport::ProcessResult result;
    double seconds = 0;
};
TimedResult timed(const std::function<testsupport::ProcessResult()> &run);

// The last `lines` lines of a text, for failure messages.
std::string tail(const std::string &text, std::size_t lines = 12);

// build/test-artifacts, created when missing.
std::string artifacts_dir();

} // namespace rig
