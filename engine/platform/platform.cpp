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

namespace romwright::platform {

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
