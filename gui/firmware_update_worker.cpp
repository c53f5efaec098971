#include "gui/firmware_update_worker.hpp"

#include <memory>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>

#include "engine/version.hpp"
#include "gui/library_version.hpp"
#include "gui/progress_throttle.hpp"
#include "zenapi/Zenapi.h"

namespace {

using board_list = std::vector<void *>;

// Counts are asked again before every comparison: the library's view of the
// machine is the truth, not a snapshot.
board_list boardsOfSystem(uint32_t system_id) {
    board_list boards;
    for (uint32_t board = 1; board <= KorvelBoardsInSystemBySystemID(system_id); ++board)
        boards.push_back(KorvelGetBoardBySystemID(system_id, board));
    return boards;
}

board_list boardsOfAllSystems() {
    board_list boards;
    for (uint32_t system = 1; system <= KorvelNumOfSystems(); ++system) {
        const board_list of_system = boardsOfSystem(system);
        boards.insert(boards.end(), of_system.begin(), of_system.end());
    }
    return boards;
}

// Null handles stay in the list: the engine reports them per board.
board_list selectBoards(romwrite_mode mode, int system_id, int board_id) {
    switch (mode) {
    case all_boards:
        return boardsOfAllSystems();
    case board_system:
        return boardsOfSystem(static_cast<uint32_t>(system_id));
    case single_board:
        return {KorvelGetBoardBySystemID(static_cast<uint32_t>(system_id),
                                         static_cast<uint32_t>(board_id))};
    }
    return {};
}

void refuseOldLibraryOrDriver() {
    using namespace romwright_gui;
    const bool too_old = isTooOld(querySdkVersion()) || isTooOld(queryDriverVersion());
    if (too_old)
        throw std::runtime_error(
            "Library or driver is too old to update the firmware safely. Please download and "
            "install the lastet Zenapi driver from the Korvelon website.");
}

engine_callbacks &callbacksOf(void *user_data) {
    return *static_cast<engine_callbacks *>(user_data);
}

} // namespace

void engine_operation_callback(ROMWRIGHT_OPERATION operation, void *user_data) {
    callbacksOf(user_data).on_operation(operation);
}

void engine_progress_callback(float progress, void *user_data) {
    callbacksOf(user_data).on_progress(progress);
}

void engine_log_callback(ROMWRIGHT_LOG_LEVEL level, const char *text, void *user_data) {
    callbacksOf(user_data).on_log(level, text ? std::string(text) : std::string());
}

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
    try {
        const board_list boards = selectBoards(mode, system_id, board_id);
        refuseOldLibraryOrDriver();
        const int total = static_cast<int>(boards.size());
        emit log(ROMWRIGHT_LOG_INFO, fmt::format("Will update {} boards\n", total));
        for (int i = 0; i < total; ++i) {
            emit board_changed(i + 1, total);
            engine_callbacks callbacks = makeEngineCallbacks(verbose_log);
            emit log(ROMWRIGHT_LOG_INFO, fmt::format("Update board board {}\n", i));
            const romwright::options board_options(options);
            const ROMWRIGHT_RC result = romwright_update_firmware(
                path.c_str(), boards[static_cast<size_t>(i)], engine_operation_callback,
                engine_progress_callback, engine_log_callback, board_options.record(), &callbacks);
            if (result != ROMWRIGHT_RC_SUCCESS)
                throw romwright::exception(result);
        }
    } catch (const romwright::exception &error) {
        return error.code();
    } catch (const std::exception &error) {
        emit log(ROMWRIGHT_LOG_ERROR, fmt::format("Uncaught error: {}\n", error.what()));
        return ROMWRIGHT_RC_ERROR;
    }
    return ROMWRIGHT_RC_SUCCESS;
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
