// One simulated board: its identity (kind, versions, capabilities), its
// registers, its persistent flash and the ways to reach that flash (the page
// calls, the flash controller of sector-mode kinds, the driver's services).
// Board handles given out by the library are pointers to these objects.
//
// Not modelled: interrupts, DMA, acquisition, any register beyond the flash
// enable register, register 0 and (on sector-mode kinds) the flash
// controller's; other offsets are plain storage that reads back what was
// written. Driver parameters other than call logging are stored and ignored.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include "zenapi/sim/calls.hpp"
#include "zenapi/sim/flash_file.hpp"
#include "zenapi/sim/flash_service.hpp"
#include "zenapi/sim/machine_config.hpp"
#include "zenapi/sim/nor_flash.hpp"
#include "zenapi/sim/page_flash.hpp"
#include "zenapi/sim/upgrade_service.hpp"

namespace zenapi_sim {

struct ControllerSlot;   // the sector-mode controller and its settings

class Board {
public:
    static constexpr uint32_t kFlashEnableRegister = 0x80000000u;
    static constexpr uint32_t kFlashEnableBit = 1u << 3;
    static constexpr uint32_t kIdRegister = 0;
    static constexpr uint32_t kLoggingParameter = 0x10000090u;
    static constexpr uint32_t kFeatureFlashService = 2;
    static constexpr uint32_t kFeatureUpgradeService = 5;

    // Opens (or creates) the board's flash file in the state folder;
    // `config_file` names the machine description in messages. The config
    // must outlive the board.
    Board(const BoardConfig &config, const std::string &state_dir, const std::string &config_file);
    ~Board();
    Board(const Board &) = delete;
    Board &operator=(const Board &) = delete;

    const BoardConfig &config() const { return config_; }
    const std::string &name() const { return config_.name; }
    NorFlash &flash() { return flash_; }
    FlashFile &flash_file() { return file_; }

    // Call accounting: counts this call and returns the injected fault that
    // fires on it, if any.
    const CallFault *count_call(Call call);
    uint64_t call_count(Call call) const { return calls_[call_index(call)]; }
    bool logging() const { return logging_; }

    // The calls, each answering a device-library return code.
    uint32_t kind() const { return config_.kind->kind; }
    uint32_t supported_features(uint8_t *bits) const;
    uint32_t set_parameter(uint8_t channel, uint32_t parameter, int32_t value);
    uint32_t cpld_version(uint8_t *major, uint8_t *minor) const;
    uint32_t revision(uint8_t *major, uint8_t *minor) const;
    uint32_t query_capability(uint32_t capability, uint32_t *value) const;
    uint32_t read_register(uint32_t offset, uint32_t *value, uint32_t access_code);
    uint32_t write_register(uint32_t offset, uint32_t value, uint32_t access_code);
    uint32_t control_command(uint32_t command);
    uint32_t page_read(uint32_t word_address, uint16_t *words);
    uint32_t page_write(uint32_t word_address, const uint16_t *words);
    // Sets *busy_ms to how long the call keeps the caller waiting.
    uint32_t page_erase(uint32_t sector, uint32_t *busy_ms);
    uint32_t flash_open(uint32_t flags, uint32_t *sector_size, uint32_t *status);
    uint32_t flash_write(uint32_t sector, uint32_t count, const void *buffer, uint32_t *status);
    uint32_t flash_read(uint32_t sector, uint32_t count, void *buffer, uint32_t *status);
    uint32_t flash_close();
    uint32_t upgrade_start(const uint8_t *image, uint32_t size);
    uint32_t upgrade_status(uint32_t *status, uint32_t *percent);

private:
    bool has_feature(uint32_t feature) const { return (config_.features >> feature) & 1u; }
    bool flash_enabled() const { return flash_enable_ & kFlashEnableBit; }
    bool page_mode() const { return config_.kind->access == FlashAccess::page; }

    const BoardConfig &config_;
    FlashFile file_;
    NorFlash flash_;
    PageFlash page_flash_;
    FlashSectorService flash_service_;
    UpgradeService upgrade_;
    std::unique_ptr<ControllerSlot> controller_;   // sector-mode kinds only

    uint32_t flash_enable_ = 0;
    std::unordered_map<uint32_t, uint32_t> registers_;
    std::map<std::pair<uint8_t, uint32_t>, int32_t> parameters_;
    bool logging_ = true;
    std::array<uint64_t, kCallCount> calls_{};
};

} // namespace zenapi_sim
