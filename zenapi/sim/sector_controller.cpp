// The sector-mode flash controller: an explicit state machine. At most one
// command runs at a time; its effects and its busy time are worked out
// lazily, on every register access, against the injected time source.
#include "zenapi/sim/sector_controller.hpp"

#include <algorithm>
#include <chrono>
#include <deque>
#include <optional>

namespace zenapi_sim {

namespace {

constexpr uint64_t block_bytes = 0x40000;
constexpr uint64_t words_per_block = block_bytes / 4;
constexpr uint32_t max_status_words = 64;

namespace reg {
constexpr uint32_t fifo_control = 1;
constexpr uint32_t read_fifo = 33;
constexpr uint32_t command = 34;
constexpr uint32_t status = 35;
constexpr uint32_t write_fifo = 36;
constexpr uint32_t levels = 40;
} // namespace reg

constexpr uint32_t go_bit = 1u << 31;
constexpr uint32_t block_reset_bit = 1u << 30;
constexpr uint32_t enable_bit = 1u << 29;
constexpr uint32_t clear_bit = 1u << 28;
constexpr uint32_t fifo_run_bit = 1u << 28;

// Result fields of a status word.
enum : uint32_t { error_none = 0, error_not_ready = 1, error_timeout = 2, error_no_room = 3 };
enum : uint32_t { transaction_success = 1, transaction_error = 2 };

// The flash's own status register, as READ_STATUS_REG reports it.
constexpr uint16_t flash_ready = 0x80;
constexpr uint16_t flash_erase_error = 0x20;
constexpr uint16_t flash_program_error = 0x10;
constexpr uint16_t flash_block_locked = 0x02;
constexpr uint16_t flash_status_errors = flash_erase_error | flash_program_error | flash_block_locked;

// Identifier codes the simulated part answers with.
constexpr uint16_t manufacturer_id = 0x004B;
constexpr uint16_t device_id = 0x8C28;

enum class ReadMode { array, status, identifier };

enum class Action {
    read_array, read_status, read_manufacturer, read_device, read_rcr, read_clear_status,
    read_burst, lock_status, program_burst, erase, configure_rcr, lock, unlock, refused,
};

enum class BusyTime { command, erase, program, read_burst };

struct CommandInfo {
    uint32_t code;
    const char *name;
    Action action;
    BusyTime busy;
    bool addresses_blocks;             // start (and count) name flash blocks
    std::optional<ReadMode> mode_after; // the flash's read mode once accepted
};

// Single-word programming cannot be addressed through the block-sized start
// field, so the controller refuses it.
const CommandInfo command_table[] = {
    {8, "READ_ARRAY", Action::read_array, BusyTime::command, false, ReadMode::array},
    {9, "READ_STATUS_REG", Action::read_status, BusyTime::command, false, ReadMode::status},
    {10, "READ_MFG_ID", Action::read_manufacturer, BusyTime::command, false, ReadMode::identifier},
    {11, "READ_DEV_ID", Action::read_device, BusyTime::command, false, ReadMode::identifier},
    {12, "READ_CFG_REG", Action::read_rcr, BusyTime::command, false, ReadMode::identifier},
    {13, "READ_CLEAR_STATUS_REG", Action::read_clear_status, BusyTime::command, false, ReadMode::status},
    {14, "READ_BURST", Action::read_burst, BusyTime::read_burst, true, std::nullopt},
    {15, "BLOCK_LOCK_STATUS", Action::lock_status, BusyTime::command, true, ReadMode::identifier},
    {16, "PROGRAM_WORD", Action::refused, BusyTime::command, false, std::nullopt},
    {17, "PROGRAM_BURST", Action::program_burst, BusyTime::program, true, ReadMode::status},
    {24, "ERASE_BLOCK", Action::erase, BusyTime::erase, true, ReadMode::status},
    {32, "CONFIG_READ_CFG_REG", Action::configure_rcr, BusyTime::command, false, ReadMode::status},
    {33, "BLOCK_LOCK", Action::lock, BusyTime::command, true, ReadMode::status},
    {34, "BLOCK_UNLOCK", Action::unlock, BusyTime::command, true, ReadMode::status},
};

const CommandInfo *find_command(uint32_t code) {
    for (const CommandInfo &info : command_table)
        if (info.code == code) return &info;
    return nullptr;
}

uint64_t steady_microseconds() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

uint32_t status_word(uint32_t transaction, uint32_t error, uint16_t data) {
    return (error & 3u) << 28 | (transaction & 3u) << 26 | data;
}

uint32_t load_le32(const uint8_t *bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

// Words done by a stream of `total` words that takes `per_block_us` per
// 65536 words, `elapsed_us` after its start.
uint64_t words_due(uint64_t total, uint64_t per_block_us, uint64_t elapsed_us) {
    if (per_block_us == 0) return total;
    const uint64_t whole_blocks = elapsed_us / per_block_us;
    if (whole_blocks >= total / words_per_block + 1) return total;
    const uint64_t partial = (elapsed_us % per_block_us) * words_per_block / per_block_us;
    return std::min(total, whole_blocks * words_per_block + partial);
}

} // namespace

int sector_controller_command_code(const std::string &name) {
    for (const CommandInfo &info : command_table)
        if (name == info.name) return static_cast<int>(info.code);
    return -1;
}

struct SectorController::State {
    struct Running {
        const CommandInfo *info = nullptr;
        uint32_t start = 0;
        uint32_t count = 0;
        uint64_t started_us = 0;
        uint64_t busy_until_us = 0;
        bool stuck = false;
        uint64_t total_words = 0;  // streamed commands
        uint64_t done_words = 0;
        uint64_t stall_after = UINT64_MAX;
        std::optional<uint64_t> starved_since_us;
        uint32_t latched_error = error_none;
        std::vector<std::size_t> program_faults; // active in the current block
    };

