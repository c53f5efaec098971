/*
 * Zenapi: the Korvel board-access library, C interface.
 *
 * This is the subset of the library's interface that romwright uses. Every
 * call except KorvelNumOfSystems, KorvelBoardsInSystemBySystemID,
 * KorvelGetBoardBySystemID, KorvelGetBoardKind and KorvelErrorToText returns
 * a 32-bit return code; 512 is success. Board handles are opaque pointers
 * owned by the library.
 */
#ifndef ZENAPI_H
#define ZENAPI_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(ZENAPI_BUILDING)
#    define ZENAPI_EXPORT __declspec(dllexport)
#  else
#    define ZENAPI_EXPORT __declspec(dllimport)
#  endif
#else
#  define ZENAPI_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define ZENAPI_SUCCESS 512u

/* Passed with every register read and write. */
#define ZENAPI_REGISTER_ACCESS_CODE 0x6B2D9E41u

/* KorvelQueryCapability capabilities. */
#define ZENAPI_CAP_SERIAL_NUMBER 0x10000024u
#define ZENAPI_CAP_KSOPC_SIGNATURE 0x1000002Cu

/* KorvelSetParameter parameter that switches the library's call logging. */
#define ZENAPI_PARAM_API_LOGGING 0x10000090u

ZENAPI_EXPORT uint32_t KorvelGetSDKVersion(uint8_t *major, uint8_t *minor, uint8_t *revision);
ZENAPI_EXPORT uint32_t KorvelGetDriverVersion(uint8_t *major, uint8_t *minor, uint8_t *revision);
ZENAPI_EXPORT uint32_t KorvelNumOfSystems(void);
ZENAPI_EXPORT uint32_t KorvelBoardsInSystemBySystemID(uint32_t system_id);
ZENAPI_EXPORT void *KorvelGetBoardBySystemID(uint32_t system_id, uint32_t board_id);
ZENAPI_EXPORT uint32_t KorvelGetBoardKind(void *board);
ZENAPI_EXPORT uint32_t KorvelGetSupportedDriverFeatures(void *board, uint8_t features[64]);
ZENAPI_EXPORT uint32_t KorvelSetParameter(void *board, uint8_t channel, uint32_t parameter, int32_t value);
ZENAPI_EXPORT uint32_t KorvelGetCPLDVersion(void *board, uint8_t *major, uint8_t *minor);
ZENAPI_EXPORT uint32_t KorvelGetBoardRevision(void *board, uint8_t *major, uint8_t *minor);
ZENAPI_EXPORT uint32_t KorvelQueryCapability(void *board, uint32_t capability, uint32_t reserved, uint32_t *value);
ZENAPI_EXPORT uint32_t KorvelReadRegister(void *board, uint32_t offset, uint32_t *value, uint32_t access_code);
ZENAPI_EXPORT uint32_t KorvelWriteRegister(void *board, uint32_t offset, uint32_t value, uint32_t access_code);
ZENAPI_EXPORT uint32_t SetControlCommand(void *board, uint32_t command);
ZENAPI_EXPORT uint32_t ZEN5110FlashSectorPageRead(void *board, uint32_t word_address, uint16_t *buffer /* 8 words */);
ZENAPI_EXPORT uint32_t ZEN5110PageWriteToFlash(void *board, uint32_t word_address, const uint16_t *buffer /* 16 words */);
ZENAPI_EXPORT uint32_t ZEN5110FlashSectorErase(void *board, uint32_t sector);
ZENAPI_EXPORT uint32_t KorvelFlashOpen(void *board, uint32_t flags, uint32_t *sector_size, uint32_t *flash_status);
ZENAPI_EXPORT uint32_t KorvelFlashSectorWrite(void *board, uint32_t sector, uint32_t count, const void *buffer, uint32_t *flash_status);
ZENAPI_EXPORT uint32_t KorvelFlashSectorRead(void *board, uint32_t sector, uint32_t count, void *buffer, uint32_t *flash_status);
ZENAPI_EXPORT uint32_t KorvelFlashClose(void *board);
ZENAPI_EXPORT uint32_t KorvelFirmwareUpgradeStart(void *board, const uint8_t *image, uint32_t size);
ZENAPI_EXPORT uint32_t KorvelFirmwareUpgradeExecAndGetStatus(void *board, uint32_t *status, uint32_t *percent);
ZENAPI_EXPORT const char *KorvelErrorToText(uint32_t code);

#ifdef __cplusplus
}
#endif

#endif /* ZENAPI_H */
