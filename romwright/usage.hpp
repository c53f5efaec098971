// The command line romwright accepts; the parser reads it from this text.
#pragma once

namespace romwright::tool {

inline constexpr const char *kUsage =
    R"(Korvel board firmware tool.

Lists the boards of this machine, inspects firmware files, verifies, saves
and restores a board's flash, and updates boards as romwright-cli does.

Usage:
  romwright list [--json]
  romwright inspect <file> [--board=<model>] [--revision=<major.minor>] [--variant=<n>] [--page0] [--page1] [--trusted-key=<pub>]... [--allow-unsigned] [--json]
  romwright verify <file> [--system=<sid>] [--board=<bid>] [--trusted-key=<pub>]... [--allow-unsigned] [--json]
  romwright read [--system=<sid>] [--board=<bid>] <out> [--overwrite] [--json]
  romwright restore <backup> [--system=<sid>] [--board=<bid>] [--any-serial] [--quiet] [--json]
  romwright update [--system=<sid>] [--board=<bid>] [--quiet] [--page0] [--page1] [--backup=<out>] [--overwrite] [--full] [--trusted-key=<pub>]... [--allow-unsigned] [--json] <file>
  romwright history [--system=<sid>] [--board=<bid>] [--serial=<n>] [--limit=<n>] [--json]
  romwright (-h | --help | --version)

Firmware bundles (romwright bundle --help):
  romwright bundle create <out.rwb> <firmware>... [--name=<text>] [--version=<text>] [--overwrite]

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
  bundle    create: writes a firmware bundle, one ZIP file with a manifest and
            the firmware files of several models (see romwright bundle --help).
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
  --trusted-key=<pub>      A bundle (<file> ending in .rwb): a minisign public key
                           file whose signatures are trusted, besides the keys in
                           /etc/romwright/trusted-keys/ (ROMWRIGHT_TRUSTED_KEYS).
  --allow-unsigned         A bundle with no signature (<file>.minisig) is taken
                           after a warning; one with a bad signature never is.
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

A <file> ending in .rwb is a firmware bundle: inspect shows its manifest,
each file's verdict and its signature; update and verify take for each board
the bundle's file for its model, once the bundle (every file's size and
SHA-256) and its signature by a trusted key have been checked. A board the
bundle has no file for is left alone: a notice when the run selected all
boards (of a system), exit 1 when --board named it.
)";

inline constexpr const char *kBundleUsage =
    R"(Korvel board firmware tool: firmware bundles.

Writes a firmware bundle: one ZIP archive holding a manifest (manifest.json)
and the firmware files of several board models, which romwright update,
verify and inspect take in place of a firmware file.

Usage:
  romwright bundle create <out.rwb> <firmware>... [--name=<text>] [--version=<text>] [--overwrite]
  romwright bundle (-h | --help)

Each firmware file is judged as inspect judges it: the models its name
carries whose update accepts it are the models it is for (a ZEN5120 file at
revisions 1.2 and 1.3, which gives its revision rule; a ZEN5170 file for the
variant its header names). A file no model accepts is refused, naming it.
Models that only the board driver's services update (ZEN5190, ZEN5191) take
the file as it is. Sign the bundle with minisign afterwards:

  minisign -S -s <secret key> -m <out.rwb>      # writes <out.rwb>.minisig

Options:
  --name=<text>     The bundle's name; by default the name of <out.rwb>
                    without its folder and .rwb.
  --version=<text>  The bundle's version; by default the UTC time it is made.
  --overwrite       Replace an existing <out.rwb> (refused without it).
  -h --help         Show this text.

Exit status: 0 written, 1 refused (a file no model accepts, two files for
one board, an existing <out.rwb>), 255 (-1) a bad command line.
)";

inline constexpr const char *kVersionText = "romwright version 3.5.3";

} // namespace romwright::tool
