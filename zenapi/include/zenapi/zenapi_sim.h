/*
 * Control interface of the simulated device library, for tests only: the
 * programs never call it (they call only what Zenapi.h declares, so a real
 * device library can replace the simulator).
 *
 * Boards are named by system ID and board ID, counted from 1 as in
 * KorvelGetBoardBySystemID. Every function takes the library's lock, so it
 * can be called while another thread uses the library.
 */
#ifndef ZENAPI_SIM_H
#define ZENAPI_SIM_H

#include <stddef.h>
#include <stdint.h>

#include <zenapi/Zenapi.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Drops the machine (flushing every board's flash to its file and writing
 * its call counts when ZENAPI_SIM_CALL_COUNTS named a file; board handles
 * given out before become invalid), reads the environment again
 * (ZENAPI_SIM_CONFIG, ZENAPI_SIM_STATE_DIR, ZENAPI_SIM_TRACE,
 * ZENAPI_SIM_CALL_COUNTS) and loads the machine it describes. Returns 0 on success; otherwise non-zero, and
 * ZenSimLastError() tells why (the same text the library writes to standard
 * error). */
ZENAPI_EXPORT int ZenSimReload(void);

/* "simulated: Zenapi simulator <version>". The library names itself as
 * simulated through this exported text, which a board maker's library lacks:
 * a program's log shows it next to the library's path. */
ZENAPI_EXPORT extern const char zenapi_sim_version_string[];

/* Drops the machine as ZenSimReload does (flushing its flash, writing its
 * call counts) and closes the trace file, but loads none: library calls fail
 * until the next ZenSimReload. Afterwards the state folder and the trace can
 * be removed, also on Windows, which keeps an open or mapped file from being
 * deleted. */
ZENAPI_EXPORT void ZenSimUnload(void);

/* Why the last load or control call failed; "" when it did not. Valid until
 * the next control call. Never null. */
ZENAPI_EXPORT const char *ZenSimLastError(void);

/* The state folder that holds the flash files of the loaded machine ("" when
 * no machine is loaded). Valid until the next control call. */
ZENAPI_EXPORT const char *ZenSimStateDir(void);

/* The board's name (its flash file is <state dir>/<name>.flash), or null
 * when there is no such board. Valid until the next reload. */
ZENAPI_EXPORT const char *ZenSimBoardName(uint32_t system_id, uint32_t board_id);

/* Flash size of the board in bytes; 0 when there is no such board. */
ZENAPI_EXPORT uint64_t ZenSimFlashSize(uint32_t system_id, uint32_t board_id);

/* Copies flash bytes out. Returns 0, or non-zero (nothing copied) when the
 * board does not exist, the buffer is null or the range leaves the flash. */
ZENAPI_EXPORT int ZenSimReadFlash(uint32_t system_id, uint32_t board_id, uint64_t offset, void *buffer,
                                  uint64_t length);

/* Stores bytes into the flash as they are, ignoring NOR rules (for setting up
 * a test's starting contents). Same results as ZenSimReadFlash. */
ZENAPI_EXPORT int ZenSimWriteFlashRaw(uint32_t system_id, uint32_t board_id, uint64_t offset, const void *data,
                                      uint64_t length);

/* How many times the named device-library call (its exported name, e.g.
 * "KorvelFlashSectorWrite") was made on the board since the machine was
 * loaded, faulted calls included. 0 for an unknown board or call name. */
ZENAPI_EXPORT uint64_t ZenSimCallCount(uint32_t system_id, uint32_t board_id, const char *call_name);

#ifdef __cplusplus
}
#endif

#endif /* ZENAPI_SIM_H */
