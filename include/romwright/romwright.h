/*
 * romwright engine: the C-callable interface shared by the front ends.
 *
 * One call of romwright_update_firmware updates one board on the caller's
 * thread; the callbacks are called synchronously on that thread with the
 * user data pointer given to the call.
 */
#ifndef ROMWRIGHT_H
#define ROMWRIGHT_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t ROMWRIGHT_RC;
#define ROMWRIGHT_RC_SUCCESS ((ROMWRIGHT_RC)0)
#define ROMWRIGHT_RC_ERROR ((ROMWRIGHT_RC)1)
#define ROMWRIGHT_RC_INVALID_OPTION ((ROMWRIGHT_RC)3)
#define ROMWRIGHT_RC_NULL_POINTER ((ROMWRIGHT_RC)4)

typedef enum ROMWRIGHT_OPERATION {
    ROMWRIGHT_OPERATION_NONE = 0,
    ROMWRIGHT_OPERATION_ERASING = 1,
    ROMWRIGHT_OPERATION_WRITING = 2,
    ROMWRIGHT_OPERATION_VERIFYING = 3,
    ROMWRIGHT_OPERATION_FORCE_32BIT = 0x7FFFFFFF
} ROMWRIGHT_OPERATION;

typedef enum ROMWRIGHT_LOG_LEVEL {
    ROMWRIGHT_LOG_DEBUG = 0,
    ROMWRIGHT_LOG_INFO = 1,
    ROMWRIGHT_LOG_WARNING = 2,
    ROMWRIGHT_LOG_ERROR = 3,
    ROMWRIGHT_LOG_FORCE_32BIT = 0x7FFFFFFF
} ROMWRIGHT_LOG_LEVEL;

typedef void (*ROMWRIGHT_OPERATION_CALLBACK)(ROMWRIGHT_OPERATION operation, void *user_data);
typedef void (*ROMWRIGHT_PROGRESS_CALLBACK)(float progress, void *user_data);
typedef void (*ROMWRIGHT_LOG_CALLBACK)(ROMWRIGHT_LOG_LEVEL level, const char *text, void *user_data);

/* Update options; created, copied and freed only through the functions below. */
typedef struct romwright_options_record romwright_options_record;

/* Boolean option identifiers. Note that 1 is page 1 and 2 is page 0. */
#define ROMWRIGHT_OPTION_AUTO_SELECT_PAGES 0
#define ROMWRIGHT_OPTION_WRITE_PAGE1 1
#define ROMWRIGHT_OPTION_WRITE_PAGE0 2
#define ROMWRIGHT_OPTION_WRITE_OPTION_BITS 3
#define ROMWRIGHT_OPTION_VERIFY_PAGES 4
#define ROMWRIGHT_OPTION_DEBUG 5
/* Integer option identifiers. */
#define ROMWRIGHT_OPTION_MAX_RETRIES 0

romwright_options_record *romwright_options_create(void);
romwright_options_record *romwright_options_clone(const romwright_options_record *record);
ROMWRIGHT_RC romwright_options_copy(romwright_options_record *destination,
                                    const romwright_options_record *source);
void romwright_options_free(romwright_options_record *record);
ROMWRIGHT_RC romwright_options_get_bool(const romwright_options_record *record, int32_t id, bool *value);
ROMWRIGHT_RC romwright_options_set_bool(romwright_options_record *record, int32_t id, bool value);
ROMWRIGHT_RC romwright_options_get_int(const romwright_options_record *record, int32_t id, int32_t *value);
ROMWRIGHT_RC romwright_options_set_int(romwright_options_record *record, int32_t id, int32_t value);

/* Updates one board from the firmware file at path. Returns 0 or 1. */
ROMWRIGHT_RC romwright_update_firmware(const char *path,
                                       void *board,
                                       ROMWRIGHT_OPERATION_CALLBACK operation_callback,
                                       ROMWRIGHT_PROGRESS_CALLBACK progress_callback,
                                       ROMWRIGHT_LOG_CALLBACK log_callback,
                                       const romwright_options_record *options,
                                       void *user_data);

#ifdef __cplusplus
}
#endif

#endif /* ROMWRIGHT_H */
