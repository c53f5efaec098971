#include "tests/gui/gui_test_support.hpp"

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <fmt/format.h>

#include "gui/fatal_error.hpp"

#if __has_include("zenapi/zenapi_sim.h")
#include <zenapi/zenapi_sim.h>
#define GUI_TEST_HAS_SIM_RELOAD 1
#endif

namespace guitest {

bool waitFor(const std::function<bool()> &condition, int timeout_ms) {
    QDeadlineTimer deadline(timeout_ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qSleep(1);
    }
    return true;
}

std::string takeFatalErrorText() {
    const std::exception_ptr error = romwright_gui::takeFatalError();
    if (!error)
        return {};
    // The error told every event loop to end; a short run of the
    // application's own loop clears that.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &caught) {
        return caught.what();
    }
}

std::string machineToml(const std::vector<std::vector<BoardSpec>> &systems,
                        const std::string &library_version, const std::string &driver_version) {
    std::string toml = fmt::format("[library]\nversion = \"{}\"\ndriver_version = \"{}\"\n",
                                   library_version, driver_version);
    for (const auto &system : systems) {
        toml += "\n[[system]]\n";
        for (const auto &board : system) {
            std::string features;
            for (int feature : board.features)
                features += (features.empty() ? "" : ", ") + std::to_string(feature);
            toml += fmt::format("\n[[system.board]]\nname = \"{}\"\nkind = {}\nfeatures = [{}]\n"
                                "flash_size = 0x{:X}\n",
                                board.name, board.kind, features, board.flash_size);
            toml += board.extra;
        }
    }
    return toml;
}

std::vector<uint8_t> firmwareBytes(std::size_t size) {
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0x7F);
    return bytes;
}

void GuiTest::SetUp() {
    temp_ = std::make_unique<testsupport::TempDir>("gui");
    QDir().mkpath(QString::fromStdString(home()));
    QDir().mkpath(QString::fromStdString(stateDir()));
    // The Documents folder (and so the log) and the Desktop are the test's own.
    qputenv("HOME", QByteArray::fromStdString(home()));
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DOCUMENTS_DIR");
    qputenv("ZENAPI_SIM_STATE_DIR", QByteArray::fromStdString(stateDir()));
    // The board locks too, as a machine of its own has.
    qputenv("ROMWRIGHT_LOCK_DIR", QByteArray::fromStdString(temp_->file("locks")));
    // The update history too.
    qputenv("ROMWRIGHT_HISTORY", QByteArray::fromStdString(historyPath()));
}

void GuiTest::TearDown() {
    EXPECT_EQ(takeFatalErrorText(), "") << "a slot ended the event loop with an error";
}

void GuiTest::useMachine(const std::string &toml) {
    testsupport::write_text(machinePath(), toml);
    qputenv("ZENAPI_SIM_CONFIG", QByteArray::fromStdString(machinePath()));
#ifdef GUI_TEST_HAS_SIM_RELOAD
    ZenSimReload();
#endif
}

std::string GuiTest::writeFirmware(const std::string &folder, const std::string &name,
                                   std::size_t size) {
    QDir().mkpath(QString::fromStdString(folder));
    const std::string path = folder + "/" + name;
    testsupport::write_file(path, firmwareBytes(size));
    return path;
}

std::vector<uint8_t> GuiTest::flashOf(const std::string &board_name) const {
    return testsupport::read_file(stateDir() + "/" + board_name + ".flash");
}

bool GuiTest::erased(const std::vector<uint8_t> &bytes, std::size_t from) {
    for (std::size_t i = from; i < bytes.size(); ++i)
        if (bytes[i] != 0xFF)
            return false;
    return !bytes.empty();
}

namespace {
std::vector<QString> collected_warnings;
QtMessageHandler previous_handler = nullptr;

void collectWarning(QtMsgType type, const QMessageLogContext &, const QString &message) {
    if (type == QtWarningMsg)
        collected_warnings.push_back(message);
}
} // namespace

WarningCollector::WarningCollector() {
    collected_warnings.clear();
    previous_handler = qInstallMessageHandler(collectWarning);
}

WarningCollector::~WarningCollector() {
    qInstallMessageHandler(previous_handler);
}

const std::vector<QString> &WarningCollector::warnings() const {
    return collected_warnings;
}

MessageBoxAnswerer::MessageBoxAnswerer(QMessageBox::StandardButton answer) : answer_(answer) {
    startTimer(20);
}

bool MessageBoxAnswerer::waitForBoxes(std::size_t count, int timeout_ms) const {
    return waitFor([this, count] { return seen_.size() >= count; }, timeout_ms);
}

void MessageBoxAnswerer::timerEvent(QTimerEvent *) {
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || box->property("guitest_seen").toBool())
        return;
    box->setProperty("guitest_seen", true);
    SeenBox seen;
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
    seen.default_button = box->defaultButton() ? box->standardButton(box->defaultButton())
                                               : QMessageBox::NoButton;
    seen.has_parent = box->parentWidget() != nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets())
        seen.main_window_open |= widget->inherits("MainWindow");
    seen_.push_back(seen);
    // Pressed from the box's own loop, after this timer event returns.
    QPointer<QMessageBox> target(box);
    const QMessageBox::StandardButton answer = answer_;
    QTimer::singleShot(0, box, [target, answer] {
        if (!target)
            return;
        QAbstractButton *button = answer == QMessageBox::NoButton
                                      ? static_cast<QAbstractButton *>(target->defaultButton())
                                      : target->button(answer);
        if (button)
            button->click();
        else
            target->done(QMessageBox::Ok);
    });
}

} // namespace guitest
