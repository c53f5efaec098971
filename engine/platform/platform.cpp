#include "engine/platform/platform.hpp"

#if defined(_WIN32)
#  define WIN32_LEAN_AND_MEAN
#  include <fcntl.h>
#  include <io.h>
#  include <share.h>
#  include <windows.h>
#  include <shellapi.h>

#  include "engine/platform/windows_text.hpp"

#  include <cerrno>
#  include <cstdlib>
#  include <cstring>
#  include <cwchar>
#else
#  include <dlfcn.h>
#  include <fcntl.h>
#  include <sys/stat.h>
#  include <unistd.h>

#  include <cstdlib>
#endif

// ---------------------------------------------------------------------------
// Stop requests (see platform.hpp).

#include <atomic>
#include <cerrno>
#include <cstring>
#if !defined(_WIN32)
#  include <signal.h>
#endif

namespace romwright::platform {
namespace {

// 0 while no request has arrived; else the code of the first one: the signal
// number on POSIX, the console control event plus one on Windows.
std::atomic<int> stop_code{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler may only touch a lock-free flag");

const char *stop_notice = nullptr;
std::size_t stop_notice_length = 0;

void record_stop(int code) noexcept {
    int none = 0;
    stop_code.compare_exchange_strong(none, code);
}

#if defined(_WIN32)

void write_notice() noexcept {
    if (!stop_notice) return;
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), stop_notice, static_cast<DWORD>(stop_notice_length), &written, nullptr);
}

BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        record_stop(static_cast<int>(event) + 1);
        write_notice();
        // Windows ends the process as soon as a close handler returns. Held
        // here, the main thread goes on with the board being written for as
        // long as the system grants; a normal exit ends this thread too.
        if (event == CTRL_CLOSE_EVENT) Sleep(INFINITE);
        return TRUE;
    default:
        return FALSE;
    }
}

const char *stop_name(int code) noexcept {
    switch (code - 1) {
    case CTRL_C_EVENT:
        return "Ctrl+C";
    case CTRL_BREAK_EVENT:
        return "Ctrl+Break";
    case CTRL_CLOSE_EVENT:
        return "the console being closed";
    default:
        return nullptr;
    }
}

#else

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Runs in signal context: a lock-free store and write(2) only.
void on_stop_signal(int signal_number) {
    const int saved_errno = errno;
    record_stop(signal_number);
    if (stop_notice && write(STDERR_FILENO, stop_notice, stop_notice_length) < 0) {
        // Nothing to do: standard error may be closed as well.
    }
    errno = saved_errno;
}

const char *stop_name(int code) noexcept {
    switch (code) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return nullptr;
    }
}

#endif

} // namespace

void defer_stop_requests(const char *notice) noexcept {
    stop_notice = notice;
    stop_notice_length = notice ? std::strlen(notice) : 0;
#if defined(_WIN32)
    SetConsoleCtrlHandler(on_console_event, TRUE);
#else
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);

    struct sigaction deferred {};
    deferred.sa_handler = on_stop_signal;
    sigemptyset(&deferred.sa_mask);
    for (int signal_number : kStopSignals) sigaddset(&deferred.sa_mask, signal_number);
    // Interrupted reads and writes (of the flash files, the log) go on.
    deferred.sa_flags = SA_RESTART;
    for (int signal_number : kStopSignals) sigaction(signal_number, &deferred, nullptr);
#endif
}

const char *stop_request() noexcept { return stop_name(stop_code.load()); }

void forget_stop_request() noexcept { stop_code.store(0); }

#if defined(_WIN32)

namespace {
HMODULE module_of(const void *address) noexcept {
    HMODULE module = nullptr;
    const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (!GetModuleHandleExW(flags, static_cast<LPCWSTR>(address), &module)) return nullptr;
    return module;
}
} // namespace

std::string module_path(const void *address) {
    const HMODULE module = module_of(address);
    if (!module) return {};
    std::wstring wide(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, wide.data(), static_cast<DWORD>(wide.size()));
        if (length == 0) return {};
        if (length < wide.size()) {
            wide.resize(length);
            break;
        }
        wide.resize(wide.size() * 2);  // cut short: a long path
    }
    return windows_text::narrow(wide);
}

const char *module_text(const void *address, const char *name) noexcept {
    const HMODULE module = module_of(address);
    if (!module) return nullptr;
    return reinterpret_cast<const char *>(GetProcAddress(module, name));
}

#else

std::string module_path(const void *address) {
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname || !*info.dli_fname) return {};
    // The loader keeps the name as it found it (a RUNPATH or LD_LIBRARY_PATH
    // entry may be relative or pass through links): show the file itself.
    char *resolved = realpath(info.dli_fname, nullptr);
    if (!resolved) return info.dli_fname;
    std::string path = resolved;
    std::free(resolved);
    return path;
}

const char *module_text(const void *address, const char *name) noexcept {
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname) return nullptr;
    // Already loaded: this only takes a handle on it, never loads anything.
    void *module = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (!module) return nullptr;
    const char *text = static_cast<const char *>(dlsym(module, name));
    dlclose(module);
    return text;
}

#endif

} // namespace romwright::platform
