#include "zenapi/sim/calls.hpp"

#include <array>

namespace zenapi_sim {
namespace {

constexpr std::array<CallInfo, kCallCount> kCalls{{
    {Call::GetSDKVersion, "KorvelGetSDKVersion", false, false},
    {Call::GetDriverVersion, "KorvelGetDriverVersion", false, false},
    {Call::NumOfSystems, "KorvelNumOfSystems", false, false},
    {Call::BoardsInSystemBySystemID, "KorvelBoardsInSystemBySystemID", false, false},
    {Call::GetBoardBySystemID, "KorvelGetBoardBySystemID", false, false},
    {Call::GetBoardKind, "KorvelGetBoardKind", true, false},
    {Call::GetSupportedDriverFeatures, "KorvelGetSupportedDriverFeatures", true, false},
    {Call::SetParameter, "KorvelSetParameter", true, false},
    {Call::GetCPLDVersion, "KorvelGetCPLDVersion", true, false},
    {Call::GetBoardRevision, "KorvelGetBoardRevision", true, false},
    {Call::QueryCapability, "KorvelQueryCapability", true, false},
    {Call::ReadRegister, "KorvelReadRegister", true, false},
    {Call::WriteRegister, "KorvelWriteRegister", true, false},
    {Call::SetControlCommand, "SetControlCommand", true, false},
    {Call::PageRead, "ZEN5110FlashSectorPageRead", true, false},
    {Call::PageWrite, "ZEN5110PageWriteToFlash", true, false},
    {Call::SectorErase, "ZEN5110FlashSectorErase", true, false},
    {Call::FlashOpen, "KorvelFlashOpen", true, true},
    {Call::FlashSectorWrite, "KorvelFlashSectorWrite", true, true},
    {Call::FlashSectorRead, "KorvelFlashSectorRead", true, true},
    {Call::FlashClose, "KorvelFlashClose", true, false},
    {Call::FirmwareUpgradeStart, "KorvelFirmwareUpgradeStart", true, false},
    {Call::FirmwareUpgradeExecAndGetStatus, "KorvelFirmwareUpgradeExecAndGetStatus", true, false},
    {Call::ErrorToText, "KorvelErrorToText", false, false},
}};

constexpr bool rows_follow_enum_order() {
    for (std::size_t i = 0; i < kCalls.size(); ++i)
        if (call_index(kCalls[i].call) != i) return false;
    return true;
}
static_assert(rows_follow_enum_order(), "call_info indexes the table by Call");

} // namespace

const CallInfo &call_info(Call call) { return kCalls[call_index(call)]; }

const char *call_name(Call call) { return call_info(call).name; }

const CallInfo *find_call(std::string_view name) {
    for (const CallInfo &info : kCalls)
        if (name == info.name) return &info;
    return nullptr;
}

} // namespace zenapi_sim
