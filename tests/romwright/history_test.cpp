// The update history as a user meets it: what romwright, romwright-cli and
// restore record for an update, a failed one, a refused one and a restore,
// read back through `romwright history --json`; its filters and order; a
// history that cannot be written; and a run killed in the middle.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "tests/romwright/tool_fixture.hpp"
#include "tests/support/json_expression.hpp"
#include "tests/support/reference.hpp"

namespace tooltest {
namespace {

// One record of `history --json`: each field's JSON text ("null", "3",
// "\"succeeded\"").
using Record = std::map<std::string, std::string>;

std::string in_quotes(const std::string &text) { return "\"" + text + "\""; }

// A file as the record's JSON holds it: its whole path as the system makes
// it (on Windows with backslashes only), quoted and escaped.
std::string json_path(const std::string &file) {
    return testsupport::json_dumps_text(
        std::filesystem::absolute(std::filesystem::u8path(file)).lexically_normal().u8string());
}

class History : public Tool {
protected:
    // The records `romwright history --json <filters>` gives, newest first.
    std::vector<Record> records(const std::vector<std::string> &filters = {}) {
        std::vector<std::string> args = {"history", "--json"};
        args.insert(args.end(), filters.begin(), filters.end());
        const auto listed = run(args);
        EXPECT_EQ(listed.exit_code, 0) << listed.err;
        EXPECT_EQ(listed.err, "");
        EXPECT_EQ(json_value(listed.out, "[d['schema_version'], d['command']]"), "[1, \"history\"]") << listed.out;
        return testsupport::reference::json_objects(listed.out, "d['records']");
    }

    Record newest() {
        const std::vector<Record> all = records();
        return all.empty() ? Record{} : all.front();
    }

    // What another implementation makes of a file: its size and Adler-32 as
    // the record holds them.
    std::pair<std::string, std::string> size_and_adler(const std::string &file) {
        return {std::to_string(testsupport::read_file(file).size()), in_quotes(testsupport::reference::adler32(file))};
    }

    std::string host() { return in_quotes(testsupport::reference::host_name()); }

    // The whole database through another SQLite than the programs': the
    // integrity check and each record's result, system and board, oldest
    // first.
    std::string database(const std::string &file) {
        return testsupport::reference::database_rows(file, "SELECT result, system, board FROM attempts ORDER BY id");
    }
};

// The fields every record has, whatever its outcome.
void expect_common(const Record &r, const std::string &program, const std::string &host) {
    EXPECT_EQ(r.at("program"), in_quotes(program));
    EXPECT_EQ(r.at("program_version"), "\"3.5.3\"");
    EXPECT_EQ(r.at("host"), host);
    EXPECT_EQ(r.at("version_after"), "null") << "the KSoPC signature changes only after a power cycle";
    EXPECT_EQ(r.at("time").size(), 22u) << r.at("time");
    EXPECT_EQ(r.at("time").substr(11, 1), "T");
    EXPECT_EQ(r.at("time").substr(20, 2), "Z\"");
    EXPECT_EQ(r.size(), 23u) << "the history's fields";
    if (r.at("file").find(".rwb") == std::string::npos) {
        EXPECT_EQ(r.at("bundle_file"), "null") << "a plain firmware file is no bundle";
        EXPECT_EQ(r.at("signature_key_id"), "null");
        EXPECT_EQ(r.at("signature_trusted_comment"), "null");
    }
}

TEST_F(History, AHistoryOfTheFirstLayoutIsReadAndGetsTheBundlesColumns) {
    const std::string history = machine().history_path();
    testsupport::reference::run_script(
        history,
        "CREATE TABLE attempts (id INTEGER PRIMARY KEY, time TEXT NOT NULL, host TEXT NOT NULL,\n"
        "  program TEXT NOT NULL, program_version TEXT NOT NULL, system INTEGER, board INTEGER, model TEXT,\n"
        "  serial INTEGER, version_before TEXT, version_after TEXT, file TEXT, file_size INTEGER, adler32 TEXT,\n"
        "  path TEXT, sectors_erased INTEGER, sectors_written INTEGER, sectors_skipped INTEGER, duration_s REAL,\n"
        "  result TEXT NOT NULL, error TEXT);\n"
        "INSERT INTO attempts (time, host, program, program_version, result) VALUES\n"
        "  ('2026-01-02T03:04:05Z', 'old-host', 'romwright-cli', '3.5.2', 'succeeded');\n"
        "PRAGMA user_version = 1;");
    std::vector<Record> all = records();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].at("host"), "\"old-host\"");
    EXPECT_EQ(all[0].at("bundle_file"), "null");
    const std::string file = make_image("fw-ZEN5110.rpd", "ZEN5110", {"--size", "0x60000"});
    const auto updated = run({"update", "--system=1", "--board=1", "--quiet", file});
    ASSERT_EQ(updated.exit_code, 0) << updated.err;
    EXPECT_EQ(updated.err, "") << "the history was written";
    all = records();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1].at("host"), "\"old-host\"");
    EXPECT_EQ(testsupport::reference::database_rows(history, "PRAGMA user_version"), "ok\n2\n");
}

