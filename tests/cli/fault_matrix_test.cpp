// The fault matrix: every device-library call that romwright-cli and the
// engine make during one update fails once, at each place it is made, on one
// board of each programming path. A clean update first tells how often each
// call is made (the simulator's call counts); then, for each call name and
// each n (all of them when there are few, else the first, the last and an
// even sample with a seeded jitter), the simulator answers the n-th call with
// 513 and the program runs as a user runs it. Each run must end on its own,
// in time, without a word on standard error (where the sanitizers report
// leaks and errors of the child), and either refuse with the text that names
// the failure (exit 1) or recover (exit 0 with the image in the flash, and
// the failure in the log where the engine can notice it). A rerun without
// the fault must then leave the image on the board.
//
// The figure of each board goes to build/test-artifacts/fault-matrix/ and the
// sum of all boards to build/test-artifacts/fault-matrix.txt.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "tests/cli/update_rig.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using rig::BoardSetup;

constexpr uint32_t kFailureCode = 513;
// The flash status the flash-sector service calls report with it.
constexpr uint32_t kFailureFlashStatus = 2;
constexpr const char *kFailureText = "The operation did not complete";  // the library's text for 513

// ---------------------------------------------------------------- expectations

enum class Outcome { refuses, recovers };
enum class Shown { log, console };

constexpr int64_t kLast = -1;  // n counted from the last call: -1 is the N-th, -2 the one before

// What the program does when the n-th call (first <= n <= last) of `call`
// fails on `board` (nullptr: any board). A refusal shows `texts` in the log
// (or, for a failure before the update entry runs, on the console in the
// "Error: ..." frame). A recovery ends with the image in the flash; `texts`
// is what the log says about the failure, empty where the engine does not
// look at the call's result and the fault leaves no trace it could notice.
// The texts must appear in this order.
struct Expected {
    const char *board;
    const char *call;
    int64_t first, last;
    Outcome outcome;
    std::vector<std::string> texts;
    Shown shown = Shown::log;
};

const std::string kInEngine = fmt::format(": {}", kFailureText);

// The page-mode board plans one 128 KB sector: its erase check reads 4096
// pages of 2 reads each after the scratch read of OpenBoard (n = 1).
constexpr int64_t kLastEraseCheckRead = 1 + 4096 * 2;

