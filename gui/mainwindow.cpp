#include "mainwindow.hpp"

#include <algorithm>
#include <stdexcept>

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <fmt/format.h>

#include <romwright/frontend/board_selection.hpp>
#include <romwright/frontend/firmware_name.hpp>
#include <romwright/frontend/stop_request.hpp>
#include <romwright/frontend/version_gate.hpp>
#include <romwright/version.hpp>

#include "fatal_error.hpp"
#include "options_dialog.hpp"
#include "update_progress_widget.hpp"

namespace {

const char *const kTooOldTitle = "Zenapi library or driver too old";
const char *const kTooOldText =
    "The Zenapi library and driver installed on your system is too old to perform a safe "
    "update. Please update them from Korvelon's website and start this application again";
const char *const kSucceededText =
    "The update has completed successfully. Please note that the new firmware will only be "
    "loaded the next time the computer is shut down and started again.";
const char *const kFailedText =
    "The update has failed with error code %1. Press 'Open' to see the full log file of the "
    "update.";

constexpr int kBrowseButtonWidth = 30;
constexpr int kPathFieldMinimumWidth = 380;
// How often the window looks for a stop request (SIGTERM, Ctrl+C, ...).
constexpr int kStopPollMs = 100;

QSpinBox *newIdBox(QWidget *parent, const char *name) {
    auto *box = new QSpinBox(parent);
    box->setMinimum(1);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

// A row under a radio button: the form pushed to the right by a stretch.
QFormLayout *addIndentedForm(QVBoxLayout *column) {
    auto *row = new QHBoxLayout;
    row->addStretch();
    auto *form = new QFormLayout;
    row->addLayout(form);
    column->addLayout(row);
    return form;
}

void showTooOld() {
    QMessageBox::critical(nullptr, QString::fromLatin1(kTooOldTitle),
                          QString::fromLatin1(kTooOldText), QMessageBox::Ok);
}

} // namespace

QString defaultFirmwareFilePath() {
    QDir desktop = QDir::home();
    if (!desktop.cd(QStringLiteral("Desktop"))) {
        qWarning("Cannot find the user's desktop");
        return {};
    }
    const QFileInfoList files = desktop.entryInfoList(
        {QStringLiteral("*.pof"), QStringLiteral("*.rpd")}, QDir::Files, QDir::Unsorted);
    if (files.size() != 1)
        return {};
    return files.first().absoluteFilePath();
}

QString logFilePath(const std::string &name) {
    QDir folder(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    const QString korvelon = QStringLiteral("Korvelon");
    if (!folder.exists(korvelon) && !folder.mkpath(korvelon))
        throw std::runtime_error("Couldn't create Korvelon dir in Documents");
    if (!folder.cd(korvelon))
        throw std::runtime_error("Couldn't cd into Korvelon dir in Documents");
    return folder.filePath(QString::fromStdString(name));
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent),
      options_dialog(new OptionsDialog(this)),
      progress_widget(new UpdateProgressWidget(this)),
      // Text mode, as a log the user reads in an editor.
      log_file("romwright-gui",
               [this] { return logFilePath(log_file_name).toUtf8().toStdString(); }, "a") {
    settings.file_path = defaultFirmwareFilePath();
    buildWidgets();
    connectControls();
    setWindowTitle(QString::fromStdString(fmt::format("Firmware Updater v{}", romwright::kVersion)));
    refreshControls();
    setWindowIcon(QIcon(QStringLiteral(":/romwright-gui.ico")));
    romwright_gui::registerUpdateMetaTypes();
    auto *update_shortcut = new QShortcut(QKeySequence(Qt::Key_Return), this);
    connect(update_shortcut, &QShortcut::activated, this, &MainWindow::update);
    connectWorker();
    worker.moveToThread(&worker_thread);
    worker_thread.start(QThread::InheritPriority);
    watchForStopRequests();
}

MainWindow::~MainWindow() {
    // A running request finishes first: the engine must not be cut off mid-write.
    worker_thread.exit(0);
    worker_thread.wait();
    // Its last log lines are still queued for this window; write them, so the
    // log file tells how the update ended. The outcome box is not shown then.
    closing = true;
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void MainWindow::buildWidgets() {
    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);

    auto *file_group = new QGroupBox(QStringLiteral("Update file"), central);
    auto *file_row = new QHBoxLayout(file_group);
    file_path_edit = new QLineEdit(file_group);
    file_path_edit->setObjectName(QStringLiteral("filePathLineEdit"));
    // Wide enough to show a typical firmware path whole.
    file_path_edit->setMinimumWidth(kPathFieldMinimumWidth);
    file_row->addWidget(file_path_edit);
    auto *browse_button = new QPushButton(QStringLiteral("..."), file_group);
    browse_button->setObjectName(QStringLiteral("browseButton"));
    browse_button->setFixedWidth(kBrowseButtonWidth);
    file_row->addWidget(browse_button);
    connect(browse_button, &QPushButton::clicked, this, &MainWindow::browse);
    column->addWidget(file_group);

    auto *boards_group = new QGroupBox(QStringLiteral("Boards to update"), central);
    auto *boards_column = new QVBoxLayout(boards_group);
    single_board_button = new QRadioButton(QStringLiteral("Single Board"), boards_group);
    single_board_button->setObjectName(QStringLiteral("singleBoardRadioButton"));
    boards_column->addWidget(single_board_button);
    QFormLayout *single_form = addIndentedForm(boards_column);
    board_id_box = newIdBox(boards_group, "boardIdSpinBox");
    system_id_box = newIdBox(boards_group, "systemIdSpinBox");
    single_form->addRow(QStringLiteral("Board ID"), board_id_box);
    single_form->addRow(QStringLiteral("System ID"), system_id_box);
    board_system_button = new QRadioButton(QStringLiteral("Board System"), boards_group);
    board_system_button->setObjectName(QStringLiteral("boardSystemRadioButton"));
    boards_column->addWidget(board_system_button);
    board_system_id_box = newIdBox(boards_group, "boardSystemIdSpinBox");
    addIndentedForm(boards_column)->addRow(QStringLiteral("System ID"), board_system_id_box);
    all_boards_button = new QRadioButton(QStringLiteral("All Boards"), boards_group);
    all_boards_button->setObjectName(QStringLiteral("allBoardsRadioButton"));
    boards_column->addWidget(all_boards_button);
    addIndentedForm(boards_column);
    column->addWidget(boards_group);

    column->addStretch();

    auto *button_row = new QHBoxLayout;
    button_row->addStretch();
    auto *exit_button = new QPushButton(QStringLiteral("exit"), central);
    exit_button->setObjectName(QStringLiteral("exitButton"));
    button_row->addWidget(exit_button);
    connect(exit_button, &QPushButton::clicked, qApp, &QCoreApplication::quit);
    update_button = new QPushButton(QStringLiteral("update"), central);
    update_button->setObjectName(QStringLiteral("updateButton"));
    button_row->addWidget(update_button);
    connect(update_button, &QPushButton::clicked, this, &MainWindow::update);
    column->addLayout(button_row);

    setCentralWidget(central);
}

void MainWindow::connectControls() {
    const auto modeButton = [this](QRadioButton *button, romwrite_mode mode) {
        connect(button, &QRadioButton::clicked, this, [this, mode](bool checked) {
            if (checked)
                selectMode(mode);
        });
    };
    modeButton(single_board_button, single_board);
    modeButton(board_system_button, board_system);
    modeButton(all_boards_button, all_boards);

    connect(board_id_box, qOverload<int>(&QSpinBox::valueChanged), this, [this](int value) {
        if (value != settings.board_id) {
            settings.board_id = value;
            refreshControls();
        }
    });
    for (QSpinBox *box : {system_id_box, board_system_id_box}) {
        connect(box, qOverload<int>(&QSpinBox::valueChanged), this, [this](int value) {
            if (value != settings.system_id) {
                settings.system_id = value;
                refreshControls();
            }
        });
    }
    // Typed paths take effect; refreshControls leaves the field alone while
    // it already shows file_path, so the cursor stays where the user types.
    connect(file_path_edit, &QLineEdit::textChanged, this,
            &MainWindow::on_filePathLineEdit_textChanged);
}

void MainWindow::connectWorker() {
    connect(&worker, &FirmwareUpdateWorker::board_changed, progress_widget,
            &UpdateProgressWidget::onBoardChanged);
    connect(&worker, &FirmwareUpdateWorker::operation_changed, progress_widget,
            &UpdateProgressWidget::onOperationChanged);
    connect(&worker, &FirmwareUpdateWorker::progress_changed, progress_widget,
            &UpdateProgressWidget::onProgressChanged);
    connect(&worker, &FirmwareUpdateWorker::update_done, this, &MainWindow::onUpdateDone);
    connect(&worker, &FirmwareUpdateWorker::log, this, &MainWindow::onLog);
    connect(&worker, &FirmwareUpdateWorker::board_done, this, &MainWindow::onBoardDone);
    connect(&worker, &FirmwareUpdateWorker::board_busy, this, &MainWindow::onBoardBusy);
    connect(this, &MainWindow::start_update_firmware, &worker,
            &FirmwareUpdateWorker::update_firmware);
    connect(options_dialog, &OptionsDialog::optionsChanged, this, &MainWindow::onOptionsChanged);
}

void MainWindow::browse() {
    QDir start = QDir::home();
    if (!start.cd(QStringLiteral("Desktop")))
        qWarning("Desktop not found.");
    const QString chosen = QFileDialog::getOpenFileName(
        this, tr("Open File"), start.absolutePath(), tr("Korvel POF File (*.pof *.rpd)"));
    if (chosen.isEmpty())
        return;
    settings.file_path = chosen;
    refreshControls();
}

void MainWindow::selectMode(romwrite_mode mode) {
    settings.mode = mode;
    refreshControls();
}

void MainWindow::refreshControls() {
    if (file_path_edit->text() != settings.file_path)
        file_path_edit->setText(settings.file_path);
    system_id_box->setValue(settings.system_id);
    board_system_id_box->setValue(settings.system_id);
    board_id_box->setValue(settings.board_id);

    switch (settings.mode) {
    case all_boards:
        board_id_box->setEnabled(false);
        system_id_box->setEnabled(false);
        board_system_id_box->setEnabled(false);
        all_boards_button->setChecked(true);
        break;
    case board_system:
        board_system_id_box->setEnabled(true);
        board_id_box->setEnabled(false);
        system_id_box->setEnabled(false);
        board_system_button->setChecked(true);
        break;
    case single_board:
        board_system_id_box->setEnabled(false);
        board_id_box->setEnabled(true);
        system_id_box->setEnabled(true);
        single_board_button->setChecked(true);
        break;
    }
}

void MainWindow::on_filePathLineEdit_textChanged(QString text) {
    settings.file_path = text;
    refreshControls();
}

bool MainWindow::libraryAndDriverAccepted() {
    if (romwright::frontend::library_and_driver_recent_enough())
        return true;
    showTooOld();
    return false;
}

bool MainWindow::firmwareFileUsable() {
    if (settings.file_path.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Empty update file"),
                             QStringLiteral("The firmware file is empty"));
        return false;
    }
    // A folder is not a firmware file, whatever its name.
    if (!QFileInfo(settings.file_path).isFile()) {
        QMessageBox::warning(this, QStringLiteral("Invalid update file"),
                             QStringLiteral("The firmware file path is invalid"));
        return false;
    }
    return true;
}

// Whatever the mode, the board named by the single-board fields decides
// which model the file must be made for.
void MainWindow::checkBoardModel() const {
    const romwright::frontend::BoardList board = romwright::frontend::one_board(
        static_cast<uint32_t>(settings.system_id), static_cast<uint32_t>(settings.board_id));
    romwright::frontend::check_board_model(settings.file_path.toUtf8().toStdString(), board.front().handle);
}

void MainWindow::update() {
    romwright_gui::guarded([this] { checkAndStart(); });
}

void MainWindow::checkAndStart() {
    if (!libraryAndDriverAccepted() || !firmwareFileUsable())
        return;
    checkBoardModel();
    update_button->setEnabled(false);
    progress_widget->show();
    ++running_requests;
    emit start_update_firmware(settings.file_path.toUtf8().toStdString(), settings.host,
                               settings.system_id, settings.board_id, settings.opts,
                               settings.mode, settings.verbose_log);
}

void MainWindow::onLog(ROMWRIGHT_LOG_LEVEL level, std::string text) {
    log_file.append(level == ROMWRIGHT_LOG_ERROR ? "Error: " + text : text);
}

void MainWindow::onBoardDone(int /*current_board*/) {
    log_file.end_entry();
}

void MainWindow::onBoardBusy(std::string message) {
    busy_message = std::move(message);
}

void MainWindow::onUpdateDone(ROMWRIGHT_RC return_code) {
    log_file.end_entry();
    if (closing) return;
    running_requests = std::max(0, running_requests - 1);
    if (romwright::frontend::stop_requested()) {
        endAfterStop(return_code);
        return;
    }
    romwright_gui::guarded([this, return_code] { showOutcome(return_code); });
}

// A stop request (SIGTERM, Ctrl+C, a closed session) ends the program at
// once while no update runs; during one, the worker stops before its next
// board and onUpdateDone ends the program when the last request is done.
void MainWindow::watchForStopRequests() {
    auto *poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this] {
        if (running_requests == 0 && romwright::frontend::stop_requested())
            QCoreApplication::exit(stop_status);
    });
    poll->start(kStopPollMs);
}