    State(NorFlash &f, const SectorControllerConfig &c, TimeSource t)
        : flash(f), config(c), now(t ? std::move(t) : TimeSource(steady_microseconds)),
          locked((f.size() + block_bytes - 1) / block_bytes, true), rcr(c.rcr),
          fault_uses(c.faults.size(), 0) {}

    NorFlash &flash;
    const SectorControllerConfig config;
    const TimeSource now;

    bool flash_enabled = false;
    uint32_t fifo_control = fifo_run_bit;
    uint32_t command_register = 0;
    std::deque<uint32_t> status_words;
    std::deque<uint32_t> read_fifo;
    std::deque<uint32_t> write_fifo;
    bool write_overflow = false;
    std::optional<Running> running;

    std::vector<bool> locked;
    uint16_t rcr;
    uint16_t flash_status = flash_ready;
    ReadMode read_mode = ReadMode::array;
    std::vector<uint32_t> fault_uses;

    bool fifos_running() const { return (fifo_control & fifo_run_bit) != 0; }
    uint64_t block_count() const { return locked.size(); }

    // --- faults ---------------------------------------------------------

    // Claims one use of every matching fault of a type that has uses left;
    // returns their indexes in configuration order.
    template <typename Match> std::vector<std::size_t> take_faults(ControllerFaultType type, Match match) {
        std::vector<std::size_t> taken;
        for (std::size_t i = 0; i < config.faults.size(); ++i) {
            const ControllerFault &fault = config.faults[i];
            if (fault.type != type || !match(fault)) continue;
            if (fault.times != 0 && fault_uses[i] >= fault.times) continue;
            ++fault_uses[i];
            taken.push_back(i);
        }
        return taken;
    }

    // --- status -----------------------------------------------------------

    void push_result(uint32_t code, uint32_t transaction, uint32_t error, uint16_t data) {
        uint32_t words[2] = {status_word(transaction, error, data), status_word(transaction, error, data)};
        for (std::size_t index : take_faults(ControllerFaultType::status,
                                             [&](const ControllerFault &f) { return f.command == int(code); })) {
            const ControllerFault &fault = config.faults[index];
            for (uint32_t w = 0; w < 2; ++w)
                if (fault.word == 0 || fault.word == w + 1)
                    words[w] = status_word(fault.transaction, fault.error, data);
        }
        for (uint32_t word : words)
            if (status_words.size() < max_status_words) status_words.push_back(word);
    }

