// The front ends' log file: whole lines only, and one warning when it cannot
// be written.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <romwright/frontend/log_file.hpp>

#include "tests/support/temp_dir.hpp"

namespace {

using romwright::frontend::LogFile;

constexpr const char *kEndEntry = nullptr;

struct Step {
    const char *append;  // kEndEntry: end the entry instead
    const char *on_disk; // what the file then holds
};

struct WholeLinesCase {
    const char *name;
    std::vector<Step> steps;
};

void PrintTo(const WholeLinesCase &c, std::ostream *out) { *out << c.name; }

class WholeLines : public ::testing::TestWithParam<WholeLinesCase> {};

TEST_P(WholeLines, TheFileOnlyEverHoldsCompleteLines) {
    testsupport::TempDir dir("log-file");
    const std::string path = dir.file("romwright-cli.log");
    testsupport::write_text(path, "earlier run\n");
    LogFile log("romwright-cli", path);
    for (const Step &step : GetParam().steps) {
        if (step.append == kEndEntry)
            log.end_entry();
        else
            log.append(step.append);
        EXPECT_EQ(testsupport::read_text(path), std::string("earlier run\n") + step.on_disk)
            << "after " << (step.append ? step.append : "the end of the entry");
    }
    EXPECT_FALSE(log.warned());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WholeLines,
    ::testing::Values(
        WholeLinesCase{"complete_lines_go_at_once", {{"Update succeeded.\n", "Update succeeded.\n"}}},
        WholeLinesCase{"a_piece_waits_for_the_rest_of_its_line",
                       {{"Writing 3 of 9 pages.", ""}, {" Still writing\n", "Writing 3 of 9 pages. Still writing\n"}}},
        WholeLinesCase{"hex_dump_pieces_join_into_one_line",
                       {{"0000: ", ""}, {"FF 00 ", ""}, {"12 34", ""}, {"\n", "0000: FF 00 12 34\n"}}},
        WholeLinesCase{"the_end_of_an_entry_ends_its_line",
                       {{"Board is null", ""}, {kEndEntry, "Board is null\n"}, {kEndEntry, "Board is null\n"}}},
        WholeLinesCase{"lines_before_a_piece_go_at_once",
                       {{"one\ntwo\nthr", "one\ntwo\n"}, {"ee\n", "one\ntwo\nthree\n"}}},
        WholeLinesCase{"an_empty_entry_writes_nothing", {{kEndEntry, ""}, {"", ""}, {kEndEntry, ""}}}),
    [](const ::testing::TestParamInfo<WholeLinesCase> &info) { return std::string(info.param.name); });

TEST(LogFileLifetime, AKeptTextIsWrittenWhenTheLogGoes) {
    testsupport::TempDir dir("log-file");
    const std::string path = dir.file("romwright.log");
    {
        LogFile log("romwright-gui", path);
        log.append("Could not open file");
        EXPECT_FALSE(testsupport::file_exists(path));
    }
    EXPECT_EQ(testsupport::read_text(path), "Could not open file\n");
}

struct Blocked {
    const char *name;
    // Makes the log unwritable; returns the path the LogFile is given.
    std::string (*block)(const testsupport::TempDir &dir);
    bool path_named;  // the warning names the file (else the reason says where)
    const char *reason;
};

void PrintTo(const Blocked &c, std::ostream *out) { *out << c.name; }

class UnwritableLog : public ::testing::TestWithParam<Blocked> {};

TEST_P(UnwritableLog, WarnsOnceNamingTheFileAndGoesOn) {
    testsupport::TempDir dir("log-file");
    const std::string path = GetParam().block(dir);
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> warnings(std::tmpfile(), &std::fclose);
    ASSERT_TRUE(warnings);
    {
        LogFile log("romwright-cli", [&path] {
            if (path.empty()) throw std::runtime_error("Couldn't create Korvelon dir in Documents");
            return path;
        }, "ab", warnings.get());
        log.append("Update succeeded.\n");
        log.append("Board is null");
        log.end_entry();
        log.append("Update succeeded.\n");
        EXPECT_TRUE(log.warned());
    }
    std::rewind(warnings.get());
    char text[1024] = {};
    const std::size_t length = std::fread(text, 1, sizeof text - 1, warnings.get());
    const std::string where = GetParam().path_named ? " " + path : "";
    EXPECT_EQ(std::string(text, length),
              "romwright-cli: cannot write the log file" + where + ": " + GetParam().reason + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Ways, UnwritableLog,
    ::testing::Values(
        Blocked{"a_folder_of_that_name",
                [](const testsupport::TempDir &dir) {
                    const std::string path = dir.file("romwright-cli.log");
                    ::mkdir(path.c_str(), 0755);
                    return path;
                },
                true, "Is a directory"},
        Blocked{"a_full_disk",
                [](const testsupport::TempDir &dir) {
                    const std::string path = dir.file("romwright-cli.log");
                    if (::symlink("/dev/full", path.c_str()) != 0) return std::string();
                    return path;
                },
                true, "No space left on device"},
        Blocked{"a_missing_folder",
                [](const testsupport::TempDir &dir) { return dir.file("gone/romwright-cli.log"); }, true,
                "No such file or directory"},
        Blocked{"a_path_that_cannot_be_made", [](const testsupport::TempDir &) { return std::string(); }, false,
                "Couldn't create Korvelon dir in Documents"}),
    [](const ::testing::TestParamInfo<Blocked> &info) { return std::string(info.param.name); });

} // namespace
