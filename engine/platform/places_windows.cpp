#include "engine/platform/places.hpp"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <system_error>

#include <fmt/format.h>

#include <romwright/error.hpp>

#include "engine/platform/windows_text.hpp"

namespace romwright::platform {

std::optional<std::string> environment_value(const char *name) {
    const wchar_t *value = _wgetenv(windows_text::widen(name).c_str());
    if (!value || !*value) return std::nullopt;
    return windows_text::narrow(value);
}

std::string host_name() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &length)) return {};
    return windows_text::narrow(std::wstring_view(name, length));
}

std::string machine_state_folder() {
    if (const auto data = environment_value("ProgramData")) return *data + "\\Korvelon\\romwright";
    return {};
}

std::string user_state_folder() {
    if (const auto local = environment_value("LOCALAPPDATA")) return *local + "\\Korvelon\\romwright";
    return {};
}

std::string trusted_keys_folder() {
    if (const auto data = environment_value("ProgramData")) return *data + "\\Korvelon\\romwright\\trusted-keys";
    return {};
}

// The user's temporary folder (in the user's profile, which other users may
// not enter) and a random name; CreateDirectoryW fails rather than take a
// folder that is already there.
std::string make_private_folder(const std::string &prefix) {
    wchar_t base[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, base);
    if (length == 0 || length > MAX_PATH)
        throw romwright::error(error_kind::file, "Cannot make a private folder for temporary files: the system names "
                                                 "no temporary folder");
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring folder = std::wstring(base, length) + windows_text::widen(prefix) +
                                    windows_text::widen(fmt::format("{:08x}", random()));
        if (CreateDirectoryW(folder.c_str(), nullptr)) return windows_text::narrow(folder);
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    throw romwright::error(error_kind::file,
                           fmt::format("Cannot make a private folder for temporary files in {} (error {})",
                                       windows_text::narrow(std::wstring_view(base, length)), GetLastError()));
}

// Windows' access checks do not follow a folder's access rules, so the file
// is opened for writing (made when it is missing: an empty file is an empty
// database) and a file is made and removed beside it, as a journal would be.
bool may_write_file(const std::string &file) {
    const std::filesystem::path path = std::filesystem::u8path(file);
    std::error_code ignored;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ignored);
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    CloseHandle(handle);
    const std::wstring probe = path.wstring() + L".probe";
    HANDLE beside = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (beside == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_EXISTS;
    CloseHandle(beside);
    return true;
}

} // namespace romwright::platform
