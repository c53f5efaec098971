// The one error type of the engine. Every failure the engine, its device
// binding and its front-end layer raise is a romwright::error: a standard
// runtime error whose what() is the text the user sees, carrying a kind that
// tells what failed, so that a caller can react to a time-out or a refused
// image without matching text.
#pragma once

#include <stdexcept>
#include <string>

namespace romwright {

enum class error_kind {
    device_call,  // a device-library call failed or answered what no board can
    timeout,      // the board or its driver did not finish in time
    verification, // the flash did not read back as erased, written or unlocked
    image,        // the firmware image cannot be used, or is not for this board
    file,         // a file cannot be opened or read
    usage,        // the caller asked for what cannot be done (a null board, a bad name)
    board,        // the board cannot be updated here (its kind, its firmware versions)
    stopped,      // a stop request ended the run between boards
    entry,        // an entry or accessor function returned a non-zero code
    internal,     // the engine met a state its own steps do not leave
};

// A short name of the kind ("device call", "time-out", ...), for logs and tests.
const char *kind_name(error_kind kind) noexcept;

class error : public std::runtime_error {
public:
    error(error_kind kind, const std::string &message) : std::runtime_error(message), kind_(kind) {}
    error_kind kind() const noexcept { return kind_; }

private:
    error_kind kind_;
};

} // namespace romwright
