// A simulated machine for one test: a temporary folder holding the machine
// description (machine.toml) and the boards' flash files (state/), so no
// test ever touches the user's own simulated boards.
//
//   testsupport::SimMachine machine(R"(
//       [[system]]
//       [[system.board]]
//       name = "b1"
//       kind = 36
//       features = [2]
//   )");
//   machine.activate();                    // this process: env set, library reloaded
//   ... KorvelGetBoardBySystemID(1, 1) ...
//   auto flash = machine.flash("b1");      // the board's flash, from its file
//
//   run_process(bin, args, machine.process_options());   // a child process
//
// SimMachine::default_machine() uses the library's built-in machine instead
// of a description (still with a private state folder).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"

namespace testsupport {

class SimMachine {
public:
    // Writes the description; empty text means "the built-in machine".
    explicit SimMachine(const std::string &toml_text);
    static SimMachine default_machine() { return SimMachine(std::string()); }

    SimMachine(SimMachine &&) = default;
    // On Windows the library first lets go of this machine's files, if it
    // has them loaded: Windows cannot remove a mapped or open file.
    ~SimMachine();

    // Also record every library call in trace.log (before activate/env).
    SimMachine &with_trace();

    const std::string &folder() const { return dir_->path(); }
    const std::string &config_path() const { return config_path_; }  // "" for the built-in machine
    const std::string &state_dir() const { return state_dir_; }
    const std::string &trace_path() const { return trace_path_; }   // "" without with_trace()
    // The update history of the programs run on this machine (ROMWRIGHT_HISTORY).
    std::string history_path() const { return dir_->file("history.sqlite"); }
    // The machine's folder of trusted bundle signing keys (ROMWRIGHT_TRUSTED_KEYS),
    // not made until a test puts a key there.
    std::string trusted_keys_folder() const { return dir_->file("trusted-keys"); }
    std::string flash_path(const std::string &board_name) const;

    // For this process: sets ZENAPI_SIM_CONFIG (or unsets it for the built-in
    // machine), ZENAPI_SIM_STATE_DIR, ZENAPI_SIM_TRACE, ROMWRIGHT_HISTORY and ROMWRIGHT_TRUSTED_KEYS, then reloads the
    // library (ZenSimReload). Throws std::runtime_error with the library's
    // message when the machine does not load.
    void activate() const;

    // For a child process: the variables to set and to remove.
    std::map<std::string, std::string> env() const;
    std::vector<std::string> unset_env() const;
    ProcessOptions process_options() const;   // env + unset_env filled in

    // A board's flash as its state file holds it (what the next run finds).
    std::vector<uint8_t> flash(const std::string &board_name) const;
    // Writes a board's flash file before the library opens it: `size` bytes,
    // erased (0xFF) except for `bytes` at `offset`.
    void preset_flash(const std::string &board_name, uint64_t size, uint64_t offset,
                      const std::vector<uint8_t> &bytes) const;

private:
    std::unique_ptr<TempDir> dir_;
    std::string config_path_;
    std::string state_dir_;
    std::string trace_path_;
};

// The trace file's lines (empty when there is none).
std::vector<std::string> read_lines(const std::string &path);

} // namespace testsupport
