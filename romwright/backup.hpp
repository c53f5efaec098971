// A backup: the raw flash of a board and its description, <out>.json, as
// read writes them and restore reads them back. Restore takes both as
// hostile input: a file that is not a regular file, a description that is
// not exactly the document read writes, or a backup that no longer matches
// its description is refused before any device call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <romwright/frontend/inventory.hpp>

namespace romwright::tool {

// The largest flash a backup can hold: the most the read side's size search finds.
inline constexpr uint64_t kLargestFlash = uint64_t{256} << 20;

struct BackupFacts {
    uint32_t kind = 0;
    std::string model;
    std::optional<uint32_t> serial;
    std::optional<Version> revision;
    uint64_t flash_size = 0;
    std::string size_method;
    uint32_t adler32 = 0;
    std::string time;
    std::string path;  // the path it was read through ("page mode", ...)
};

// The description of a backup: the one JSON document (with a final line
// break) that read writes to <out>.json and prints under --json.
std::string description_text(const BackupFacts &facts);

// Refuses (romwright::error, a file) to save a backup to out before anything
// is read: when out or out.json is the firmware file (the same file by its
// identity, whatever the name, link or hard link), and, unless overwrite,
// when out or out.json exists.
void check_backup_target(const std::string &out, bool overwrite, const std::string &firmware = {});

// Reads the whole flash of board to out and then writes out.json, each
// through frontend::write_whole_file.
BackupFacts save_backup(void *board, uint32_t system_id, uint32_t board_id, const std::string &out);

struct Backup {
    BackupFacts facts;
    std::vector<uint8_t> bytes;
};

// The backup at path and its description path.json, both checked: regular
// files, the description exactly as read writes it, and the backup of the
// size and Adler-32 it gives. Throws romwright::error (a file) naming the
// file, the key and the value that are wrong.
Backup load_backup(const std::string &path);

} // namespace romwright::tool
