// The command line romwright-cli accepts; the parser reads it from this text.
#pragma once

namespace romwright::cli {

inline constexpr const char *kUsage =
    R"(Firmware Updater Utility.

Updates the boards local to this system with the firmware pointed to by <file>.

Usage:
  romwright-cli update [options] <file>
  romwright-cli (-h | --help | --version)

Options:
  --system=<sid>     Limits update to boards of system <sid>. Passing 0 updates
                     all systems [default: 0]
  --board=<bid>      Limits update to boards with ID <bid>. Passing 0 updates
                     all boards [default: 0]
  --quiet            Prevents the firmware updater from writing to standard output.
  --page0            Forces page 0 update.
  --page1            Forces page 1 update.
)";

inline constexpr const char *kVersionText = "romwright-cli version 3.5.3";

} // namespace romwright::cli
