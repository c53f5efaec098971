#include "tests/support/windows_compat.hpp"

#if defined(_WIN32)

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

std::wstring widen(const char *utf8) {
    const int length = static_cast<int>(std::strlen(utf8));
    if (length == 0) return {};
    const int wide_length = MultiByteToWideChar(CP_UTF8, 0, utf8, length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, length, wide.data(), wide_length);
    return wide;
}

} // namespace

int setenv(const char *name, const char *value, int overwrite) {
    if (!name || !*name || std::strchr(name, '=') || !value) {
        errno = EINVAL;
        return -1;
    }
    const std::wstring wide_name = widen(name);
    if (!overwrite && _wgetenv(wide_name.c_str())) return 0;
    const std::wstring wide_value = widen(value);
    if (_wputenv_s(wide_name.c_str(), wide_value.c_str()) != 0) return -1;
    SetEnvironmentVariableW(wide_name.c_str(), wide_value.empty() ? nullptr : wide_value.c_str());
    return 0;
}

int unsetenv(const char *name) {
    if (!name || !*name || std::strchr(name, '=')) {
        errno = EINVAL;
        return -1;
    }
    const std::wstring wide_name = widen(name);
    // An empty value removes the variable.
    if (_wputenv_s(wide_name.c_str(), L"") != 0) return -1;
    SetEnvironmentVariableW(wide_name.c_str(), nullptr);
    return 0;
}

char *mkdtemp(char *pattern) {
    const std::size_t length = pattern ? std::strlen(pattern) : 0;
    if (length < 6 || std::strcmp(pattern + length - 6, "XXXXXX") != 0) {
        errno = EINVAL;
        return nullptr;
    }
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 random(seed() ^ GetCurrentProcessId());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (std::size_t i = length - 6; i < length; ++i) pattern[i] = kLetters[pick(random)];
        if (CreateDirectoryW(widen(pattern).c_str(), nullptr)) return pattern;
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    errno = EEXIST;
    return nullptr;
}

int mkdir(const char *path, int) {
    if (CreateDirectoryW(widen(path).c_str(), nullptr)) return 0;
    errno = GetLastError() == ERROR_ALREADY_EXISTS ? EEXIST : ENOENT;
    return -1;
}

#endif
