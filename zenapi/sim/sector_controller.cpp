// First cut: registers are stored and read back; commands complete at once.
// The full model of the controller follows.
#include "zenapi/sim/sector_controller.hpp"

#include <map>

namespace zenapi_sim {

struct SectorController::State {
    NorFlash &flash;
    SectorControllerConfig config;
    TimeSource now;
    bool flash_enabled = false;
    std::map<uint32_t, uint32_t> registers;
};

SectorControllerConfig parse_sector_controller_config(const toml::table *, const std::string &) {
    return SectorControllerConfig{};
}

SectorController::SectorController(NorFlash &flash, const SectorControllerConfig &config, TimeSource now)
    : state_(new State{flash, config, std::move(now), false, {}}) {}

SectorController::~SectorController() = default;

bool SectorController::decodes(uint32_t offset) {
    return offset == 1 || offset == 33 || offset == 34 || offset == 35 || offset == 36 || offset == 40;
}

uint32_t SectorController::read_register(uint32_t offset) {
    const uint32_t value = state_->registers[offset];
    return offset == 34 ? value & 0x7FFFFFFFu : value;
}

void SectorController::write_register(uint32_t offset, uint32_t value) { state_->registers[offset] = value; }

void SectorController::set_flash_enable(bool enabled) { state_->flash_enabled = enabled; }

} // namespace zenapi_sim
