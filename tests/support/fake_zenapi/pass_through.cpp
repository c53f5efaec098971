// Passing the library's calls on to the simulated library. A test program
// may link both: its own definitions (this stand-in's) then take every call
// the engine makes, and pass it on to libZenapi.so's definitions unless a
// test has asked for the scripted stand-in.
#include <atomic>
#include <cstdio>
#include <cstdlib>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include "tests/support/fake_zenapi/internal.hpp"

namespace fakezen {
namespace {

// Whether a library that defines the functions is loaded after this program
// (on Windows the stand-in is reached through its import pointers, never
// ahead of another library).
bool simulator_behind() {
#if defined(_WIN32)
    return false;
#else
    return dlsym(RTLD_NEXT, "KorvelGetSDKVersion") != nullptr;
#endif
}

std::atomic<bool> &pass_through_flag() {
    static std::atomic<bool> flag{simulator_behind()};
    return flag;
}

} // namespace

ScriptedLibrary::ScriptedLibrary() : was_passing_through_(pass_through_flag().exchange(false)) {}

ScriptedLibrary::~ScriptedLibrary() { pass_through_flag().store(was_passing_through_); }

namespace detail {

bool passing_through() { return pass_through_flag().load(); }

void *next_definition(const char *name) {
#if defined(_WIN32)
    std::fprintf(stderr, "fake_zenapi: no library to pass %s on to\n", name);
    std::abort();
#else
    void *next = dlsym(RTLD_NEXT, name);
    if (!next) {
        std::fprintf(stderr, "fake_zenapi: no library behind this program defines %s\n", name);
        std::abort();
    }
    return next;
#endif
}

} // namespace detail
} // namespace fakezen
