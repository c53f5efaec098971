// Everything romwright-cli prints goes through print(): a write that fails
// (standard output a pipe whose reader has gone, a full disk) is ignored.
// The update must go on whatever becomes of its output, the log file still
// records it, and the exit status stays what it would have been. (With
// SIGPIPE ignored a closed pipe makes writes fail with EPIPE, and
// fmt::print would raise, even inside the handler that prints an error.)
#pragma once

#include <cstdio>
#include <string>
#include <utility>

#include <fmt/format.h>

namespace romwright::console {

template <typename... Args>
void print(fmt::format_string<Args...> format, Args &&...args) noexcept {
    try {
        const std::string text = fmt::format(format, std::forward<Args>(args)...);
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
            // Output lost; see above.
        }
    } catch (...) {
        // Out of memory while formatting: the text is lost, as above.
    }
}

} // namespace romwright::console