TEST_F(History, AnUpdateThroughTheRegistersIsRecordedWithWhatItDid) {
    const std::string file = make_image("fw-ZEN5110.rpd", "ZEN5110", {"--size", "0x60000"});
    ASSERT_EQ(run({"update", "--system=1", "--board=1", "--quiet", file}).exit_code, 0);
    // Again: every sector already holds the image.
    ASSERT_EQ(run({"update", "--system=1", "--board=1", "--quiet", file}).exit_code, 0);

    const std::vector<Record> all = records();
    ASSERT_EQ(all.size(), 2u);
    const auto [size, adler] = size_and_adler(file);
    for (const Record &r : all) {
        expect_common(r, "romwright", host());
        EXPECT_EQ(r.at("result"), "\"succeeded\"");
        EXPECT_EQ(r.at("error"), "null");
        EXPECT_EQ(r.at("system"), "1");
        EXPECT_EQ(r.at("board"), "1");
        EXPECT_EQ(r.at("model"), "\"ZEN5110\"");
        EXPECT_EQ(r.at("serial"), "511001");
        EXPECT_EQ(r.at("path"), "\"page mode\"");
        EXPECT_EQ(r.at("file"), json_path(file));
        EXPECT_EQ(r.at("file_size"), size);
        EXPECT_EQ(r.at("adler32"), adler);
        EXPECT_NE(r.at("duration_s"), "null");
        EXPECT_GT(std::stod(r.at("duration_s")), 0.0);
    }
    // Newest first: the rerun left every sector alone.
    EXPECT_EQ(all[0].at("sectors_erased"), "0");
    EXPECT_EQ(all[0].at("sectors_written"), "0");
    EXPECT_EQ(all[0].at("sectors_skipped"), all[1].at("sectors_written"));
    EXPECT_NE(all[1].at("sectors_written"), "0");
    EXPECT_EQ(all[1].at("sectors_erased"), all[1].at("sectors_written"));
    EXPECT_EQ(all[1].at("sectors_skipped"), "0");
    // The simulated page-mode board's default firmware, as list shows it.
    EXPECT_EQ(all[0].at("version_before"), json_value(run({"list", "--json"}).out, "d['boards'][0]['fpga_version']"));
}

// romwright-cli through the driver's services, which identify nothing: the
// board is asked for its model, serial and version once the update is done.
struct ServiceCase {
    const char *name;
    const char *board;
    const char *model;
    const char *path;
    bool sectors_known;
};

void PrintTo(const ServiceCase &c, std::ostream *out) { *out << c.name; }

class ServiceHistory : public History, public ::testing::WithParamInterface<ServiceCase> {};

TEST_P(ServiceHistory, TheBoardIsAskedWhatTheServiceDidNotTell) {
    const ServiceCase &c = GetParam();
    const std::string file = make_image(std::string("fw-") + c.model + ".rpd", c.model, {"--size", "0x30000"});
    const auto updated = cli({"update", "--system=1", std::string("--board=") + c.board, "--quiet", file});
    ASSERT_EQ(updated.exit_code, 0) << updated.out;
    const Record r = newest();
    ASSERT_FALSE(r.empty());
    expect_common(r, "romwright-cli", host());
    EXPECT_EQ(r.at("result"), "\"succeeded\"");
    EXPECT_EQ(r.at("board"), c.board);
    EXPECT_EQ(r.at("model"), in_quotes(c.model));
    EXPECT_EQ(r.at("path"), in_quotes(c.path));
    const std::string list = run({"list", "--json"}).out;
    const std::string index = std::to_string(std::stoi(c.board) - 1);
    EXPECT_EQ(r.at("serial"), json_value(list, "d['boards'][" + index + "]['serial']"));
    EXPECT_EQ(r.at("version_before"), json_value(list, "d['boards'][" + index + "]['fpga_version']"));
    if (c.sectors_known) {
        EXPECT_EQ(r.at("sectors_erased"), "3");  // 0x30000 bytes in 0x10000-byte sectors
        EXPECT_EQ(r.at("sectors_written"), "3");
        EXPECT_EQ(r.at("sectors_skipped"), "0");
    } else {
        EXPECT_EQ(r.at("sectors_written"), "null") << "the firmware-upgrade service does not say";
    }
}

