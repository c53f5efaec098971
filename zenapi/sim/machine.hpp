// The simulated machine of one process: the boards of the machine
// description, loaded on the first library call, and the process-wide lock
// that makes every call of the library (and of its control interface) one
// step of the machine at a time.
#pragma once

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
    Machine(MachineConfig config, std::string state_dir);

    const MachineConfig &config() const { return config_; }
    const std::string &state_dir() const { return state_dir_; }
    uint32_t system_count() const { return static_cast<uint32_t>(systems_.size()); }
    uint32_t board_count(uint32_t system_id) const;
    // Null when the system or board does not exist; ids count from 1.
    Board *board(uint32_t system_id, uint32_t board_id) const;
    // The board a handle points to, or null for anything else.
    Board *find(const void *handle) const;
    void flush();

private:
    MachineConfig config_;
    std::string state_dir_;
    std::vector<std::vector<std::unique_ptr<Board>>> systems_;
    std::vector<Board *> boards_;
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
void ensure_loaded(Library &lib);
bool reload(Library &lib);

// Where flash files live: ZENAPI_SIM_STATE_DIR, else $XDG_STATE_HOME/zenapi-sim,
// else $HOME/.local/state/zenapi-sim. Throws ConfigError when none is set.
std::string state_dir_from_environment();

} // namespace zenapi_sim
