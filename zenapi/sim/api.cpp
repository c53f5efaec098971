// The device library's C interface over the simulated machine.
#include <zenapi/Zenapi.h>

#include <cstdio>
#include <string>

#include <fmt/format.h>

#include "zenapi/sim/call_scope.hpp"
#include "zenapi/sim/return_codes.hpp"

using namespace zenapi_sim;

namespace {

// Runs a board call unless the handle is unknown or an injected fault
// answers in its place (a faulted call has no other effect).
template <typename Body>
uint32_t board_call(CallScope &scope, uint32_t *flash_status, Body body) {
    if (!scope.board()) return rc::invalid_handle;
    if (const CallFault *fault = scope.fault()) {
        if (flash_status && fault->status) *flash_status = *fault->status;
        return fault->code;
    }
    return body(*scope.board());
}

// "512 value=0x00000008" on success, the bare code otherwise; an answer
// given by an injected fault says so (and shows no outputs: none were made).
template <typename Outputs>
std::string outcome(const CallScope &scope, uint32_t result, Outputs outputs) {
    if (scope.fault()) return fmt::format("{} (injected fault)", result);
    if (result != rc::success) return fmt::format("{}", result);
    const std::string shown = outputs();
    return shown.empty() ? fmt::format("{}", result) : fmt::format("{} {}", result, shown);
}

std::string no_outputs() { return {}; }

// The flash-sector service reports its status on failure too.
std::string flash_outcome(const CallScope &scope, uint32_t result, const uint32_t *status,
                          const uint32_t *sector_size = nullptr) {
    if (scope.fault()) {
        const bool shown = status && scope.fault()->status;
        return fmt::format("{}{} (injected fault)", result, shown ? fmt::format(" status={}", *status) : "");
    }
    std::string text = fmt::format("{}", result);
    if (result == rc::success && sector_size) text += fmt::format(" sector_size=0x{:X}", *sector_size);
    if (status && result != rc::null_param && result != rc::invalid_handle) text += fmt::format(" status={}", *status);
    return text;
}

std::string words_text(const uint16_t *words, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += fmt::format("{}{:04X}", i ? " " : "", words[i]);
    return text;
}

uint32_t version_call(Call call, uint8_t *major, uint8_t *minor, uint8_t *revision) {
    CallScope scope(call);
    uint32_t result = rc::not_initialized;
    if (!major || !minor || !revision) {
        result = rc::null_param;
    } else if (const CallFault *fault = scope.fault()) {
        result = fault->code;
    } else if (const Machine *machine = scope.machine()) {
        const MachineConfig &config = machine->config();
        const Version3 &version = call == Call::GetSDKVersion ? config.library_version : config.driver_version;
        *major = version.major;
        *minor = version.minor;
        *revision = version.revision;
        result = rc::success;
    }
    if (scope.tracing())
        scope.trace("", outcome(scope, result, [&] { return fmt::format("version={}.{}.{}", *major, *minor, *revision); }));
    return result;
}

} // namespace