    void finish(uint32_t error, uint16_t data = 0) {
        const uint32_t code = running ? running->info->code : 0;
        running.reset();
        push_result(code, error == error_none ? transaction_success : transaction_error, error, data);
    }

    void refuse(uint32_t code, uint32_t transaction, uint32_t error) {
        push_result(code, transaction, error, 0);
    }

    // --- commands -------------------------------------------------------------

    uint64_t busy_microseconds(const CommandInfo &info, uint32_t count) const {
        switch (info.busy) {
        case BusyTime::erase: return uint64_t(config.erase_ms) * 1000;
        case BusyTime::program: return uint64_t(config.program_ms) * 1000 * count;
        case BusyTime::read_burst: return uint64_t(config.read_burst_ms) * 1000 * count;
        case BusyTime::command: break;
        }
        return uint64_t(config.command_ms) * 1000;
    }

    bool blocks_in_range(const CommandInfo &info, uint32_t start, uint32_t count) const {
        if (!info.addresses_blocks) return true;
        const bool streamed = info.action == Action::read_burst || info.action == Action::program_burst;
        const uint64_t last = streamed ? uint64_t(start) + std::max<uint32_t>(count, 1) - 1 : start;
        return last < block_count();
    }

    void start_command(uint32_t word, uint64_t t) {
        const uint32_t code = (word >> 20) & 0x3F;
        const uint32_t count = (word >> 10) & 0x3FF;
        const uint32_t start = word & 0x3FF;
        const CommandInfo *info = find_command(code);
        if (!info || info->action == Action::refused) return refuse(code, transaction_error, error_none);
        if (!flash_enabled || !blocks_in_range(*info, start, count))
            return refuse(code, transaction_error, error_not_ready);
        if (info->action == Action::read_burst && !fifos_running())
            return refuse(code, transaction_error, error_no_room);
        if (info->mode_after) read_mode = *info->mode_after;
        // The flash rejects an erase of a locked block at once.
        if (info->action == Action::erase && locked[start]) {
            flash_status |= flash_erase_error | flash_block_locked;
            return refuse(code, transaction_error, error_not_ready);
        }
        running = begin(*info, start, count, t);
    }

    Running begin(const CommandInfo &info, uint32_t start, uint32_t count, uint64_t t) {
        Running run;
        run.info = &info;
        run.start = start;
        run.count = count;
        run.started_us = t;
        run.busy_until_us = t + busy_microseconds(info, count);
        const auto same_command = [&](const ControllerFault &f) { return f.command == int(info.code); };
        run.stuck = !take_faults(ControllerFaultType::busy_stuck, same_command).empty();
        if (info.action == Action::read_burst || info.action == Action::program_burst)
            run.total_words = words_per_block * count;
        if (info.action == Action::read_burst) {
            const auto this_block = [&](const ControllerFault &f) { return f.sector < 0 || f.sector == int64_t(start); };
            for (std::size_t index : take_faults(ControllerFaultType::read_stall, this_block))
                run.stall_after = std::min<uint64_t>(run.stall_after, config.faults[index].after_words);
        }
        return run;
    }

    // Effects of the commands that act once, when their busy time is over.
    void complete_simple(uint64_t t) {
        Running &run = *running;
        if (run.stuck || t < run.busy_until_us) return;
        switch (run.info->action) {
        case Action::read_array: return finish(error_none);
        case Action::read_status: return finish(error_none, flash_status);
        case Action::read_manufacturer: return finish(error_none, manufacturer_id);
        case Action::read_device: return finish(error_none, device_id);
        case Action::read_rcr: return finish(error_none, rcr);
        case Action::read_clear_status: {
            const uint16_t value = flash_status;
            flash_status &= uint16_t(~flash_status_errors);
            return finish(error_none, value);
        }
        case Action::lock_status: return finish(error_none, locked[run.start] ? 1 : 0);
        case Action::configure_rcr:
            rcr = uint16_t((run.count << 10 | run.start) & 0xFFFF);
            return finish(error_none);
        case Action::lock:
            locked[run.start] = true;
            return finish(error_none);
        case Action::unlock:
            if (take_faults(ControllerFaultType::no_unlock, [&](const ControllerFault &f) {
                    return f.sector == int64_t(run.start);
                }).empty())
                locked[run.start] = false;
            return finish(error_none);
        case Action::erase: return complete_erase();
        case Action::read_burst:
        case Action::program_burst:
        case Action::refused: break;
        }
    }

