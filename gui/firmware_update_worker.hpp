// The update worker: lives on its own thread, takes one update request at a
// time as a queued slot call, runs the engine once per selected board and
// reports back through signals that reach the GUI thread queued.
#pragma once

#include <functional>
#include <string>

#include <QObject>

#include "engine/options.hpp"
#include "engine/romwright.h"
#include "gui/update_request.hpp"

// What the engine's plain-function callbacks forward to. Its address is the
// user data pointer of one engine call.
struct engine_callbacks {
    std::function<void(ROMWRIGHT_OPERATION)> on_operation;
    std::function<void(float)> on_progress;
    std::function<void(ROMWRIGHT_LOG_LEVEL, std::string)> on_log;
};

// The engine's callback signatures, forwarding into the engine_callbacks
// record that user_data points at.
void engine_operation_callback(ROMWRIGHT_OPERATION operation, void *user_data);
void engine_progress_callback(float progress, void *user_data);
void engine_log_callback(ROMWRIGHT_LOG_LEVEL level, const char *text, void *user_data);

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
    void log(ROMWRIGHT_LOG_LEVEL level, std::string text);

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
};
