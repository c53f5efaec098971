// The update entry with the engine's one choice that the C entry does not
// offer: skip_matching leaves planned sectors that already hold the image
// unerased and unwritten (register path only). romwright_update_firmware is
// this with skip_matching false.
#pragma once

#include <romwright/romwright.h>

namespace romwright {

ROMWRIGHT_RC update_firmware(const char *path, void *board, ROMWRIGHT_OPERATION_CALLBACK operation_callback,
                             ROMWRIGHT_PROGRESS_CALLBACK progress_callback, ROMWRIGHT_LOG_CALLBACK log_callback,
                             const romwright_options_record *options, void *user_data, bool skip_matching);

} // namespace romwright
