#include "engine/flash/flash_pc28f.hpp"

#include <cstring>
#include <stdexcept>

#include <fmt/format.h>

#include <romwright/error.hpp>
#include <zenapi/Zenapi.h>

#include "engine/devlib/zen.hpp"
#include "engine/flash/flash_status.hpp"

namespace {

// Command register bits.
constexpr uint32_t kGoBit = 1u << 31;
constexpr uint32_t kBlockResetBit = 1u << 30;
constexpr uint32_t kControllerEnableBit = 1u << 29;
constexpr uint32_t kClearPulseBit = 1u << 28;
constexpr uint32_t kIdleCommand = kControllerEnableBit;

constexpr uint32_t kFifoRunBit = 1u << 28;

// The controller needs this long to take each step of the clear sequence.
constexpr uint32_t kSettleMs = 10;
constexpr uint32_t kPollMs = 1;
constexpr uint32_t kCommandTimeoutMs = 5000;
constexpr uint32_t kRcrResetPauseMs = 100;

constexpr uint32_t kRcrValue = 0x784F;
constexpr uint32_t kRcrStart = 79;
constexpr uint32_t kRcrCount = 30;

// The write FIFO takes a whole sector before a program has to run.
constexpr uint32_t kEarlyProgramWords = 0x10000;
constexpr uint32_t kWriteFifoHighWater = 0xE000;
constexpr uint32_t kEmptyReadFifoRetries = 5;
constexpr uint32_t kEmptyReadFifoPauseMs = 100;
// The batched read looks again sooner, for the same total wait.
constexpr uint32_t kBatchedReadPauseMs = 1;
constexpr uint32_t kBatchedReadRetries = kEmptyReadFifoRetries * kEmptyReadFifoPauseMs / kBatchedReadPauseMs;

struct CommandNameRow {
    uint32_t code;
    const char *name;
};

constexpr CommandNameRow kCommandNames[] = {
    {READ_ARRAY, "READ_ARRAY"},
    {READ_STATUS_REG, "READ_STATUS_REG"},
    {READ_MFG_ID, "READ_MFG_ID"},
    {READ_DEV_ID, "READ_DEV_ID"},
    {READ_CFG_REG, "READ_CFG_REG"},
    {READ_CLEAR_STATUS_REG, "READ_CLEAR_STATUS_REG"},
    {READ_BURST, "READ_BURST"},
    {BLOCK_LOCK_STATUS, "BLOCK_LOCK_STATUS"},
    {PROGRAM_WORD, "PROGRAM_WORD"},
    {PROGRAM_BURST, "PROGRAM_BURST"},
    {ERASE_BLOCK, "ERASE_BLOCK"},
    {CONFIG_READ_CFG_REG, "CONFIG_READ_CFG_REG"},
    {BLOCK_LOCK, "BLOCK_LOCK"},
    {BLOCK_UNLOCK, "BLOCK_UNLOCK"},
};

uint32_t lock_bits(uint32_t status) { return status & 0xFFu; }
uint32_t rcr_bits(uint32_t status) { return status & 0xFFFFu; }

uint32_t command_word(uint32_t command, uint32_t start, uint32_t count) {
    return kGoBit | kControllerEnableBit | ((command & 0x3Fu) << 20) | ((count & 0x3FFu) << 10) | (start & 0x3FFu);
}

uint32_t read_register(void *handle, uint32_t offset, const char *where) {
    uint32_t value = 0;
    zen::check_call(KorvelReadRegister(handle, offset, &value, ZENAPI_REGISTER_ACCESS_CODE), where);
    return value;
}

void write_register(void *handle, uint32_t offset, uint32_t value, const char *where) {
    zen::check_call(KorvelWriteRegister(handle, offset, value, ZENAPI_REGISTER_ACCESS_CODE), where);
}

// Runs a cleanup step after body whether or not body throws; the body's
// failure is the one reported.
template <typename Body, typename Cleanup>
void then_always(Body body, Cleanup cleanup) {
    try {
        body();
    } catch (...) {
        cleanup();
        throw;
    }
    cleanup();
}

} // namespace

