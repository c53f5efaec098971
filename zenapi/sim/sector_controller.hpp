// The flash controller in the FPGA of a sector-mode board and the parallel
// NOR flash behind it, reached through the board's registers.
//
// Registers (offset: meaning):
//   1   FIFO control. Bit 28 runs both FIFOs; writing it 0 then 1 empties
//       them. While it is 0 the read FIFO is not filled and words written to
//       the write FIFO are dropped. Other bits are stored and read back.
//   33  Read FIFO data. A read returns the oldest waiting word (0 when the
//       FIFO is empty) without removing it; writing 0 releases it.
//   34  Command. Bit 31 go/busy, bit 30 block reset, bit 29 controller
//       enable, bit 28 clear pulse, bits 25..20 command code, 19..10 count,
//       9..0 start. A write with bits 31 and 29 set starts a command unless
//       one is running (that go is ignored). Reads give the last word
//       written, with bit 31 showing whether a command is still running.
//   35  Status. Every finished command leaves two result words: bits 29..28
//       error result, 27..26 transaction result (1 success, 2 error), 15..0
//       data. A read gives the oldest word (0 when none is waiting, i.e.
//       "transaction in progress"); writing 0 acknowledges it.
//   36  Write FIFO data. Each write appends a word; words beyond the depth
//       are dropped and latch an overflow error.
//   40  FIFO levels: read FIFO words in 15..0, write FIFO words in 31..16
//       (saturating at 0xFFFF).
// The board's flash enable (bit 3 of register 0x80000000) is passed in by
// set_flash_enable(); without it every flash command fails at once.
//
// Not modelled: erase or program suspend/resume, the one-time-programmable
// and CFI query spaces, lock-down and partial-block protection, the effect
// of the read configuration register on bus timing, exact cycle timing, and
// the flash's bus commands themselves (the controller's commands act on the
// array directly). See docs/simulated-controller.md for the behaviour of
// every command, the timing keys and the injected faults.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <toml++/toml.h>

#include "zenapi/sim/nor_flash.hpp"

// The controller is reachable only through libZenapi.so's register calls;
// its class is exported as well so tests can drive it on a local array.
#if defined(_WIN32)
#  if defined(ZENAPI_BUILDING)
#    define ZENAPI_SIM_VISIBLE __declspec(dllexport)
#  else
#    define ZENAPI_SIM_VISIBLE __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#define ZENAPI_SIM_VISIBLE __attribute__((visibility("default")))
#else
#define ZENAPI_SIM_VISIBLE
#endif

namespace zenapi_sim {

enum class ControllerFaultType {
    busy_stuck,   // the go/busy bit never clears for a command
    no_unlock,    // BLOCK_UNLOCK leaves a block locked
    status,       // a command's result words carry a given error result
    read_stall,   // a read burst stops delivering words after some words
    erase_bits,   // an erase leaves bits of one byte wrong
    program_bits, // a program leaves bits of one byte wrong
};

struct ControllerFault {
    ControllerFaultType type = ControllerFaultType::status;
    int command = -1;          // busy_stuck, status: command code (0..63)
    int64_t sector = -1;       // no_unlock, erase_bits, program_bits; read_stall: -1 any
    uint32_t error = 0;        // status: error result 0..3
    uint32_t transaction = 2;  // status: transaction result 0..3
    uint32_t word = 0;         // status: 0 both result words, else 1 or 2
    uint32_t after_words = 0;  // read_stall: words delivered before the stall
    uint32_t offset = 0;       // erase_bits, program_bits: byte offset in the sector
    uint8_t mask = 0;          // erase_bits, program_bits: bits that read inverted
    uint32_t times = 0;        // occurrences the fault applies to; 0 = every one
};

// Timing and injected faults of one board's controller, from the board's
// [system.board.controller] table of the machine description.
struct SectorControllerConfig {
    uint32_t erase_ms = 0;       // busy time per erased block
    uint32_t program_ms = 0;     // busy time per programmed sector
    uint32_t read_burst_ms = 0;  // time to stream one sector into the read FIFO
    uint32_t command_ms = 0;     // busy time of every other command
    // A program burst that waits this long for its next word ends with
    // error result 2 (time-out on writing).
    uint32_t program_data_timeout_ms = 1000;
    uint32_t read_fifo_depth = 512;
    uint32_t write_fifo_depth = 0x12000;
    uint16_t rcr = 0xBFCF;       // read configuration register at power-up
    std::vector<ControllerFault> faults;
};

// Reads the controller settings of one board table (null: defaults).
// With the board's flash size, fault blocks beyond the flash are refused too.
// Throws ConfigError naming file, line and key.
ZENAPI_SIM_VISIBLE SectorControllerConfig parse_sector_controller_config(const toml::table *board,
                                                                         const std::string &file,
                                                                         uint64_t flash_size = 0);

// The code of a controller command given by name ("ERASE_BLOCK"), or -1.
int sector_controller_command_code(const std::string &name);

class ZENAPI_SIM_VISIBLE SectorController {
public:
    // Monotonic time in microseconds; busy times are measured against it.
    // Empty: the process's steady clock.
    using TimeSource = std::function<uint64_t()>;

    // Construction is the board's power-up: FIFOs empty and running, no
    // command, every block locked, the flash in read-array mode.
    SectorController(NorFlash &flash, const SectorControllerConfig &config, TimeSource now = {});
    ~SectorController();
    SectorController(const SectorController &) = delete;
    SectorController &operator=(const SectorController &) = delete;

    // True for the register offsets the controller decodes (1, 33, 34, 35, 36, 40).
    static bool decodes(uint32_t offset);

    uint32_t read_register(uint32_t offset);
    void write_register(uint32_t offset, uint32_t value);

    // Bit 3 of the board's flash enable register (0x80000000).
    void set_flash_enable(bool enabled);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace zenapi_sim
