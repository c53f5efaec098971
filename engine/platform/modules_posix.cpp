#include "engine/platform/modules.hpp"

#include <dlfcn.h>

#include <cstdlib>

namespace romwright::platform {

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

} // namespace romwright::platform