CFlashPC28F::CFlashPC28F(ROMWRIGHT_LOG_CALLBACK log_callback, void *user_data, romwright::Clock &clock)
    : log_(log_callback, user_data), clock_(clock) {}

void CFlashPC28F::Attach(void *handle, bool verbose) {
    handle_ = nullptr;
    if (!handle) throw romwright::error(romwright::error_kind::usage, "Error: Board handle is NULL");
    handle_ = handle;
    verbose_ = verbose;
    // Whether the output enable is on is a fact about the board last
    // attached; a new attachment must switch it on again before its first
    // command, even if switching it off at the last detach failed.
    output_enabled_ = false;
    if (defer_rcr_) {
        rcr_configured_ = false;
    } else {
        SetRCR();
        rcr_configured_ = true;
    }
}

void CFlashPC28F::Detach() {
    // A driver that let go of its board (even by a detach that failed) has
    // nothing to switch off: the handle is gone, and a call on it would only
    // add the library's refusal to the failure already reported.
    if (!handle_) return;
    // The driver lets go of the board even when switching the output off
    // fails; the failure is still reported.
    then_always(
        [this] {
            if (output_enabled_) FlashOutputEnable(false);
        },
        [this] { handle_ = nullptr; });
}

void CFlashPC28F::ExecCommand(uint32_t command, uint32_t start, uint32_t count, bool wait) {
    const char *where = "CFlashPC28F::ExecCommand";
    if (verbose_) log_.info("--> {} start {} count {}\n", CommandName(command), start, count);
    FlashOutputEnable(true);
    // The clear pulse empties the controller's state left by the previous
    // command, failed or not.
    ClearPulse(where);
    write_register(handle_, flash_reg::kCommand, command_word(command, start, count), where);
    const uint32_t echo = read_register(handle_, flash_reg::kCommand, where);
    if (verbose_) log_.info("FlashExecCommand Reg_34 = 0x{:08X}\n", echo);
    log_.info("--- Just about to wait\n");
    if (!wait) return;
    if (!WaitCommandComplete(kCommandTimeoutMs)) {
        log_.info("--- Wait timeout\n");
        throw romwright::error(romwright::error_kind::timeout, "Wait timed out.");
    }
}

// The clear sequence (three writes, each followed by its pause), the command
// and its echo, and for a waited command the first poll, which finds it done.
ControllerCost CFlashPC28F::CostOfCommand(bool wait) {
    return ControllerCost{3 + 2 + (wait ? 1u : 0u), 1, 3 * kSettleMs};
}

bool CFlashPC28F::WaitCommandComplete(uint32_t timeout_ms) {
    const char *where = "CFlashPC28F::WaitCommandComplete";
    const uint64_t start = clock_.monotonic_ms();
    uint32_t value = read_register(handle_, flash_reg::kCommand, where);
    // The time-out is tested before each pause, so a command that completes
    // within the first millisecond never times out.
    while (value & kGoBit) {
        const uint64_t elapsed = clock_.monotonic_ms() - start;
        if (elapsed != 0 && elapsed > timeout_ms) {
            log_.info("Timeout was set to {} and diff was {} ms.\n", timeout_ms, elapsed);
            return false;
        }
        clock_.sleep_ms(kPollMs);
        value = read_register(handle_, flash_reg::kCommand, where);
    }
    if (verbose_) log_.info("ExecCommand completed in {} ms\n", clock_.monotonic_ms() - start);
    return true;
}

void CFlashPC28F::ReadStatusRegisters(uint32_t values[2], bool check) {
    const char *where = "CFlashPC28F::ReadStatusRegisters";
    for (int i = 0; i < 2; ++i) {
        values[i] = read_register(handle_, flash_reg::kStatus, where);
        // A bad word is not acknowledged: it stays for whoever looks next.
        const romwright::FlashStatus status = romwright::FlashStatus::decode(values[i]);
        if (check && !status.good()) throw romwright::flash_status_error(status);
        write_register(handle_, flash_reg::kStatus, 0, where);
    }
}

// Two words, each read and acknowledged.
ControllerCost CFlashPC28F::CostOfStatusRead() { return ControllerCost{4, 0, 0}; }

