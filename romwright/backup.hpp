// A backup: the raw flash of a board and its description, <out>.json, as
// read writes them and restore reads them back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <romwright/frontend/inventory.hpp>

namespace romwright::tool {

struct BackupFacts {
    uint32_t kind = 0;
    std::string model;
    std::optional<uint32_t> serial;
    std::optional<Version> revision;
    uint64_t flash_size = 0;
    std::string size_method;
    uint32_t adler32 = 0;
    std::string time;
    std::string path;
};

// Reads the whole flash of board to out and writes out.json.
BackupFacts save_backup(void *board, uint32_t system_id, uint32_t board_id, const std::string &out);

// The description restore needs from out.json; throws romwright::error (a
// file) when it is missing or not one of ours.
BackupFacts load_backup_facts(const std::string &sidecar);

} // namespace romwright::tool
