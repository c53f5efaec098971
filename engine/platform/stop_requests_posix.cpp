#include "engine/platform/stop_record.hpp"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace romwright::platform::stop_record {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Runs in signal context: a lock-free store and write(2) only.
void on_stop_signal(int signal_number) {
    const int saved_errno = errno;
    record(signal_number);
    if (notice && write(STDERR_FILENO, notice, notice_length) < 0) {
        // Nothing to do: standard error may be closed as well.
    }
    errno = saved_errno;
}

} // namespace

void install_handlers() noexcept {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);

    struct sigaction deferred {};
    deferred.sa_handler = on_stop_signal;
    sigemptyset(&deferred.sa_mask);
    for (int signal_number : kStopSignals) sigaddset(&deferred.sa_mask, signal_number);
    // Interrupted reads and writes (of the flash files, the log) go on.
    deferred.sa_flags = SA_RESTART;
    for (int signal_number : kStopSignals) sigaction(signal_number, &deferred, nullptr);
}

const char *name(int code) noexcept {
    switch (code) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return nullptr;
    }
}

} // namespace romwright::platform::stop_record