void CFlashPC28F::FlashBlockReset() {
    const char *where = "CFlashPC28F::FlashBlockReset";
    if (verbose_) log_.info("--> FlashBlockReset\n");
    write_register(handle_, flash_reg::kCommand, kIdleCommand, where);
    clock_.sleep_ms(kSettleMs);
    write_register(handle_, flash_reg::kCommand, kIdleCommand | kBlockResetBit, where);
    clock_.sleep_ms(kSettleMs);
    write_register(handle_, flash_reg::kCommand, kIdleCommand, where);
    clock_.sleep_ms(kSettleMs);
}

void CFlashPC28F::ClearPulse(const char *where) {
    write_register(handle_, flash_reg::kCommand, kIdleCommand, where);
    clock_.sleep_ms(kSettleMs);
    write_register(handle_, flash_reg::kCommand, kIdleCommand | kClearPulseBit, where);
    clock_.sleep_ms(kSettleMs);
    write_register(handle_, flash_reg::kCommand, kIdleCommand, where);
    clock_.sleep_ms(kSettleMs);
}

// The clear pulse alone does not stop a command that still runs (a read
// burst whose FIFO nobody drains any more never ends), and a go written
// meanwhile is ignored; only the block reset ends it. Words left in the
// FIFOs by the aborted transfer would reach the next one.
void CFlashPC28F::ResetController() {
    FlashBlockReset();
    ClearPulse("CFlashPC28F::ResetController");
    ClearFifo();
}

void CFlashPC28F::FlashOutputEnable(bool enable) {
    const char *where = "CFlashPC28F::FlashOutputEnable";
    if (enable == output_enabled_) return;
    if (verbose_) log_.info("--> FlashOutputEnable = {}\n", enable);
    if (enable) {
        write_register(handle_, flash_reg::kCommand, 0, where);
        clock_.sleep_ms(kSettleMs);
    }
    uint32_t value = read_register(handle_, flash_reg::kFlashEnable, where);
    value = enable ? (value | flash_reg::kFlashEnableBit) : (value & ~flash_reg::kFlashEnableBit);
    write_register(handle_, flash_reg::kFlashEnable, value, where);
    if (enable) {
        clock_.sleep_ms(kSettleMs);
        write_register(handle_, flash_reg::kCommand, kIdleCommand, where);
    }
    output_enabled_ = enable;
}

ControllerCost CFlashPC28F::CostOfOutputEnable(bool enable) {
    return enable ? ControllerCost{4, 0, 2 * kSettleMs} : ControllerCost{2, 0, 0};
}

void CFlashPC28F::SetRCR() {
    FlashBlockReset();
    clock_.sleep_ms(kRcrResetPauseMs);
    // The 20-bit value travels in the count and start fields together.
    ExecCommand(CONFIG_READ_CFG_REG, kRcrStart, kRcrCount, true);
    ExecCommand(READ_CFG_REG, 0, 0, true);
    uint32_t values[2] = {};
    ReadStatusRegisters(values, true);
    if (rcr_bits(values[0]) != kRcrValue || rcr_bits(values[1]) != kRcrValue) {
        throw romwright::error(romwright::error_kind::verification,
                               fmt::format("Error: Unable to set RCR -- want {:04X} have {:04X}, {:04X}\n", kRcrValue,
                                           rcr_bits(values[0]), rcr_bits(values[1])));
    }
}

void CFlashPC28F::EraseSector(uint32_t sector) {
    // The RCR is left as the board configured it; it is programmed again
    // only when this attachment programmed it (never while defer_rcr holds).
    if (rcr_configured_) SetRCR();
    uint32_t values[2] = {};
    ExecCommand(BLOCK_LOCK_STATUS, sector, 1, true);
    ReadStatusRegisters(values, true);
    if (lock_bits(values[0]) != 0 || lock_bits(values[1]) != 0) {
        ExecCommand(BLOCK_UNLOCK, sector, 1, true);
        ExecCommand(BLOCK_LOCK_STATUS, sector, 1, true);
        ReadStatusRegisters(values, true);
        if (lock_bits(values[0]) != 0 || lock_bits(values[1]) != 0) {
            throw romwright::error(romwright::error_kind::verification,
                                   fmt::format("Error: Sector {} not unlocked. Status = {}, {}\n", sector,
                                               lock_bits(values[0]), lock_bits(values[1])));
        }
    }
    ExecCommand(ERASE_BLOCK, sector, 1, true);
}

