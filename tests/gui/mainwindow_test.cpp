// The main window: its controls, the checks before a request, the request it
// sends, the log file and the boxes that end an update.
#include <algorithm>
#include <csignal>
#include <stdexcept>
#include <string>
#include <vector>

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <romwright/frontend/board_lock.hpp>
#include <romwright/frontend/stop_request.hpp>

#include "engine/platform/stop_requests.hpp"
#include "gui/mainwindow.hpp"
#include "gui/options_dialog.hpp"
#include "gui/update_progress_widget.hpp"
#include "tests/gui/gui_test_support.hpp"

namespace {

using guitest::BoardSpec;

struct Request {
    std::string path;
    int system_id;
    int board_id;
    romwright::options options;
    romwrite_mode mode;
    bool verbose_log;
};

class MainWindowTest : public guitest::GuiTest {
protected:
    void TearDown() override {
        window.reset();
        GuiTest::TearDown();
    }

    void open() {
        window = std::make_unique<MainWindow>();
        QObject::connect(window.get(), &MainWindow::start_update_firmware, &gui,
                         [this](std::string path, ba::endpoint, int system_id, int board_id,
                                romwright::options options, romwrite_mode mode, bool verbose) {
                             requests.push_back({path, system_id, board_id, options, mode, verbose});
                         });
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    template <typename Widget>
    Widget *child(const char *name) {
        auto *widget = window->findChild<Widget *>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QLineEdit *pathField() { return child<QLineEdit>("filePathLineEdit"); }
    QPushButton *updateButton() { return child<QPushButton>("updateButton"); }
    QSpinBox *boardId() { return child<QSpinBox>("boardIdSpinBox"); }
    QSpinBox *systemId() { return child<QSpinBox>("systemIdSpinBox"); }
    QSpinBox *boardSystemId() { return child<QSpinBox>("boardSystemIdSpinBox"); }
    QRadioButton *radio(const char *name) { return child<QRadioButton>(name); }
    UpdateProgressWidget *progressWindow() { return window->findChild<UpdateProgressWidget *>(); }
    OptionsDialog *optionsDialog() { return window->findChild<OptionsDialog *>(); }

    void selectMode(romwrite_mode mode) {
        const char *names[] = {"allBoardsRadioButton", "boardSystemRadioButton", "singleBoardRadioButton"};
        radio(names[mode])->click();
    }
    void setPath(const std::string &path) {
        pathField()->setText(QString::fromStdString(path));
    }
    std::string logText() const {
        return testsupport::file_exists(logPath()) ? testsupport::read_text(logPath()) : std::string();
    }
    // A machine of one flash-sector ZEN5191 board ("board") with a firmware
    // file for it on the Desktop.
    std::string oneBoardWithFileOnDesktop(const std::string &extra = "") {
        BoardSpec board("board");
        board.extra = extra;
        useMachine(guitest::machineToml({{board}}));
        return writeFirmware(desktop(), "fw-ZEN5191.rpd");
    }

    QObject gui;
    std::unique_ptr<MainWindow> window;
    std::vector<Request> requests;
};

TEST_F(MainWindowTest, BuildsTheWindowWithItsTitleIconGroupsAndButtons) {
    useMachine(guitest::machineToml({}));
    open();
    EXPECT_EQ(window->windowTitle(), "Firmware Updater v3.5.3");
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_GE(window->windowIcon().availableSizes().size(), 4);

    QStringList groups;
    for (auto *group : window->findChildren<QGroupBox *>())
        groups << group->title();
    EXPECT_EQ(groups, (QStringList{"Update file", "Boards to update"}));

    QStringList buttons;
    for (auto *button : window->findChildren<QPushButton *>())
        if (button->window() == window.get())
            buttons << button->text();
    EXPECT_EQ(buttons, (QStringList{"...", "exit", "update"}));
    EXPECT_EQ(child<QPushButton>("browseButton")->width(), 30);

    EXPECT_EQ(radio("singleBoardRadioButton")->text(), "Single Board");
    EXPECT_EQ(radio("boardSystemRadioButton")->text(), "Board System");
    EXPECT_EQ(radio("allBoardsRadioButton")->text(), "All Boards");
    for (QSpinBox *box : {boardId(), systemId(), boardSystemId()}) {
        EXPECT_EQ(box->minimum(), 1);
        EXPECT_EQ(box->maximum(), 99);
        EXPECT_EQ(box->value(), 1);
    }
    EXPECT_TRUE(radio("singleBoardRadioButton")->isChecked());
    EXPECT_FALSE(progressWindow()->isVisible());
    EXPECT_FALSE(optionsDialog()->isVisible());
}

TEST_F(MainWindowTest, TheDefaultFileIsTheOnlyFirmwareFileOnTheDesktop) {
    const struct {
        std::vector<std::string> files;
        std::string expected;  // name on the Desktop, or empty
    } cases[] = {
        {{}, ""},
        {{"notes.txt"}, ""},
        {{"fw-ZEN5160.pof"}, "fw-ZEN5160.pof"},
        {{"fw-ZEN5160.rpd", "readme.txt"}, "fw-ZEN5160.rpd"},
        {{"FW-ZEN5160.POF"}, "FW-ZEN5160.POF"},
        {{"a-ZEN5160.pof", "b-ZEN5160.rpd"}, ""},
        {{"a-ZEN5160.pof", "b-ZEN5160.pof"}, ""},
    };
    for (const auto &c : cases) {
        QDir(QString::fromStdString(desktop())).removeRecursively();
        QDir().mkpath(QString::fromStdString(desktop()));
        for (const auto &name : c.files)
            testsupport::write_text(desktop() + "/" + name, "x");
        const QString expected =
            c.expected.empty() ? QString() : QString::fromStdString(desktop() + "/" + c.expected);
        EXPECT_EQ(defaultFirmwareFilePath(), expected) << c.files.size() << " files";
    }
    // A folder that looks like a firmware file is not one.
    QDir(QString::fromStdString(desktop())).removeRecursively();
    QDir().mkpath(QString::fromStdString(desktop() + "/folder.pof"));
    EXPECT_EQ(defaultFirmwareFilePath(), QString());
}

TEST_F(MainWindowTest, WithoutADesktopThereIsNoDefaultFileAndAWarning) {
    guitest::WarningCollector collector;
    EXPECT_EQ(defaultFirmwareFilePath(), QString());
    EXPECT_NE(std::find(collector.warnings().begin(), collector.warnings().end(),
                        "Cannot find the user's desktop"),
              collector.warnings().end());
}

TEST_F(MainWindowTest, ThePathFieldStartsWithTheDesktopFile) {
    useMachine(guitest::machineToml({}));
    const std::string file = writeFirmware(desktop(), "fw-ZEN5191.rpd");
    open();
    EXPECT_EQ(pathField()->text().toStdString(), file);
}

TEST_F(MainWindowTest, EachModeEnablesItsOwnFields) {
    useMachine(guitest::machineToml({}));
    open();
    const struct {
        romwrite_mode mode;
        const char *checked;
        bool single_fields;
        bool system_field;
    } cases[] = {
        {all_boards, "allBoardsRadioButton", false, false},
        {board_system, "boardSystemRadioButton", false, true},
        {single_board, "singleBoardRadioButton", true, false},
        {board_system, "boardSystemRadioButton", false, true},
        {all_boards, "allBoardsRadioButton", false, false},
    };
    for (const auto &c : cases) {
        selectMode(c.mode);
        EXPECT_TRUE(radio(c.checked)->isChecked()) << c.checked;
        EXPECT_EQ(boardId()->isEnabled(), c.single_fields) << c.checked;
        EXPECT_EQ(systemId()->isEnabled(), c.single_fields) << c.checked;
        EXPECT_EQ(boardSystemId()->isEnabled(), c.system_field) << c.checked;
    }
}

TEST_F(MainWindowTest, BothSystemFieldsEditTheOneSystemId) {
    useMachine(guitest::machineToml({}));
    open();
    selectMode(board_system);
    boardSystemId()->setValue(4);
    EXPECT_EQ(systemId()->value(), 4);
    selectMode(single_board);
    systemId()->setValue(7);
    boardId()->setValue(3);
    EXPECT_EQ(boardSystemId()->value(), 7);
    EXPECT_EQ(boardId()->value(), 3);
}

TEST_F(MainWindowTest, TypedTextBecomesTheFilePathAndTheCursorStaysPut) {
    useMachine(guitest::machineToml({{BoardSpec("board")}}));
    const std::string file = writeFirmware(home(), "fw-ZEN5191-typed.rpd");
    open();
    EXPECT_TRUE(pathField()->text().isEmpty());
    pathField()->setFocus();
    QTest::keyClicks(pathField(), QString::fromStdString(home() + "/fw-ZEN5191.rpd"));
    EXPECT_EQ(pathField()->cursorPosition(), pathField()->text().size());
    // Typing in the middle keeps the cursor where the user types.
    pathField()->setCursorPosition(pathField()->text().size() - 4);
    QTest::keyClicks(pathField(), "-typed");
    EXPECT_EQ(pathField()->text().toStdString(), file);
    EXPECT_EQ(pathField()->cursorPosition(), pathField()->text().size() - 4);

    guitest::MessageBoxAnswerer answerer;
    updateButton()->click();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, file);
    ASSERT_TRUE(answerer.waitForBoxes(1));
    EXPECT_EQ(answerer.seen()[0].title, "Update succeeded");
}

TEST_F(MainWindowTest, AnEmptyPathIsRefusedWithAWarning) {
    useMachine(guitest::machineToml({{BoardSpec("board")}}));
    open();
    guitest::MessageBoxAnswerer answerer;
    updateButton()->click();
    ASSERT_EQ(answerer.seen().size(), 1u);
    EXPECT_EQ(answerer.seen()[0].title, "Empty update file");
    EXPECT_EQ(answerer.seen()[0].text, "The firmware file is empty");
    EXPECT_EQ(answerer.seen()[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(answerer.seen()[0].has_parent);
    EXPECT_TRUE(answerer.seen()[0].main_window_open);
    EXPECT_TRUE(requests.empty());
    EXPECT_TRUE(updateButton()->isEnabled());
    EXPECT_FALSE(progressWindow()->isVisible());
}

TEST_F(MainWindowTest, APathThatNamesNoFileIsRefusedWithAWarning) {
    useMachine(guitest::machineToml({{BoardSpec("board")}}));
    QDir().mkpath(QString::fromStdString(home() + "/fw-ZEN5191.rpd"));
    open();
    guitest::MessageBoxAnswerer answerer;
    for (const std::string &path : {home() + "/missing-ZEN5191.rpd", home() + "/fw-ZEN5191.rpd"}) {
        setPath(path);
        updateButton()->click();
    }
    ASSERT_EQ(answerer.seen().size(), 2u);
    for (const auto &box : answerer.seen()) {
        EXPECT_EQ(box.title, "Invalid update file");
        EXPECT_EQ(box.text, "The firmware file path is invalid");
        EXPECT_EQ(box.icon, QMessageBox::Warning);
    }
    EXPECT_TRUE(requests.empty());
}

TEST_F(MainWindowTest, AnOldLibraryOrDriverIsRefusedBeforeTheFileIsLookedAt) {
    const struct {
        const char *library;
        const char *driver;
    } cases[] = {{"7.0.5", "7.4.0"}, {"6.2.0", "7.4.0"}, {"7.4.0", "7.0.0"}};
    for (const auto &c : cases) {
        useMachine(guitest::machineToml({{BoardSpec("board")}}, c.library, c.driver));
        open();
        guitest::MessageBoxAnswerer answerer;
        updateButton()->click();
        ASSERT_EQ(answerer.seen().size(), 1u) << c.library << " " << c.driver;
        const auto &box = answerer.seen()[0];
        EXPECT_EQ(box.title, "Zenapi library or driver too old");
        EXPECT_EQ(box.text,
                  "The Zenapi library and driver installed on your system is too old to perform a "
                  "safe update. Please update them from Korvelon's website and start this "
                  "application again");
        EXPECT_EQ(box.icon, QMessageBox::Critical);
        EXPECT_FALSE(box.has_parent);
        EXPECT_TRUE(requests.empty());
        window.reset();
    }
}

// A description the simulated library refuses: it then answers no version query.
const char *const kUnusableMachine = "[[system]]\n[[system.board]]\nname = \"bad\"\nkind = 0\n";

TEST_F(MainWindowTest, AnUnreadableLibraryVersionEndsTheProgram) {
    useMachine(kUnusableMachine);
    writeFirmware(desktop(), "fw-ZEN5191.rpd");
    open();
    guitest::MessageBoxAnswerer answerer;
    updateButton()->click();
    EXPECT_EQ(guitest::takeFatalErrorText(), "Could not query SDK version");
    EXPECT_TRUE(answerer.seen().empty());
    EXPECT_TRUE(requests.empty());
    EXPECT_TRUE(updateButton()->isEnabled());
}

// system 1: a ZEN5191 board; system 2: a ZEN5190 board.
class ModelCheckTest : public MainWindowTest, public ::testing::WithParamInterface<romwrite_mode> {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        useMachine(guitest::machineToml({{BoardSpec("s1-5191")}, {BoardSpec("s2-5190", 35, {2})}}));
        writeFirmware(desktop(), "fw-ZEN5190.rpd");
        open();
    }
};

TEST_P(ModelCheckTest, TheSingleBoardFieldsNameTheBoardWhoseModelTheFileMustCarry) {
    // Single-board fields at system 1, board 1: a ZEN5191, whatever the mode.
    selectMode(GetParam());
    updateButton()->click();
    EXPECT_EQ(guitest::takeFatalErrorText(), "Invalid firmware board type");
    EXPECT_TRUE(requests.empty());
    EXPECT_TRUE(updateButton()->isEnabled());

    // Pointing them at the ZEN5190 lets the same request through.
    selectMode(single_board);
    systemId()->setValue(2);
    selectMode(GetParam());
    guitest::MessageBoxAnswerer answerer;
    updateButton()->click();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].mode, GetParam());
    EXPECT_EQ(requests[0].system_id, 2);
    EXPECT_EQ(requests[0].board_id, 1);
    ASSERT_TRUE(answerer.waitForBoxes(1));
}

std::string modeName(const ::testing::TestParamInfo<romwrite_mode> &info) {
    static const char *const names[] = {"all_boards", "board_system", "single_board"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Modes, ModelCheckTest,
                         ::testing::Values(single_board, board_system, all_boards), modeName);

TEST_F(MainWindowTest, TheBoardSystemModeStillOpensTheSingleBoardFieldsBoard) {
    // System 2 has one board; board ID 2 names none, so the model check fails
    // although the request itself would need only board 1 of system 2.
    useMachine(guitest::machineToml({{BoardSpec("a")}, {BoardSpec("b")}}));
    writeFirmware(desktop(), "fw-ZEN5191.rpd");
    open();
    systemId()->setValue(2);
    boardId()->setValue(2);
    selectMode(board_system);
    updateButton()->click();
    // No board answers to the fields: the library reports no kind for it.
    EXPECT_EQ(guitest::takeFatalErrorText(),
              "[from_c] Error: invalid board type 0 failed with error Invalid data");
    EXPECT_TRUE(requests.empty());
}

TEST_F(MainWindowTest, TheModelMayStandAnywhereInThePathButOnlyInCapitals) {
    useMachine(guitest::machineToml({{BoardSpec("board")}}));
    const std::string in_folder = writeFirmware(home() + "/ZEN5191", "firmware.rpd");
    const std::string lower_case = writeFirmware(home(), "fw-zen5191.rpd");
    open();
    setPath(lower_case);
    updateButton()->click();
    EXPECT_EQ(guitest::takeFatalErrorText(), "Invalid firmware board type");
    EXPECT_TRUE(requests.empty());

    guitest::MessageBoxAnswerer answerer;
    setPath(in_folder);
    updateButton()->click();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, in_folder);
    ASSERT_TRUE(answerer.waitForBoxes(1));
}

TEST_F(MainWindowTest, ASuccessfulUpdateEndsWithTheSuccessBoxAndAFullLog) {
    const std::string file = oneBoardWithFileOnDesktop();
    open();
    guitest::MessageBoxAnswerer answerer;
    updateButton()->click();
    EXPECT_FALSE(updateButton()->isEnabled());
    EXPECT_TRUE(progressWindow()->isVisible());
    EXPECT_FALSE(progressWindow()->isModal());
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, file);
    EXPECT_EQ(requests[0].mode, single_board);
    EXPECT_EQ(requests[0].system_id, 1);
    EXPECT_EQ(requests[0].board_id, 1);
    EXPECT_TRUE(requests[0].options == romwright::options());
    EXPECT_FALSE(requests[0].verbose_log);