const std::vector<Expected> kExpected = {
    // romwright-cli before any board is touched.
    {nullptr, "KorvelGetSDKVersion", 1, kLast, Outcome::refuses, {"Could not query SDK version"}, Shown::console},
    {nullptr, "KorvelGetDriverVersion", 1, kLast, Outcome::refuses, {"Could not query driver version"}, Shown::console},
    // The file-name check asks the kind; 513 is no kind at all.
    {nullptr, "KorvelGetBoardKind", 1, 1, Outcome::refuses,
     {"[from_c] Error: invalid board type 513 failed with error Invalid data"}, Shown::console},
    {nullptr, "KorvelGetSupportedDriverFeatures", 1, kLast, Outcome::refuses,
     {"KorvelGetSupportedDriverFeatures failed with error Failed"}},
    // The board's lock asks the serial first; without it the lock goes by
    // the board's IDs alone, and the update does not notice.
    {nullptr, "KorvelQueryCapability", 1, 1, Outcome::recovers, {}},

    {"upgrade_service", "KorvelFirmwareUpgradeStart", 1, kLast, Outcome::refuses,
     {"KorvelFirmwareUpgradeStart failed with error Failed\nUpgrade firmware failed"}},
    {"upgrade_service", "KorvelFirmwareUpgradeExecAndGetStatus", 1, kLast, Outcome::refuses,
     {"KorvelFirmwareUpgradeExecAndGetStatus failed with error Failed\nUpgrade firmware failed"}},

    {"flash_sector_service", "KorvelFlashOpen", 1, kLast, Outcome::refuses,
     {"Unable to open Flash, Flash busy tmout\nUpdate Flash image failed"}},
    {"flash_sector_service", "KorvelFlashSectorWrite", 1, kLast, Outcome::refuses,
     {"Write sector failed, Flash busy tmout\nUpdate Flash image failed"}},
    {"flash_sector_service", "KorvelFlashSectorRead", 1, kLast, Outcome::refuses,
     {"Read sector failed, Flash busy tmout\nUpdate Flash image failed"}},
    {"flash_sector_service", "KorvelFlashClose", 1, kLast, Outcome::refuses,
     {fmt::format("Unable to close flash, {}\nUpdate Flash image failed", kFailureText)}},
    // The driver's services identify nothing; once the update has ended the
    // update history asks the board its kind (the file-name check asked
    // first), its serial and its KSoPC signature. A failed answer leaves that
    // fact out of the record, and the update stands as it ended.
    {"upgrade_service", "KorvelGetBoardKind", 2, 2, Outcome::recovers, {}},
    {"upgrade_service", "KorvelQueryCapability", 1, kLast, Outcome::recovers, {}},
    {"flash_sector_service", "KorvelGetBoardKind", 2, 2, Outcome::recovers, {}},
    {"flash_sector_service", "KorvelQueryCapability", 1, kLast, Outcome::recovers, {}},

    // OpenBoard asks the kind, GetFPGAType asks again and decides the mode;
    // two answers that differ refuse the board before anything is erased.
    {"page_mode", "KorvelGetBoardKind", 2, 2, Outcome::refuses,
     {"Error: The board's kind changed between two queries: KorvelGetBoardKind answered 513 in "
      "CRomwright::OpenBoard, then 11 in CRomwright::GetFPGAType"}},
    {"page_mode", "KorvelGetBoardKind", 3, 3, Outcome::refuses,
     {"Error: The board's kind changed between two queries: KorvelGetBoardKind answered 11 in "
      "CRomwright::OpenBoard, then 513 in CRomwright::GetFPGAType"}},
    {"page_mode", "KorvelSetParameter", 1, kLast, Outcome::recovers, {"Disabling API logging failed"}},
    {"page_mode", "KorvelQueryCapability", 2, 2, Outcome::refuses, {"Error in CRomwright::GetKsopcSignature" + kInEngine}},
    {"page_mode", "KorvelQueryCapability", 3, 3, Outcome::recovers, {"Serial number unavailable\n"}},
    {"page_mode", "KorvelGetBoardRevision", 1, kLast, Outcome::refuses, {"Error: reading board revision failed"}},
    {"page_mode", "KorvelReadRegister", 1, kLast, Outcome::recovers, {"Error in CRomwright::EnableFlash" + kInEngine + "\n"}},
    {"page_mode", "KorvelWriteRegister", 1, kLast, Outcome::recovers, {"Error in CRomwright::EnableFlash" + kInEngine + "\n"}},
    // Mostly the flash is in read-array mode already; where it is not, the
    // read-back checks see a status word instead of data.
    {"page_mode", "SetControlCommand", 1, kLast, Outcome::recovers, {}},
    {"page_mode", "ZEN5110FlashSectorPageRead", 1, 1, Outcome::recovers, {}},
    {"page_mode", "ZEN5110FlashSectorPageRead", 2, kLastEraseCheckRead, Outcome::recovers,
     {"Error: Erase sector 1 byte address 0x000"}},
    {"page_mode", "ZEN5110FlashSectorPageRead", kLastEraseCheckRead + 1, kLast, Outcome::recovers,
     {"Data verification failed.\n"}},
    {"page_mode", "ZEN5110PageWriteToFlash", 1, kLast, Outcome::recovers, {"Data verification failed.\n"}},
    {"page_mode", "ZEN5110FlashSectorErase", 1, kLast, Outcome::recovers,
     {"Error: Erase sector 1 byte address 0x00020000 failed\n"}},

    {"sector_mode", "KorvelGetBoardKind", 2, 2, Outcome::refuses,
     {"Error: The board's kind changed between two queries: KorvelGetBoardKind answered 513 in "
      "CRomwright::OpenBoard, then 25 in CRomwright::GetFPGAType"}},
    {"sector_mode", "KorvelGetBoardKind", 3, 3, Outcome::refuses,
     {"Error: The board's kind changed between two queries: KorvelGetBoardKind answered 25 in "
      "CRomwright::OpenBoard, then 513 in CRomwright::GetFPGAType"}},
    {"sector_mode", "KorvelSetParameter", 1, kLast, Outcome::recovers, {"Disabling API logging failed"}},
    {"sector_mode", "KorvelQueryCapability", 2, 3, Outcome::refuses, {"Error in CRomwright::GetKsopcSignature" + kInEngine}},
    {"sector_mode", "KorvelQueryCapability", 4, 4, Outcome::recovers, {"Serial number unavailable\n"}},
    {"sector_mode", "KorvelGetCPLDVersion", 1, kLast, Outcome::refuses, {"Error in CRomwright::OpenBoard" + kInEngine}},
    {"sector_mode", "KorvelGetBoardRevision", 1, kLast, Outcome::refuses, {"Error: reading board revision failed"}},
    // The last register access switches the flash output off after the
    // update; its failure ends the update after the flash was verified.
    {"sector_mode", "KorvelReadRegister", kLast, kLast, Outcome::refuses,
     {"Error in CFlashPC28F::FlashOutputEnable" + kInEngine}},
    {"sector_mode", "KorvelReadRegister", 1, kLast - 1, Outcome::recovers, {"Error in CFlashPC28F::"}},
    {"sector_mode", "KorvelWriteRegister", kLast, kLast, Outcome::refuses,
     {"Error in CFlashPC28F::FlashOutputEnable" + kInEngine}},
    {"sector_mode", "KorvelWriteRegister", 1, kLast - 1, Outcome::recovers, {"Error in CFlashPC28F::"}},
};

