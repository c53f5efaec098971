// romwright update: romwright-cli's update (options, version gate, file-name
// checks, log lines, signals, exit codes), plus a backup before the first
// erase and, unless --full, no erase or write of sectors that already hold
// the image. A failure says on the console why, not only in the log.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include <romwright/board_flash.hpp>
#include <romwright/bundle.hpp>
#include <romwright/error.hpp>
#include <romwright/frontend/board_history.hpp>
#include <romwright/frontend/board_loop.hpp>
#include <romwright/frontend/board_selection.hpp>
#include <romwright/frontend/bundle_source.hpp>
#include <romwright/frontend/firmware_name.hpp>
#include <romwright/frontend/history.hpp>
#include <romwright/frontend/log_file.hpp>
#include <romwright/frontend/stop_request.hpp>
#include <romwright/options.hpp>

#include "backup.hpp"
#include "commands.hpp"
#include "console.hpp"
#include "output.hpp"
#include "update_document.hpp"

namespace romwright::tool {
namespace {

namespace frontend = romwright::frontend;
using romwright::console::Console;
using romwright::console::print;

// The board loop's hooks: the progress bar, the file-name check and the
// backup before a board, the log lines, a stop's reason in the log, and a
// stop that came during the last board acknowledged on both.
// board_path is the file the board takes: the run's file, or the one a
// bundle's firmware_file hook wrote for it.
frontend::BoardLoopHooks tool_hooks(std::shared_ptr<std::string> board_path, const std::string &backup,
                                    Console &console, frontend::LogFile &log, std::size_t &current) {
    frontend::BoardLoopHooks hooks;
    hooks.program = kProgram;
    hooks.begin_board = [&console, &current](std::size_t index, std::size_t) {
        current = index;
        console.begin_board(static_cast<int32_t>(index));
    };
    hooks.before_update = [board_path, backup](std::size_t, const frontend::SelectedBoard &board) {
        frontend::check_firmware_path(*board_path, board.handle);
        if (!backup.empty()) save_backup(board.handle, board.system_id, board.board_id, backup);
    };
    hooks.callbacks = [&console, &log](std::size_t) {
        return frontend::UpdateCallbacks{
            [&console](ROMWRIGHT_OPERATION operation) { console.on_operation(operation); },
            [&console](float progress) { console.on_progress(progress); },
            [&log](ROMWRIGHT_LOG_LEVEL level, const std::string &text) { romwright::console::log_line(log, level, text); },
        };
    };
    hooks.board_done = [&log](std::size_t) {
        log.end_entry();
        std::fflush(stdout);
    };
    hooks.stopped = [&log, &console](const frontend::stop_requested_error &stop) {
        console.drop_bar();
        log.append(std::string(stop.what()) + "\n");
    };
    hooks.stop_after_last_board = [&log, &console](const std::string &notice) {
        console.drop_bar();
        log.append(notice + "\n");
        complain(notice);
    };
    return hooks;
}

// A failed update says on the console why, not only in the log.
romwright::error board_failure(const romwright::exception &failure, std::size_t index, std::size_t count) {
    std::string reason = failure.cause() ? failure.cause()->what() : failure.what();
    while (!reason.empty() && reason.back() == '\n') reason.pop_back();
    return romwright::error(error_kind::entry,
                            fmt::format("update of board {}/{} failed: {} (see {})", index + 1, count, reason,
                                        kLogFileName));
}

// A bundle's update: the file for each selected board, picked before the
// first board is changed. Boards the bundle has no file for are left out
// of the run: with a notice when the command line selected all boards (of
// a system), refused (exit 1) when it named the board.
struct BundleRun {
    frontend::OpenedBundle opened;
    frontend::BoardList boards;                // those the bundle has a file for
    std::vector<frontend::BoardFile> files;    // of each, in order
};

BundleRun plan_bundle_run(frontend::OpenedBundle opened, const frontend::BoardList &selected, int32_t board_id,
                          frontend::LogFile &log) {
    BundleRun run{std::move(opened), {}, {}};
    std::vector<std::string> left_alone;
    for (const frontend::SelectedBoard &board : selected) {
        frontend::BoardFile choice;
        if (board.handle) choice = frontend::bundle_file_for(run.opened.bundle, board.handle);
        if (choice.file) {
            run.boards.push_back(board);
            run.files.push_back(choice);
            continue;
        }
        const std::string why =
            board.handle ? fmt::format("Board {}/{} ({}) is not covered by {}: it has no file for a {}",
                                       board.system_id, board.board_id, choice.model.empty() ? "unknown" : choice.model,
                                       run.opened.path, frontend::board_file_described(choice))
                         : fmt::format("The library gives no board for system {}, board {}", board.system_id,
                                       board.board_id);
        if (board_id != 0) throw romwright::error(error_kind::board, why + "; nothing was changed");
        left_alone.push_back(why + "; it is left alone.");
    }
    for (const std::string &notice : left_alone) {
        complain(notice);
        log.append(notice + "\n");
    }
    if (!left_alone.empty()) log.end_entry();
    if (run.boards.empty())
        throw romwright::error(error_kind::board, fmt::format("{} has a file for none of the {} selected boards; "
                                                              "nothing was changed",
                                                              run.opened.path, selected.size()));
    return run;
}

// What each board's record says of the file it took from the bundle.
std::vector<std::optional<frontend::BoardHistory::BundleFileFacts>> file_facts_of(const BundleRun &run) {
    std::vector<std::optional<frontend::BoardHistory::BundleFileFacts>> facts;
    std::map<std::string, frontend::BoardHistory::BundleFileFacts> known;
    for (const frontend::BoardFile &choice : run.files) {
        const BundleFile &file = *choice.file;
        if (!known.count(file.file))
            known[file.file] = {file.file, file.size, adler32_of(run.opened.bundle.file_bytes(file))};
        facts.push_back(known[file.file]);
    }
    return facts;
}

// The log line before each board's update: the bundle, the file the board
// takes from it and who signed it.
std::string bundle_log_line(const BundleRun &run, const frontend::BoardFile &choice) {
    const BundleManifest &manifest = run.opened.bundle.manifest();
    return fmt::format("Bundle = {} ({} {}, made {}): {} for {}, SHA-256 {}; {}\n", run.opened.path, manifest.name,
                       manifest.version, manifest.created, choice.file->file, frontend::board_file_described(choice),
                       choice.file->sha256, frontend::signature_summary(run.opened.signature));
}

} // namespace

int run_update(const Arguments &args) {
    romwright::options options;
    const int32_t system_id = id_option(args, "--system", 0);
    const int32_t board_id = id_option(args, "--board", 0);
    if (const auto out = text(args, "--backup"))
        check_backup_target(*out, flag(args, "--overwrite"), args.at("<file>").asString());
    const std::string path = args.at("<file>").asString();
    frontend::History history(kProgram);
    frontend::BoardHistory records(history, kProgram, path);
    const bool json_output = flag(args, "--json");
    // A bundle is read and checked whole, with its signature, before the
    // first device-library call.
    std::optional<frontend::OpenedBundle> opened;
    if (frontend::is_bundle_path(path)) {
        try {
            opened = frontend::open_bundle(path, bundle_policy(args), kProgram);
        } catch (const romwright::error &refusal) {
            records.bundle_signature(std::nullopt, std::nullopt);
            records.refused({frontend::board_ref_of_ids(system_id, board_id)}, refusal.what());
            throw;
        }
        const frontend::SignatureState &signature = opened->signature;
        if (signature.kind == frontend::SignatureState::Kind::trusted)
            records.bundle_signature(signature.key_id, signature.trusted_comment);
        else
            records.bundle_signature(std::nullopt, std::nullopt);
    }
    if (!versions_accepted(json_output)) {
        records.refused({frontend::board_ref_of_ids(system_id, board_id)}, frontend::kTooOldRecorded);
        return kExitRefused;
    }
    // Under --json standard output holds the document alone: no bar, no text.
    const bool quiet = flag(args, "--quiet") || json_output;
    romwright::console::force_pages(flag(args, "--page0"), flag(args, "--page1"), options);

    if (const auto nothing = frontend::nothing_selected(system_id, board_id))
        throw romwright::error(error_kind::board, *nothing);
    frontend::LogFile log(kProgram, kLogFileName);
    frontend::BoardList boards = frontend::select_by_ids(system_id, board_id);
    std::optional<BundleRun> bundle_run;
    if (opened) {
        try {
            bundle_run = plan_bundle_run(std::move(*opened), boards, board_id, log);
        } catch (const romwright::error &refusal) {
            std::vector<frontend::BoardRef> named;
            for (const frontend::SelectedBoard &board : boards) named.push_back(frontend::board_ref(board));
            records.refused(named, refusal.what());
            throw;
        }
        boards = bundle_run->boards;
        records.board_files(file_facts_of(*bundle_run));
    }
    const std::string backup = text(args, "--backup").value_or("");
    if (!backup.empty() && boards.size() != 1)
        throw romwright::error(error_kind::usage, "--backup takes one board: give --system and --board");
    Console console(quiet, std::cout);
    console.set_board_count(static_cast<uint32_t>(boards.size()));
    const frontend::SectorWrites writes =
        flag(args, "--full") ? frontend::SectorWrites::all : frontend::SectorWrites::differing;
    std::size_t current = 0;
    auto board_path = std::make_shared<std::string>(path);
    frontend::BoardLoopHooks hooks = tool_hooks(board_path, backup, console, log, current);
    // The bundle's files the boards take, in a private folder removed with
    // all it holds when the run ends, however it ends.
    std::optional<frontend::BundleFiles> bundle_files;
    if (bundle_run) {
        bundle_files.emplace(bundle_run->opened.bundle);
        hooks.firmware_file = [&bundle_files, &bundle_run, &log, board_path](std::size_t index,
                                                                             const frontend::SelectedBoard &) {
            const frontend::BoardFile &choice = bundle_run->files.at(index);
            log.append(bundle_log_line(*bundle_run, choice));
            *board_path = bundle_files->path_of(*choice.file);
            return *board_path;
        };
    }
    UpdateDocument document(path, boards.size());
    if (bundle_run) document.bundle(bundle_run->opened.signature, bundle_run->files);
    if (json_output) document.watch(hooks);
    // A run that failed once a board's work had ended still writes its
    // document: the failed board's error is why.
    const auto write_failed_document = [&] {
        if (json_output && document.has_boards()) print("{}", document.text(false));
    };
    try {
        frontend::update_boards(boards, path, options, writes, records.recording(hooks, boards));
    } catch (const romwright::exception &failure) {
        console.drop_bar();
        write_failed_document();
        throw board_failure(failure, current, boards.size());
    } catch (...) {
        write_failed_document();
        throw;
    }
    console.drop_bar();
    if (json_output) print("{}", document.text(true));
    if (!quiet) print("Update of {} board{} successful\n", boards.size(), boards.size() >= 2 ? "s" : "");
    return kExitSuccess;
}

} // namespace romwright::tool
