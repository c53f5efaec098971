// Windows: the engine calls the device library through import pointers
// (__imp_<name>, filled by the loader from Zenapi.dll). When a test program
// links the scripted stand-in instead of a DLL, these pointers are the
// stand-in's functions, defined here in the program itself.
#include <zenapi/Zenapi.h>

#define ROMWRIGHT_LOCAL_IMPORT(name) void *__imp_##name = reinterpret_cast<void *>(&name);

extern "C" {
ROMWRIGHT_LOCAL_IMPORT(KorvelGetSDKVersion)
ROMWRIGHT_LOCAL_IMPORT(KorvelGetDriverVersion)
ROMWRIGHT_LOCAL_IMPORT(KorvelNumOfSystems)
ROMWRIGHT_LOCAL_IMPORT(KorvelBoardsInSystemBySystemID)
ROMWRIGHT_LOCAL_IMPORT(KorvelGetBoardBySystemID)
ROMWRIGHT_LOCAL_IMPORT(KorvelGetBoardKind)
ROMWRIGHT_LOCAL_IMPORT(KorvelGetSupportedDriverFeatures)
ROMWRIGHT_LOCAL_IMPORT(KorvelSetParameter)
ROMWRIGHT_LOCAL_IMPORT(KorvelGetCPLDVersion)
ROMWRIGHT_LOCAL_IMPORT(KorvelGetBoardRevision)
ROMWRIGHT_LOCAL_IMPORT(KorvelQueryCapability)
ROMWRIGHT_LOCAL_IMPORT(KorvelReadRegister)
ROMWRIGHT_LOCAL_IMPORT(KorvelWriteRegister)
ROMWRIGHT_LOCAL_IMPORT(SetControlCommand)
ROMWRIGHT_LOCAL_IMPORT(ZEN5110FlashSectorPageRead)
ROMWRIGHT_LOCAL_IMPORT(ZEN5110PageWriteToFlash)
ROMWRIGHT_LOCAL_IMPORT(ZEN5110FlashSectorErase)
ROMWRIGHT_LOCAL_IMPORT(KorvelFlashOpen)
ROMWRIGHT_LOCAL_IMPORT(KorvelFlashSectorWrite)
ROMWRIGHT_LOCAL_IMPORT(KorvelFlashSectorRead)
ROMWRIGHT_LOCAL_IMPORT(KorvelFlashClose)
ROMWRIGHT_LOCAL_IMPORT(KorvelFirmwareUpgradeStart)
ROMWRIGHT_LOCAL_IMPORT(KorvelFirmwareUpgradeExecAndGetStatus)
ROMWRIGHT_LOCAL_IMPORT(KorvelErrorToText)
}
