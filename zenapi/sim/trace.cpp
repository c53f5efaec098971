#include "zenapi/sim/trace.hpp"

#include "zenapi/sim/host.hpp"

namespace zenapi_sim {

bool Trace::open(const std::string &path) {
    close();
    file_ = host::open_file(path, "a");
    return file_ != nullptr;
}

void Trace::close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

void Trace::write(std::string_view line) {
    if (!file_) return;
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

} // namespace zenapi_sim
