// The command line romwright accepts; the parser reads it from this text.
#pragma once

namespace romwright::tool {

inline constexpr const char *kUsage =
    R"(Korvel board firmware tool.

Lists the boards of this machine, inspects firmware files, verifies, saves
and restores a board's flash, and updates boards as romwright-cli does.

Usage:
  romwright list [--json]
  romwright inspect <file> [--board=<model>] [--revision=<major.minor>] [--variant=<n>] [--page0] [--page1] [--json]
  romwright verify <file> [--system=<sid>] [--board=<bid>] [--json]
  romwright read [--system=<sid>] [--board=<bid>] <out> [--overwrite] [--json]
  romwright restore <backup> [--system=<sid>] [--board=<bid>] [--any-serial] [--quiet] [--json]
  romwright update [--system=<sid>] [--board=<bid>] [--quiet] [--page0] [--page1] [--backup=<out>] [--overwrite] [--full] [--json] <file>
  romwright history [--system=<sid>] [--board=<bid>] [--serial=<n>] [--limit=<n>] [--json]
  romwright (-h | --help | --version)

Commands:
  list      Every system and board: IDs, kind, model, serial, FPGA and CPLD
            versions, revision, update path. Read-only calls only.
  inspect   What <file> holds (format, size, Adler-32, POF packets and CRC,
            each image's header, option bits and page layout); with --board,
            whether an update of that model takes it, and its plan. Makes no
            device-library call. Exit 0 accepted, 1 refused.
  verify    Reads the flash the update of board <sid>/<bid> with <file> would
            write, without erasing or writing. Exit 0 match, 1 differs.
  read      Saves the whole flash of board <sid>/<bid> to <out>, and a
            description to <out>.json, each written to a new file in the same
            folder and renamed once complete and read back.
  restore   Writes a backup made by read back to board <sid>/<bid>: only the
            sectors that differ are erased and written; every byte is verified.
            A backup that differs from its description (size, Adler-32) or a
            description that is not one read wrote is refused first.
  update    The update of romwright-cli. Sectors that already hold the image
            are read, compared and left alone.
  history   The update history: every update, restore and refused attempt
            of romwright, romwright-cli and romwright-gui, newest first
            (ROMWRIGHT_HISTORY names its file).

Options:
  --system=<sid>           System ID (update, history: 0 or none for all systems).
  --board=<bid>            Board ID (update, history: 0 or none for all boards);
                           inspect: the model designation, e.g. ZEN5160.
  --revision=<major.minor> inspect: the board revision, for models whose image
                           depends on it.
  --variant=<n>            inspect: the board variant, for models that have one.
  --page0                  Forces page 0 update.
  --page1                  Forces page 1 update.
  --quiet                  Nothing on standard output but errors.
  --json                   One JSON document on standard output, nothing else;
                           after a failure nothing there (the reason is on
                           standard error), except update's after a board
                           failed or was stopped: each board's result.
  --backup=<out>           update: read the flash to <out> (and <out>.json)
                           before anything is erased; never the firmware file.
  --overwrite              read, update --backup: replace an existing <out>
                           and <out>.json (refused without it).
  --full                   update: erase and write every planned sector, as
                           romwright-cli does.
  --any-serial             restore: accept a board whose serial differs from
                           the backup's.
  --serial=<n>             history: the records of the board with this serial.
  --limit=<n>              history: at most this many records, the newest.
  -h --help                Show this text.
  --version                Show the version.

Exit status: 0 success (inspect: accepted; verify: match), 1 failure (inspect:
refused; verify: differs; a system or board that is not there; history: a file
that is not a history), 255 (-1) a bad command line (verify, read, restore:
--system or --board missing; an ID, --serial or --limit that is not a number)
or a library or driver older than 7.1. The update's log is appended to
romwright.log in the working directory.
)";

inline constexpr const char *kVersionText = "romwright version 3.5.3";

} // namespace romwright::tool