extern "C" {

uint32_t KorvelGetSDKVersion(uint8_t *major, uint8_t *minor, uint8_t *revision) {
    return version_call(Call::GetSDKVersion, major, minor, revision);
}

uint32_t KorvelGetDriverVersion(uint8_t *major, uint8_t *minor, uint8_t *revision) {
    return version_call(Call::GetDriverVersion, major, minor, revision);
}

uint32_t KorvelNumOfSystems(void) {
    CallScope scope(Call::NumOfSystems);
    const uint32_t systems = scope.machine() ? scope.machine()->system_count() : 0;
    if (scope.tracing()) scope.trace("", fmt::format("{}", systems));
    return systems;
}

uint32_t KorvelBoardsInSystemBySystemID(uint32_t system_id) {
    CallScope scope(Call::BoardsInSystemBySystemID);
    const uint32_t boards = scope.machine() ? scope.machine()->board_count(system_id) : 0;
    if (scope.tracing()) scope.trace(fmt::format("system={}", system_id), fmt::format("{}", boards));
    return boards;
}

void *KorvelGetBoardBySystemID(uint32_t system_id, uint32_t board_id) {
    CallScope scope(Call::GetBoardBySystemID);
    Board *board = scope.machine() ? scope.machine()->board(system_id, board_id) : nullptr;
    if (scope.tracing())
        scope.trace(fmt::format("system={}, board={}", system_id, board_id), board ? board->name() : "null");
    return board;
}

// Has no return code: an injected "call" fault's code is answered as the kind.
uint32_t KorvelGetBoardKind(void *handle) {
    CallScope scope(Call::GetBoardKind, handle);
    uint32_t kind = 0;
    if (scope.board()) kind = scope.fault() ? scope.fault()->code : scope.board()->kind();
    if (scope.tracing()) scope.trace("", fmt::format("{}", kind));
    return kind;
}

uint32_t KorvelGetSupportedDriverFeatures(void *handle, uint8_t features[64]) {
    CallScope scope(Call::GetSupportedDriverFeatures, handle);
    const uint32_t result = board_call(scope, nullptr, [&](Board &b) { return b.supported_features(features); });
    if (scope.tracing())
        scope.trace("", outcome(scope, result, [&] { return fmt::format("features=0x{:02X}", features[0]); }));
    return result;
}

uint32_t KorvelSetParameter(void *handle, uint8_t channel, uint32_t parameter, int32_t value) {
    CallScope scope(Call::SetParameter, handle);
    const uint32_t result =
        board_call(scope, nullptr, [&](Board &b) { return b.set_parameter(channel, parameter, value); });
    if (scope.tracing())
        scope.trace(fmt::format("channel={}, parameter=0x{:08X}, value={}", channel, parameter, value),
                    outcome(scope, result, no_outputs));
    return result;
}

uint32_t KorvelGetCPLDVersion(void *handle, uint8_t *major, uint8_t *minor) {
    CallScope scope(Call::GetCPLDVersion, handle);
    const uint32_t result = board_call(scope, nullptr, [&](Board &b) { return b.cpld_version(major, minor); });
    if (scope.tracing())
        scope.trace("", outcome(scope, result, [&] { return fmt::format("version={}.{}", *major, *minor); }));
    return result;
}

uint32_t KorvelGetBoardRevision(void *handle, uint8_t *major, uint8_t *minor) {
    CallScope scope(Call::GetBoardRevision, handle);
    const uint32_t result = board_call(scope, nullptr, [&](Board &b) { return b.revision(major, minor); });
    if (scope.tracing())
        scope.trace("", outcome(scope, result, [&] { return fmt::format("revision={}.{}", *major, *minor); }));
    return result;
}

uint32_t KorvelQueryCapability(void *handle, uint32_t capability, uint32_t reserved, uint32_t *value) {
    CallScope scope(Call::QueryCapability, handle);
    const uint32_t result = board_call(scope, nullptr, [&](Board &b) { return b.query_capability(capability, value); });
    if (scope.tracing())
        scope.trace(fmt::format("capability=0x{:08X}, reserved={}", capability, reserved),
                    outcome(scope, result, [&] { return fmt::format("value=0x{:08X}", *value); }));
    return result;
}

uint32_t KorvelReadRegister(void *handle, uint32_t offset, uint32_t *value, uint32_t access_code) {
    CallScope scope(Call::ReadRegister, handle);
    const uint32_t result =
        board_call(scope, nullptr, [&](Board &b) { return b.read_register(offset, value, access_code); });
    if (scope.tracing())
        scope.trace(fmt::format("offset=0x{:08X}, access=0x{:08X}", offset, access_code),
                    outcome(scope, result, [&] { return fmt::format("value=0x{:08X}", *value); }));
    return result;
}

uint32_t KorvelWriteRegister(void *handle, uint32_t offset, uint32_t value, uint32_t access_code) {
    CallScope scope(Call::WriteRegister, handle);
    const uint32_t result =
        board_call(scope, nullptr, [&](Board &b) { return b.write_register(offset, value, access_code); });
    if (scope.tracing())
        scope.trace(fmt::format("offset=0x{:08X}, value=0x{:08X}, access=0x{:08X}", offset, value, access_code),
                    outcome(scope, result, no_outputs));
    return result;
}

uint32_t SetControlCommand(void *handle, uint32_t command) {
    CallScope scope(Call::SetControlCommand, handle);
    const uint32_t result = board_call(scope, nullptr, [&](Board &b) { return b.control_command(command); });
    if (scope.tracing()) scope.trace(fmt::format("command={}", command), outcome(scope, result, no_outputs));
    return result;
}

uint32_t ZEN5110FlashSectorPageRead(void *handle, uint32_t word_address, uint16_t *buffer) {
    CallScope scope(Call::PageRead, handle);
    const uint32_t result = board_call(scope, nullptr, [&](Board &b) { return b.page_read(word_address, buffer); });
    if (scope.tracing())
        scope.trace(fmt::format("word_address=0x{:08X}", word_address),
                    outcome(scope, result, [&] { return "data=" + words_text(buffer, PageFlash::kReadWords); }));
    return result;
}

uint32_t ZEN5110PageWriteToFlash(void *handle, uint32_t word_address, const uint16_t *buffer) {
    CallScope scope(Call::PageWrite, handle);
    const uint32_t result = board_call(scope, nullptr, [&](Board &b) { return b.page_write(word_address, buffer); });
    if (scope.tracing())
        scope.trace(fmt::format("word_address=0x{:08X}, data={}", word_address,
                                buffer ? words_text(buffer, PageFlash::kPageWords) : "null"),
                    outcome(scope, result, no_outputs));
    return result;
}

uint32_t ZEN5110FlashSectorErase(void *handle, uint32_t sector) {
    CallScope scope(Call::SectorErase, handle);
    uint32_t busy_ms = 0;
    const uint32_t result = board_call(scope, nullptr, [&](Board &b) { return b.page_erase(sector, &busy_ms); });
    scope.busy_for(busy_ms);
    if (scope.tracing()) scope.trace(fmt::format("sector={}", sector), outcome(scope, result, no_outputs));
    return result;
}

uint32_t KorvelFlashOpen(void *handle, uint32_t flags, uint32_t *sector_size, uint32_t *flash_status) {
    CallScope scope(Call::FlashOpen, handle);
    const uint32_t result =
        board_call(scope, flash_status, [&](Board &b) { return b.flash_open(flags, sector_size, flash_status); });
    if (scope.tracing())
        scope.trace(fmt::format("flags={}", flags),
                    flash_outcome(scope, result, flash_status, sector_size));
    return result;
}

uint32_t KorvelFlashSectorWrite(void *handle, uint32_t sector, uint32_t count, const void *buffer,
                                uint32_t *flash_status) {
    CallScope scope(Call::FlashSectorWrite, handle);
    const uint32_t result = board_call(
        scope, flash_status, [&](Board &b) { return b.flash_write(sector, count, buffer, flash_status); });
    if (scope.tracing())
        scope.trace(fmt::format("sector={}, count={}", sector, count),
                    flash_outcome(scope, result, flash_status));
    return result;
}

uint32_t KorvelFlashSectorRead(void *handle, uint32_t sector, uint32_t count, void *buffer, uint32_t *flash_status) {
    CallScope scope(Call::FlashSectorRead, handle);
    const uint32_t result = board_call(
        scope, flash_status, [&](Board &b) { return b.flash_read(sector, count, buffer, flash_status); });
    if (scope.tracing())
        scope.trace(fmt::format("sector={}, count={}", sector, count),
                    flash_outcome(scope, result, flash_status));
    return result;
}

uint32_t KorvelFlashClose(void *handle) {
    CallScope scope(Call::FlashClose, handle);
    const uint32_t result = board_call(scope, nullptr, [&](Board &b) { return b.flash_close(); });
    if (scope.tracing()) scope.trace("", outcome(scope, result, no_outputs));
    return result;
}

uint32_t KorvelFirmwareUpgradeStart(void *handle, const uint8_t *image, uint32_t size) {
    CallScope scope(Call::FirmwareUpgradeStart, handle);
    const uint32_t result = board_call(scope, nullptr, [&](Board &b) { return b.upgrade_start(image, size); });
    if (scope.tracing())
        scope.trace(fmt::format("image={}, size={}", image ? "..." : "null", size), outcome(scope, result, no_outputs));
    return result;
}

uint32_t KorvelFirmwareUpgradeExecAndGetStatus(void *handle, uint32_t *status, uint32_t *percent) {
    CallScope scope(Call::FirmwareUpgradeExecAndGetStatus, handle);
    const uint32_t result = board_call(scope, nullptr, [&](Board &b) { return b.upgrade_status(status, percent); });
    if (scope.tracing())
        scope.trace("", outcome(scope, result, [&] { return fmt::format("status={} percent={}", *status, *percent); }));
    return result;
}

const char *KorvelErrorToText(uint32_t code) {
    CallScope scope(Call::ErrorToText);
    const char *text = find_return_code_text(code);
    if (!text) {
        thread_local char unknown[64];
        std::snprintf(unknown, sizeof unknown, "Return code %u is not one this library knows", unsigned(code));
        text = unknown;
    }
    if (scope.tracing()) scope.trace(fmt::format("code={}", code), fmt::format("\"{}\"", text));
    return text;
}

} // extern "C"
