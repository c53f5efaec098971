#include "engine/platform/regular_file.hpp"

#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "engine/platform/windows_text.hpp"

namespace romwright::platform {

OpenRegularResult open_regular_file(const std::string &path, RegularFile &out) noexcept {
    const std::wstring wide = windows_text::widen(path);
    // Shared like open_shared; a named pipe or a device opens without waiting.
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // A folder cannot be opened this way at all; it is still not a file.
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        return folder ? OpenRegularResult::not_regular : OpenRegularResult::cannot_open;
    }
    LARGE_INTEGER size{};
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size) || size.QuadPart <= 0) {
        CloseHandle(handle);
        return OpenRegularResult::not_regular;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        return OpenRegularResult::cannot_open;
    }
    std::FILE *file = _fdopen(descriptor, "rb");
    if (!file) {
        _close(descriptor);  // closes the handle too
        return OpenRegularResult::cannot_open;
    }
    out.file.reset(file);
    out.size = static_cast<uint64_t>(size.QuadPart);
    return OpenRegularResult::opened;
}

} // namespace romwright::platform