    ASSERT_TRUE(answerer.waitForBoxes(1));
    const auto &box = answerer.seen()[0];
    EXPECT_EQ(box.title, "Update succeeded");
    EXPECT_EQ(box.text,
              "The update has completed successfully. Please note that the new firmware will only "
              "be loaded the next time the computer is shut down and started again.");
    EXPECT_EQ(box.icon, QMessageBox::Information);
    EXPECT_TRUE(box.has_parent);
    EXPECT_TRUE(updateButton()->isEnabled());
    EXPECT_FALSE(progressWindow()->isVisible());

    const std::string log = logText();
    EXPECT_EQ(log.rfind("Start firmware update (v3.5.3)\nWill update 1 boards\nUpdate board board 0\n", 0), 0u)
        << log;
    EXPECT_NE(log.find("Firmware file = " + file + "\n"), std::string::npos);
    EXPECT_NE(log.find("Update succeeded.\nUpdate finished. Return code 0\n"), std::string::npos);
    EXPECT_EQ(log.find("Error: "), std::string::npos);

    const auto image = guitest::firmwareBytes(0x18000);
    const auto flash = flashOf("board");
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
}

const char *const kOpenFault =
    "\n[[system.board.fault]]\ntype = \"call\"\ncall = \"KorvelFlashOpen\"\ncode = 513\n";

