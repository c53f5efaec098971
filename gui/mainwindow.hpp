// The main window: collects one update request (file, boards, options),
// checks the library, the driver, the file and the board model, hands the
// request to the worker thread, logs what the worker reports and shows the
// outcome.
#pragma once

#include <string>

#include <QMainWindow>
#include <QString>
#include <QThread>

#include <romwright/frontend/log_file.hpp>
#include <romwright/options.hpp>
#include <romwright/romwright.h>

#include "firmware_update_worker.hpp"
#include "update_request.hpp"

class QKeyEvent;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class OptionsDialog;
class UpdateProgressWidget;

// The one .pof or .rpd file on the user's Desktop, or an empty string when
// there is none, more than one, or no Desktop.
QString defaultFirmwareFilePath();

// Path of name inside Documents/Korvelon, creating the folder when needed;
// std::runtime_error when the folder cannot be made or entered.
QString logFilePath(const std::string &name);

// The request the window holds and edits; kept in memory only.
struct update_settings {
    QString file_path;
    ba::endpoint host;
    int system_id = 1;
    int board_id = 1;
    romwright::options opts;
    bool verbose_log = false;
    romwrite_mode mode = single_board;
};

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

signals:
    void start_update_firmware(std::string file_path, ba::endpoint host, int system_id,
                               int board_id, romwright::options opts, romwrite_mode mode,
                               bool verbose_log);

private slots:
    void onUpdateDone(ROMWRIGHT_RC return_code);
    void onOptionsChanged(romwright::options options, bool verbose_log);
    void onLog(ROMWRIGHT_LOG_LEVEL level, std::string text);
    void onBoardDone(int current_board);
    void onBoardBusy(std::string message);
    void on_filePathLineEdit_textChanged(QString text);
    // Checks the request and starts it. Hides QWidget::update on purpose:
    // the window never asks for a repaint by that name.
    void update();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildWidgets();
    void connectControls();
    void connectWorker();
    void browse();
    void checkAndStart();
    void showOutcome(ROMWRIGHT_RC return_code);
    void selectMode(romwrite_mode mode);
    void refreshControls();
    bool libraryAndDriverAccepted();
    bool firmwareFileUsable();
    void checkBoardModel() const;
    void showFailure(ROMWRIGHT_RC return_code);
    void watchForStopRequests();
    void endAfterStop(ROMWRIGHT_RC return_code);

    OptionsDialog *options_dialog;
    UpdateProgressWidget *progress_widget;
    update_settings settings;
    FirmwareUpdateWorker worker;
    QThread worker_thread;
    std::string log_file_name = "romwright.log";
    romwright::frontend::LogFile log_file;
    bool closing = false;  // set once the destructor has waited for the worker
    int running_requests = 0;  // sent to the worker and not yet done
    int stop_status = 0;       // exit status after a stop request: 1 once a board was left undone
    std::string busy_message;  // why the running request's board was turned away, if it was

    QLineEdit *file_path_edit = nullptr;
    QSpinBox *board_id_box = nullptr;
    QSpinBox *system_id_box = nullptr;
    QSpinBox *board_system_id_box = nullptr;
    QRadioButton *single_board_button = nullptr;
    QRadioButton *board_system_button = nullptr;
    QRadioButton *all_boards_button = nullptr;
    QPushButton *update_button = nullptr;
};