// Calls that answer no return code: nothing to inject.
const std::set<std::string> kNotFaultable = {"KorvelNumOfSystems", "KorvelBoardsInSystemBySystemID",
                                             "KorvelGetBoardBySystemID", "KorvelErrorToText"};
const std::set<std::string> kLibraryCalls = {"KorvelGetSDKVersion", "KorvelGetDriverVersion"};
const std::set<std::string> kFlashStatusCalls = {"KorvelFlashOpen", "KorvelFlashSectorWrite", "KorvelFlashSectorRead"};

int64_t resolve(int64_t position, uint64_t calls) {
    return position >= 0 ? position : static_cast<int64_t>(calls) + 1 + position;
}

const Expected *find_expected(const std::string &board, const std::string &call, uint64_t n, uint64_t calls) {
    for (const Expected &row : kExpected) {
        if (row.call != call || (row.board && row.board != board)) continue;
        const int64_t first = resolve(row.first, calls), last = resolve(row.last, calls);
        if (static_cast<int64_t>(n) >= first && static_cast<int64_t>(n) <= last) return &row;
    }
    return nullptr;
}

// ---------------------------------------------------------------- sampling

// Every n up to this many calls; beyond, a sample.
constexpr uint64_t kEveryNthUpTo = 64;

uint32_t name_seed(const std::string &name) {
    uint32_t hash = 2166136261u;  // FNV-1a: the same seed on every platform
    for (unsigned char c : name) hash = (hash ^ c) * 16777619u;
    return hash;
}

// All of 1..calls when there are few; otherwise 1, `calls` and `samples`
// values, one in each of `samples` equal stretches between them, placed in
// its stretch by a generator seeded with the call's name.
std::vector<uint64_t> nths_to_fail(const std::string &call, uint64_t calls, uint64_t samples) {
    std::vector<uint64_t> nths;
    if (calls <= kEveryNthUpTo) {
        for (uint64_t n = 1; n <= calls; ++n) nths.push_back(n);
        return nths;
    }
    std::mt19937 random(name_seed(call));
    nths.push_back(1);
    const uint64_t inner = calls - 2;  // 2 .. calls-1
    for (uint64_t i = 0; i < samples; ++i) {
        const uint64_t begin = 2 + inner * i / samples, end = 2 + inner * (i + 1) / samples;
        nths.push_back(begin + random() % std::max<uint64_t>(1, end - begin));
    }
    nths.push_back(calls);
    std::sort(nths.begin(), nths.end());
    nths.erase(std::unique(nths.begin(), nths.end()), nths.end());
    return nths;
}

// ---------------------------------------------------------------- one run

struct Cell {
    std::string call;
    uint64_t n = 0;
    uint64_t calls = 0;  // N, the calls one clean update makes
};

struct CellResult {
    std::string error;  // what kept the runs from being made, if anything
    rig::TimedResult faulted;
    std::string faulted_log;
    std::vector<uint8_t> faulted_flash;
    bool rerun_skipped = false;
    rig::TimedResult rerun;
    std::vector<uint8_t> rerun_flash;
};

