// The update history's database: every SQLite call of the programs is in
// this file. One connection per write, opened and closed again, so no lock
// or handle is held while a board is updated, and a file removed or
// replaced between two records is simply taken as it is then.
#include <romwright/frontend/history.hpp>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <type_traits>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include <fmt/format.h>
#include <sqlite3.h>

#include <romwright/error.hpp>

#include "engine/platform/places.hpp"

namespace romwright::frontend {
namespace {

constexpr const char *kHistoryFileName = "history.sqlite";
constexpr const char *kHistoryVariable = "ROMWRIGHT_HISTORY";

// The columns in the order every statement below names them: the names of
// the JSON fields.
constexpr const char *kColumnNames[] = {
    "time",           "host",         "program",         "program_version", "system",
    "board",          "model",        "serial",          "version_before",  "version_after",
    "file",           "file_size",    "adler32",         "path",            "sectors_erased",
    "sectors_written", "sectors_skipped", "duration_s",  "result",          "error",
    "bundle_file",    "signature_key_id", "signature_trusted_comment"};
constexpr int kColumnCount = static_cast<int>(std::size(kColumnNames));
// The columns layout 1 has: the others came with layout 2.
constexpr int kLayout1Columns = 20;

// "name, name, ..." or, with a format, each name put into it: "{0} = ?{1}".
// A file of layout 1 is read with NULL for the columns it does not have.
std::string column_list(const char *each = "{0}", int64_t layout = kHistorySchemaVersion) {
    std::string list;
    for (int i = 0; i < kColumnCount; ++i)
        list += (i ? ", " : "") + (layout < 2 && i >= kLayout1Columns
                                       ? std::string("NULL")
                                       : fmt::format(fmt::runtime(each), kColumnNames[i], i + 1));
    return list;
}

constexpr const char *kCreateSchema = R"(
CREATE TABLE IF NOT EXISTS attempts (
    id INTEGER PRIMARY KEY,
    time TEXT NOT NULL,
    host TEXT NOT NULL,
    program TEXT NOT NULL,
    program_version TEXT NOT NULL,
    system INTEGER,
    board INTEGER,
    model TEXT,
    serial INTEGER,
    version_before TEXT,
    version_after TEXT,
    file TEXT,
    file_size INTEGER,
    adler32 TEXT,
    path TEXT,
    sectors_erased INTEGER,
    sectors_written INTEGER,
    sectors_skipped INTEGER,
    duration_s REAL,
    result TEXT NOT NULL CHECK (result IN ('started', 'succeeded', 'failed', 'refused', 'stopped')),
    error TEXT,
    bundle_file TEXT,
    signature_key_id TEXT,
    signature_trusted_comment TEXT
);
CREATE INDEX IF NOT EXISTS attempts_by_serial ON attempts (serial);
)";

// From layout 1 to 2: a bundle's firmware file and signature.
constexpr const char *kLayout2Columns = R"(
ALTER TABLE attempts ADD COLUMN bundle_file TEXT;
ALTER TABLE attempts ADD COLUMN signature_key_id TEXT;
ALTER TABLE attempts ADD COLUMN signature_trusted_comment TEXT;
)";

// A failure of one step, with SQLite's words and the system's reason.
class HistoryFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string sqlite_reason(sqlite3 *db, int code) {
    std::string reason = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    const int primary = code & 0xFF;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        return fmt::format("{} (another program held it for more than {} s)", reason,
                           kHistoryBusyMilliseconds / 1000);
    const int system = db ? sqlite3_system_errno(db) : 0;
    if (system != 0 && (primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR || primary == SQLITE_FULL ||
                        primary == SQLITE_READONLY || primary == SQLITE_PERM))
        reason += fmt::format(" ({})", std::strerror(system));
    return reason;
}

