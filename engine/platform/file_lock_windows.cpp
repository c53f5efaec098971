#include "engine/platform/file_lock.hpp"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdlib>
#include <filesystem>

#include <fmt/format.h>

#include <romwright/error.hpp>

#include "engine/platform/windows_text.hpp"

namespace romwright::platform {
namespace {

namespace fs = std::filesystem;

// Windows locks byte ranges against reading too: the lock sits far past the
// holder's note, which others read at the start of the file.
constexpr DWORD kLockOffsetHigh = 1;  // 4 GiB in
constexpr DWORD kLockLength = 1;

class LockedFile final : public FileLock {
public:
    explicit LockedFile(HANDLE handle) : handle_(handle) {}
    ~LockedFile() override { CloseHandle(handle_); }  // frees the lock

private:
    HANDLE handle_;
};

romwright::error lock_error(const std::string &what, const std::string &path) {
    return romwright::error(error_kind::file,
                            fmt::format("Cannot {} the lock file {}: system error {}", what, path, GetLastError()));
}

std::string read_text(HANDLE handle) {
    char text[256] = {};
    DWORD got = 0;
    OVERLAPPED at{};
    if (!ReadFile(handle, text, sizeof text - 1, &got, &at)) got = 0;
    std::string found(text, got);
    while (!found.empty() && (found.back() == '\n' || found.back() == '\r' || found.back() == '\0')) found.pop_back();
    return found;
}

fs::path folder_under(const char *variable) {
    const wchar_t *root = _wgetenv(windows_text::widen(variable).c_str());
    if (!root || !*root) return {};
    return fs::path(root) / L"Korvelon" / L"romwright" / L"locks";
}

bool writable_folder(const fs::path &folder) {
    std::error_code failure;
    fs::create_directories(folder, failure);
    if (failure) return false;
    const fs::path probe = folder / L".romwright-probe";
    HANDLE handle = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    CloseHandle(handle);
    return true;
}

} // namespace

std::unique_ptr<FileLock> try_lock_file(const std::string &path, const std::string &holder,
                                        std::string &holder_found) {
    const fs::path file = fs::path(windows_text::widen(path));
    std::error_code failure;
    fs::create_directories(file.parent_path(), failure);
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) throw lock_error("open", path);
    OVERLAPPED range{};
    range.OffsetHigh = kLockOffsetHigh;
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, kLockLength, 0, &range)) {
        const DWORD reason = GetLastError();
        holder_found = read_text(handle);
        CloseHandle(handle);
        if (reason == ERROR_LOCK_VIOLATION || reason == ERROR_IO_PENDING) return nullptr;
        SetLastError(reason);
        throw lock_error("lock", path);
    }
    const std::string line = holder + "\r\n";
    DWORD written = 0;
    OVERLAPPED start{};
    if (WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, &start)) {
        SetFilePointer(handle, static_cast<LONG>(line.size()), nullptr, FILE_BEGIN);
        SetEndOfFile(handle);
    }
    return std::make_unique<LockedFile>(handle);
}

std::string default_lock_folder() {
    for (const char *variable : {"ProgramData", "LOCALAPPDATA"}) {
        const fs::path folder = folder_under(variable);
        if (!folder.empty() && writable_folder(folder)) return windows_text::narrow(folder.wstring());
    }
    return windows_text::narrow((fs::temp_directory_path() / L"romwright-locks").wstring());
}

} // namespace romwright::platform