TEST_F(MainWindowTest, AFailedUpdateEndsWithTheFailureBoxWhoseOpenButtonShowsTheLog) {
    oneBoardWithFileOnDesktop(kOpenFault);
    open();
    guitest::UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    guitest::MessageBoxAnswerer answerer(QMessageBox::Open);
    updateButton()->click();
    ASSERT_TRUE(answerer.waitForBoxes(1));
    QDesktopServices::unsetUrlHandler("file");

    const auto &box = answerer.seen()[0];
    EXPECT_EQ(box.title, "Update failed");
    EXPECT_EQ(box.text,
              "The update has failed with error code 1. Press 'Open' to see the full log file of "
              "the update.");
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_EQ(box.buttons, QMessageBox::Open | QMessageBox::Ok);
    EXPECT_EQ(box.default_button, QMessageBox::Ok);
    EXPECT_TRUE(box.has_parent);
    ASSERT_EQ(catcher.opened.size(), 1u);
    EXPECT_EQ(catcher.opened[0], QUrl::fromLocalFile(QString::fromStdString(logPath())));
    EXPECT_TRUE(updateButton()->isEnabled());
    EXPECT_FALSE(progressWindow()->isVisible());
    EXPECT_TRUE(erased(flashOf("board")));

    // Level-3 lines carry "Error: "; the engine's last text, which has no
    // line end, gets one when the board's work is done.
    const std::string log = logText();
    EXPECT_NE(log.find("\nError: Unable to open Flash, "), std::string::npos) << log;
    EXPECT_NE(log.find("\nError: Update Flash image failed\nUpdate finished. Return code 1\n"),
              std::string::npos)
        << log;
}

