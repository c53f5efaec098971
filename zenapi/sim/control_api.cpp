// The simulator's control interface for tests (zenapi/zenapi_sim.h).
#include <zenapi/zenapi_sim.h>

#include <cstring>

#include <fmt/format.h>

#include "zenapi/sim/machine.hpp"

using namespace zenapi_sim;

namespace {

// Holds the library lock for one control call, with the machine loaded.
class ControlScope {
public:
    ControlScope() : lib_(library()), lock_(lib_.mutex) {
        ensure_loaded(lib_);
        lib_.control_error.clear();
    }

    Library &lib() { return lib_; }

    Board *board(uint32_t system_id, uint32_t board_id) {
        if (!lib_.machine) {
            lib_.control_error = "no machine is loaded: " + lib_.load_error;
            return nullptr;
        }
        Board *found = lib_.machine->board(system_id, board_id);
        if (!found) lib_.control_error = fmt::format("there is no board {} in system {}", board_id, system_id);
        return found;
    }

    // The board, if the byte range lies inside its flash.
    Board *board_range(uint32_t system_id, uint32_t board_id, uint64_t offset, uint64_t length, const void *buffer) {
        Board *found = board(system_id, board_id);
        if (!found) return nullptr;
        const uint64_t size = found->flash().size();
        if (!buffer || offset > size || length > size - offset) {
            lib_.control_error = fmt::format("{}: range 0x{:X}+0x{:X} is not inside the 0x{:X}-byte flash (or no buffer)",
                                             found->name(), offset, length, size);
            return nullptr;
        }
        return found;
    }

private:
    Library &lib_;
    std::lock_guard<std::mutex> lock_;
};

} // namespace

extern "C" {

int ZenSimReload(void) {
    Library &lib = library();
    std::lock_guard<std::mutex> lock(lib.mutex);
    lib.control_error.clear();
    if (reload(lib)) return 0;
    lib.control_error = lib.load_error;
    return 1;
}

void ZenSimUnload(void) {
    Library &lib = library();
    std::lock_guard<std::mutex> lock(lib.mutex);
    lib.control_error.clear();
    unload(lib);
}

const char *ZenSimLastError(void) {
    Library &lib = library();
    std::lock_guard<std::mutex> lock(lib.mutex);
    if (lib.control_error.empty() && lib.load_attempted && !lib.machine) return lib.load_error.c_str();
    return lib.control_error.c_str();
}

const char *ZenSimStateDir(void) {
    ControlScope scope;
    return scope.lib().machine ? scope.lib().machine->state_dir().c_str() : "";
}

const char *ZenSimBoardName(uint32_t system_id, uint32_t board_id) {
    ControlScope scope;
    Board *board = scope.board(system_id, board_id);
    return board ? board->name().c_str() : nullptr;
}

uint64_t ZenSimFlashSize(uint32_t system_id, uint32_t board_id) {
    ControlScope scope;
    Board *board = scope.board(system_id, board_id);
    return board ? board->flash().size() : 0;
}

int ZenSimReadFlash(uint32_t system_id, uint32_t board_id, uint64_t offset, void *buffer, uint64_t length) {
    ControlScope scope;
    Board *board = scope.board_range(system_id, board_id, offset, length, buffer);
    if (!board) return 1;
    board->flash().read(offset, static_cast<uint8_t *>(buffer), static_cast<std::size_t>(length));
    return 0;
}

int ZenSimWriteFlashRaw(uint32_t system_id, uint32_t board_id, uint64_t offset, const void *data, uint64_t length) {
    ControlScope scope;
    Board *board = scope.board_range(system_id, board_id, offset, length, data);
    if (!board) return 1;
    std::memcpy(board->flash_file().bytes() + offset, data, static_cast<std::size_t>(length));
    return 0;
}

uint64_t ZenSimCallCount(uint32_t system_id, uint32_t board_id, const char *call_name) {
    ControlScope scope;
    Board *board = scope.board(system_id, board_id);
    const CallInfo *call = call_name ? find_call(call_name) : nullptr;
    if (!board) return 0;
    if (!call) {
        scope.lib().control_error = fmt::format("\"{}\" is not a device-library call", call_name ? call_name : "(null)");
        return 0;
    }
    return board->call_count(call->call);
}

} // extern "C"
