// CFlashPC28F: the register-level driver of the flash controller in the FPGA
// of the sector-mode boards, and the parallel PC28F-type flash behind it.
// Commands, status and locks; sector reads and writes through the
// controller's FIFOs. Every register access goes through the device library.
#pragma once

#include <cstdint>
#include <string>

#include <romwright/romwright.h>

#include "engine/core/clock.hpp"
#include "engine/core/log_sink.hpp"

// Controller command codes (6 bits).
enum FlashCommand : uint32_t {
    READ_ARRAY = 8,
    READ_STATUS_REG = 9,
    READ_MFG_ID = 10,
    READ_DEV_ID = 11,
    READ_CFG_REG = 12,
    READ_CLEAR_STATUS_REG = 13,
    READ_BURST = 14,
    BLOCK_LOCK_STATUS = 15,
    PROGRAM_WORD = 16,
    PROGRAM_BURST = 17,
    ERASE_BLOCK = 24,
    CONFIG_READ_CFG_REG = 32,
    BLOCK_LOCK = 33,
    BLOCK_UNLOCK = 34,
};

namespace flash_reg {
inline constexpr uint32_t kFifoControl = 1;
inline constexpr uint32_t kReadFifoData = 33;
inline constexpr uint32_t kCommand = 34;
inline constexpr uint32_t kStatus = 35;
inline constexpr uint32_t kWriteFifoData = 36;
inline constexpr uint32_t kFifoLevel = 40;
inline constexpr uint32_t kFlashEnable = 0x80000000u;
inline constexpr uint32_t kFlashEnableBit = 1u << 3;
} // namespace flash_reg

// What the driver's operations cost on a controller that answers at once,
// whose read FIFO always holds the next word and whose write FIFO always has
// room: register accesses through the device library, commands the
// controller runs, and the pauses the protocol prescribes. Each operation's
// cost is given beside the operation (flash_pc28f.cpp).
struct ControllerCost {
    uint64_t accesses = 0;
    uint64_t commands = 0;
    uint64_t pause_ms = 0;

    ControllerCost &operator+=(const ControllerCost &other) {
        accesses += other.accesses;
        commands += other.commands;
        pause_ms += other.pause_ms;
        return *this;
    }
    ControllerCost operator*(uint64_t times) const { return {accesses * times, commands * times, pause_ms * times}; }
};

class CFlashPC28F {
public:
    CFlashPC28F(ROMWRIGHT_LOG_CALLBACK log_callback, void *user_data,
                romwright::Clock &clock = romwright::system_clock());

    void Attach(void *handle, bool verbose);
    // Switches the output off and lets go of the board; does nothing when
    // no board is attached.
    void Detach();

    void ExecCommand(uint32_t command, uint32_t start, uint32_t count, bool wait);
    bool WaitCommandComplete(uint32_t timeout_ms);
    void ReadStatusRegisters(uint32_t values[2], bool check);
    void FlashBlockReset();
    // Brings the controller to a known state after a failure: aborts a
    // running command (block reset), drops pending result words and a latched
    // FIFO error (clear pulse) and empties both FIFOs (FIFO reset).
    void ResetController();
    void FlashOutputEnable(bool enable);
    void SetRCR();
    void EraseSector(uint32_t sector);
    static std::string CommandName(uint32_t code);

    void ClearFifo();
    // destination and source hold bytes / 4 words of 32 bits, in buffer order.
    // A read returns the number of words that came; the rest of the
    // destination keeps what it held.
    uint32_t BurstReadRegister(void *destination, uint32_t bytes);
    uint32_t BurstReadBatched(void *destination, uint32_t bytes);
    void BurstWriteRegister(uint32_t start, uint32_t count, const void *source, uint32_t bytes);
    uint32_t ReadSector(uint32_t sector, void *destination, uint32_t bytes);
    // The same commands and FIFO reads as ReadSector, but the FIFO level is
    // read once for each batch of words waiting rather than once per word.
    uint32_t ReadSectorBatched(uint32_t sector, void *destination, uint32_t bytes);
    void WriteSector(uint32_t sector, const void *source, uint32_t bytes);

    // The costs of the operations above (the output switched on before the
    // first command is counted apart, with CostOfOutputEnable).
    static ControllerCost CostOfCommand(bool wait);
    static ControllerCost CostOfStatusRead();
    static ControllerCost CostOfEraseSector(bool locked);
    static ControllerCost CostOfReadSector(uint32_t bytes);
    static ControllerCost CostOfWriteSector(uint32_t bytes);
    static ControllerCost CostOfOutputEnable(bool enable);

    void *handle() const { return handle_; }
    bool attached() const { return handle_ != nullptr; }
    bool output_enabled() const { return output_enabled_; }
    bool defer_rcr() const { return defer_rcr_; }
    bool rcr_configured() const { return rcr_configured_; }
    bool verbose() const { return verbose_; }

private:
    void ClearPulse(const char *where);

    void *handle_ = nullptr;
    bool output_enabled_ = false;
    bool defer_rcr_ = true;
    bool rcr_configured_ = false;
    bool verbose_ = false;
    romwright::LogSink log_;
    romwright::Clock &clock_;
};
