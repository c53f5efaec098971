// The device-library calls by name: the trace, the per-board call counters
// and the "call" fault of the machine description refer to calls this way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zenapi_sim {

enum class Call : uint8_t {
    GetSDKVersion,
    GetDriverVersion,
    NumOfSystems,
    BoardsInSystemBySystemID,
    GetBoardBySystemID,
    GetBoardKind,
    GetSupportedDriverFeatures,
    SetParameter,
    GetCPLDVersion,
    GetBoardRevision,
    QueryCapability,
    ReadRegister,
    WriteRegister,
    SetControlCommand,
    PageRead,
    PageWrite,
    SectorErase,
    FlashOpen,
    FlashSectorWrite,
    FlashSectorRead,
    FlashClose,
    FirmwareUpgradeStart,
    FirmwareUpgradeExecAndGetStatus,
    ErrorToText,
};

constexpr std::size_t kCallCount = static_cast<std::size_t>(Call::ErrorToText) + 1;

struct CallInfo {
    Call call;
    const char *name;   // the exported symbol
    bool on_board;      // takes a board handle: counted per board, can be faulted
    bool flash_status;  // reports a flash status (the flash-sector service calls)
};

const CallInfo &call_info(Call call);
const char *call_name(Call call);

// The call of that exported name, or null.
const CallInfo *find_call(std::string_view name);

constexpr std::size_t call_index(Call call) { return static_cast<std::size_t>(call); }

} // namespace zenapi_sim