// One open connection, closed when it goes.
class Connection {
public:
    Connection(const std::string &path, int flags) {
        const int code = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
        if (code != SQLITE_OK) {
            const std::string reason = sqlite_reason(db_, code);
            close();
            throw HistoryFailure(reason);
        }
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_timeout(db_, kHistoryBusyMilliseconds);
    }
    ~Connection() { close(); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    sqlite3 *get() const { return db_; }

    void exec(const char *sql) {
        const int code = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
        if (code != SQLITE_OK) throw HistoryFailure(sqlite_reason(db_, code));
    }

    void fail(int code) const { throw HistoryFailure(sqlite_reason(db_, code)); }

private:
    void close() noexcept {
        if (db_) sqlite3_close_v2(db_);
        db_ = nullptr;
    }
    sqlite3 *db_ = nullptr;
};

// One prepared statement, finalised when it goes.
class Statement {
public:
    Statement(Connection &connection, const std::string &sql) : connection_(connection) {
        const int code = sqlite3_prepare_v2(connection.get(), sql.c_str(), -1, &statement_, nullptr);
        if (code != SQLITE_OK) connection.fail(code);
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    void bind(int index, const std::optional<std::string> &text) {
        check(text ? sqlite3_bind_text(statement_, index, text->c_str(), -1, SQLITE_TRANSIENT)
                   : sqlite3_bind_null(statement_, index));
    }
    void bind(int index, const std::string &text) { bind(index, std::optional<std::string>(text)); }
    template <typename Number> void bind(int index, const std::optional<Number> &number) {
        if (!number) return check(sqlite3_bind_null(statement_, index));
        if constexpr (std::is_floating_point_v<Number>)
            check(sqlite3_bind_double(statement_, index, *number));
        else
            check(sqlite3_bind_int64(statement_, index, static_cast<sqlite3_int64>(*number)));
    }
    void bind_int(int index, int64_t number) { check(sqlite3_bind_int64(statement_, index, number)); }

    // True while there is a row to read.
    bool step() {
        const int code = sqlite3_step(statement_);
        if (code == SQLITE_ROW) return true;
        if (code != SQLITE_DONE) connection_.fail(code);
        return false;
    }

    bool null(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
    int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }
    double real(int column) const { return sqlite3_column_double(statement_, column); }
    std::string text(int column) const {
        const unsigned char *value = sqlite3_column_text(statement_, column);
        return value ? reinterpret_cast<const char *>(value) : "";
    }
    std::optional<std::string> optional_text(int column) const {
        return null(column) ? std::nullopt : std::optional<std::string>(text(column));
    }
    template <typename Number> std::optional<Number> optional_number(int column) const {
        if (null(column)) return std::nullopt;
        if constexpr (std::is_floating_point_v<Number>) return static_cast<Number>(real(column));
        else return static_cast<Number>(integer(column));
    }

private:
    void check(int code) const {
        if (code != SQLITE_OK) connection_.fail(code);
    }
    Connection &connection_;
    sqlite3_stmt *statement_ = nullptr;
};

int64_t single_integer(Connection &connection, const char *sql) {
    Statement statement(connection, sql);
    return statement.step() ? statement.integer(0) : 0;
}

// Tables besides ours: the file is some other program's database.
bool holds_other_tables(Connection &connection) {
    return single_integer(connection,
                          "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name <> 'attempts'") > 0;
}

bool holds_history_table(Connection &connection) {
    return single_integer(connection, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'attempts'") >
           0;
}

void check_layout(Connection &connection, int64_t version) {
    if (version > kHistorySchemaVersion)
        throw HistoryFailure(fmt::format("its layout {} is newer than this program's ({}); a newer romwright wrote it",
                                         version, kHistorySchemaVersion));
    if (version == 0 && holds_other_tables(connection))
        throw HistoryFailure("it is another program's database, not an update history");
}

// Makes the layout in a file that does not have it yet (a new, empty one).
void ensure_layout(Connection &connection) {
    const int64_t found = single_integer(connection, "PRAGMA user_version");
    check_layout(connection, found);
    if (found == kHistorySchemaVersion) return;
    connection.exec("BEGIN IMMEDIATE");
    try {
        // Another program may have made it meanwhile.
        const int64_t version = single_integer(connection, "PRAGMA user_version");
        check_layout(connection, version);
        if (version == 0) connection.exec(kCreateSchema);
        if (version == 1) connection.exec(kLayout2Columns);
        if (version < kHistorySchemaVersion)
            connection.exec(fmt::format("PRAGMA user_version = {}", kHistorySchemaVersion).c_str());
        connection.exec("COMMIT");
    } catch (...) {
        sqlite3_exec(connection.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

std::optional<std::string> adler_text(const std::optional<uint32_t> &adler) {
    if (!adler) return std::nullopt;
    return fmt::format("{:08x}", *adler);
}

std::optional<uint32_t> adler_value(const std::optional<std::string> &text) {
    if (!text) return std::nullopt;
    try {
        std::size_t used = 0;
        const unsigned long value = std::stoul(*text, &used, 16);
        if (used != text->size() || value > 0xFFFFFFFFul) return std::nullopt;
        return static_cast<uint32_t>(value);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

// Binds record's fields to ?1 .. ?23 in kColumnNames' order.
void bind_record(Statement &statement, const HistoryRecord &record) {
    int i = 0;
    statement.bind(++i, record.time);
    statement.bind(++i, record.host);
    statement.bind(++i, record.program);
    statement.bind(++i, record.program_version);
    statement.bind(++i, record.system_id);
    statement.bind(++i, record.board_id);
    statement.bind(++i, record.model);
    statement.bind(++i, record.serial);
    statement.bind(++i, record.version_before);
    statement.bind(++i, record.version_after);
    statement.bind(++i, record.file);
    statement.bind(++i, record.file_size);
    statement.bind(++i, adler_text(record.adler32));
    statement.bind(++i, record.path);
    statement.bind(++i, record.sectors_erased);
    statement.bind(++i, record.sectors_written);
    statement.bind(++i, record.sectors_skipped);
    statement.bind(++i, record.duration_s);
    statement.bind(++i, record.result);
    statement.bind(++i, record.error);
    statement.bind(++i, record.bundle_file);
    statement.bind(++i, record.signature_key_id);
    statement.bind(++i, record.signature_trusted_comment);
}

// Reads the columns id, then kColumnNames.
HistoryRecord record_of(const Statement &row) {
    HistoryRecord record;
    int i = 0;
    record.id = row.integer(i++);
    record.time = row.text(i++);
    record.host = row.text(i++);
    record.program = row.text(i++);
    record.program_version = row.text(i++);
    record.system_id = row.optional_number<uint32_t>(i++);
    record.board_id = row.optional_number<uint32_t>(i++);
    record.model = row.optional_text(i++);
    record.serial = row.optional_number<uint32_t>(i++);
    record.version_before = row.optional_text(i++);
    record.version_after = row.optional_text(i++);
    record.file = row.optional_text(i++);
    record.file_size = row.optional_number<uint64_t>(i++);
    record.adler32 = adler_value(row.optional_text(i++));
    record.path = row.optional_text(i++);
    record.sectors_erased = row.optional_number<uint32_t>(i++);
    record.sectors_written = row.optional_number<uint32_t>(i++);
    record.sectors_skipped = row.optional_number<uint32_t>(i++);
    record.duration_s = row.optional_number<double>(i++);
    record.result = row.text(i++);
    record.error = row.optional_text(i++);
    record.bundle_file = row.optional_text(i++);
    record.signature_key_id = row.optional_text(i++);
    record.signature_trusted_comment = row.optional_text(i++);
    return record;
}

// Opens the history for writing, with its layout made.
struct WritableHistory {
    explicit WritableHistory(const std::string &path)
        : connection(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) {
        // Every transaction reaches the disk before the next step of the update.
        connection.exec("PRAGMA synchronous = FULL");
        ensure_layout(connection);
    }
    Connection connection;
};

int64_t insert_record(const std::string &path, const HistoryRecord &record) {
    WritableHistory history(path);
    Statement insert(history.connection,
                     fmt::format("INSERT INTO attempts ({}) VALUES ({})", column_list(), column_list("?{1}")));
    bind_record(insert, record);
    insert.step();
    return sqlite3_last_insert_rowid(history.connection.get());
}

// False when the record id is not there (any more).
bool update_record(const std::string &path, int64_t id, const HistoryRecord &record) {
    WritableHistory history(path);
    Statement update(history.connection, fmt::format("UPDATE attempts SET {} WHERE id = ?{}",
                                                     column_list("{0} = ?{1}"), kColumnCount + 1));
    bind_record(update, record);
    update.bind_int(kColumnCount + 1, id);
    update.step();
    return sqlite3_changes(history.connection.get()) > 0;
}

// Days since 1970-01-01 to year, month, day (proleptic Gregorian calendar).
void civil_from_days(int64_t days, int64_t &year, unsigned &month, unsigned &day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto day_of_era = static_cast<unsigned>(days - era * 146097);
    const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned shifted_month = (5 * day_of_year + 2) / 153;
    day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
    month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    year = static_cast<int64_t>(year_of_era) + era * 400 + (month <= 2 ? 1 : 0);
}

} // namespace

std::string choose_history_path(const std::optional<std::string> &override_path, const std::string &machine_folder,
                                const std::string &user_folder) {
    if (override_path && !override_path->empty()) return *override_path;
    const auto in = [](const std::string &folder) {
        return (std::filesystem::u8path(folder) / kHistoryFileName).u8string();
    };
    if (!machine_folder.empty() && platform::may_write_file(in(machine_folder))) return in(machine_folder);
    if (user_folder.empty()) return {};
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::u8path(user_folder), ignored);
    return in(user_folder);
}

std::string history_path() {
    const std::string path = choose_history_path(platform::environment_value(kHistoryVariable),
                                                 platform::machine_state_folder(), platform::user_state_folder());
    if (path.empty())
        throw romwright::error(error_kind::file, fmt::format("no folder for it: set {} (or HOME)", kHistoryVariable));
    return path;
}

std::string utc_now_text() {
    const int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
    const int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const int64_t of_day = seconds - days * 86400;
    int64_t year = 0;
    unsigned month = 0, day = 0;
    civil_from_days(days, year, month, day);
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", year, month, day, of_day / 3600, of_day / 60 % 60,
                       of_day % 60);
}

History::History(std::string program, std::string path, std::FILE *warnings)
    : program_(std::move(program)), path_(std::move(path)), warnings_(warnings) {}

bool History::resolve_path() {
    if (!path_.empty()) return true;
    try {
        path_ = history_path();
        return true;
    } catch (const std::exception &failure) {
        warn(failure.what());
        return false;
    }
}

int64_t History::add(const HistoryRecord &record) noexcept {
    try {
        if (!resolve_path()) return 0;
        return insert_record(path_, record);
    } catch (const std::exception &failure) {
        warn(failure.what());
    } catch (...) {
        warn("unknown failure");
    }
    return 0;
}

void History::complete(int64_t id, const HistoryRecord &record) noexcept {
    try {
        if (!resolve_path()) return;
        if (id > 0 && update_record(path_, id, record)) return;
        insert_record(path_, record);
    } catch (const std::exception &failure) {
        warn(failure.what());
    } catch (...) {
        warn("unknown failure");
    }
}

void History::warn(const std::string &reason) noexcept {
    if (warned_) return;
    warned_ = true;
    try {
        const std::string where = path_.empty() ? std::string() : " " + path_;
        const std::string warning =
            fmt::format("{}: cannot write the update history{}: {}\n", program_, where, reason);
        std::fwrite(warning.data(), 1, warning.size(), warnings_);
        std::fflush(warnings_);
    } catch (...) {
    }
}

std::vector<HistoryRecord> read_history(const std::string &path, const HistoryQuery &query) {
    std::error_code missing;
    if (!std::filesystem::exists(std::filesystem::u8path(path), missing)) return {};
    try {
        // Read-write where the file allows it, so a journal a killed program
        // left can be rolled back; SQLite opens it read-only otherwise.
        Connection connection(path, SQLITE_OPEN_READWRITE);
        const int64_t version = single_integer(connection, "PRAGMA user_version");
        check_layout(connection, version);
        if (!holds_history_table(connection)) return {};
        Statement select(connection,
                         fmt::format("SELECT id, {} FROM attempts WHERE (?1 IS NULL OR system = ?1) AND "
                                     "(?2 IS NULL OR board = ?2) AND (?3 IS NULL OR serial = ?3) "
                                     "ORDER BY id DESC LIMIT ?4",
                                     column_list("{0}", version)));
        select.bind(1, query.system_id);
        select.bind(2, query.board_id);
        select.bind(3, query.serial);
        select.bind_int(4, query.limit ? static_cast<int64_t>(std::min<uint64_t>(*query.limit, INT64_MAX)) : -1);
        std::vector<HistoryRecord> records;
        while (select.step()) records.push_back(record_of(select));
        return records;
    } catch (const HistoryFailure &failure) {
        throw romwright::error(error_kind::file, fmt::format("cannot read the update history {}: {}", path,
                                                             failure.what()));
    }
}

} // namespace romwright::frontend
