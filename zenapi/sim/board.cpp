#include "zenapi/sim/board.hpp"

#include <cstring>

#include "zenapi/sim/return_codes.hpp"
#include "zenapi/sim/sector_controller.hpp"

namespace zenapi_sim {

// The controller keeps a reference to its settings, so both live together.
struct ControllerSlot {
    ControllerSlot(NorFlash &flash, const toml::table *board, const std::string &file)
        : config(parse_sector_controller_config(board, file, flash.size())),
          controller(flash, config) {}

    SectorControllerConfig config;
    SectorController controller;
};

namespace {

std::unique_ptr<ControllerSlot> make_controller(const BoardConfig &config, NorFlash &flash, const std::string &file) {
    if (config.kind->access != FlashAccess::sector) return nullptr;
    return std::make_unique<ControllerSlot>(flash, config.table, file);
}

std::string flash_path(const std::string &state_dir, const std::string &name) { return state_dir + "/" + name + ".flash"; }

} // namespace

Board::Board(const BoardConfig &config, const std::string &state_dir, const std::string &config_file)
    : config_(config),
      file_(flash_path(state_dir, config.name), config.flash_size),
      flash_(file_.bytes(), file_.size()),
      page_flash_(flash_, config.faults),
      flash_service_(flash_, config.sector_size, config.faults),
      upgrade_(flash_, config.upgrade),
      controller_(make_controller(config, flash_, config_file)) {}

Board::~Board() = default;

const CallFault *Board::count_call(Call call) {
    const uint64_t nth = ++calls_[call_index(call)];
    for (const CallFault &fault : config_.faults.calls)
        if (fault.call == call && (fault.nth == 0 || fault.nth == nth)) return &fault;
    return nullptr;
}

uint32_t Board::supported_features(uint8_t *bits) const {
    if (!bits) return rc::null_param;
    std::memset(bits, 0, 64);
    bits[0] = config_.features;   // features 0..5 all live in byte 0
    return rc::success;
}

uint32_t Board::set_parameter(uint8_t channel, uint32_t parameter, int32_t value) {
    if (parameter == kLoggingParameter) logging_ = value != 0;
    parameters_[{channel, parameter}] = value;
    return rc::success;
}

uint32_t Board::cpld_version(uint8_t *major, uint8_t *minor) const {
    if (!major || !minor) return rc::null_param;
    *major = config_.cpld.major;
    *minor = config_.cpld.minor;
    return rc::success;
}

uint32_t Board::revision(uint8_t *major, uint8_t *minor) const {
    if (!major || !minor) return rc::null_param;
    *major = config_.revision.major;
    *minor = config_.revision.minor;
    return rc::success;
}

uint32_t Board::query_capability(uint32_t capability, uint32_t *value) const {
    if (!value) return rc::null_param;
    for (const CapabilityFault &fault : config_.faults.capabilities)
        if (fault.capability == capability) return fault.code;
    switch (capability) {
    case 0x10000024u:   // serial number
        if (!config_.serial) return rc::unsupported_function;
        *value = *config_.serial;
        return rc::success;
    case 0x1000002Cu:   // KSoPC signature
        *value = config_.ksopc_signature;
        return rc::success;
    default:
        return rc::invalid_index;
    }
}

uint32_t Board::read_register(uint32_t offset, uint32_t *value, uint32_t access_code) {
    if (access_code != 0x6B2D9E41u) return rc::access_denied;
    if (!value) return rc::null_param;
    if (offset == kFlashEnableRegister) {
        *value = flash_enable_;
    } else if (offset == kIdRegister) {
        *value = config_.register0;
    } else if (controller_ && SectorController::decodes(offset)) {
        *value = controller_->controller.read_register(offset);
    } else {
        const auto stored = registers_.find(offset);
        *value = stored == registers_.end() ? 0 : stored->second;
    }
    return rc::success;
}

uint32_t Board::write_register(uint32_t offset, uint32_t value, uint32_t access_code) {
    if (access_code != 0x6B2D9E41u) return rc::access_denied;
    if (offset == kFlashEnableRegister) {
        flash_enable_ = value;
        if (controller_) controller_->controller.set_flash_enable(flash_enabled());
    } else if (offset == kIdRegister) {
        // read-only identification register: writes are ignored by the board
    } else if (controller_ && SectorController::decodes(offset)) {
        controller_->controller.write_register(offset, value);
    } else {
        registers_[offset] = value;
    }
    return rc::success;
}

uint32_t Board::control_command(uint32_t command) {
    if (!page_mode()) return rc::unsupported_function;
    return page_flash_.control_command(command);
}

uint32_t Board::page_read(uint32_t word_address, uint16_t *words) {
    if (!page_mode()) return rc::unsupported_function;
    return page_flash_.read(word_address, words, flash_enabled());
}

uint32_t Board::page_write(uint32_t word_address, const uint16_t *words) {
    if (!page_mode()) return rc::unsupported_function;
    return page_flash_.write_page(word_address, words, flash_enabled());
}

uint32_t Board::page_erase(uint32_t sector, uint32_t *busy_ms) {
    *busy_ms = 0;
    if (!page_mode()) return rc::unsupported_function;
    const uint32_t result = page_flash_.erase_sector(sector);
    if (result == rc::success) *busy_ms = config_.timing.page_erase_ms;
    return result;
}

uint32_t Board::flash_open(uint32_t flags, uint32_t *sector_size, uint32_t *status) {
    if (!has_feature(kFeatureFlashService)) {
        if (status) *status = flash_unsupported;
        return rc::unsupported_function;
    }
    return flash_service_.open(flags, sector_size, status);
}

uint32_t Board::flash_write(uint32_t sector, uint32_t count, const void *buffer, uint32_t *status) {
    if (!has_feature(kFeatureFlashService)) {
        if (status) *status = flash_unsupported;
        return rc::unsupported_function;
    }
    return flash_service_.write(sector, count, buffer, status);
}

uint32_t Board::flash_read(uint32_t sector, uint32_t count, void *buffer, uint32_t *status) {
    if (!has_feature(kFeatureFlashService)) {
        if (status) *status = flash_unsupported;
        return rc::unsupported_function;
    }
    return flash_service_.read(sector, count, buffer, status);
}

uint32_t Board::flash_close() {
    if (!has_feature(kFeatureFlashService)) return rc::unsupported_function;
    return flash_service_.close();
}

uint32_t Board::upgrade_start(const uint8_t *image, uint32_t size) {
    if (!has_feature(kFeatureUpgradeService)) return rc::unsupported_function;
    return upgrade_.start(image, size);
}

uint32_t Board::upgrade_status(uint32_t *status, uint32_t *percent) {
    if (!has_feature(kFeatureUpgradeService)) return rc::unsupported_function;
    return upgrade_.poll(status, percent);
}

} // namespace zenapi_sim
