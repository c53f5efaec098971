#include "engine/platform/files.hpp"

#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <windows.h>

#include <cerrno>

#include "engine/platform/windows_text.hpp"

namespace romwright::platform {
namespace {

// errno for the system's reason, for callers that report strerror(errno).
void set_errno_from(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        errno = ENOENT;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        errno = EACCES;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        errno = ENOSPC;
        break;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        errno = ENOMEM;
        break;
    default:
        errno = EIO;
        break;
    }
}

// A handle with FILE_APPEND_DATA but not FILE_WRITE_DATA writes only at the
// end of the file, wherever that is when the write arrives, so a piece
// written at once is never overwritten by (nor overwrites) another
// program's appends.
std::FILE *open_for_append(const std::string &path, bool text) noexcept {
    HANDLE handle = CreateFileW(windows_text::widen(path).c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // Windows says only "access denied" for a folder of that name.
        const DWORD attributes = GetFileAttributesW(windows_text::widen(path).c_str());
        const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        if (folder)
            errno = EISDIR;
        else
            set_errno_from(error);
        return nullptr;
    }
    const int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_APPEND | (text ? _O_TEXT : _O_BINARY));
    if (descriptor < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE *file = _fdopen(descriptor, text ? "a" : "ab");
    if (!file) _close(descriptor);  // closes the handle too
    return file;
}

} // namespace

SharedFile open_shared(const std::string &path, const char *mode) noexcept {
    const std::string how(mode);
    if (how == "a" || how == "ab") return SharedFile(open_for_append(path, how == "a"));
    std::wstring wmode = windows_text::widen(mode);
    return SharedFile(_wfsopen(windows_text::widen(path).c_str(), wmode.c_str(), _SH_DENYNO));
}

int64_t file_size(std::FILE *file) noexcept {
    if (!file) return -1;
    if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
    const int64_t size = _ftelli64(file);
    if (_fseeki64(file, 0, SEEK_SET) != 0) return -1;
    return size;
}

bool seek_to(std::FILE *file, uint64_t offset) noexcept {
    if (!file || offset > static_cast<uint64_t>(INT64_MAX)) return false;
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool flush_to_disk(std::FILE *file) noexcept { return std::fflush(file) == 0 && _commit(_fileno(file)) == 0; }

} // namespace romwright::platform