// Another program is writing the board: nothing is changed, and the box
// names the board and the program instead of pointing at the log.
TEST_F(MainWindowTest, ABoardAnotherProgramWritesIsTurnedAwayWithABoxNamingTheHolder) {
    oneBoardWithFileOnDesktop();
    open();
    const romwright::frontend::BoardLock held(romwright::frontend::SelectedBoard{nullptr, 1, 1}, "romwright-cli");
    guitest::MessageBoxAnswerer answerer;
    updateButton()->click();
    ASSERT_TRUE(answerer.waitForBoxes(1));
    const auto &box = answerer.seen()[0];
    EXPECT_EQ(box.title, "Board in use");
    EXPECT_TRUE(box.text.contains("Board 1/1 is being written by another program (romwright-cli, process "))
        << box.text.toStdString();
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_TRUE(erased(flashOf("board")));
    EXPECT_NE(logText().find("Error: Board 1/1 is being written"), std::string::npos) << logText();
}

TEST_F(MainWindowTest, TheFailureBoxsOkButtonOpensNothing) {
    oneBoardWithFileOnDesktop(kOpenFault);
    open();
    guitest::UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    guitest::MessageBoxAnswerer answerer;  // presses the default button, OK
    updateButton()->click();
    ASSERT_TRUE(answerer.waitForBoxes(1));
    QDesktopServices::unsetUrlHandler("file");
    EXPECT_EQ(answerer.seen()[0].title, "Update failed");
    EXPECT_TRUE(catcher.opened.empty());
}

