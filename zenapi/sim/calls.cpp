#include "zenapi/sim/calls.hpp"

#include <array>

namespace zenapi_sim {
namespace {

constexpr std::array<CallInfo, kCallCount> kCalls{{
    {Call::GetSDKVersion, "KorvelGetSDKVersion", false},
    {Call::GetDriverVersion, "KorvelGetDriverVersion", false},
    {Call::NumOfSystems, "KorvelNumOfSystems", false},
    {Call::BoardsInSystemBySystemID, "KorvelBoardsInSystemBySystemID", false},
    {Call::GetBoardBySystemID, "KorvelGetBoardBySystemID", false},
    {Call::GetBoardKind, "KorvelGetBoardKind", true},
    {Call::GetSupportedDriverFeatures, "KorvelGetSupportedDriverFeatures", true},
    {Call::SetParameter, "KorvelSetParameter", true},
    {Call::GetCPLDVersion, "KorvelGetCPLDVersion", true},
    {Call::GetBoardRevision, "KorvelGetBoardRevision", true},
    {Call::QueryCapability, "KorvelQueryCapability", true},
    {Call::ReadRegister, "KorvelReadRegister", true},
    {Call::WriteRegister, "KorvelWriteRegister", true},
    {Call::SetControlCommand, "SetControlCommand", true},
    {Call::PageRead, "ZEN5110FlashSectorPageRead", true},
    {Call::PageWrite, "ZEN5110PageWriteToFlash", true},
    {Call::SectorErase, "ZEN5110FlashSectorErase", true},
    {Call::FlashOpen, "KorvelFlashOpen", true},
    {Call::FlashSectorWrite, "KorvelFlashSectorWrite", true},
    {Call::FlashSectorRead, "KorvelFlashSectorRead", true},
    {Call::FlashClose, "KorvelFlashClose", true},
    {Call::FirmwareUpgradeStart, "KorvelFirmwareUpgradeStart", true},
    {Call::FirmwareUpgradeExecAndGetStatus, "KorvelFirmwareUpgradeExecAndGetStatus", true},
    {Call::ErrorToText, "KorvelErrorToText", false},
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
