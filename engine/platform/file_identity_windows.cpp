#include "engine/platform/file_identity.hpp"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace romwright::platform {
namespace {

std::wstring wide(const std::string &utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

struct Identity {
    DWORD volume = 0;
    DWORD index_high = 0;
    DWORD index_low = 0;
};

// The file's identity, asked through a handle that only reads attributes:
// shared with every other program, and (backup semantics) a folder opens too.
bool identity_of(const std::string &path, Identity &out) {
    if (path.empty()) return false;
    HANDLE handle = CreateFileW(wide(path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!known) return false;
    out = Identity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

} // namespace

bool same_file(const std::string &a, const std::string &b) noexcept {
    try {
        Identity first, second;
        if (!identity_of(a, first) || !identity_of(b, second)) return false;
        return first.volume == second.volume && first.index_high == second.index_high &&
               first.index_low == second.index_low;
    } catch (...) {
        return false;  // no memory for the wide paths
    }
}

} // namespace romwright::platform
