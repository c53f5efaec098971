// The update history's database on its own: where it is, a record written,
// completed and read back field for field, the filters, and the one warning
// of a history that cannot be written.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <romwright/error.hpp>
#include <romwright/frontend/history.hpp>

#include "tests/support/temp_dir.hpp"

namespace {

using romwright::frontend::choose_history_path;
using romwright::frontend::History;
using romwright::frontend::HistoryQuery;
using romwright::frontend::HistoryRecord;
using romwright::frontend::read_history;

HistoryRecord full_record() {
    HistoryRecord r;
    r.time = "2026-12-07T19:37:33Z";
    r.host = "lab-7";
    r.program = "romwright";
    r.program_version = "3.5.3";
    r.system_id = 3;
    r.board_id = 4;
    r.model = "ZEN5170";
    r.serial = 4294967295u;
    r.version_before = "9.2";
    r.version_after = "9.3";
    r.file = "/firmware/fw-ZEN5170 \xc3\xa9\"'.rpd";
    r.file_size = 0x123456789ull;
    r.adler32 = 0x0000abcd;
    r.path = "sector mode";
    r.sectors_erased = 12;
    r.sectors_written = 11;
    r.sectors_skipped = 1;
    r.duration_s = 4.25;
    r.result = "failed";
    r.error = "Verify sector failed.\nsecond line";
    r.bundle_file = "fw-ZEN5170.pof";
    r.signature_key_id = "0123456789ABCDEF";
    r.signature_trusted_comment = "timestamp:1765000000\tfile:lab.rwb";
    return r;
}

void expect_same(const HistoryRecord &a, const HistoryRecord &b) {
    EXPECT_EQ(a.time, b.time);
    EXPECT_EQ(a.host, b.host);
    EXPECT_EQ(a.program, b.program);
    EXPECT_EQ(a.program_version, b.program_version);
    EXPECT_EQ(a.system_id, b.system_id);
    EXPECT_EQ(a.board_id, b.board_id);
    EXPECT_EQ(a.model, b.model);
    EXPECT_EQ(a.serial, b.serial);
    EXPECT_EQ(a.version_before, b.version_before);
    EXPECT_EQ(a.version_after, b.version_after);
    EXPECT_EQ(a.file, b.file);
    EXPECT_EQ(a.file_size, b.file_size);
    EXPECT_EQ(a.adler32, b.adler32);
    EXPECT_EQ(a.path, b.path);
    EXPECT_EQ(a.sectors_erased, b.sectors_erased);
    EXPECT_EQ(a.sectors_written, b.sectors_written);
    EXPECT_EQ(a.sectors_skipped, b.sectors_skipped);
    EXPECT_EQ(a.duration_s, b.duration_s);
    EXPECT_EQ(a.result, b.result);
    EXPECT_EQ(a.error, b.error);
    EXPECT_EQ(a.bundle_file, b.bundle_file);
    EXPECT_EQ(a.signature_key_id, b.signature_key_id);
    EXPECT_EQ(a.signature_trusted_comment, b.signature_trusted_comment);
}

TEST(HistoryPlace, TheOverrideThenTheMachinesFileThenTheUsers) {
    testsupport::TempDir dir("history-place");
    const std::string machine = dir.file("machine"), user = dir.file("user");
    const std::string blocked = dir.file("a-file");
    testsupport::write_text(blocked, "not a folder\n");
    struct Case {
        std::optional<std::string> override_path;
        std::string machine_folder, user_folder, expected;
    };
    const std::vector<Case> cases = {
        {dir.file("mine.sqlite"), machine, user, dir.file("mine.sqlite")},
        {std::string(), machine, user, machine + "/history.sqlite"},
        {std::nullopt, machine, user, machine + "/history.sqlite"},
        // A machine-wide folder that cannot be made: the user's.
        {std::nullopt, blocked + "/romwright", user, user + "/history.sqlite"},
        {std::nullopt, "", user, user + "/history.sqlite"},
        {std::nullopt, blocked + "/romwright", "", ""},
    };
    for (const Case &c : cases)
        // As paths: Windows joins the file name with a backslash.
        EXPECT_EQ(std::filesystem::path(choose_history_path(c.override_path, c.machine_folder, c.user_folder)),
                  std::filesystem::path(c.expected))
            << c.override_path.value_or("(none)") << " " << c.machine_folder << " " << c.user_folder;
    EXPECT_TRUE(std::filesystem::is_directory(machine)) << "the machine's folder is made";
    EXPECT_TRUE(std::filesystem::is_directory(user)) << "the user's folder is made";
}

TEST(HistoryTime, IsUtcInIso8601) {
    EXPECT_TRUE(std::regex_match(romwright::frontend::utc_now_text(),
                                 std::regex(R"(20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-6][0-9]Z)")))
        << romwright::frontend::utc_now_text();
}

TEST(HistoryFile, KeepsEveryFieldAndCompletesInPlace) {
    testsupport::TempDir dir("history");
    const std::string file = dir.file("h.sqlite");
    History history("test", file);
    HistoryRecord started;
    started.time = "2026-12-07T19:37:33Z";
    started.program = "romwright";
    started.program_version = "3.5.3";
    started.result = "started";
    const int64_t id = history.add(started);
    ASSERT_GT(id, 0);
    std::vector<HistoryRecord> read = read_history(file, {});
    ASSERT_EQ(read.size(), 1u);
    expect_same(read[0], started);  // every fact it lacks is empty again

    history.complete(id, full_record());
    read = read_history(file, {});
    ASSERT_EQ(read.size(), 1u) << "completed in place";
    EXPECT_EQ(read[0].id, id);
    expect_same(read[0], full_record());

    // A record that is gone (the file replaced meanwhile) is added whole.
    history.complete(id + 100, full_record());
    EXPECT_EQ(read_history(file, {}).size(), 2u);
    EXPECT_FALSE(history.warned());
}

TEST(HistoryFile, FiltersAndLimitNewestFirst) {
    testsupport::TempDir dir("history");
    const std::string file = dir.file("h.sqlite");
    History history("test", file);
    // (system, board, serial) in the order they were recorded.
    const std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> made = {{1, 1, 10}, {1, 2, 20}, {2, 1, 30}, {1, 2, 20}};
    for (const auto &[system, board, serial] : made) {
        HistoryRecord r = full_record();
        r.system_id = system;
        r.board_id = board;
        r.serial = serial;
        ASSERT_GT(history.add(r), 0);
    }
    const auto serials = [&](const HistoryQuery &query) {
        std::vector<uint32_t> found;
        for (const HistoryRecord &r : read_history(file, query)) found.push_back(*r.serial);
        return found;
    };
    using Serials = std::vector<uint32_t>;
    EXPECT_EQ(serials({}), (Serials{20, 30, 20, 10}));
    EXPECT_EQ(serials({1u, std::nullopt, std::nullopt, std::nullopt}), (Serials{20, 20, 10}));
    EXPECT_EQ(serials({std::nullopt, 2u, std::nullopt, std::nullopt}), (Serials{20, 20}));
    EXPECT_EQ(serials({2u, 1u, std::nullopt, std::nullopt}), (Serials{30}));
    EXPECT_EQ(serials({std::nullopt, std::nullopt, 10u, std::nullopt}), (Serials{10}));
    EXPECT_EQ(serials({std::nullopt, std::nullopt, std::nullopt, 3u}), (Serials{20, 30, 20}));
    EXPECT_EQ(serials({1u, 2u, 20u, 1u}), (Serials{20}));
    EXPECT_EQ(serials({9u, std::nullopt, std::nullopt, std::nullopt}), Serials{});
}

TEST(HistoryFile, ThatCannotBeWrittenWarnsOnceForTheWholeRun) {
    testsupport::TempDir dir("history");
    std::filesystem::create_directories(dir.file("a-folder"));
    std::FILE *warnings = std::tmpfile();
    ASSERT_NE(warnings, nullptr);
    History history("romwright-test", dir.file("a-folder"), warnings);
    EXPECT_EQ(history.add(full_record()), 0);
    history.complete(0, full_record());
    history.complete(7, full_record());
    EXPECT_TRUE(history.warned());
    std::rewind(warnings);
    char text[512] = {};
    const std::size_t length = std::fread(text, 1, sizeof text - 1, warnings);
    std::fclose(warnings);
    const std::string warning(text, length);
    EXPECT_EQ(warning.find("romwright-test: cannot write the update history " + dir.file("a-folder") + ": "), 0u)
        << warning;
    EXPECT_EQ(warning.find('\n'), warning.size() - 1) << "one line: " << warning;
}

TEST(HistoryFile, ThatIsMissingReadsAsNoRecordsAndOneThatIsNotAHistoryAsAnError) {
    testsupport::TempDir dir("history");
    EXPECT_TRUE(read_history(dir.file("none.sqlite"), {}).empty());
    EXPECT_FALSE(testsupport::file_exists(dir.file("none.sqlite")));
    testsupport::write_text(dir.file("text.sqlite"), std::string(2048, 'x'));
    try {
        read_history(dir.file("text.sqlite"), {});
        ADD_FAILURE() << "a text file read as a history";
    } catch (const romwright::error &failure) {
        EXPECT_EQ(failure.kind(), romwright::error_kind::file);
        EXPECT_NE(std::string(failure.what()).find(dir.file("text.sqlite")), std::string::npos) << failure.what();
    }
}

} // namespace