std::string fault_toml(const Cell &cell) {
    return fmt::format("[[system.board.fault]]\ntype = \"call\"\ncall = \"{}\"\ncode = {}\nnth = {}\n{}", cell.call,
                       kFailureCode, cell.n,
                       kFlashStatusCalls.count(cell.call) ? fmt::format("status = {}\n", kFailureFlashStatus) : "");
}

std::string library_fault_toml(const Cell &cell) {
    return fmt::format("[library]\n[[library.fault]]\ncall = \"{}\"\ncode = {}\nnth = {}\n", cell.call, kFailureCode,
                       cell.n);
}

CellResult run_cell(const BoardSetup &board, const rig::Firmware &firmware, const std::vector<uint8_t> &updated,
                    const Cell &cell, int timeout_seconds) {
    const rig::RunFolder folder(board);
    const bool library = kLibraryCalls.count(cell.call) > 0;
    const std::string faulty = folder.machine("faulty.toml", library ? "" : fault_toml(cell),
                                              library ? library_fault_toml(cell) : "");
    const std::string clean = folder.machine("clean.toml");
    testsupport::ProcessOptions options;
    options.timeout_seconds = timeout_seconds;
    CellResult result;
    result.faulted = rig::timed([&] { return folder.update(faulty, firmware.path(), options); });
    result.faulted_log = folder.log();
    result.faulted_flash = folder.flash();
    // After a run that recovered, a rerun is one more clean update, as the
    // counting run was; the sanitizer build, ten times slower, leaves it out.
    result.rerun_skipped = rig::kSanitized && result.faulted.result.exit_code == 0 && result.faulted_flash == updated;
    if (result.rerun_skipped) return result;
    result.rerun = rig::timed([&] { return folder.update(clean, firmware.path(), options); });
    result.rerun_flash = folder.flash();
    return result;
}

// Runs every cell, `workers` at a time.
std::vector<CellResult> run_cells(const BoardSetup &board, const rig::Firmware &firmware,
                                  const std::vector<uint8_t> &updated, const std::vector<Cell> &cells,
                                  int timeout_seconds, unsigned workers) {
    std::vector<CellResult> results(cells.size());
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> threads;
    for (unsigned w = 0; w < workers; ++w)
        threads.emplace_back([&] {
            for (std::size_t i = next++; i < cells.size(); i = next++) {
                try {
                    results[i] = run_cell(board, firmware, updated, cells[i], timeout_seconds);
                } catch (const std::exception &error) {
                    results[i].error = error.what();
                }
            }
        });
    for (std::thread &thread : threads) thread.join();
    return results;
}

bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

bool contains_in_order(const std::string &text, const std::vector<std::string> &parts) {
    std::size_t at = 0;
    for (const std::string &part : parts) {
        at = text.find(part, at);
        if (at == std::string::npos) return false;
        at += part.size();
    }
    return true;
}

std::string quoted(const std::vector<std::string> &texts) {
    std::string out;
    for (const std::string &text : texts) out += (out.empty() ? "" : " then ") + ("\"" + text + "\"");
    return out;
}

// The first line of a log that tells of a failure, to tell faults apart.
std::string first_failure(const std::string &log) {
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        if (has(line, "Error") || has(line, "failed") || has(line, "unavailable")) return line;
    return "(none)";
}

// What the program did wrong in one run; empty when nothing.
std::vector<std::string> problems_of_run(const rig::TimedResult &run, int timeout_seconds, const char *which) {
    std::vector<std::string> problems;
    if (run.result.signal != 0)
        problems.push_back(fmt::format("the {} run ended by signal {}{}", which, run.result.signal,
                                       run.seconds >= timeout_seconds ? fmt::format(
                                                                            " after {:.1f} s: it hung (time-out {} s)",
                                                                            run.seconds, timeout_seconds)
                                                                      : ""));
    if (!run.result.err.empty())
        problems.push_back(fmt::format("the {} run wrote to standard error:\n{}", which, rig::tail(run.result.err, 20)));
    return problems;
}

void problems_of_refusal(const Expected &expected, const CellResult &cell, std::vector<std::string> &problems) {
    const testsupport::ProcessResult &faulted = cell.faulted.result;
    if (faulted.exit_code != 1) problems.push_back(fmt::format("exit code {}, not 1", faulted.exit_code));
    if (expected.shown == Shown::console) {
        if (!has(faulted.out, "\nError: " + expected.texts.front() + "\n"))
            problems.push_back("the console lacks \"Error: " + expected.texts.front() + "\"");
    } else {
        if (!has(faulted.out, "\nError: Firmware updater error. Code 1\n"))
            problems.push_back("the console lacks \"Error: Firmware updater error. Code 1\"");
        if (!contains_in_order(cell.faulted_log, expected.texts))
            problems.push_back("the log lacks " + quoted(expected.texts));
    }
    if (has(cell.faulted_log, "Update succeeded.")) problems.push_back("the log says it succeeded");
}

