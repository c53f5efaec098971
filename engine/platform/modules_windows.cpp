#include "engine/platform/modules.hpp"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "engine/platform/windows_text.hpp"

namespace romwright::platform {
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

} // namespace romwright::platform