INSTANTIATE_TEST_SUITE_P(Services, ServiceHistory,
                         ::testing::Values(ServiceCase{"FlashSector", "3", "ZEN5191", "flash-sector service", true},
                                           ServiceCase{"FirmwareUpgrade", "4", "ZEN5190", "firmware-upgrade service",
                                                       false}),
                         [](const ::testing::TestParamInfo<ServiceCase> &info) { return std::string(info.param.name); });

// Attempts that did not succeed, each run as a user runs it: the record's
// result and error, and what it could tell of the board.
struct OutcomeCase {
    const char *name;
    const char *machine_extra;  // appended to the flash-sector board (1/3)
    const char *library;        // [library] lines, or ""
    std::vector<std::string> args;  // after the program; "@" stands for the firmware file
    bool cli;                       // romwright-cli, else romwright
    const char *result;
    const char *error;          // a part of the record's error
    bool board_asked;           // the record has the board's model
};

void PrintTo(const OutcomeCase &c, std::ostream *out) { *out << c.name; }

class OutcomeHistory : public History, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(OutcomeHistory, IsRecordedWithItsReason) {
    const OutcomeCase &c = GetParam();
    use_machine(std::string(c.library) + R"(
[[system]]
[[system.board]]
name = "page"
kind = 11
serial = 511001
[[system.board]]
name = "sector"
kind = 25
serial = 516001
[[system.board]]
name = "service"
kind = 36
serial = 519101
features = [2]
flash_size = 0x100000
sector_size = 0x10000
)" + c.machine_extra);
    const std::string file = make_image("fw-ZEN5191.rpd", "ZEN5191", {"--size", "0x30000"});
    std::vector<std::string> args = c.args;
    for (std::string &arg : args)
        if (arg == "@") arg = file;
    const auto attempt = c.cli ? cli(args) : run(args);
    EXPECT_NE(attempt.exit_code, 0) << attempt.out << attempt.err;

    const std::vector<Record> all = records();
    ASSERT_EQ(all.size(), 1u);
    const Record &r = all[0];
    expect_common(r, c.cli ? "romwright-cli" : "romwright", host());
    EXPECT_EQ(r.at("result"), in_quotes(c.result));
    EXPECT_NE(r.at("error").find(c.error), std::string::npos) << r.at("error");
    EXPECT_EQ(r.at("system"), "1");
    EXPECT_EQ(r.at("file"), json_path(file));
    if (c.board_asked) {
        EXPECT_NE(r.at("model"), "null");
        EXPECT_NE(r.at("serial"), "null");
    } else {
        EXPECT_EQ(r.at("model"), "null") << "a refused library is asked nothing more";
    }
}

const std::string kWriteFault = "[[system.board.fault]]\ntype = \"call\"\ncall = \"KorvelFlashSectorWrite\"\n"
                                "code = 513\nnth = 1\nstatus = 2\n";

INSTANTIATE_TEST_SUITE_P(
    Outcomes, OutcomeHistory,
    ::testing::Values(
        OutcomeCase{"FailedWrite", kWriteFault.c_str(), "", {"update", "--system=1", "--board=3", "@"}, false,
                    "failed", "Update Flash image failed", true},
        OutcomeCase{"WrongModelInTheName", "", "", {"update", "--system=1", "--board=2", "@"}, true, "refused",
                    "Invalid firmware board type", true},
        OutcomeCase{"LibraryTooOld", "", "[library]\nversion = \"7.0.9\"\n", {"update", "--system=1", "--board=3", "@"},
                    false, "refused", "older than 7.1", false},
        OutcomeCase{"DriverTooOldForTheCli", "", "[library]\ndriver_version = \"6.2.0\"\n",
                    {"update", "--system=1", "--board=3", "@"}, true, "refused", "older than 7.1", false}),
    [](const ::testing::TestParamInfo<OutcomeCase> &info) { return std::string(info.param.name); });

