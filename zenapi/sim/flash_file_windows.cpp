// The Windows side of the simulator's persistence (see flash_file.hpp): the
// flash file mapped with CreateFileMapping/MapViewOfFile. Every view of a
// file's mapping, in any process, shares the same pages of the system's
// file cache, so a store is in the file at once: other processes and later
// runs see it, and a process that is killed leaves it to the system to
// write out, as a shared mapping does on POSIX.
#include "zenapi/sim/flash_file.hpp"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include "zenapi/sim/config_error.hpp"
#include "zenapi/sim/host.hpp"

namespace zenapi_sim {
namespace {

[[noreturn]] void fail(const std::string &path, const std::string &what) {
    throw ConfigError(fmt::format("{}: {}", path, what));
}

// The system's text for the last error of the calling thread.
std::string system_error(const char *call) {
    const DWORD code = GetLastError();
    return fmt::format("{} failed: {}", call, std::system_category().message(static_cast<int>(code)));
}

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (valid()) CloseHandle(handle_);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

// Other processes (a test reading the flash, a second program on the same
// machine) may open the file meanwhile, as they may on POSIX.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE open_existing(const std::string &path) {
    return CreateFileW(host::widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A new flash is built under a temporary name and renamed into place once
// erased, so an interrupted creation never leaves a half-erased flash behind.
void create_erased(const std::string &path, std::size_t size) {
    const std::string temporary = fmt::format("{}.new-{}", path, GetCurrentProcessId());
    const std::wstring wide_temporary = host::widen(temporary);
    {
        Handle file(CreateFileW(wide_temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) fail(temporary, system_error("creating the flash file"));
        static constexpr std::size_t kChunk = 0x10000;
        static const std::vector<uint8_t> erased(kChunk, 0xFF);
        for (std::size_t done = 0; done < size;) {
            const DWORD chunk = static_cast<DWORD>(std::min(kChunk, size - done));
            DWORD wrote = 0;
            if (!WriteFile(file.get(), erased.data(), chunk, &wrote, nullptr) || wrote == 0) {
                const auto why = system_error("writing the flash file");
                CloseHandle(file.get());
                DeleteFileW(wide_temporary.c_str());
                fail(temporary, why);
            }
            done += wrote;
        }
    }
    if (!MoveFileExW(wide_temporary.c_str(), host::widen(path).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const auto why = system_error("rename");
        DeleteFileW(wide_temporary.c_str());
        fail(path, why);
    }
}

bool is_folder(const std::string &path) {
    const DWORD attributes = GetFileAttributesW(host::widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

FlashFile::FlashFile(const std::string &path, uint64_t size) : path_(path) {
    if (size == 0 || size > SIZE_MAX) fail(path, "flash size out of range");
    size_ = static_cast<std::size_t>(size);
    // A folder cannot be opened as a file at all; say what it is.
    if (is_folder(path)) fail(path, "not a regular file");

    HANDLE raw = open_existing(path);
    if (raw == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
        create_erased(path, size_);
        raw = open_existing(path);
    }
    Handle file(raw);
    if (!file.valid()) fail(path, system_error("opening the flash file"));

    if (GetFileType(file.get()) != FILE_TYPE_DISK) fail(path, "not a regular file");
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(file.get(), &length)) fail(path, system_error("GetFileSizeEx"));
    if (static_cast<uint64_t>(length.QuadPart) != size)
        fail(path, fmt::format("holds {} bytes, but the board's flash_size is {} (0x{:X}); remove the file to start "
                               "with an erased flash",
                               length.QuadPart, size, size));
    // The view keeps the mapping, and the mapping the file, open once the
    // handles are closed.
    Handle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READWRITE, static_cast<DWORD>(size >> 32),
                                      static_cast<DWORD>(size & 0xFFFFFFFFu), nullptr));
    if (!mapping.valid()) fail(path, system_error("CreateFileMapping"));
    void *view = MapViewOfFile(mapping.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, size_);
    if (!view) fail(path, system_error("MapViewOfFile"));
    bytes_ = static_cast<uint8_t *>(view);
}

FlashFile::~FlashFile() {
    if (!bytes_) return;
    FlushViewOfFile(bytes_, size_);
    UnmapViewOfFile(bytes_);
}

// The view shares the system's file cache, so other processes and later
// runs see every store already; this only starts writing the pages out.
void FlashFile::flush() {
    if (bytes_) FlushViewOfFile(bytes_, size_);
}

void make_directories(const std::string &path) {
    if (path.empty()) fail("(state folder)", "empty path");
    const std::filesystem::path folder = std::filesystem::u8path(path);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) fail(path, fmt::format("creating the state folder failed: {}", error.message()));
    if (!std::filesystem::is_directory(folder, error)) fail(path, "the state folder is not a folder");
}

} // namespace zenapi_sim
