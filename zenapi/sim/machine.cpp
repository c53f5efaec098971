#include "zenapi/sim/machine.hpp"

#include <cstdio>

#include "zenapi/sim/config_error.hpp"
#include "zenapi/sim/flash_file.hpp"
#include "zenapi/sim/host.hpp"

namespace zenapi_sim {
namespace {

using host::environment;

MachineConfig config_from_environment() {
    if (auto file = environment("ZENAPI_SIM_CONFIG")) return load_machine_config_file(*file);
    return parse_machine_config(default_machine_toml(), kDefaultMachineName);
}

void open_trace(Library &lib) {
    lib.trace.close();
    const auto path = environment("ZENAPI_SIM_TRACE");
    if (path && !lib.trace.open(*path))
        std::fprintf(stderr, "zenapi-sim: %s: cannot open the trace file\n", path->c_str());
}

} // namespace

Machine::Machine(MachineConfig config, std::string state_dir, std::string counts_path)
    : config_(std::move(config)), state_dir_(std::move(state_dir)), counts_path_(std::move(counts_path)) {
    make_directories(state_dir_);
    for (const std::vector<BoardConfig> &system : config_.systems) {
        auto &boards = systems_.emplace_back();
        for (const BoardConfig &board : system) {
            boards.push_back(std::make_unique<Board>(board, state_dir_, config_.file));
            boards_.push_back(boards.back().get());
        }
    }
}

// Dropped at a reload or when the process ends normally; a killed process
// leaves no counts (and an older file stays as it was).
Machine::~Machine() {
    if (!counts_path_.empty()) write_call_counts(counts_path_);
}

const CallFault *Machine::count_call(Call call) {
    const uint64_t nth = ++calls_[call_index(call)];
    for (const CallFault &fault : config_.library_faults)
        if (fault.call == call && (fault.nth == 0 || fault.nth == nth)) return &fault;
    return nullptr;
}

void Machine::write_call_counts(const std::string &path) const {
    std::FILE *file = host::open_file(path, "w");
    if (!file) {
        std::fprintf(stderr, "zenapi-sim: %s: cannot write the call counts\n", path.c_str());
        return;
    }
    for (std::size_t i = 0; i < kCallCount; ++i)
        if (calls_[i]) std::fprintf(file, "%s() %llu\n", call_name(Call(i)), static_cast<unsigned long long>(calls_[i]));
    for (const Board *board : boards_)
        for (std::size_t i = 0; i < kCallCount; ++i)
            if (const uint64_t count = board->call_count(Call(i)))
                std::fprintf(file, "%s(board=%s) %llu\n", call_name(Call(i)), board->name().c_str(),
                             static_cast<unsigned long long>(count));
    std::fclose(file);
}

uint32_t Machine::board_count(uint32_t system_id) const {
    if (system_id < 1 || system_id > systems_.size()) return 0;
    return static_cast<uint32_t>(systems_[system_id - 1].size());
}

Board *Machine::board(uint32_t system_id, uint32_t board_id) const {
    if (board_id < 1 || board_id > board_count(system_id)) return nullptr;
    return systems_[system_id - 1][board_id - 1].get();
}

Board *Machine::find(const void *handle) const {
    if (handle && handle == last_found_) return last_found_;
    for (Board *board : boards_)
        if (board == handle) {
            last_found_ = board;
            return board;
        }
    return nullptr;
}

void Machine::flush() {
    for (Board *board : boards_) board->flash_file().flush();
}

std::string state_dir_from_environment() {
    if (auto dir = environment("ZENAPI_SIM_STATE_DIR")) return *dir;
    return host::default_state_dir();
}

Library &library() {
    static Library lib;
    return lib;
}

void load(Library &lib) {
    lib.load_attempted = true;
    open_trace(lib);
    try {
        const auto counts = environment("ZENAPI_SIM_CALL_COUNTS");
        lib.machine = std::make_unique<Machine>(config_from_environment(), state_dir_from_environment(),
                                                counts.value_or(""));
    } catch (const std::exception &error) {
        lib.load_error = error.what();
        std::fprintf(stderr, "zenapi-sim: %s\n", lib.load_error.c_str());
        std::fflush(stderr);
    }
}

void unload(Library &lib) {
    if (lib.machine) lib.machine->flush();
    lib.machine.reset();
    lib.trace.close();
    lib.load_attempted = true;
    lib.load_error = "it was unloaded (ZenSimUnload)";
}

bool reload(Library &lib) {
    if (lib.machine) lib.machine->flush();
    lib.machine.reset();
    lib.load_error.clear();
    lib.load_attempted = false;
    ensure_loaded(lib);
    return lib.machine != nullptr;
}

} // namespace zenapi_sim