TEST_F(History, ARestoreIsRecordedAndARefusedOneToo) {
    const std::string first = make_image("fw-ZEN5110.rpd", "ZEN5110", {"--size", "0x60000", "--seed", "3"});
    const std::string second = make_image("fw2-ZEN5110.rpd", "ZEN5110", {"--size", "0x60000", "--seed", "4"});
    ASSERT_EQ(run({"update", "--system=1", "--board=1", "--quiet", first}).exit_code, 0);
    ASSERT_EQ(run({"read", "--system=1", "--board=1", path("backup.bin")}).exit_code, 0);
    ASSERT_EQ(run({"update", "--system=1", "--board=1", "--quiet", second}).exit_code, 0);
    const auto restored = run({"restore", path("backup.bin"), "--system=1", "--board=1", "--json"});
    ASSERT_EQ(restored.exit_code, 0) << restored.err;
    // The sector-mode board is of another kind: refused before the first erase.
    EXPECT_EQ(run({"restore", path("backup.bin"), "--system=1", "--board=2"}).exit_code, 1);

    const std::vector<Record> all = records();
    ASSERT_EQ(all.size(), 4u) << "two updates, a restore and a refused restore; read is not an update";
    const Record &refused = all[0];
    EXPECT_EQ(refused.at("result"), "\"refused\"");
    EXPECT_NE(refused.at("error").find("The backup is of a board of kind 11, this board is of kind 25"),
              std::string::npos)
        << refused.at("error");
    EXPECT_EQ(refused.at("board"), "2");
    EXPECT_EQ(refused.at("model"), "\"ZEN5160\"");
    EXPECT_EQ(refused.at("version_before"), "\"8.14\"");  // the machine's KSoPC signature 0x0E080000

    const Record &r = all[1];
    expect_common(r, "romwright", host());
    EXPECT_EQ(r.at("result"), "\"succeeded\"");
    EXPECT_EQ(r.at("board"), "1");
    EXPECT_EQ(r.at("model"), "\"ZEN5110\"");
    EXPECT_EQ(r.at("serial"), "511001");
    EXPECT_EQ(r.at("version_before"), json_value(run({"list", "--json"}).out, "d['boards'][0]['fpga_version']"));
    EXPECT_EQ(r.at("path"), "\"page mode\"");
    EXPECT_EQ(r.at("file"), json_path(path("backup.bin")));
    const auto [size, adler] = size_and_adler(path("backup.bin"));
    EXPECT_EQ(r.at("file_size"), size);
    EXPECT_EQ(r.at("adler32"), adler);
    EXPECT_NE(r.at("sectors_written"), "0");
    EXPECT_EQ(r.at("sectors_written"), json_value(restored.out, "d['rewritten']"));
    EXPECT_EQ(r.at("sectors_erased"), json_value(restored.out, "d['rewritten']"));
    EXPECT_EQ(r.at("sectors_skipped"), json_value(restored.out, "d['matched']"));
}

// Refusals are instant and each names its board, so they make the records
// the filters are tried on: boards 1/1, 1/2, 2/1, 1/2 in that order.
class Filters : public History {
protected:
    void SetUp() override {
        History::SetUp();
        use_machine("[[system]]\n[[system.board]]\nname = \"a\"\nkind = 11\nserial = 7001\n"
                    "[[system.board]]\nname = \"b\"\nkind = 11\nserial = 7002\n"
                    "[[system]]\n[[system.board]]\nname = \"c\"\nkind = 11\nserial = 7003\n");
        const std::string file = make_image("fw-ZEN5160.rpd", "ZEN5160", {"--size", "0x80000"});
        for (const auto &[system, board] : std::vector<std::pair<int, int>>{{1, 1}, {1, 2}, {2, 1}, {1, 2}})
            ASSERT_EQ(run({"update", fmt::format("--system={}", system), fmt::format("--board={}", board), file})
                          .exit_code,
                      1);
    }

