// Shared between the fake library's sources; not for tests.
#pragma once

#include <cstdint>
#include <mutex>

#include "tests/support/fake_zenapi.hpp"

namespace fakezen::detail {

// The one lock around every library call.
std::recursive_mutex &lock();

bool controller_decodes(uint32_t offset);
uint32_t controller_read(ControllerDevice &device, uint32_t offset);
void controller_write(ControllerDevice &device, uint32_t offset, uint32_t value);

// Whether the calls go on to the simulated library behind this program.
bool passing_through();
// That library's definition of a function (the next one after this
// program's own); aborts naming the function when there is none.
void *next_definition(const char *name);

} // namespace fakezen::detail

// The first statement of every library function: while passing through, the
// call goes to the simulated library's definition (looked up once) with the
// same arguments, unrecorded. `arguments` is the parenthesised list.
#define FAKEZEN_PASS_THROUGH(function, arguments)                                                       \
    do {                                                                                                 \
        if (::fakezen::detail::passing_through()) {                                                      \
            static const auto next = reinterpret_cast<decltype(&function)>(                              \
                ::fakezen::detail::next_definition(#function));                                          \
            return next arguments;                                                                       \
        }                                                                                                \
    } while (false)