void problems_of_recovery(const Expected &expected, const CellResult &cell, const std::vector<uint8_t> &updated,
                          std::vector<std::string> &problems) {
    const testsupport::ProcessResult &faulted = cell.faulted.result;
    if (faulted.exit_code != 0) problems.push_back(fmt::format("exit code {}, not 0", faulted.exit_code));
    if (!has(faulted.out, "Update of 1 board successful\n"))
        problems.push_back("the console lacks \"Update of 1 board successful\"");
    if (!contains_in_order(cell.faulted_log, expected.texts))
        problems.push_back("the log lacks " + quoted(expected.texts));
    if (const std::size_t at = rig::first_difference(cell.faulted_flash, updated); at != updated.size())
        problems.push_back(fmt::format("the flash differs from the image at 0x{:X}", at));
}

// Everything wrong with one cell: the faulted run against its expectation,
// then the rerun without the fault.
std::vector<std::string> problems_of(const Expected &expected, const CellResult &cell,
                                     const std::vector<uint8_t> &updated, int timeout_seconds) {
    if (!cell.error.empty()) return {"the runs could not be made: " + cell.error};
    std::vector<std::string> problems = problems_of_run(cell.faulted, timeout_seconds, "faulted");
    // A run ended by a signal is wrong already; how it would have ended is unknown.
    if (cell.faulted.result.signal == 0) {
        if (expected.outcome == Outcome::refuses)
            problems_of_refusal(expected, cell, problems);
        else
            problems_of_recovery(expected, cell, updated, problems);
    }
    if (cell.rerun_skipped) return problems;
    for (const std::string &problem : problems_of_run(cell.rerun, timeout_seconds, "rerun")) problems.push_back(problem);
    if (cell.rerun.result.exit_code != 0)
        problems.push_back(fmt::format("the rerun without the fault exited with {}", cell.rerun.result.exit_code));
    if (const std::size_t at = rig::first_difference(cell.rerun_flash, updated); at != updated.size())
        problems.push_back(fmt::format("after the rerun the flash differs from the image at 0x{:X}", at));
    return problems;
}

// ---------------------------------------------------------------- counting

// Calls of one clean update: the library's own and those on the board.
std::map<std::string, uint64_t> read_counts(const std::string &path, const std::string &board) {
    std::map<std::string, uint64_t> counts;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const std::size_t open = line.find('('), close = line.find(") ");
        if (open == std::string::npos || close == std::string::npos) continue;
        const std::string inside = line.substr(open + 1, close - open - 1);
        if (!inside.empty() && inside != "board=" + board) continue;
        counts[line.substr(0, open)] = std::stoull(line.substr(close + 2));
    }
    return counts;
}

// ---------------------------------------------------------------- the figure

struct Figure {
    std::vector<std::string> calls;  // faulted call names
    std::size_t runs = 0, recovered = 0, refused = 0, wrong = 0;
    std::string text;                // for people: what was failed where
};

std::string data_line(const Figure &figure) {
    std::string calls;
    for (const std::string &call : figure.calls) calls += (calls.empty() ? "" : ",") + call;
    return fmt::format("data calls={} runs={} recovered={} refused={} wrong={}", calls, figure.runs, figure.recovered,
                       figure.refused, figure.wrong);
}

