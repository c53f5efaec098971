#pragma once

namespace romwright {
// Version of the firmware updater, shown in the log header and by both programs.
inline constexpr const char *kVersion = "3.5.3";
} // namespace romwright
