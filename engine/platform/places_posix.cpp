#include "engine/platform/places.hpp"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include <romwright/error.hpp>

namespace romwright::platform {

std::optional<std::string> environment_value(const char *name) {
    const char *value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

std::string host_name() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string machine_state_folder() { return "/var/lib/romwright"; }

std::string user_state_folder() {
    if (const auto state = environment_value("XDG_STATE_HOME")) return *state + "/romwright";
    if (const auto home = environment_value("HOME")) return *home + "/.local/state/romwright";
    return {};
}

std::string trusted_keys_folder() { return "/etc/romwright/trusted-keys"; }

// mkdtemp makes the folder with mode 0700, under a name no other program has.
std::string make_private_folder(const std::string &prefix) {
    std::string base = environment_value("TMPDIR").value_or("/tmp");
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    const std::string pattern = base + "/" + prefix + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data()))
        throw romwright::error(error_kind::file, fmt::format("Cannot make a private folder for temporary files in {}: {}",
                                                             base, std::strerror(errno)));
    return name.data();
}

bool may_write_file(const std::string &file) {
    const std::filesystem::path path(file);
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    // access() answers for the real user, who runs these programs, and says
    // EROFS for a read-only file system even to root.
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return false;
    return ::access(path.c_str(), F_OK) != 0 || ::access(path.c_str(), W_OK) == 0;
}

} // namespace romwright::platform