TEST_F(MainWindowTest, TheFailureBoxFallsBackToAPlainTextWhenTheLogHasNoFolder) {
    oneBoardWithFileOnDesktop(kOpenFault);
    open();
    // Documents is a file: the log folder cannot be made.
    testsupport::write_text(home() + "/Documents", "not a folder");
    guitest::MessageBoxAnswerer answerer;
    testing::internal::CaptureStderr();
    updateButton()->click();
    ASSERT_TRUE(answerer.waitForBoxes(1));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(answerer.seen()[0].title, "Update failed");
    EXPECT_EQ(answerer.seen()[0].text, "The update has failed.");
    EXPECT_EQ(answerer.seen()[0].buttons, QMessageBox::Ok);
    // One warning for the whole run, not one per lost line (the rest of
    // standard error is Qt's own).
    const std::string warning =
        "romwright-gui: cannot write the log file: Couldn't create Korvelon dir in Documents\n";
    const auto first = err.find(warning);
    EXPECT_NE(first, std::string::npos) << err;
    EXPECT_EQ(err.find(warning, first + 1), std::string::npos) << err;
    EXPECT_EQ(err.find("Start firmware update"), std::string::npos) << err;
}

TEST_F(MainWindowTest, LogLinesAreAppendedWholeWithErrorBeforeLevelThree) {
    useMachine(guitest::machineToml({}));
    open();
    const struct {
        bool board_done;            // the worker reports the board done, instead of a line
        ROMWRIGHT_LOG_LEVEL level;
        const char *text;
        const char *on_disk;        // the whole file afterwards
    } steps[] = {
        {false, ROMWRIGHT_LOG_DEBUG, "detail\n", "detail\n"},
        {false, ROMWRIGHT_LOG_INFO, "info\n", "detail\ninfo\n"},
        // No line end: kept until its line is complete.
        {false, ROMWRIGHT_LOG_WARNING, "Disabling API logging failed", "detail\ninfo\n"},
        {false, ROMWRIGHT_LOG_ERROR, "bad\n", "detail\ninfo\nDisabling API logging failedError: bad\n"},
        {false, ROMWRIGHT_LOG_ERROR, "Board is null", "detail\ninfo\nDisabling API logging failedError: bad\n"},
        {true, ROMWRIGHT_LOG_INFO, "",
         "detail\ninfo\nDisabling API logging failedError: bad\nError: Board is null\n"},
    };
    for (const auto &step : steps) {
        if (step.board_done)
            ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "onBoardDone", Qt::DirectConnection,
                                                  Q_ARG(int, 1)));
        else
            ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "onLog", Qt::DirectConnection,
                                                  Q_ARG(ROMWRIGHT_LOG_LEVEL, step.level),
                                                  Q_ARG(std::string, step.text)));
        // Closed after each write: what is on disk is every whole line so far.
        EXPECT_EQ(logText(), step.on_disk) << step.text;
    }
}

