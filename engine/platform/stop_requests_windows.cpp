#include "engine/platform/stop_record.hpp"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace romwright::platform::stop_record {
namespace {

void write_notice() noexcept {
    if (!notice) return;
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), notice, static_cast<DWORD>(notice_length), &written, nullptr);
}

BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        record(static_cast<int>(event) + 1);
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

} // namespace

void install_handlers() noexcept { SetConsoleCtrlHandler(on_console_event, TRUE); }

const char *name(int code) noexcept {
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

} // namespace romwright::platform::stop_record