ControllerCost CFlashPC28F::CostOfEraseSector(bool locked) {
    ControllerCost cost = CostOfCommand(true);  // BLOCK_LOCK_STATUS
    cost += CostOfStatusRead();
    if (locked) {
        cost += CostOfCommand(true);  // BLOCK_UNLOCK
        cost += CostOfCommand(true);  // BLOCK_LOCK_STATUS
        cost += CostOfStatusRead();
    }
    cost += CostOfCommand(true);  // ERASE_BLOCK
    return cost;
}

std::string CFlashPC28F::CommandName(uint32_t code) {
    for (const auto &row : kCommandNames)
        if (row.code == code) return row.name;
    return fmt::format("Command {:08X}", code);
}

void CFlashPC28F::ClearFifo() {
    const char *where = "CFlashPC28F::ClearFifo";
    if (verbose_) log_.info("--> ClearFifo\n");
    const uint32_t control = read_register(handle_, flash_reg::kFifoControl, where);
    write_register(handle_, flash_reg::kFifoControl, control & ~kFifoRunBit, where);
    write_register(handle_, flash_reg::kFifoControl, control | kFifoRunBit, where);
}

uint32_t CFlashPC28F::BurstReadRegister(void *destination, uint32_t bytes) {
    const char *where = "CFlashPC28F::BurstReadRegister";
    const uint32_t words = bytes / 4;
    const int64_t started_at = clock_.wall_seconds();
    auto *out = static_cast<unsigned char *>(destination);
    uint32_t read = 0;
    uint32_t retry = 0;
    while (read < words) {
        const uint32_t waiting = read_register(handle_, flash_reg::kFifoLevel, where) & 0xFFFFu;
        if (waiting != 0) {
            const uint32_t word = read_register(handle_, flash_reg::kReadFifoData, where);
            write_register(handle_, flash_reg::kReadFifoData, 0, where);
            std::memcpy(out + std::size_t{read} * 4, &word, sizeof word);
            ++read;
            retry = 0;
            continue;
        }
        if (verbose_) log_.warning("Warning: Fifo_rd_used = 0, retry {}\n", retry);
        if (retry >= kEmptyReadFifoRetries) {
            // The caller's comparison finds the words that never came.
            log_.error("Error: Fifo_rd_used = 0, read {} of {} values.\n", read, words);
            break;
        }
        clock_.sleep_ms(kEmptyReadFifoPauseMs);
        ++retry;
    }
    if (verbose_)
        log_.info("BurstReadRegister {} values {} s\n", words, static_cast<double>(clock_.wall_seconds() - started_at));
    return read;
}

uint32_t CFlashPC28F::BurstReadBatched(void *destination, uint32_t bytes) {
    const char *where = "CFlashPC28F::BurstReadRegister";
    const uint32_t words = bytes / 4;
    auto *out = static_cast<unsigned char *>(destination);
    uint32_t read = 0;
    uint32_t retry = 0;
    while (read < words) {
        const uint32_t waiting = std::min(read_register(handle_, flash_reg::kFifoLevel, where) & 0xFFFFu, words - read);
        for (uint32_t i = 0; i < waiting; ++i, ++read) {
            const uint32_t word = read_register(handle_, flash_reg::kReadFifoData, where);
            write_register(handle_, flash_reg::kReadFifoData, 0, where);
            std::memcpy(out + std::size_t{read} * 4, &word, sizeof word);
        }
        if (waiting != 0) {
            retry = 0;
            continue;
        }
        // A burst the controller refused (a block it does not have) brings
        // nothing more; its result word says so at once.
        const uint32_t result = read_register(handle_, flash_reg::kStatus, where);
        if (romwright::FlashStatus::decode(result).transaction == romwright::TransactionResult::error) break;
        if (retry >= kBatchedReadRetries) {
            log_.error("Error: Fifo_rd_used = 0, read {} of {} values.\n", read, words);
            break;
        }
        clock_.sleep_ms(kBatchedReadPauseMs);
        ++retry;
    }
    return read;
}