    void complete_erase() {
        const uint32_t block = running->start;
        flash.erase(block * block_bytes, block_bytes);
        for (std::size_t index : take_faults(ControllerFaultType::erase_bits,
                                             [&](const ControllerFault &f) { return f.sector == int64_t(block); })) {
            const ControllerFault &fault = config.faults[index];
            flash.force_byte(block * block_bytes + fault.offset, uint8_t(0xFF ^ fault.mask));
        }
        finish(error_none);
    }

    // --- read burst -----------------------------------------------------------

    uint32_t flash_word(uint64_t address) const {
        switch (read_mode) {
        case ReadMode::status: return uint32_t(flash_status) << 16 | flash_status;
        case ReadMode::identifier: return uint32_t(manufacturer_id) << 16 | manufacturer_id;
        case ReadMode::array: break;
        }
        uint8_t bytes[4] = {0xFF, 0xFF, 0xFF, 0xFF};
        flash.read(address, bytes, sizeof bytes);
        return load_le32(bytes);
    }

    void advance_read_burst(uint64_t t) {
        Running &run = *running;
        const uint64_t due = std::min(
            words_due(run.total_words, uint64_t(config.read_burst_ms) * 1000, t - std::min(t, run.started_us)),
            run.stall_after);
        const uint64_t base = uint64_t(run.start) * block_bytes;
        while (fifos_running() && run.done_words < due && read_fifo.size() < config.read_fifo_depth) {
            read_fifo.push_back(flash_word(base + run.done_words * 4));
            ++run.done_words;
        }
        if (run.done_words >= run.stall_after && run.done_words < run.total_words) return finish(error_timeout);
        if (run.done_words == run.total_words && !run.stuck && t >= run.busy_until_us) finish(error_none);
    }

    // --- program burst --------------------------------------------------------

    void begin_program_block(uint32_t block) {
        Running &run = *running;
        run.program_faults.clear();
        if (locked[block]) return;
        run.program_faults = take_faults(ControllerFaultType::program_bits,
                                         [&](const ControllerFault &f) { return f.sector == int64_t(block); });
    }

    void program_word(uint32_t word) {
        Running &run = *running;
        const uint64_t offset_in_block = (run.done_words % words_per_block) * 4;
        const uint32_t block = run.start + uint32_t(run.done_words / words_per_block);
        if (offset_in_block == 0) begin_program_block(block);
        ++run.done_words;
        if (locked[block]) {
            flash_status |= flash_program_error | flash_block_locked;
            run.latched_error = error_not_ready;
            return;
        }
        const uint64_t address = block * block_bytes + offset_in_block;
        const uint8_t bytes[4] = {uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16), uint8_t(word >> 24)};
        flash.program(address, bytes, sizeof bytes);
        for (std::size_t index : run.program_faults) {
            const ControllerFault &fault = config.faults[index];
            if (fault.offset >= offset_in_block && fault.offset < offset_in_block + 4) {
                uint8_t now_there = 0;
                flash.read(block * block_bytes + fault.offset, &now_there, 1);
                flash.force_byte(block * block_bytes + fault.offset, uint8_t(now_there ^ fault.mask));
            }
        }
    }

    void advance_program_burst(uint64_t t) {
        Running &run = *running;
        const uint64_t due =
            words_due(run.total_words, uint64_t(config.program_ms) * 1000, t - std::min(t, run.started_us));
        bool progressed = false;
        while (run.done_words < due && !write_fifo.empty()) {
            const uint32_t word = write_fifo.front();
            write_fifo.pop_front();
            program_word(word);
            progressed = true;
        }
        if (run.done_words == run.total_words) {
            if (!run.stuck && t >= run.busy_until_us)
                finish(write_overflow ? error_not_ready : run.latched_error);
            return;
        }
        if (!write_fifo.empty()) {
            run.starved_since_us.reset();
            return;
        }
        // The wait for data starts with the last word taken.
        if (progressed || !run.starved_since_us) run.starved_since_us = t;
        if (t - std::min(t, *run.starved_since_us) >= uint64_t(config.program_data_timeout_ms) * 1000)
            finish(error_timeout);
    }