// No message box: nobody may be there to answer it. The status tells whether
// a board was left undone.
void MainWindow::endAfterStop(ROMWRIGHT_RC return_code) {
    if (return_code != ROMWRIGHT_RC_SUCCESS)
        stop_status = 1;
    if (running_requests == 0)
        QCoreApplication::exit(stop_status);
}

void MainWindow::showOutcome(ROMWRIGHT_RC return_code) {
    update_button->setEnabled(true);
    progress_widget->hide();
    if (return_code == ROMWRIGHT_RC_SUCCESS) {
        QMessageBox::information(this, QStringLiteral("Update succeeded"),
                                 QString::fromLatin1(kSucceededText), QMessageBox::Ok);
        return;
    }
    showFailure(return_code);
}

// A board that another program writes: the box names it and the program,
// and nothing was changed; otherwise the log tells what failed.
void MainWindow::showFailure(ROMWRIGHT_RC return_code) {
    if (!busy_message.empty()) {
        const QString message = QString::fromStdString(busy_message);
        busy_message.clear();
        QMessageBox::warning(this, QStringLiteral("Board in use"), message, QMessageBox::Ok);
        return;
    }
    try {
        const QString log_path = logFilePath(log_file_name);
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Update failed"),
                        QString::fromLatin1(kFailedText).arg(return_code),
                        QMessageBox::Open | QMessageBox::Ok, this);
        box.setDefaultButton(QMessageBox::Ok);
        if (box.exec() == QMessageBox::Open)
            QDesktopServices::openUrl(QUrl::fromLocalFile(log_path));
    } catch (const std::exception &) {
        QMessageBox::warning(this, QStringLiteral("Update failed"),
                             QStringLiteral("The update has failed."), QMessageBox::Ok);
    }
}

void MainWindow::onOptionsChanged(romwright::options options, bool verbose_log) {
    romwright_gui::guarded([&] {
        settings.opts = options;
        settings.verbose_log = verbose_log;
    });
}

void MainWindow::keyPressEvent(QKeyEvent *event) {
    if (event->key() != Qt::Key_F5 || event->modifiers() != Qt::ControlModifier)
        return;
    romwright_gui::guarded([this] {
        options_dialog->setOptions(settings.opts, settings.verbose_log);
        options_dialog->show();
    });
}