uint32_t CFlashPC28F::ReadSectorBatched(uint32_t sector, void *destination, uint32_t bytes) {
    ExecCommand(READ_ARRAY, sector, 1, true);
    ClearFifo();
    ExecCommand(READ_BURST, sector, 1, false);
    return BurstReadBatched(destination, bytes);
}

void CFlashPC28F::BurstWriteRegister(uint32_t start, uint32_t count, const void *source, uint32_t bytes) {
    const uint32_t words = bytes / 4;
    const int64_t started_at = clock_.wall_seconds();
    const auto *in = static_cast<const unsigned char *>(source);
    const auto write_word = [&](uint32_t i) {
        uint32_t word = 0;
        std::memcpy(&word, in + std::size_t{i} * 4, sizeof word);
        write_register(handle_, flash_reg::kWriteFifoData, word, "CFlashPC28F::BurstWriteRegister");
    };
    bool started = false;
    uint64_t full_since = 0;
    bool full = false;
    uint32_t i = 0;
    while (i < words) {
        const uint32_t write_level = read_register(handle_, flash_reg::kFifoLevel, "CFlashPC28F::GetFifoUsed") >> 16;
        if (!started) {
            if (i >= kEarlyProgramWords) {
                ExecCommand(PROGRAM_BURST, start, count, false);
                started = true;
            }
            write_word(i++);
        } else if (write_level > kWriteFifoHighWater) {
            // A program that stopped draining the FIFO must not hold the
            // transfer forever: give it the same time as a whole command.
            const uint64_t now = clock_.monotonic_ms();
            if (!full) full_since = now;
            full = true;
            if (now - full_since > kCommandTimeoutMs)
                throw romwright::error(romwright::error_kind::timeout, "BurstWriteRegister timeout.");
            clock_.sleep_ms(kPollMs);
        } else {
            full = false;
            write_word(i++);
        }
    }
    if (started) {
        if (!WaitCommandComplete(kCommandTimeoutMs))
            throw romwright::error(romwright::error_kind::timeout, "BurstWriteRegister timeout.");
    } else {
        ExecCommand(PROGRAM_BURST, start, count, true);
    }
    if (verbose_)
        log_.info("BurstWriteRegister {} values {} s\n", words, static_cast<double>(clock_.wall_seconds() - started_at));
}

uint32_t CFlashPC28F::ReadSector(uint32_t sector, void *destination, uint32_t bytes) {
    ExecCommand(READ_ARRAY, sector, 1, true);
    // Words an earlier, shortened read left behind must not reach this one.
    ClearFifo();
    ExecCommand(READ_BURST, sector, 1, false);
    return BurstReadRegister(destination, bytes);
}

// READ_ARRAY, the FIFO reset (the control word read, written stopped and
// running), READ_BURST, and for each word its level, the word and its release.
ControllerCost CFlashPC28F::CostOfReadSector(uint32_t bytes) {
    ControllerCost cost = CostOfCommand(true);
    cost.accesses += 3;
    cost += CostOfCommand(false);
    cost.accesses += 3 * uint64_t{bytes / 4};
    return cost;
}

void CFlashPC28F::WriteSector(uint32_t sector, const void *source, uint32_t bytes) {
    BurstWriteRegister(sector, 1, source, bytes);
}

// For each word its level and the word; the program starts once the FIFO
// has taken the early words, or after the last of fewer, and is waited for.
ControllerCost CFlashPC28F::CostOfWriteSector(uint32_t bytes) {
    const uint64_t words = bytes / 4;
    ControllerCost cost{2 * words, 0, 0};
    if (words > kEarlyProgramWords) {
        cost += CostOfCommand(false);
        cost.accesses += 1;  // the wait's first poll
    } else {
        cost += CostOfCommand(true);
    }
    return cost;
}
