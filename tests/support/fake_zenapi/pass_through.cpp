// Passing the library's calls on to the simulated library. A test program
// may link both: its own definitions (this stand-in's) then take every call
// the engine makes, and pass it on to the simulator's definitions unless a
// test has asked for the scripted stand-in.
#include <atomic>
#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "tests/support/fake_zenapi/internal.hpp"

namespace fakezen {
namespace {

// The simulator's definition of a library function, or null. On POSIX the
// next definition after this program's in the loader's search order (the
// program's own come first); on Windows the export of Zenapi.dll, loaded when
// the program links it (the engine's import pointers are this program's).
void *simulator_definition(const char *name) {
#if defined(_WIN32)
    const HMODULE simulator = GetModuleHandleW(L"Zenapi.dll");
    return simulator ? reinterpret_cast<void *>(GetProcAddress(simulator, name)) : nullptr;
#else
    return dlsym(RTLD_NEXT, name);
#endif
}

std::atomic<bool> &pass_through_flag() {
    static std::atomic<bool> flag{simulator_definition("KorvelGetSDKVersion") != nullptr};
    return flag;
}

} // namespace

ScriptedLibrary::ScriptedLibrary() : was_passing_through_(pass_through_flag().exchange(false)) {}

ScriptedLibrary::~ScriptedLibrary() { pass_through_flag().store(was_passing_through_); }

namespace detail {

bool passing_through() { return pass_through_flag().load(); }

void *next_definition(const char *name) {
    void *next = simulator_definition(name);
    if (!next) {
        std::fprintf(stderr, "fake_zenapi: no simulated library behind this program defines %s\n", name);
        std::abort();
    }
    return next;
}

} // namespace detail
} // namespace fakezen