TEST_F(MainWindowTest, AnUnwritableLogIsReportedOnceOnStandardError) {
    useMachine(guitest::machineToml({}));
    const struct {
        const char *file_in_the_way;
        const char *error;
    } cases[] = {
        {"/Documents/Korvelon", "Couldn't cd into Korvelon dir in Documents"},
        {"/Documents", "Couldn't create Korvelon dir in Documents"},
    };
    for (const auto &c : cases) {
        window.reset();
        QDir(QString::fromStdString(home() + "/Documents")).removeRecursively();
        QFile::remove(QString::fromStdString(home() + "/Documents"));
        if (std::string(c.file_in_the_way) == "/Documents/Korvelon")
            QDir().mkpath(QString::fromStdString(home() + "/Documents"));
        testsupport::write_text(home() + c.file_in_the_way, "in the way");
        open();
        EXPECT_THROW(logFilePath("romwright.log"), std::runtime_error);
        testing::internal::CaptureStderr();
        for (const char *text : {"lost line\n", "lost as well\n"})
            ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "onLog", Qt::DirectConnection,
                                                  Q_ARG(ROMWRIGHT_LOG_LEVEL, ROMWRIGHT_LOG_ERROR),
                                                  Q_ARG(std::string, std::string(text))));
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  std::string("romwright-gui: cannot write the log file: ") + c.error + "\n");
    }
}

TEST_F(MainWindowTest, TheLogFolderIsMadeInDocumentsWhenMissing) {
    EXPECT_FALSE(QDir(QString::fromStdString(home() + "/Documents")).exists());
    EXPECT_EQ(logFilePath("romwright.log").toStdString(), logPath());
    EXPECT_TRUE(QDir(QString::fromStdString(home() + "/Documents/Korvelon")).exists());
}

TEST_F(MainWindowTest, CtrlF5OpensTheOptionsAndOkChangesTheNextRequest) {
    oneBoardWithFileOnDesktop();
    open();
    QTest::keyClick(window.get(), Qt::Key_F5);
    QTest::keyClick(window.get(), Qt::Key_F5, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(optionsDialog()->isVisible());
    QTest::keyClick(window.get(), Qt::Key_F5, Qt::ControlModifier);
    ASSERT_TRUE(optionsDialog()->isVisible());
    EXPECT_FALSE(optionsDialog()->isModal());

    // Confirm a change: verify off, 3 retries, verbose log on.
    romwright::options changed;
    changed.set_bool(ROMWRIGHT_OPTION_VERIFY_PAGES, false);
    changed.set_int(ROMWRIGHT_OPTION_MAX_RETRIES, 3);
    optionsDialog()->setOptions(changed, true);
    QMetaObject::invokeMethod(optionsDialog(), "onAccepted", Qt::DirectConnection);
    EXPECT_FALSE(optionsDialog()->isVisible());

    guitest::MessageBoxAnswerer answerer;
    updateButton()->click();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].options == changed);
    EXPECT_TRUE(requests[0].verbose_log);
    ASSERT_TRUE(answerer.waitForBoxes(1));

    // The next Ctrl+F5 shows what the window now holds.
    QSignalSpy confirmed(optionsDialog(), &OptionsDialog::optionsChanged);
    QTest::keyClick(window.get(), Qt::Key_F5, Qt::ControlModifier);
    QMetaObject::invokeMethod(optionsDialog(), "onAccepted", Qt::DirectConnection);
    ASSERT_EQ(confirmed.count(), 1);
    EXPECT_TRUE(confirmed[0][0].value<romwright::options>() == changed);
    EXPECT_TRUE(confirmed[0][1].toBool());
}