// Adds up every board's file in `dir` (each written by its own test, maybe
// at the same time as another's: the lock keeps the sum whole).
std::string write_summary(const std::string &dir, const std::string &summary_path) {
    const int lock = ::open((summary_path + ".lock").c_str(), O_CREAT | O_RDWR, 0644);
    if (lock >= 0) ::flock(lock, LOCK_EX);
    std::set<std::string> calls;
    std::size_t boards = 0, runs = 0, recovered = 0, refused = 0, wrong = 0;
    std::string details;
    std::vector<std::filesystem::path> files;
    for (const auto &entry : std::filesystem::directory_iterator(dir)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto &file : files) {
        std::ifstream in(file);
        std::string data;
        std::getline(in, data);
        std::istringstream fields(data.substr(std::min<std::size_t>(data.size(), 5)));
        std::map<std::string, std::string> values;
        for (std::string field; fields >> field;)
            if (const auto eq = field.find('='); eq != std::string::npos) values[field.substr(0, eq)] = field.substr(eq + 1);
        if (!values.count("runs")) continue;
        ++boards;
        std::istringstream names(values["calls"]);
        for (std::string name; std::getline(names, name, ',');) calls.insert(name);
        runs += std::stoul(values["runs"]);
        recovered += std::stoul(values["recovered"]);
        refused += std::stoul(values["refused"]);
        wrong += std::stoul(values["wrong"]);
        details += std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) + "\n";
    }
    const std::string total =
        fmt::format("fault matrix: {} boards, {} calls, {} faulted runs, {} recovered/{} refused{}", boards,
                    calls.size(), runs, recovered, refused, wrong ? fmt::format(", {} WRONG", wrong) : "");
    testsupport::write_text(summary_path, total + "\n\n" + details);
    if (lock >= 0) ::close(lock);
    return total;
}

void publish(const BoardSetup &board, const Figure &figure) {
    const std::string dir = rig::artifacts_dir() + "/fault-matrix";
    std::filesystem::create_directories(dir);
    const std::string file = dir + "/" + board.name + ".txt";
    testsupport::write_text(file + ".new", data_line(figure) + "\n" + figure.text);
    std::filesystem::rename(file + ".new", file);
    const std::string total = write_summary(dir, rig::artifacts_dir() + "/fault-matrix.txt");
    std::cout << figure.text << total << " (so far; in " << rig::artifacts_dir() << "/fault-matrix.txt)\n";
}

std::string how_sampled(uint64_t calls, std::size_t runs) {
    if (calls <= kEveryNthUpTo) return runs == 1 ? "the only one" : "every one";
    return fmt::format("the first, the last and {} more, one in each of {} equal stretches, seeded", runs - 2, runs - 2);
}

// ---------------------------------------------------------------- the matrix

struct MatrixCase {
    BoardSetup board;
    uint64_t samples;            // n per call beyond kEveryNthUpTo calls, besides the first and the last
    uint64_t sanitized_samples;  // the same in the sanitizer build, whose programs run ten times slower
    unsigned workers;            // runs at a time (the sector-mode driver mostly sleeps)
};

void PrintTo(const MatrixCase &c, std::ostream *out) { *out << c.board.name; }

// The cells to run, and what the figure says about them.
struct Plan {
    std::vector<Cell> cells;
    std::vector<std::string> calls;
    std::string per_call;     // how often each call was failed, for people
    std::string not_faulted;  // calls made without a return code
};

Plan plan_cells(const std::map<std::string, uint64_t> &counts, uint64_t samples) {
    Plan plan;
    for (const auto &[call, calls] : counts) {
        if (kNotFaultable.count(call)) {
            plan.not_faulted += fmt::format("{}{} ({})", plan.not_faulted.empty() ? "" : ", ", call, calls);
            continue;
        }
        const std::vector<uint64_t> nths = nths_to_fail(call, calls, samples);
        for (uint64_t n : nths) plan.cells.push_back({call, n, calls});
        plan.calls.push_back(call);
        plan.per_call += fmt::format("  {}: {} in one update; failed at {} of them ({})\n", call, calls,
                                     nths.size(), how_sampled(calls, nths.size()));
    }
    return plan;
}

class FaultMatrix : public ::testing::TestWithParam<MatrixCase> {
protected:
    // A clean update must work; it tells how often each call is made.
    std::map<std::string, uint64_t> count_calls(const rig::Firmware &firmware, double &seconds) {
        const rig::RunFolder counting(board());
        const std::string counts_path = counting.file("counts.txt");
        const rig::TimedResult clean = rig::timed([&] {
            return counting.update(counting.machine("clean.toml"), firmware.path(), {},
                                   {{"ZENAPI_SIM_CALL_COUNTS", counts_path}});
        });
        seconds = clean.seconds;
        EXPECT_EQ(clean.result.exit_code, 0) << clean.result.out << clean.result.err << counting.log();
        EXPECT_EQ(rig::first_difference(counting.flash(), updated_), updated_.size()) << "after the clean update";
        return read_counts(counts_path, board().name);
    }

