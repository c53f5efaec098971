#include "engine/platform/program_console.hpp"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>

#include "engine/platform/windows_text.hpp"

namespace romwright::platform {

std::vector<std::string> program_arguments(int, char **) {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(windows_text::narrow(wide[i]));
    LocalFree(wide);
    return arguments;
}

namespace {

UINT console_code_page_before = 0;

void restore_console_code_page() { SetConsoleOutputCP(console_code_page_before); }

} // namespace

void use_utf8_console() noexcept {
    // Without a console (output to a file or a pipe) there is nothing to set.
    const UINT before = GetConsoleOutputCP();
    if (before == 0 || before == CP_UTF8 || console_code_page_before != 0) return;
    if (!SetConsoleOutputCP(CP_UTF8)) return;
    console_code_page_before = before;
    std::atexit(restore_console_code_page);
}

} // namespace romwright::platform