TEST_F(MainWindowTest, CancelledOptionsLeaveTheRequestAsItWas) {
    oneBoardWithFileOnDesktop();
    open();
    QTest::keyClick(window.get(), Qt::Key_F5, Qt::ControlModifier);
    romwright::options changed;
    changed.set_bool(ROMWRIGHT_OPTION_DEBUG, true);
    optionsDialog()->setOptions(changed, true);
    QMetaObject::invokeMethod(optionsDialog(), "onRejected", Qt::DirectConnection);
    guitest::MessageBoxAnswerer answerer;
    updateButton()->click();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].options == romwright::options());
    EXPECT_FALSE(requests[0].verbose_log);
    ASSERT_TRUE(answerer.waitForBoxes(1));
}

TEST_F(MainWindowTest, ReturnStartsTheSameChecksAsTheUpdateButton) {
    useMachine(guitest::machineToml({{BoardSpec("board")}}));
    open();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    guitest::MessageBoxAnswerer answerer;
    QTest::keyClick(window.get(), Qt::Key_Return);
    ASSERT_TRUE(answerer.waitForBoxes(1, 5000));
    EXPECT_EQ(answerer.seen()[0].title, "Empty update file");
}

TEST_F(MainWindowTest, ReturnInThePathFieldStartsTheUpdateWithTheTypedPath) {
    useMachine(guitest::machineToml({{BoardSpec("board")}}));
    const std::string file = writeFirmware(home(), "fw-ZEN5191.rpd");
    open();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    pathField()->setFocus();
    QTest::keyClicks(pathField(), QString::fromStdString(file));
    guitest::MessageBoxAnswerer answerer;
    QTest::keyClick(pathField(), Qt::Key_Return);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, file);
    ASSERT_TRUE(answerer.waitForBoxes(1));
    EXPECT_EQ(answerer.seen()[0].title, "Update succeeded");
}

TEST_F(MainWindowTest, ReturnDuringARunningUpdateQueuesASecondRequest) {
    BoardSpec slow("slow", 35, {5});
    slow.extra = "\n[system.board.upgrade]\npolls = 300\nend_status = 2\nend_percent = 100\n";
    useMachine(guitest::machineToml({{slow}}));
    writeFirmware(desktop(), "fw-ZEN5190.rpd");
    open();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    guitest::MessageBoxAnswerer answerer;
    updateButton()->click();
    ASSERT_FALSE(updateButton()->isEnabled());
    QTest::keyClick(window.get(), Qt::Key_Return);
    ASSERT_EQ(requests.size(), 2u);
    ASSERT_TRUE(answerer.waitForBoxes(2));
    EXPECT_EQ(answerer.seen()[0].title, "Update succeeded");
    EXPECT_EQ(answerer.seen()[1].title, "Update succeeded");

    // The worker ran them one after the other.
    const std::string log = logText();
    const auto first_end = log.find("Update finished. Return code 0\n");
    const auto second_start = log.find("Start firmware update", log.find("Start firmware update") + 1);
    ASSERT_NE(first_end, std::string::npos);
    ASSERT_NE(second_start, std::string::npos);
    EXPECT_LT(first_end, second_start);
}

TEST_F(MainWindowTest, ClosingTheWindowDuringAnUpdateStillLogsHowItEnded) {
    BoardSpec slow("slow", 35, {5});
    slow.extra = "\n[system.board.upgrade]\npolls = 300\nend_status = 2\nend_percent = 100\n";
    useMachine(guitest::machineToml({{slow}}));
    writeFirmware(desktop(), "fw-ZEN5190.rpd");
    open();
    guitest::MessageBoxAnswerer answerer;
    updateButton()->click();
    ASSERT_EQ(requests.size(), 1u);
    window.reset();  // waits for the running update

    const std::string log = logText();
    EXPECT_NE(log.find("Update succeeded.\nUpdate finished. Return code 0\n"), std::string::npos) << log;
    EXPECT_TRUE(answerer.seen().empty());
}

TEST_F(MainWindowTest, TheExitButtonEndsTheEventLoop) {
    useMachine(guitest::machineToml({}));
    open();
    QTimer::singleShot(0, child<QPushButton>("exitButton"), &QPushButton::click);
    QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(QApplication::exec(), 0);
}

// SIGTERM, Ctrl+C or a closed session, deferred as the program does.
class MainWindowStopTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        romwright::frontend::defer_stop_requests("gui_tests");
        romwright::platform::forget_stop_request();
    }
    void TearDown() override {
        romwright::platform::forget_stop_request();
        MainWindowTest::TearDown();
    }

    // Runs the application's event loop as the program does; 99 when
    // nothing ended it within the time limit.
    static int runEventLoop() {
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        limit.start(60000);
        return QApplication::exec();
    }
};

