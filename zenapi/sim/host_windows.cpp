#include "zenapi/sim/host.hpp"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdlib>

#include "zenapi/sim/config_error.hpp"

namespace zenapi_sim::host {

std::wstring widen(const std::string &utf8) {
    if (utf8.empty()) return {};
    const int length = static_cast<int>(utf8.size());
    const int wide_length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), wide_length);
    return wide;
}

std::string narrow(const std::wstring &wide) {
    if (wide.empty()) return {};
    const int length = static_cast<int>(wide.size());
    const int utf8_length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(utf8_length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, utf8.data(), utf8_length, nullptr, nullptr);
    return utf8;
}

// The wide environment, so a folder name outside the ANSI code page (a
// user name in another script) arrives whole.
std::optional<std::string> environment(const char *name) {
    const wchar_t *value = _wgetenv(widen(name).c_str());
    if (!value || !*value) return std::nullopt;
    return narrow(value);
}

std::FILE *open_file(const std::string &path, const char *mode) {
    return _wfopen(widen(path).c_str(), widen(mode).c_str());
}

std::string default_state_dir() {
    if (auto local = environment("LOCALAPPDATA")) return *local + "\\zenapi-sim";
    throw ConfigError("no state folder for the flash files: set ZENAPI_SIM_STATE_DIR (or LOCALAPPDATA)");
}

} // namespace zenapi_sim::host
