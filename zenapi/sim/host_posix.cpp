#include "zenapi/sim/host.hpp"

#include <cstdlib>

#include "zenapi/sim/config_error.hpp"

namespace zenapi_sim::host {

std::optional<std::string> environment(const char *name) {
    const char *value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

std::FILE *open_file(const std::string &path, const char *mode) { return std::fopen(path.c_str(), mode); }

std::string default_state_dir() {
    if (auto xdg = environment("XDG_STATE_HOME")) return *xdg + "/zenapi-sim";
    if (auto home = environment("HOME")) return *home + "/.local/state/zenapi-sim";
    throw ConfigError("no state folder for the flash files: set ZENAPI_SIM_STATE_DIR (or HOME)");
}

} // namespace zenapi_sim::host