TEST_F(MainWindowStopTest, WithNoUpdateRunningAStopEndsTheProgramAtOnce) {
    useMachine(guitest::machineToml({}));
    open();
    guitest::MessageBoxAnswerer answerer;
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_EQ(runEventLoop(), 0);
    EXPECT_TRUE(answerer.seen().empty());
}

struct StopCase {
    const char *name;
    int boards;
    int exit_status;  // 1 when a board was left undone
};

void PrintTo(const StopCase &c, std::ostream *out) { *out << c.name; }

class StopDuringAnUpdate : public MainWindowStopTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopDuringAnUpdate, TheBoardIsFinishedAndTheProgramEndsWithoutABox) {
    const StopCase &c = GetParam();
    std::vector<BoardSpec> system;
    for (int i = 1; i <= c.boards; ++i) {
        BoardSpec slow("b" + std::to_string(i), 35, {5});
        slow.extra = "\n[system.board.upgrade]\npolls = 1000\nend_status = 2\nend_percent = 100\n";
        system.push_back(slow);
    }
    useMachine(guitest::machineToml({system}));
    const std::string file = writeFirmware(desktop(), "fw-ZEN5190.rpd");
    open();
    selectMode(all_boards);
    guitest::MessageBoxAnswerer answerer;
    // The signal comes once the progress window shows the first board being written.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [this] {
        const auto labels = progressWindow()->findChildren<QLabel *>();
        if (labels.size() > 1 && labels.at(1)->text().startsWith("Writing board 1 of") &&
            !romwright::frontend::stop_requested())
            std::raise(SIGTERM);
    });
    watch.start(5);
    QTimer::singleShot(0, updateButton(), &QPushButton::click);
    EXPECT_EQ(runEventLoop(), c.exit_status);
    EXPECT_TRUE(answerer.seen().empty()) << answerer.seen()[0].title.toStdString();

    const std::string log = logText();
    EXPECT_NE(log.find("Update succeeded.\n"), std::string::npos) << log;
    const auto image = testsupport::read_file(file);
    const auto first = flashOf("b1");
    EXPECT_TRUE(std::equal(image.begin(), image.end(), first.begin()));
    if (c.boards == 2) {
        EXPECT_NE(log.find("Error: Stopped by SIGTERM before board 2 of 2; the boards before it were "
                           "updated.\nUpdate finished. Return code 1\n"),
                  std::string::npos)
            << log;
        EXPECT_TRUE(erased(flashOf("b2")));
    } else {
        EXPECT_NE(log.find("Update finished. Return code 0\n"), std::string::npos) << log;
    }
}

INSTANTIATE_TEST_SUITE_P(Boards, StopDuringAnUpdate,
                         ::testing::Values(StopCase{"the_last_board", 1, 0},
                                           StopCase{"the_first_of_two_boards", 2, 1}),
                         [](const ::testing::TestParamInfo<StopCase> &info) {
                             return std::string(info.param.name);
                         });

// Answers the file dialog: checks what it offers, then picks or cancels.
void answerFileDialog(const QString &pick, QStringList *seen) {
    QTimer::singleShot(50, [pick, seen] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            answerFileDialog(pick, seen);
            return;
        }
        *seen << dialog->windowTitle() << dialog->directory().absolutePath()
              << dialog->nameFilters().join(";");
        if (pick.isEmpty()) {
            dialog->reject();
        } else {
            // Typed, as a user would: the dialog's view may still be loading
            // the folder, so selecting in it is not reliable.
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setText(pick);
            QMetaObject::invokeMethod(dialog, "accept");
        }
    });
}

TEST_F(MainWindowTest, BrowsingPicksAFileStartingOnTheDesktop) {
    useMachine(guitest::machineToml({}));
    const std::string first = writeFirmware(desktop(), "a-ZEN5191.rpd");
    const std::string second = writeFirmware(desktop(), "b-ZEN5191.pof");
    open();
    EXPECT_TRUE(pathField()->text().isEmpty());

    QStringList seen;
    answerFileDialog(QString::fromStdString(second), &seen);
    child<QPushButton>("browseButton")->click();
    EXPECT_EQ(seen, (QStringList{"Open File", QString::fromStdString(desktop()),
                                 "Korvel POF File (*.pof *.rpd)"}));
    EXPECT_EQ(pathField()->text().toStdString(), second);

    seen.clear();
    answerFileDialog(QString(), &seen);
    child<QPushButton>("browseButton")->click();
    ASSERT_EQ(seen.size(), 3);
    EXPECT_EQ(pathField()->text().toStdString(), second) << "a cancelled dialog changes nothing";
}

} // namespace
