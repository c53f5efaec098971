// The update worker: lives on its own thread, takes one update request at a
// time as a queued slot call, runs the engine once per selected board and
// reports back through signals that reach the GUI thread queued.
#pragma once

#include <string>

#include <QObject>

#include <romwright/frontend/board_loop.hpp>
#include <romwright/frontend/board_update.hpp>
#include <romwright/options.hpp>
#include <romwright/romwright.h>

#include "update_request.hpp"

// What the engine's plain-function callbacks forward to. Its address is the
// user data pointer of one engine call.
using engine_callbacks = romwright::frontend::UpdateCallbacks;

// The engine's callback signatures, forwarding into the engine_callbacks
// record that user_data points at.
inline constexpr ROMWRIGHT_OPERATION_CALLBACK engine_operation_callback = romwright::frontend::forward_operation;
inline constexpr ROMWRIGHT_PROGRESS_CALLBACK engine_progress_callback = romwright::frontend::forward_progress;
inline constexpr ROMWRIGHT_LOG_CALLBACK engine_log_callback = romwright::frontend::forward_log;

class FirmwareUpdateWorker : public QObject {
    Q_OBJECT

public:
    FirmwareUpdateWorker();

    // The callbacks of one engine call: they emit this worker's signals from
    // the calling (worker) thread, drop level-0 lines unless verbose_log is
    // set, and forward only the progress reports that change what the
    // progress window shows.
    engine_callbacks makeEngineCallbacks(bool verbose_log);

signals:
    void board_changed(int current_board, int total_boards);
    void operation_changed(ROMWRIGHT_OPERATION operation);
    void progress_changed(float progress);
    void update_done(ROMWRIGHT_RC return_code);
    // Another program is writing a board of the request, which was turned
    // away before anything was changed; message names the board and the
    // program. Comes before update_done.
    void board_busy(std::string message);
    void log(ROMWRIGHT_LOG_LEVEL level, std::string text);
    // The engine's work on board current_board (counted from 1) has ended,
    // well or not: its log lines are all sent, so a text it left without a
    // line break can be ended.
    void board_done(int current_board);

public slots:
    void update_firmware(std::string path, ba::endpoint host, int system_id, int board_id,
                         romwright::options options, romwrite_mode mode, bool verbose_log);
    void send_operation_changed(ROMWRIGHT_OPERATION operation);
    void send_progress_changed(float progress);
    void send_log(ROMWRIGHT_LOG_LEVEL level, std::string text);

private:
    ROMWRIGHT_RC updateBoards(const std::string &path, int system_id, int board_id,
                              const romwright::options &options, romwrite_mode mode,
                              bool verbose_log);
    // What the board loop tells this worker's signals.
    romwright::frontend::BoardLoopHooks loopHooks(bool verbose_log);
};