    // The serials of the records a filter gives, in the order given.
    std::vector<std::string> serials(const std::vector<std::string> &filters) {
        std::vector<std::string> found;
        for (const Record &r : records(filters)) found.push_back(r.at("serial"));
        return found;
    }
};

TEST_F(Filters, SelectAndLimitNewestFirst) {
    using Serials = std::vector<std::string>;
    const std::vector<std::pair<std::vector<std::string>, Serials>> cases = {
        {{}, {"7002", "7003", "7002", "7001"}},
        {{"--system=1"}, {"7002", "7002", "7001"}},
        {{"--system=2"}, {"7003"}},
        {{"--board=2"}, {"7002", "7002"}},
        {{"--system=2", "--board=1"}, {"7003"}},
        {{"--system=0", "--board=0"}, {"7002", "7003", "7002", "7001"}},
        {{"--serial=7001"}, {"7001"}},
        {{"--serial=7002", "--limit=1"}, {"7002"}},
        {{"--limit=2"}, {"7002", "7003"}},
        {{"--system=3"}, {}},
        {{"--serial=4294967295"}, {}},
    };
    for (const auto &[filters, expected] : cases) {
        std::string shown;
        for (const std::string &f : filters) shown += f + " ";
        EXPECT_EQ(serials(filters), expected) << shown;
    }
}

