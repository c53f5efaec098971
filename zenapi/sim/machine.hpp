// The simulated machine of one process: the boards of the machine
// description, loaded on the first library call, and the process-wide lock
// that makes every call of the library (and of its control interface) one
// step of the machine at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "zenapi/sim/board.hpp"
#include "zenapi/sim/calls.hpp"
#include "zenapi/sim/machine_config.hpp"
#include "zenapi/sim/trace.hpp"

namespace zenapi_sim {

class Machine {
public:
    // Builds every board (opening its flash file); throws ConfigError.
    // With a `counts_path`, the machine writes its call counts there when it
    // is dropped (see write_call_counts).
    Machine(MachineConfig config, std::string state_dir, std::string counts_path = {});
    ~Machine();
    Machine(const Machine &) = delete;
    Machine &operator=(const Machine &) = delete;

    const MachineConfig &config() const { return config_; }
    const std::string &state_dir() const { return state_dir_; }
    uint32_t system_count() const { return static_cast<uint32_t>(systems_.size()); }
    uint32_t board_count(uint32_t system_id) const;
    // Null when the system or board does not exist; ids count from 1.
    Board *board(uint32_t system_id, uint32_t board_id) const;
    // The board a handle points to, or null for anything else.
    Board *find(const void *handle) const;
    void flush();

    // Call accounting of the calls that take no board: counts this call and
    // returns the library fault that fires on it, if any.
    const CallFault *count_call(Call call);
    uint64_t call_count(Call call) const { return calls_[call_index(call)]; }

    // One line per call made, "<call>() <count>" for the calls that take no
    // board and "<call>(board=<name>) <count>" per board, replacing the file.
    void write_call_counts(const std::string &path) const;

private:
    MachineConfig config_;
    std::string state_dir_;
    std::string counts_path_;
    std::vector<std::vector<std::unique_ptr<Board>>> systems_;
    std::vector<Board *> boards_;
    // The board found last: a program talks to one board many times in a row.
    mutable Board *last_found_ = nullptr;
    std::array<uint64_t, kCallCount> calls_{};
};

// Process-wide state of the library.
struct Library {
    std::mutex mutex;
    bool load_attempted = false;
    std::unique_ptr<Machine> machine;   // null when the load failed
    std::string load_error;
    Trace trace;
    std::string control_error;          // ZenSimLastError
};

Library &library();

// Both need library().mutex held. ensure_loaded loads once; reload drops the
// machine (flushing its flash files) and loads afresh from the environment.
// Every call passes through ensure_loaded, so its test stays inline.
void load(Library &lib);
inline void ensure_loaded(Library &lib) {
    if (!lib.load_attempted) load(lib);
}
bool reload(Library &lib);
// Drops the machine (flushing its flash) and closes the trace; calls fail
// until the next reload.
void unload(Library &lib);

// Where flash files live: ZENAPI_SIM_STATE_DIR, else the system's default
// (host::default_state_dir: $XDG_STATE_HOME/zenapi-sim, else
// $HOME/.local/state/zenapi-sim; %LOCALAPPDATA%\zenapi-sim on Windows).
// Throws ConfigError when none is set.
std::string state_dir_from_environment();

} // namespace zenapi_sim
