// What the GUI tests share: a fresh home folder and simulated machine per
// test, firmware files, a watcher that answers message boxes (never blocking
// the test), and waiting on the event loop with a time limit.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QUrl>
#include <gtest/gtest.h>

#include "gui/update_request.hpp"
#include "tests/support/temp_dir.hpp"

namespace guitest {

// Runs the event loop until condition() holds or timeout_ms passes.
bool waitFor(const std::function<bool()> &condition, int timeout_ms = 60000);

// The text of the error that a GUI-thread slot handed to the program's
// top-level handler, or "" when there is none; forgets it and lets event
// loops run again, so the test can go on.
std::string takeFatalErrorText();

// One board of a machine description, as TOML.
struct BoardSpec {
    // Default: a ZEN5191 whose driver offers the flash-sector service.
    explicit BoardSpec(std::string board_name, int board_kind = 36,
                       std::vector<int> driver_features = {2})
        : name(std::move(board_name)), kind(board_kind), features(std::move(driver_features)) {}

    std::string name;
    int kind;
    std::vector<int> features;
    uint32_t flash_size = 0x100000;      // small, so a test's flash files stay small
    std::string extra;                   // more TOML lines for this board (tables after keys)
};

// A machine description with the given library/driver versions.
std::string machineToml(const std::vector<std::vector<BoardSpec>> &systems,
                        const std::string &library_version = "7.4.0",
                        const std::string &driver_version = "7.4.0");

// Bytes of a test firmware file: a pattern that no erased flash holds.
std::vector<uint8_t> firmwareBytes(std::size_t size);

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override;
    // Fails the test when an exception left an event handler while it ran.
    void TearDown() override;

    // Writes the machine description, points the simulator at it and at this
    // test's state folder, and makes the simulator load it afresh.
    void useMachine(const std::string &toml);

    std::string home() const { return temp_->file("home"); }
    std::string desktop() const { return home() + "/Desktop"; }
    std::string logPath() const { return home() + "/Documents/Korvelon/romwright.log"; }
    std::string stateDir() const { return temp_->file("state"); }
    std::string machinePath() const { return temp_->file("machine.toml"); }
    std::string historyPath() const { return temp_->file("history.sqlite"); }

    // Writes a firmware file of size bytes at folder/name; returns its path.
    std::string writeFirmware(const std::string &folder, const std::string &name,
                              std::size_t size = 0x18000);
    // The simulated flash of a board, as it is now.
    std::vector<uint8_t> flashOf(const std::string &board_name) const;
    static bool erased(const std::vector<uint8_t> &bytes, std::size_t from = 0);

    std::unique_ptr<testsupport::TempDir> temp_;
};

// Watches for modal message boxes, records them and presses a button.
struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton default_button = QMessageBox::NoButton;
    bool has_parent = false;
    bool main_window_open = false;  // a MainWindow existed when the box showed
};

// Sends update requests the way the main window does: a queued signal with
// the seven arguments of FirmwareUpdateWorker::update_firmware.
class Requester : public QObject {
    Q_OBJECT

signals:
    void request(std::string path, ba::endpoint host, int system_id, int board_id,
                 romwright::options options, romwrite_mode mode, bool verbose_log);
};

// Stands in for the desktop's handler of local files.
class UrlCatcher : public QObject {
    Q_OBJECT

public:
    std::vector<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened.push_back(url); }
};

// Collects the program's Qt warnings while it lives.
class WarningCollector {
public:
    WarningCollector();
    ~WarningCollector();
    const std::vector<QString> &warnings() const;
};

class MessageBoxAnswerer : public QObject {
public:
    // answer: the button to press; NoButton presses the box's default button.
    explicit MessageBoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::NoButton);

    const std::vector<SeenBox> &seen() const { return seen_; }
    bool waitForBoxes(std::size_t count, int timeout_ms = 60000) const;

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    QMessageBox::StandardButton answer_;
    std::vector<SeenBox> seen_;
};

} // namespace guitest
