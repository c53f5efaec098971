// The device library's C functions, answered by the fake's state.
#include <algorithm>
#include <cstring>
#include <string>

#include <fmt/format.h>

#include <zenapi/Zenapi.h>

#include "tests/support/fake_zenapi/internal.hpp"

namespace fakezen {
namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

constexpr uint32_t kPageSectorBytes = 0x20000;
constexpr uint32_t kFlashStatusInvalidParameter = 6;
constexpr uint32_t kUpgradeSucceeded = 2;

// Runs a call that returns a code: counts and records it, applies a
// scripted failure, refuses an unknown handle, else runs body(board).
template <typename Body>
uint32_t board_call(const char *name, void *handle, std::vector<uint64_t> args, Body body) {
    Guard guard(detail::lock());
    Library &lib = library();
    uint32_t result = kSuccess;
    if (const auto failure = lib.scripted_failure(name)) {
        result = *failure;
    } else if (Board *board = lib.find(handle)) {
        result = body(*board);
    } else {
        result = kInvalidHandle;
    }
    lib.record_call(name, handle, std::move(args), result);
    return result;
}

// The same for the calls that need no board.
template <typename Body>
uint32_t plain_call(const char *name, std::vector<uint64_t> args, Body body) {
    Guard guard(detail::lock());
    Library &lib = library();
    const auto failure = lib.scripted_failure(name);
    const uint32_t result = failure ? *failure : body();
    lib.record_call(name, nullptr, std::move(args), result);
    return result;
}

uint32_t write_version(const uint8_t version[3], uint8_t *major, uint8_t *minor, uint8_t *revision) {
    if (!major || !minor || !revision) return kNullParam;
    *major = version[0];
    *minor = version[1];
    *revision = version[2];
    return kSuccess;
}

bool in_flash(Board &board, uint64_t offset, uint64_t length) {
    return offset <= board.flash_size && length <= board.flash_size - offset;
}

uint32_t read_register(Board &board, const RegisterAccess &access, uint32_t *value) {
    if (board.result_hook) {
        const uint32_t result = board.result_hook(access);
        if (result != kSuccess) return result;
    }
    if (board.read_hook) {
        if (const auto answer = board.read_hook(access.offset)) {
            *value = *answer;
            return kSuccess;
        }
    }
    if (detail::controller_decodes(access.offset)) {
        *value = detail::controller_read(board.controller, access.offset);
    } else {
        const auto found = board.registers.find(access.offset);
        *value = found == board.registers.end() ? 0 : found->second;
    }
    return kSuccess;
}

uint32_t write_register(Board &board, const RegisterAccess &access) {
    if (board.result_hook) {
        const uint32_t result = board.result_hook(access);
        if (result != kSuccess) return result;
    }
    if (board.write_hook && board.write_hook(access.offset, access.value)) return kSuccess;
    if (detail::controller_decodes(access.offset))
        detail::controller_write(board.controller, access.offset, access.value);
    else
        board.registers[access.offset] = access.value;
    return kSuccess;
}

uint32_t register_access(RegisterAccess access, uint32_t *value) {
    Guard guard(detail::lock());
    Library &lib = library();
    const bool reading = access.kind == RegisterAccess::Kind::read;
    const auto failure = lib.scripted_failure(reading ? "KorvelReadRegister" : "KorvelWriteRegister");
    Board *board = lib.find(access.board);
    if (failure) {
        access.result = *failure;
    } else if (!board) {
        access.result = kInvalidHandle;
    } else if (access.access_code != ZENAPI_REGISTER_ACCESS_CODE) {
        access.result = kAccessDenied;
    } else if (reading && !value) {
        access.result = kNullParam;
    } else if (reading) {
        access.result = read_register(*board, access, &access.value);
        if (access.result == kSuccess) *value = access.value;
    } else {
        access.result = write_register(*board, access);
    }
    lib.record_register(access);
    return access.result;
}

// Checks a flash-sector service transfer and gives its byte offset.
uint32_t service_transfer(Board &b, uint32_t sector, uint32_t count, const void *buffer, uint32_t *flash_status,
                          uint64_t &offset, uint64_t &length) {
    if (!buffer || !flash_status) return kNullParam;
    offset = uint64_t{sector} * b.service_sector_size;
    length = uint64_t{count} * b.service_sector_size;
    if (!b.service_open || !in_flash(b, offset, length)) {
        *flash_status = kFlashStatusInvalidParameter;
        return kFailed;
    }
    *flash_status = 0;
    return kSuccess;
}

struct ErrorTextRow {
    uint32_t code;
    const char *text;
};

constexpr ErrorTextRow kErrorTexts[] = {
    {512, "fake: the call succeeded"},
    {513, "fake: the call failed"},
    {514, "fake: access to the board was refused"},
    {531, "fake: a required pointer was null"},
    {533, "fake: the board does not offer this call"},
    {536, "fake: the size is not valid"},
    {537, "fake: the address is outside the flash"},
    {572, "fake: the board handle is not valid"},
    {579, "fake: timed out while waiting"},
};

const char *error_text(uint32_t code) {
    for (const auto &row : kErrorTexts)
        if (row.code == code) return row.text;
    // Other codes get a text naming the number, kept for the pointer's sake.
    static std::map<uint32_t, std::string> others;
    auto &text = others[code];
    if (text.empty()) text = fmt::format("fake: error code {}", code);
    return text.c_str();
}

} // namespace
} // namespace fakezen

