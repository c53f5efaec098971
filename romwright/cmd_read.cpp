// romwright read: the whole flash of one board to a raw file, and what it
// came from to <out>.json, which restore checks.
#include <cstdio>
#include <string>
#include <vector>

#include <fmt/format.h>

#include <romwright/board_flash.hpp>
#include <romwright/error.hpp>
#include <romwright/frontend/files.hpp>
#include <romwright/frontend/history.hpp>
#include <romwright/frontend/inventory.hpp>

#include "backup.hpp"
#include "commands.hpp"

namespace romwright::tool {

BackupFacts save_backup(void *board, uint32_t system_id, uint32_t board_id, const std::string &out) {
    const BoardFacts facts = board_facts(board, system_id, board_id);
    BoardFlash flash(board);
    std::string method;
    const uint64_t size = flash.FindFlashSize(method);
    std::vector<uint8_t> bytes(size);
    for (uint64_t at = 0; at < size; at += flash.sector_size())
        flash.ReadSector(static_cast<uint32_t>(at / flash.sector_size()), bytes.data() + at);
    const BackupFacts backup{facts.kind, facts.model, facts.serial, facts.revision, size, method, adler32_of(bytes),
                             frontend::utc_now_text(), path_name(flash.path())};
    // The description last: one that stands beside its backup describes it.
    frontend::write_whole_file(out, bytes);
    const std::string text = description_text(backup);
    frontend::write_whole_file(out + ".json", std::vector<uint8_t>(text.begin(), text.end()));
    return backup;
}

int run_read(const Arguments &args) {
    const BoardIds ids = board_ids(args);
    const std::string out = args.at("<out>").asString();
    check_backup_target(out, flag(args, "--overwrite"));
    const bool json_output = flag(args, "--json");
    if (!versions_accepted(json_output)) return kExitRefused;
    const OneBoard board = board_at(ids);
    const BackupFacts backup = save_backup(board.handle, board.system_id, board.board_id, out);
    if (json_output) {
        std::fputs(description_text(backup).c_str(), stdout);
    } else {
        std::printf("Saved the 0x%llX bytes of board %u/%u (%s) to %s, Adler-32 %08x; its description is in %s.json\n",
                    static_cast<unsigned long long>(backup.flash_size), board.system_id, board.board_id,
                    backup.model.c_str(), out.c_str(), backup.adler32, out.c_str());
    }
    return kExitSuccess;
}

} // namespace romwright::tool
