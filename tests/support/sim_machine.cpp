#include "tests/support/sim_machine.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <zenapi/zenapi_sim.h>

namespace testsupport {

SimMachine::SimMachine(const std::string &toml_text) : dir_(std::make_unique<TempDir>("sim")) {
    state_dir_ = dir_->file("state");
    std::filesystem::create_directories(state_dir_);
    if (!toml_text.empty()) {
        config_path_ = dir_->file("machine.toml");
        write_text(config_path_, toml_text);
    }
}

SimMachine::~SimMachine() {
#if defined(_WIN32)
    if (!dir_) return;  // moved from
    const std::string loaded = ZenSimStateDir();
    if (!loaded.empty() && loaded.rfind(dir_->path(), 0) == 0) ZenSimUnload();
#endif
}

SimMachine &SimMachine::with_trace() {
    trace_path_ = dir_->file("trace.log");
    return *this;
}

std::string SimMachine::flash_path(const std::string &board_name) const {
    return state_dir_ + "/" + board_name + ".flash";
}

std::map<std::string, std::string> SimMachine::env() const {
    // The programs' board locks and update history live beside the machine,
    // as a real machine has its own: tests on other simulated machines never
    // meet them.
    std::map<std::string, std::string> vars{{"ZENAPI_SIM_STATE_DIR", state_dir_},
                                            {"ROMWRIGHT_LOCK_DIR", dir_->file("locks")},
                                            {"ROMWRIGHT_HISTORY", history_path()},
                                            {"ROMWRIGHT_TRUSTED_KEYS", trusted_keys_folder()}};
    if (!config_path_.empty()) vars["ZENAPI_SIM_CONFIG"] = config_path_;
    if (!trace_path_.empty()) vars["ZENAPI_SIM_TRACE"] = trace_path_;
    return vars;
}

std::vector<std::string> SimMachine::unset_env() const {
    std::vector<std::string> names;
    if (config_path_.empty()) names.push_back("ZENAPI_SIM_CONFIG");
    if (trace_path_.empty()) names.push_back("ZENAPI_SIM_TRACE");
    return names;
}

ProcessOptions SimMachine::process_options() const {
    ProcessOptions options;
    options.env = env();
    options.unset_env = unset_env();
    return options;
}

void SimMachine::activate() const {
    for (const auto &[name, value] : env()) ::setenv(name.c_str(), value.c_str(), 1);
    for (const std::string &name : unset_env()) ::unsetenv(name.c_str());
    if (ZenSimReload() != 0) throw std::runtime_error(std::string("simulated machine: ") + ZenSimLastError());
}

std::vector<uint8_t> SimMachine::flash(const std::string &board_name) const { return read_file(flash_path(board_name)); }

void SimMachine::preset_flash(const std::string &board_name, uint64_t size, uint64_t offset,
                              const std::vector<uint8_t> &bytes) const {
    if (offset > size || bytes.size() > size - offset) throw std::invalid_argument("preset_flash: bytes beyond the flash");
    std::vector<uint8_t> image(size, 0xFF);
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
    write_file(flash_path(board_name), image);
}

std::vector<std::string> read_lines(const std::string &path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

} // namespace testsupport