using namespace fakezen;

extern "C" {

uint32_t KorvelGetSDKVersion(uint8_t *major, uint8_t *minor, uint8_t *revision) {
    FAKEZEN_PASS_THROUGH(KorvelGetSDKVersion, (major, minor, revision));
    return plain_call("KorvelGetSDKVersion", {},
                      [&] { return write_version(library().sdk_version, major, minor, revision); });
}

uint32_t KorvelGetDriverVersion(uint8_t *major, uint8_t *minor, uint8_t *revision) {
    FAKEZEN_PASS_THROUGH(KorvelGetDriverVersion, (major, minor, revision));
    return plain_call("KorvelGetDriverVersion", {},
                      [&] { return write_version(library().driver_version, major, minor, revision); });
}

uint32_t KorvelNumOfSystems(void) {
    FAKEZEN_PASS_THROUGH(KorvelNumOfSystems, ());
    return plain_call("KorvelNumOfSystems", {}, [] { return library().systems(); });
}

uint32_t KorvelBoardsInSystemBySystemID(uint32_t system_id) {
    FAKEZEN_PASS_THROUGH(KorvelBoardsInSystemBySystemID, (system_id));
    return plain_call("KorvelBoardsInSystemBySystemID", {system_id},
                      [&] { return library().boards_in(system_id); });
}

void *KorvelGetBoardBySystemID(uint32_t system_id, uint32_t board_id) {
    FAKEZEN_PASS_THROUGH(KorvelGetBoardBySystemID, (system_id, board_id));
    Guard guard(detail::lock());
    Library &lib = library();
    void *board = lib.scripted_failure("KorvelGetBoardBySystemID") ? nullptr : lib.board_at(system_id, board_id);
    lib.record_call("KorvelGetBoardBySystemID", board, {system_id, board_id}, board ? kSuccess : kFailed);
    return board;
}

uint32_t KorvelGetBoardKind(void *board) {
    FAKEZEN_PASS_THROUGH(KorvelGetBoardKind, (board));
    return board_call("KorvelGetBoardKind", board, {}, [](Board &b) { return b.kind; });
}

uint32_t KorvelGetSupportedDriverFeatures(void *board, uint8_t features[64]) {
    FAKEZEN_PASS_THROUGH(KorvelGetSupportedDriverFeatures, (board, features));
    return board_call("KorvelGetSupportedDriverFeatures", board, {}, [&](Board &b) {
        if (!features) return kNullParam;
        std::memcpy(features, b.features, sizeof b.features);
        return kSuccess;
    });
}

uint32_t KorvelSetParameter(void *board, uint8_t channel, uint32_t parameter, int32_t value) {
    FAKEZEN_PASS_THROUGH(KorvelSetParameter, (board, channel, parameter, value));
    return board_call("KorvelSetParameter", board, {channel, parameter, static_cast<uint32_t>(value)},
                      [&](Board &b) {
                          b.parameters[{channel, parameter}] = value;
                          return kSuccess;
                      });
}

uint32_t KorvelGetCPLDVersion(void *board, uint8_t *major, uint8_t *minor) {
    FAKEZEN_PASS_THROUGH(KorvelGetCPLDVersion, (board, major, minor));
    return board_call("KorvelGetCPLDVersion", board, {}, [&](Board &b) {
        if (!major || !minor) return kNullParam;
        *major = b.cpld_major;
        *minor = b.cpld_minor;
        return kSuccess;
    });
}

uint32_t KorvelGetBoardRevision(void *board, uint8_t *major, uint8_t *minor) {
    FAKEZEN_PASS_THROUGH(KorvelGetBoardRevision, (board, major, minor));
    return board_call("KorvelGetBoardRevision", board, {}, [&](Board &b) {
        if (!major || !minor) return kNullParam;
        *major = b.revision_major;
        *minor = b.revision_minor;
        return kSuccess;
    });
}

uint32_t KorvelQueryCapability(void *board, uint32_t capability, uint32_t reserved, uint32_t *value) {
    FAKEZEN_PASS_THROUGH(KorvelQueryCapability, (board, capability, reserved, value));
    return board_call("KorvelQueryCapability", board, {capability, reserved}, [&](Board &b) {
        if (!value) return kNullParam;
        const auto found = b.capabilities.find(capability);
        if (found == b.capabilities.end()) return kUnsupported;
        *value = found->second;
        return kSuccess;
    });
}

uint32_t KorvelReadRegister(void *board, uint32_t offset, uint32_t *value, uint32_t access_code) {
    FAKEZEN_PASS_THROUGH(KorvelReadRegister, (board, offset, value, access_code));
    return register_access({RegisterAccess::Kind::read, board, offset, 0, access_code, kSuccess}, value);
}

uint32_t KorvelWriteRegister(void *board, uint32_t offset, uint32_t value, uint32_t access_code) {
    FAKEZEN_PASS_THROUGH(KorvelWriteRegister, (board, offset, value, access_code));
    return register_access({RegisterAccess::Kind::write, board, offset, value, access_code, kSuccess}, nullptr);
}

uint32_t SetControlCommand(void *board, uint32_t command) {
    FAKEZEN_PASS_THROUGH(SetControlCommand, (board, command));
    return board_call("SetControlCommand", board, {command}, [&](Board &b) {
        b.control_commands.push_back(command);
        return kSuccess;
    });
}

uint32_t ZEN5110FlashSectorPageRead(void *board, uint32_t word_address, uint16_t *buffer) {
    FAKEZEN_PASS_THROUGH(ZEN5110FlashSectorPageRead, (board, word_address, buffer));
    return board_call("ZEN5110FlashSectorPageRead", board, {word_address}, [&](Board &b) {
        const uint64_t offset = 2ull * word_address;
        if (!buffer) return kNullParam;
        if (!in_flash(b, offset, 16)) return kInvalidAddress;
        std::memcpy(buffer, b.flash_bytes().data() + offset, 16);
        return kSuccess;
    });
}

uint32_t ZEN5110PageWriteToFlash(void *board, uint32_t word_address, const uint16_t *buffer) {
    FAKEZEN_PASS_THROUGH(ZEN5110PageWriteToFlash, (board, word_address, buffer));
    return board_call("ZEN5110PageWriteToFlash", board, {word_address}, [&](Board &b) {
        const uint64_t offset = 2ull * word_address;
        if (!buffer) return kNullParam;
        if (!in_flash(b, offset, 32)) return kInvalidAddress;
        uint8_t bytes[32];
        std::memcpy(bytes, buffer, sizeof bytes);
        uint8_t *flash = b.flash_bytes().data() + offset;
        for (std::size_t i = 0; i < sizeof bytes; ++i) flash[i] &= bytes[i];
        return kSuccess;
    });
}

uint32_t ZEN5110FlashSectorErase(void *board, uint32_t sector) {
    FAKEZEN_PASS_THROUGH(ZEN5110FlashSectorErase, (board, sector));
    return board_call("ZEN5110FlashSectorErase", board, {sector}, [&](Board &b) {
        const uint64_t offset = uint64_t{sector} * kPageSectorBytes;
        if (!in_flash(b, offset, kPageSectorBytes)) return kInvalidAddress;
        std::fill_n(b.flash_bytes().begin() + static_cast<std::ptrdiff_t>(offset), kPageSectorBytes, 0xFF);
        return kSuccess;
    });
}

uint32_t KorvelFlashOpen(void *board, uint32_t flags, uint32_t *sector_size, uint32_t *flash_status) {
    FAKEZEN_PASS_THROUGH(KorvelFlashOpen, (board, flags, sector_size, flash_status));
    return board_call("KorvelFlashOpen", board, {flags}, [&](Board &b) {
        if (!sector_size || !flash_status) return kNullParam;
        b.service_open = true;
        *sector_size = b.service_sector_size;
        *flash_status = 0;
        return kSuccess;
    });
}

uint32_t KorvelFlashSectorWrite(void *board, uint32_t sector, uint32_t count, const void *buffer,
                                uint32_t *flash_status) {
    FAKEZEN_PASS_THROUGH(KorvelFlashSectorWrite, (board, sector, count, buffer, flash_status));
    return board_call("KorvelFlashSectorWrite", board, {sector, count}, [&](Board &b) {
        uint64_t offset = 0, length = 0;
        const uint32_t result = service_transfer(b, sector, count, buffer, flash_status, offset, length);
        if (result == kSuccess) std::memcpy(b.flash_bytes().data() + offset, buffer, length);
        return result;
    });
}

uint32_t KorvelFlashSectorRead(void *board, uint32_t sector, uint32_t count, void *buffer,
                               uint32_t *flash_status) {
    FAKEZEN_PASS_THROUGH(KorvelFlashSectorRead, (board, sector, count, buffer, flash_status));
    return board_call("KorvelFlashSectorRead", board, {sector, count}, [&](Board &b) {
        uint64_t offset = 0, length = 0;
        const uint32_t result = service_transfer(b, sector, count, buffer, flash_status, offset, length);
        if (result == kSuccess) std::memcpy(buffer, b.flash_bytes().data() + offset, length);
        return result;
    });
}

uint32_t KorvelFlashClose(void *board) {
    FAKEZEN_PASS_THROUGH(KorvelFlashClose, (board));
    return board_call("KorvelFlashClose", board, {}, [](Board &b) {
        b.service_open = false;
        return kSuccess;
    });
}

uint32_t KorvelFirmwareUpgradeStart(void *board, const uint8_t *image, uint32_t size) {
    FAKEZEN_PASS_THROUGH(KorvelFirmwareUpgradeStart, (board, image, size));
    return board_call("KorvelFirmwareUpgradeStart", board, {size}, [&](Board &b) {
        if (!image) return kNullParam;
        if (size > b.flash_size) return kInvalidSize;
        b.upgrade_image.assign(image, image + size);
        b.upgrade_started = true;
        return kSuccess;
    });
}

uint32_t KorvelFirmwareUpgradeExecAndGetStatus(void *board, uint32_t *status, uint32_t *percent) {
    FAKEZEN_PASS_THROUGH(KorvelFirmwareUpgradeExecAndGetStatus, (board, status, percent));
    return board_call("KorvelFirmwareUpgradeExecAndGetStatus", board, {}, [&](Board &b) {
        if (!status || !percent) return kNullParam;
        if (!b.upgrade_started) return kFailed;
        auto answer = std::make_pair(kUpgradeSucceeded, 100u);
        if (!b.upgrade_script.empty()) {
            answer = b.upgrade_script.front();
            b.upgrade_script.pop_front();
        }
        *status = answer.first;
        *percent = answer.second;
        if (answer.first == kUpgradeSucceeded) {
            std::copy(b.upgrade_image.begin(), b.upgrade_image.end(), b.flash_bytes().begin());
            b.upgrade_started = false;
        }
        return kSuccess;
    });
}

const char *KorvelErrorToText(uint32_t code) {
    FAKEZEN_PASS_THROUGH(KorvelErrorToText, (code));
    Guard guard(detail::lock());
    library().scripted_failure("KorvelErrorToText");
    return error_text(code);
}

} // extern "C"
