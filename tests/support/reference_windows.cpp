// The readings of reference.hpp in a Windows test program, which cannot
// start the host's python3 under Wine.
#include "tests/support/reference.hpp"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include "tests/support/json_expression.hpp"
#include "tests/support/temp_dir.hpp"

namespace testsupport::reference {
namespace {

// One connection to a database file; the file is made when missing.
class Database {
public:
    explicit Database(const std::string &file) {
        if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open " + file + ": " + sqlite3_errmsg(db_));
    }
    ~Database() { sqlite3_close(db_); }
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // Runs sql; each row's columns as text separated by blanks, one line a
    // row, as python's print(*row) writes them.
    std::string rows(const std::string &sql) {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
            throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
        std::string out;
        int step;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            for (int column = 0; column < sqlite3_column_count(statement); ++column) {
                if (column > 0) out += ' ';
                const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
                out += text ? text : "None";
            }
            out += '\n';
        }
        sqlite3_finalize(statement);
        if (step != SQLITE_DONE) throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
        return out;
    }

    void script(const std::string &sql) {
        char *why = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &why) != SQLITE_OK) {
            const std::string message = why ? why : sqlite3_errmsg(db_);
            sqlite3_free(why);
            throw std::runtime_error(message);
        }
    }

private:
    sqlite3 *db_ = nullptr;
};

} // namespace

std::string json_value(const std::string &document, const std::string &expression) {
    try {
        return json_expression(document, expression);
    } catch (const std::invalid_argument &error) {
        ADD_FAILURE() << error.what() << "\n" << document;
        return "";
    }
}

bool is_json(const std::string &document, std::string &why) {
    if (nlohmann::json::accept(document)) return true;
    why = "nlohmann's parser does not take it";
    return false;
}

std::vector<std::map<std::string, std::string>> json_objects(const std::string &document,
                                                            const std::string &expression) {
    try {
        return json_expression_objects(document, expression);
    } catch (const std::invalid_argument &error) {
        ADD_FAILURE() << error.what() << "\n" << document;
        return {};
    }
}

std::string adler32(const std::string &file) {
    if (!file_exists(file)) return "";
    // By its definition, one byte at a time.
    uint32_t a = 1, b = 0;
    for (const uint8_t byte : read_file(file)) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>((b << 16) | a));
    return text;
}

// The system sets COMPUTERNAME for every program from the name that
// GetComputerName gives.
std::string host_name() {
    const char *name = std::getenv("COMPUTERNAME");
    return name ? name : "";
}

std::string database_rows(const std::string &file, const std::string &query) {
    try {
        Database db(file);
        return db.rows("PRAGMA integrity_check") + db.rows(query);
    } catch (const std::exception &error) {
        ADD_FAILURE() << error.what();
        return "";
    }
}

void run_script(const std::string &file, const std::string &script) {
    try {
        Database(file).script(script);
    } catch (const std::exception &error) {
        ADD_FAILURE() << error.what();
    }
}

void set_user_version(const std::string &file, int version) {
    try {
        Database(file).rows("PRAGMA user_version = " + std::to_string(version));
    } catch (const std::exception &error) {
        ADD_FAILURE() << error.what();
    }
}

struct ExclusiveLock::State {
    std::unique_ptr<Database> db;
    bool held = false;
};

ExclusiveLock::ExclusiveLock(const std::string &file) : state_(std::make_unique<State>()) {
    try {
        state_->db = std::make_unique<Database>(file);
        state_->db->rows("BEGIN EXCLUSIVE");
        state_->held = true;
    } catch (const std::exception &error) {
        ADD_FAILURE() << error.what();
    }
}

ExclusiveLock::~ExclusiveLock() = default;

bool ExclusiveLock::held() const { return state_->held; }

} // namespace testsupport::reference