    // Checks every run against the table and counts the outcomes.
    void judge(const Plan &plan, const std::vector<CellResult> &results, int timeout_seconds, Figure &figure) {
        std::set<const Expected *> used;
        for (std::size_t i = 0; i < plan.cells.size(); ++i) {
            const Cell &cell = plan.cells[i];
            ++figure.runs;
            const Expected *expected = find_expected(board().name, cell.call, cell.n, cell.calls);
            if (!expected) {
                ++figure.wrong;
                ADD_FAILURE() << board().name << ": no expectation for " << cell.call << " failing at call " << cell.n
                              << " of " << cell.calls;
                continue;
            }
            used.insert(expected);
            const std::vector<std::string> problems = problems_of(*expected, results[i], updated_, timeout_seconds);
            if (!problems.empty()) {
                ++figure.wrong;
                report(cell, *expected, results[i], problems);
            } else {
                ++(expected->outcome == Outcome::recovers ? figure.recovered : figure.refused);
            }
        }
        for (const Expected &row : kExpected)
            if ((!row.board || row.board == board().name) && !used.count(&row))
                ADD_FAILURE() << board().name << ": the table expects " << row.call << " at calls " << row.first
                              << ".." << row.last << ", which no faulted run reached";
    }

    void report(const Cell &cell, const Expected &expected, const CellResult &result,
                const std::vector<std::string> &problems) const {
        std::string list;
        for (const std::string &problem : problems) list += "\n  - " + problem;
        ADD_FAILURE() << board().name << ": " << cell.call << " failing at call " << cell.n << " of " << cell.calls
                      << " (expected: " << (expected.outcome == Outcome::refuses ? "refuses" : "recovers")
                      << fmt::format(", {:.2f} s):", result.faulted.seconds) << list
                      << "\nfirst failure in the log: " << first_failure(result.faulted_log) << "\nconsole:\n"
                      << rig::tail(result.faulted.result.out, 4) << "\nlog:\n" << rig::tail(result.faulted_log);
    }

    const BoardSetup &board() const { return GetParam().board; }

    std::vector<uint8_t> updated_;
};

TEST_P(FaultMatrix, EveryCallFailsOnceAtEachPlace) {
    const MatrixCase &c = GetParam();
    const auto started = std::chrono::steady_clock::now();
    const rig::Firmware firmware(c.board);
    updated_ = rig::updated_flash(c.board, firmware.bytes());

    double clean_seconds = 0;
    const std::map<std::string, uint64_t> counts = count_calls(firmware, clean_seconds);
    ASSERT_FALSE(HasFailure());
    ASSERT_FALSE(counts.empty()) << "no call counts";
    // A run that recovers takes about two clean updates; one that hangs, forever.
    const int timeout_seconds = 10 + static_cast<int>(std::ceil(5 * clean_seconds));

    const Plan plan = plan_cells(counts, rig::kSanitized ? c.sanitized_samples : c.samples);
    const std::vector<CellResult> results =
        run_cells(c.board, firmware, updated_, plan.cells, timeout_seconds, c.workers);
    Figure figure;
    figure.calls = plan.calls;
    judge(plan, results, timeout_seconds, figure);

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    figure.text = fmt::format("{} ({}): {} calls, {} faulted runs, {} recovered/{} refused, {} wrong; "
                              "clean update {:.2f} s, time-out {} s, matrix {:.1f} s with {} at a time{}\n{}"
                              "  not faulted (they answer no return code): {}\n",
                              c.board.name, c.board.model, figure.calls.size(), figure.runs, figure.recovered,
                              figure.refused, figure.wrong, clean_seconds, timeout_seconds, seconds, c.workers,
                              rig::kSanitized ? " (sanitizer build, no rerun after a recovery)" : "",
                              plan.per_call, plan.not_faulted);
    publish(c.board, figure);
}

INSTANTIATE_TEST_SUITE_P(Boards, FaultMatrix,
                         ::testing::Values(MatrixCase{rig::upgrade_service_board(), 0, 0, 2},
                                           MatrixCase{rig::flash_sector_service_board(), 0, 0, 2},
                                           MatrixCase{rig::page_mode_board(), 32, 4, 2},
                                           MatrixCase{rig::sector_mode_board(), 16, 1, 4}),
                         [](const ::testing::TestParamInfo<MatrixCase> &info) { return info.param.board.name; });

} // namespace
