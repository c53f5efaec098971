#include "firmware_update_worker.hpp"

#include <memory>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>

#include <romwright/frontend/board_lock.hpp>
#include <romwright/frontend/board_history.hpp>
#include <romwright/frontend/board_loop.hpp>
#include <romwright/frontend/board_selection.hpp>
#include <romwright/frontend/history.hpp>
#include <romwright/frontend/stop_request.hpp>
#include <romwright/frontend/version_gate.hpp>
#include <romwright/version.hpp>

#include "progress_throttle.hpp"

namespace {

namespace frontend = romwright::frontend;

constexpr const char *kProgramName = "romwright-gui";

// Null handles stay in the list: the engine reports them per board.
frontend::BoardList selectBoards(romwrite_mode mode, int system_id, int board_id) {
    switch (mode) {
    case all_boards:
        return frontend::boards_of_all_systems();
    case board_system:
        return frontend::boards_of_system(static_cast<uint32_t>(system_id));
    case single_board:
        return frontend::one_board(static_cast<uint32_t>(system_id), static_cast<uint32_t>(board_id));
    }
    return {};
}

// A refusal is in the update history too, for each board selected.
void refuseOldLibraryOrDriver(frontend::BoardHistory &records, const frontend::BoardList &selected) {
    if (frontend::library_and_driver_recent_enough()) return;
    std::vector<frontend::BoardRef> boards;
    for (const frontend::SelectedBoard &board : selected) boards.push_back(frontend::board_ref(board));
    records.refused(boards, frontend::kTooOldRecorded);
    throw std::runtime_error(
        "Library or driver is too old to update the firmware safely. Please download and "
        "install the lastet Zenapi driver from the Korvelon website.");
}

} // namespace

FirmwareUpdateWorker::FirmwareUpdateWorker() : QObject(nullptr) {}

engine_callbacks FirmwareUpdateWorker::makeEngineCallbacks(bool verbose_log) {
    // Shared by the operation and progress callables; lives as long as they do.
    auto throttle = std::make_shared<romwright_gui::progress_throttle>();
    engine_callbacks callbacks;
    callbacks.on_operation = [this, throttle](ROMWRIGHT_OPERATION operation) {
        throttle->operationReported();
        emit operation_changed(operation);
    };
    callbacks.on_progress = [this, throttle](float progress) {
        if (throttle->shouldForward(progress))
            emit progress_changed(progress);
    };
    callbacks.on_log = [this, verbose_log](ROMWRIGHT_LOG_LEVEL level, std::string text) {
        if (level > ROMWRIGHT_LOG_DEBUG || verbose_log)
            emit log(level, std::move(text));
    };
    return callbacks;
}

void FirmwareUpdateWorker::update_firmware(std::string path, ba::endpoint /*host*/,
                                           int system_id, int board_id,
                                           romwright::options options, romwrite_mode mode,
                                           bool verbose_log) {
    emit log(ROMWRIGHT_LOG_INFO, fmt::format("Start firmware update (v{})\n", romwright::kVersion));
    const ROMWRIGHT_RC rc = updateBoards(path, system_id, board_id, options, mode, verbose_log);
    emit log(ROMWRIGHT_LOG_INFO, fmt::format("Update finished. Return code {}\n", rc));
    emit update_done(rc);
}

ROMWRIGHT_RC FirmwareUpdateWorker::updateBoards(const std::string &path, int system_id,
                                                int board_id, const romwright::options &options,
                                                romwrite_mode mode, bool verbose_log) {
    // Everything is caught here: a request always ends with exactly one
    // update_done, and no exception may leave a slot on the worker thread.
    frontend::History history(kProgramName);
    frontend::BoardHistory records(history, kProgramName, path);
    try {
        const frontend::BoardList boards = selectBoards(mode, system_id, board_id);
        refuseOldLibraryOrDriver(records, boards);
        emit log(ROMWRIGHT_LOG_INFO, fmt::format("Will update {} boards\n", boards.size()));
        frontend::update_boards(boards, path, options, frontend::SectorWrites::all,
                                records.recording(loopHooks(verbose_log), boards));
    } catch (const romwright::exception &error) {
        return error.code();
    } catch (const frontend::stop_requested_error &) {
        return ROMWRIGHT_RC_ERROR;
    } catch (const frontend::board_busy_error &busy) {
        emit log(ROMWRIGHT_LOG_ERROR, std::string(busy.what()) + "\n");
        emit board_busy(busy.what());
        return ROMWRIGHT_RC_ERROR;
    } catch (const std::exception &error) {
        emit log(ROMWRIGHT_LOG_ERROR, fmt::format("Uncaught error: {}\n", error.what()));
        return ROMWRIGHT_RC_ERROR;
    }
    return ROMWRIGHT_RC_SUCCESS;
}

// The window hears of each board (counted from 1) through signals; a stop
// requested meanwhile ends the request before the next board, in the log.
frontend::BoardLoopHooks FirmwareUpdateWorker::loopHooks(bool verbose_log) {
    frontend::BoardLoopHooks hooks;
    hooks.program = kProgramName;
    hooks.begin_board = [this](std::size_t index, std::size_t count) {
        emit board_changed(static_cast<int>(index) + 1, static_cast<int>(count));
        emit log(ROMWRIGHT_LOG_INFO, fmt::format("Update board board {}\n", index));
    };
    hooks.callbacks = [this, verbose_log](std::size_t) { return makeEngineCallbacks(verbose_log); };
    hooks.board_done = [this](std::size_t index) { emit board_done(static_cast<int>(index) + 1); };
    hooks.stopped = [this](const frontend::stop_requested_error &stop) {
        emit log(ROMWRIGHT_LOG_ERROR, std::string(stop.what()) + "\n");
    };
    return hooks;
}

void FirmwareUpdateWorker::send_operation_changed(ROMWRIGHT_OPERATION operation) {
    emit operation_changed(operation);
}

void FirmwareUpdateWorker::send_progress_changed(float progress) {
    emit progress_changed(progress);
}

void FirmwareUpdateWorker::send_log(ROMWRIGHT_LOG_LEVEL level, std::string text) {
    emit log(level, std::move(text));
}