TEST_F(Filters, TheTableShowsTheRecordsAndTheFile) {
    const auto shown = run({"history", "--limit=1"});
    ASSERT_EQ(shown.exit_code, 0) << shown.err;
    EXPECT_NE(shown.out.find("History: " + machine().history_path() + "\n"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("romwright      1/2    ZEN5110  7002"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("refused"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("\n  Invalid firmware board type\n"), std::string::npos) << shown.out;
    EXPECT_EQ(shown.out.find("7003"), std::string::npos) << "--limit=1 shows one";
}

TEST_F(History, FiltersThatAreNotNumbersAreABadCommandLine) {
    for (const std::string bad : {"--limit=0", "--limit=x", "--serial=-1", "--serial=4294967296", "--system=-1",
                                  "--board=two", "--limit="}) {
        const auto result = run({"history", bad});
        EXPECT_EQ(result.exit_code, 255) << bad;
        EXPECT_EQ(result.out, "") << bad;
        EXPECT_NE(result.err.find("romwright: "), std::string::npos) << bad << ": " << result.err;
    }
}

TEST_F(History, NoHistoryYetIsNoRecords) {
    EXPECT_TRUE(records().empty());
    EXPECT_FALSE(testsupport::file_exists(machine().history_path())) << "reading made the file";
}

TEST_F(History, AFileThatIsNotAHistoryIsAnErrorNamingIt) {
    testsupport::write_text(machine().history_path(), "not a database, but text of some length to be sure of it\n");
    const auto result = run({"history", "--json"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("cannot read the update history " + machine().history_path()), std::string::npos)
        << result.err;
}

// A history that cannot be written never stops an update: one warning on
// standard error naming the file, the update done.
struct UnwritableCase {
    const char *name;
    void (*prepare)(const std::string &history);
    const char *reason;  // a part of the warning
};

void PrintTo(const UnwritableCase &c, std::ostream *out) { *out << c.name; }

class UnwritableHistory : public History, public ::testing::WithParamInterface<UnwritableCase> {};

TEST_P(UnwritableHistory, GivesOneWarningAndTheUpdateGoesOn) {
    const UnwritableCase &c = GetParam();
    const std::string history = path("history-place/history.sqlite");
    c.prepare(history);
    extra_env_["ROMWRIGHT_HISTORY"] = history;
    // Two boards, so two records fail: still one warning.
    const std::string file = make_image("fw-ZEN5190.rpd", "ZEN5190", {"--size", "0x30000"});
    use_machine("[[system]]\n[[system.board]]\nname = \"u1\"\nkind = 35\nfeatures = [5]\n"
                "[[system.board]]\nname = \"u2\"\nkind = 35\nfeatures = [5]\n");
    for (const bool tool : {true, false}) {
        const auto updated = tool ? run({"update", "--quiet", file}) : cli({"update", "--quiet", file});
        EXPECT_EQ(updated.exit_code, 0) << updated.out << updated.err;
        const std::string warning =
            std::string(tool ? "romwright" : "romwright-cli") + ": cannot write the update history " + history + ": ";
        EXPECT_EQ(updated.err.find(warning), 0u) << updated.err;
        EXPECT_EQ(updated.err.find('\n'), updated.err.size() - 1) << "one line: " << updated.err;
        EXPECT_NE(updated.err.find(c.reason), std::string::npos) << updated.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Places, UnwritableHistory,
    ::testing::Values(
        UnwritableCase{"AFolderInItsPlace",
                       [](const std::string &history) { std::filesystem::create_directories(history); },
                       "unable to open database file"},
        UnwritableCase{"UnderARegularFile",
                       [](const std::string &history) {
                           testsupport::write_text(std::filesystem::path(history).parent_path().string(), "a file\n");
                       },
                       "unable to open database file"},
        UnwritableCase{"NotADatabase",
                       [](const std::string &history) {
                           std::filesystem::create_directories(std::filesystem::path(history).parent_path());
                           testsupport::write_text(history, std::string(4096, 'x'));
                       },
                       "file is not a database"},
        UnwritableCase{"ANewerLayout",
                       [](const std::string &history) {
                           std::filesystem::create_directories(std::filesystem::path(history).parent_path());
                           testsupport::reference::set_user_version(history, 3);
                       },
                       "its layout 3 is newer than this program's (2)"}),
    [](const ::testing::TestParamInfo<UnwritableCase> &info) { return std::string(info.param.name); });

TEST_F(History, AHistoryLockedByAnotherProgramIsWaitedForAFewSecondsOnly) {
    const std::string file = make_image("fw-ZEN5190.rpd", "ZEN5190", {"--size", "0x30000"});
    ASSERT_EQ(run({"update", "--system=1", "--board=4", "--quiet", file}).exit_code, 0);  // makes the file
    const std::string history = machine().history_path();
    double seconds = 0;
    testsupport::ProcessResult updated;
    {
        // Another program holds the database's exclusive lock meanwhile.
        const testsupport::reference::ExclusiveLock locked(history);
        ASSERT_TRUE(locked.held());
        const auto start = std::chrono::steady_clock::now();
        updated = run({"update", "--system=1", "--board=4", "--quiet", file});
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    EXPECT_EQ(updated.exit_code, 0) << updated.err;
    EXPECT_NE(updated.err.find("cannot write the update history " + history + ": database is locked (another "
                               "program held it for more than 3 s)"),
              std::string::npos)
        << updated.err;
    EXPECT_EQ(updated.err.find('\n'), updated.err.size() - 1) << "one warning: " << updated.err;
    EXPECT_LT(seconds, 20.0) << "waited on the lock for too long";
    EXPECT_EQ(records().size(), 1u) << "the locked run's records were not written";
}

// A run killed in the middle of a board (kill -9, a power loss) leaves the
// database whole and the attempt in it, as started; the rerun adds its own.
TEST_F(History, AKilledRunLeavesItsAttemptAsStarted) {
    use_machine("[[system]]\n[[system.board]]\nname = \"dut\"\nkind = 11\nflash_size = 0x100000\n"
                "[system.board.timing]\npage_erase_ms = 100\n");
    const std::string file = make_image("fw-ZEN5110.rpd", "ZEN5110", {"--size", "0x80000"});
    testsupport::ProcessOptions options = machine().process_options();
    options.working_directory = work_.path();
    options.send_signal = SIGKILL;
    // The erase of the first of three sectors takes 100 ms.
    options.send_when = [](const std::string &out) { return out.find("Erasing board") != std::string::npos; };
    const auto killed = testsupport::run_process(testsupport::bin_path("romwright"),
                                                 {"update", "--system=1", "--board=1", "--full", file}, options);
    ASSERT_EQ(killed.signal, SIGKILL) << killed.out << killed.err;
    EXPECT_EQ(database(machine().history_path()), "ok\nstarted 1 1\n");
    const Record started = newest();
    EXPECT_EQ(started.at("result"), "\"started\"");
    EXPECT_EQ(started.at("duration_s"), "null");
    EXPECT_EQ(started.at("file"), json_path(file));

    ASSERT_EQ(run({"update", "--system=1", "--board=1", "--quiet", file}).exit_code, 0);
    EXPECT_EQ(database(machine().history_path()), "ok\nstarted 1 1\nsucceeded 1 1\n");
}

} // namespace
} // namespace tooltest