    // --- time -------------------------------------------------------------

    // The time of one register access, read from the clock at most once and
    // only when something runs: the access is one instant of the controller's
    // time, before and after its effect.
    class Instant {
    public:
        explicit Instant(const TimeSource &now) : now_(now) {}
        uint64_t operator()() {
            if (!t_) t_ = now_();
            return *t_;
        }

    private:
        const TimeSource &now_;
        std::optional<uint64_t> t_;
    };

    void advance(Instant &at) {
        if (!running) return;
        const uint64_t t = at();
        switch (running->info->action) {
        case Action::read_burst: return advance_read_burst(t);
        case Action::program_burst: return advance_program_burst(t);
        default: return complete_simple(t);
        }
    }

    // --- registers ----------------------------------------------------------

    void write_command(uint32_t value, Instant &at) {
        command_register = value;
        if (value & block_reset_bit) {
            running.reset();
            read_mode = ReadMode::array;
        }
        if (value & clear_bit) {
            status_words.clear();
            write_overflow = false;
        }
        if ((value & go_bit) && (value & enable_bit) && !running) start_command(value, at());
    }

    void write_fifo_control(uint32_t value) {
        fifo_control = value;
        if (!fifos_running()) {
            read_fifo.clear();
            write_fifo.clear();
            write_overflow = false;
        }
    }

    void push_write_fifo(uint32_t value) {
        if (!fifos_running()) return;
        if (write_fifo.size() >= config.write_fifo_depth) {
            write_overflow = true;
            return;
        }
        write_fifo.push_back(value);
    }

    uint32_t levels() const {
        const auto read_level = uint32_t(std::min<std::size_t>(read_fifo.size(), 0xFFFF));
        const auto write_level = uint32_t(std::min<std::size_t>(write_fifo.size(), 0xFFFF));
        return write_level << 16 | read_level;
    }
};

SectorController::SectorController(NorFlash &flash, const SectorControllerConfig &config, TimeSource now)
    : state_(std::make_unique<State>(flash, config, std::move(now))) {}

SectorController::~SectorController() = default;

bool SectorController::decodes(uint32_t offset) {
    switch (offset) {
    case reg::fifo_control:
    case reg::read_fifo:
    case reg::command:
    case reg::status:
    case reg::write_fifo:
    case reg::levels: return true;
    default: return false;
    }
}

uint32_t SectorController::read_register(uint32_t offset) {
    State &s = *state_;
    State::Instant at(s.now);
    s.advance(at);
    switch (offset) {
    case reg::fifo_control: return s.fifo_control;
    case reg::read_fifo: return s.read_fifo.empty() ? 0 : s.read_fifo.front();
    case reg::command: return (s.command_register & ~go_bit) | (s.running ? go_bit : 0);
    case reg::status: return s.status_words.empty() ? 0 : s.status_words.front();
    case reg::levels: return s.levels();
    default: return 0;
    }
}

void SectorController::write_register(uint32_t offset, uint32_t value) {
    State &s = *state_;
    State::Instant at(s.now);
    s.advance(at);
    switch (offset) {
    case reg::fifo_control: s.write_fifo_control(value); break;
    case reg::read_fifo:
        if (value == 0 && !s.read_fifo.empty()) s.read_fifo.pop_front();
        break;
    case reg::command: s.write_command(value, at); break;
    case reg::status:
        if (value == 0 && !s.status_words.empty()) s.status_words.pop_front();
        break;
    case reg::write_fifo: s.push_write_fifo(value); break;
    default: break;
    }
    s.advance(at);
}

void SectorController::set_flash_enable(bool enabled) {
    State &s = *state_;
    State::Instant at(s.now);
    s.advance(at);
    if (s.flash_enabled && !enabled && s.running) s.finish(error_not_ready);
    s.flash_enabled = enabled;
}

} // namespace zenapi_sim
