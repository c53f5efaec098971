// A scriptable stand-in for the device library, for unit tests that look at
// (or script) the engine's traffic with a board instead of running it
// against the simulated machine.
//
// Link the `fake_zenapi` library: it defines every function of
// zenapi/Zenapi.h with C linkage. Its state is process-wide and reached
// through fakezen::library(); call reset() at the start of a test (gtest runs
// each case in its own process here, but running a test binary by hand runs
// them all in one).
//
// Scripted or passed through
//   A program may link libZenapi.so as well. The program's own definitions
//   (these) still take every call, and by default pass it on unchanged and
//   unrecorded to the simulated library's. A test that wants the scripted
//   stand-in holds a ScriptedLibrary for its duration (a fixture member, so
//   its cases and only they are scripted). In a program without libZenapi.so
//   the stand-in always answers.
//
// Boards
//   add_board(system) appends a board to a system (system and board IDs count
//   from 1, as the library's enumeration does) and returns it; the Board's
//   address is the handle every call takes. Its public fields are what the
//   identification calls answer and may be changed freely by the test.
//
// Registers (KorvelReadRegister / KorvelWriteRegister)
//   Every access is appended to register_log() (unless recording is off),
//   failed ones included. Each access is decided in this order:
//     1. a null or unknown handle gives 572, a wrong access code 514; nothing
//        else happens;
//     2. Board::result_hook, when set, may give a code other than 512: the
//        access then has no effect and a read leaves *value untouched;
//     3. a read asks Board::read_hook, a write Board::write_hook; a hook that
//        answers (a value, or true) takes the access;
//     4. offsets 1, 33, 34, 35, 36 and 40 go to the board's ControllerDevice
//        (below), a default flash controller that answers at once;
//     5. any other offset (0x80000000, the flash enable register, included) is
//        a plain register file, Board::registers, reading 0 until written.
//
// Other calls
//   Each is counted by name (call_count) and recorded with its arguments
//   (calls()). fail_call(name, code, nth) makes the nth call of that name (or
//   every one) return code without effect (the calls that return a value
//   rather than a code then return `code` as that value, and
//   KorvelGetBoardBySystemID null). The defaults are plain: versions
//   7.4.0, page calls and flash-sector service calls work on Board::flash
//   (allocated erased on first use, no flash-enable gating), the firmware
//   upgrade answers Board::upgrade_script and then (2, 100), copying the image
//   into the flash when it reports success. KorvelErrorToText gives the
//   fake's own texts, never null.
//
// The fake is thread-safe (one recursive lock around every call; hooks run
// under it and may call back into the library).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fakezen {

inline constexpr uint32_t kSuccess = 512;
inline constexpr uint32_t kFailed = 513;
inline constexpr uint32_t kAccessDenied = 514;
inline constexpr uint32_t kNullParam = 531;
inline constexpr uint32_t kUnsupported = 533;
inline constexpr uint32_t kInvalidSize = 536;
inline constexpr uint32_t kInvalidAddress = 537;
inline constexpr uint32_t kInvalidHandle = 572;

// Busy polls that never run out.
inline constexpr uint32_t kForever = 0xFFFFFFFFu;

// Controller register offsets and the command register's bits.
namespace reg {
inline constexpr uint32_t kFifoControl = 1;
inline constexpr uint32_t kReadFifoData = 33;
inline constexpr uint32_t kCommand = 34;
inline constexpr uint32_t kStatus = 35;
inline constexpr uint32_t kWriteFifoData = 36;
inline constexpr uint32_t kFifoLevel = 40;
inline constexpr uint32_t kFlashEnable = 0x80000000u;
inline constexpr uint32_t kGo = 1u << 31;
inline constexpr uint32_t kFifoRun = 1u << 28;
} // namespace reg

// Status words as the controller reports them.
inline constexpr uint32_t status_word(uint32_t transaction, uint32_t error, uint32_t data = 0) {
    return ((error & 3u) << 28) | ((transaction & 3u) << 26) | (data & 0xFFFFu);
}
inline constexpr uint32_t kStatusGood = status_word(1, 0);

// The fields of a command word.
struct CommandWord {
    uint32_t code;
    uint32_t count;
    uint32_t start;
};
inline constexpr CommandWord decode_command(uint32_t word) {
    return {(word >> 20) & 0x3Fu, (word >> 10) & 0x3FFu, word & 0x3FFu};
}

