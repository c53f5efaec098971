// The update history: one record for each attempt of any of the programs to
// update or restore a board, kept in an SQLite database of its own.
//
// Where it lives: the path in ROMWRIGHT_HISTORY when that is set; else the
// machine-wide file (/var/lib/romwright/history.sqlite;
// %ProgramData%\Korvelon\romwright\history.sqlite on Windows) when this user
// may write it; else the user's own ($XDG_STATE_HOME/romwright/history.sqlite,
// by default ~/.local/state/romwright/; %LOCALAPPDATA%\Korvelon\romwright\ on
// Windows).
//
// An attempt is recorded twice, each time in one transaction of its own: as
// "started" when the work on the board begins, then completed in place when
// it ends. A program killed in between leaves the "started" record, so the
// attempt is never lost; the database itself is a rollback-journal database
// with full syncs, which the next program to open it rolls back to its last
// whole transaction. A history that cannot be written (no right to, a full
// disk, another program holding its lock for more than a few seconds) never
// stops an update: the program says so once on standard error, naming the
// file and the reason, and goes on without its records.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace romwright::frontend {

// What one attempt on one board was, as far as it is known; a fact nobody
// could tell is empty (null in the database and in JSON).
struct HistoryRecord {
    int64_t id = 0;                // the database's row, newest highest
    std::string time;              // of the start, UTC, ISO 8601: "2026-12-07T19:37:33Z"
    std::string host;              // the machine's name
    std::string program;           // "romwright-cli", "romwright-gui", "romwright"
    std::string program_version;   // "3.5.3"
    std::optional<uint32_t> system_id;
    std::optional<uint32_t> board_id;
    std::optional<std::string> model;           // "ZEN5160"
    std::optional<uint32_t> serial;
    std::optional<std::string> version_before;  // the FPGA firmware the board ran, "major.minor"
    std::optional<std::string> version_after;   // known only after a power cycle, so normally empty
    std::optional<std::string> file;            // the firmware file or backup, as an absolute path
    std::optional<uint64_t> file_size;
    std::optional<uint32_t> adler32;
    std::optional<std::string> path;            // the programming path's name
    std::optional<uint32_t> sectors_erased;
    std::optional<uint32_t> sectors_written;
    std::optional<uint32_t> sectors_skipped;
    std::optional<double> duration_s;
    std::string result;                         // "started" until the attempt ends, then "succeeded",
                                                // "failed", "refused" or "stopped"
    std::optional<std::string> error;           // why it failed, was refused or stopped
    // A bundle's update (file is then the bundle): the firmware file taken
    // from it, and the key and trusted comment of its accepted signature
    // (empty for an unsigned bundle taken with --allow-unsigned).
    std::optional<std::string> bundle_file;
    std::optional<std::string> signature_key_id;
    std::optional<std::string> signature_trusted_comment;
};

// The history file this process uses (above), its folder made when missing.
// Raises romwright::error (a file) when there is none: no variable set and
// no folder the system names.
std::string history_path();

// The choice history_path makes, given the override (ROMWRIGHT_HISTORY) and
// the machine's and the user's folders: the override when set, else the
// machine's file when it may be written, else the user's ("" when neither
// folder is known).
std::string choose_history_path(const std::optional<std::string> &override_path, const std::string &machine_folder,
                                const std::string &user_folder);

// The UTC time now as records, backup descriptions and board locks hold it
// (ISO 8601, whole seconds), the same on every system.
std::string utc_now_text();

// The history file of one program's run: records added and completed, each
// in one transaction, with a wait of up to kHistoryBusyMilliseconds for
// another program's lock. Nothing here raises: a record that cannot be
// written gives one warning on `warnings` for the whole run (the first
// reason), and the run goes on.
class History {
public:
    // program names the program in the warning; an empty path means
    // history_path(), found when the first record is written.
    explicit History(std::string program, std::string path = {}, std::FILE *warnings = stderr);

    History(const History &) = delete;
    History &operator=(const History &) = delete;

    // Adds record (its id ignored); its id, or 0 when it was not written.
    int64_t add(const HistoryRecord &record) noexcept;
    // Writes record over the one added as id; adds it when id is 0 or that
    // record is no longer there.
    void complete(int64_t id, const HistoryRecord &record) noexcept;

    bool warned() const noexcept { return warned_; }

private:
    bool resolve_path();
    void warn(const std::string &reason) noexcept;

    std::string program_;
    std::string path_;
    std::FILE *warnings_;
    bool warned_ = false;
};

inline constexpr int kHistoryBusyMilliseconds = 3000;
// The database's layout, kept in its user_version: 2 added the bundle's
// columns to 1's, which a program of this version adds to a file of 1.
inline constexpr int kHistorySchemaVersion = 2;

// Which records to read; an empty field takes any.
struct HistoryQuery {
    std::optional<uint32_t> system_id;
    std::optional<uint32_t> board_id;
    std::optional<uint32_t> serial;
    std::optional<uint64_t> limit;
};

// The records of the history at path that match query, newest first (the
// order they were started in). None when the file is not there. Raises
// romwright::error (a file) naming the file when it cannot be read or is
// not a history this program knows (another database, a newer layout).
std::vector<HistoryRecord> read_history(const std::string &path, const HistoryQuery &query);

} // namespace romwright::frontend
