// The library's call trace (ZENAPI_SIM_TRACE=<file>): one line per call,
// appended and flushed at once so that the file is complete even when the
// process dies in the middle of an update.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace zenapi_sim {

class Trace {
public:
    Trace() = default;
    ~Trace() { close(); }
    Trace(const Trace &) = delete;
    Trace &operator=(const Trace &) = delete;

    // Returns false (and stays closed) when the file cannot be opened.
    bool open(const std::string &path);
    void close();
    bool enabled() const { return file_ != nullptr; }
    void write(std::string_view line);

private:
    std::FILE *file_ = nullptr;
};

} // namespace zenapi_sim