// A flash controller that does what it is told at once, for the driver's
// protocol rather than for flash contents (the simulated machine models the
// flash; this one only keeps what tests need to look at or script).
//
//  34 command   A write stores the word. A word with the go bit (31) starts
//               a command: it is appended to `commands`, the busy count is
//               taken from busy_polls_by_code (by command code) or
//               busy_polls, and on_command(word) is called. A read returns
//               the stored word with bit 31 set while busy reads remain
//               (each read uses one; kForever never ends), else cleared.
//               Writing a word without the go bit ends any busy state.
//  35 status    A read returns status_words.front(), or idle_status when the
//               queue is empty (by default a good word: transaction success,
//               no error, data 0, so an unlocked sector); writing 0
//               acknowledges (pops) the front word.
//  33 read FIFO A read returns read_fifo.front() (0 when empty); writing 0
//               releases (pops) the front word.
//  36 write FIFO Every word is appended to `written`; it also counts as
//               waiting (write_waiting) unless a program is running.
//               PROGRAM_BURST (code 17) takes every waiting word and keeps
//               taking new words at once until the next write to 34.
//  40 levels    write_waiting in bits 31..16 and read_fifo.size() in bits
//               15..0, each saturated at 0xFFFF.
//   1 control   Stored and read back; a write with bit 28 clear empties both
//               FIFOs (read_fifo and write_waiting), as a FIFO reset does.
//               Fill the read FIFO from on_command (e.g. on READ_BURST), not
//               before the driver's FIFO reset.
struct ControllerDevice {
    uint32_t busy_polls = 0;
    std::map<uint32_t, uint32_t> busy_polls_by_code;
    uint32_t idle_status = kStatusGood;
    std::deque<uint32_t> status_words;
    std::deque<uint32_t> read_fifo;
    std::function<void(uint32_t word)> on_command;

    // What happened.
    uint32_t command = 0;
    uint32_t busy_left = 0;
    uint32_t fifo_control = 0;
    uint32_t write_waiting = 0;
    bool program_running = false;
    std::vector<uint32_t> commands;
    std::vector<uint32_t> written;

    std::vector<uint32_t> command_codes() const;
};

struct CallRecord {
    std::string name;
    void *board;
    std::vector<uint64_t> args;
    uint32_t result;
};

struct RegisterAccess {
    enum class Kind : uint8_t { read, write };
    Kind kind;
    void *board;
    uint32_t offset;
    uint32_t value;  // the word written, or the word the read returned
    uint32_t access_code;
    uint32_t result;
};

struct Board {
    uint32_t kind = 25;
    uint8_t features[64] = {};
    uint8_t cpld_major = 9, cpld_minor = 14;
    uint8_t revision_major = 1, revision_minor = 3;
    std::map<uint32_t, uint32_t> capabilities;  // a capability missing here fails with 533
    std::map<std::pair<uint8_t, uint32_t>, int32_t> parameters;  // (channel, parameter) → value
    std::vector<uint32_t> control_commands;

    // Registers.
    std::map<uint32_t, uint32_t> registers;
    ControllerDevice controller;
    std::function<uint32_t(const RegisterAccess &)> result_hook;
    std::function<std::optional<uint32_t>(uint32_t offset)> read_hook;
    std::function<bool(uint32_t offset, uint32_t value)> write_hook;

    // Page-mode and flash-sector service flash.
    uint32_t flash_size = 0x800000;
    std::vector<uint8_t> flash;  // empty until first used, then flash_size bytes of 0xFF
    uint32_t service_sector_size = 0x10000;
    bool service_open = false;

    // Firmware-upgrade service: (status, percent) answers in order.
    std::deque<std::pair<uint32_t, uint32_t>> upgrade_script;
    std::vector<uint8_t> upgrade_image;
    bool upgrade_started = false;

    std::vector<uint8_t> &flash_bytes();  // allocates on first use
};

class Library {
public:
    // Drops every board, hook, script and record; versions back to 7.4.0.
    void reset();

    Board &add_board(uint32_t system_id);
    Board *find(void *handle);

    uint8_t sdk_version[3] = {7, 4, 0};
    uint8_t driver_version[3] = {7, 4, 0};
    bool recording = true;

    // nth counts calls of that name from 1; 0 fails every call.
    void fail_call(const std::string &name, uint32_t code, uint32_t nth = 0);
    uint32_t call_count(const std::string &name) const;

    const std::vector<CallRecord> &calls() const { return calls_; }
    const std::vector<RegisterAccess> &register_log() const { return register_log_; }
    void clear_log();

    // Values written to / returned from one offset, in order.
    std::vector<uint32_t> writes_to(uint32_t offset) const;
    std::vector<uint32_t> reads_of(uint32_t offset) const;

    // Used by the C functions.
    std::optional<uint32_t> scripted_failure(const std::string &name);
    void record_call(const std::string &name, void *board, std::vector<uint64_t> args, uint32_t result);
    void record_register(const RegisterAccess &access);
    uint32_t systems() const { return static_cast<uint32_t>(systems_.size()); }
    uint32_t boards_in(uint32_t system_id) const;
    void *board_at(uint32_t system_id, uint32_t board_id) const;

private:
    struct Failure {
        std::string name;
        uint32_t code;
        uint32_t nth;
    };
    std::vector<std::unique_ptr<Board>> boards_;
    std::vector<std::vector<Board *>> systems_;
    std::vector<Failure> failures_;
    std::map<std::string, uint32_t> counts_;
    std::vector<CallRecord> calls_;
    std::vector<RegisterAccess> register_log_;
};

Library &library();

// While one exists, the stand-in answers the library's calls instead of
// passing them on to the simulated library; the previous mode comes back when
// it goes.
class ScriptedLibrary {
public:
    ScriptedLibrary();
    ~ScriptedLibrary();
    ScriptedLibrary(const ScriptedLibrary &) = delete;
    ScriptedLibrary &operator=(const ScriptedLibrary &) = delete;

private:
    bool was_passing_through_;
};

} // namespace fakezen
