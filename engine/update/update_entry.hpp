// The update entry as C++: the same header, path choice and log lines as
// romwright_update_firmware, but a failure, once its text is logged at level
// 3, leaves as the typed romwright::error it was (anything else as an
// internal one) instead of as return code 1. And the engine's one choice
// that the C entry does not offer: skip_matching leaves planned sectors that
// already hold the image unerased and unwritten (register path only).
// romwright_update_firmware is this with skip_matching false, returning 1 for
// any failure.
#pragma once

#include <romwright/romwright.h>
#include <romwright/update_report.hpp>

namespace romwright {

// report, when given, gets what the update did (as far as it came, also
// when it fails).
void run_update(const char *path, void *board, ROMWRIGHT_OPERATION_CALLBACK operation_callback,
                ROMWRIGHT_PROGRESS_CALLBACK progress_callback, ROMWRIGHT_LOG_CALLBACK log_callback,
                const romwright_options_record *options, void *user_data, bool skip_matching,
                UpdateReport *report = nullptr);

} // namespace romwright
