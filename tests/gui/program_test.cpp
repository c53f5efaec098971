// The program run as a process: romwright-gui-tour, the program's whole flow
// walked through one update by the screenshot tour (its exit status, its log
// and the pictures of its windows, under Xvfb for the README), and the
// shipped romwright-gui, which waits for its user whatever the environment
// says.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <string>

#include <QColor>
#include <QDir>
#include <QImage>
#include <QSet>
#include <QStandardPaths>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/gui/gui_test_support.hpp"
#include "tests/support/process.hpp"

namespace {

using guitest::BoardSpec;
using testing::HasSubstr;

class ProgramTest : public guitest::GuiTest {
protected:
    std::string shots() const { return temp_->file("shots"); }

    testsupport::ProcessOptions options(const std::string &platform) const {
        testsupport::ProcessOptions run;
        run.env["HOME"] = home();
        run.env["ZENAPI_SIM_STATE_DIR"] = stateDir();
        run.env["ROMWRIGHT_HISTORY"] = historyPath();
        run.env["QT_QPA_PLATFORM"] = platform;
        if (testsupport::file_exists(machinePath()))
            run.env["ZENAPI_SIM_CONFIG"] = machinePath();
        else
            run.unset_env.push_back("ZENAPI_SIM_CONFIG");
        run.unset_env.push_back("XDG_CONFIG_HOME");
        run.unset_env.push_back("ZENAPI_SIM_TRACE");
        run.timeout_seconds = 120;
        return run;
    }

    // The program with the tour saving its pictures in `folder`.
    static testsupport::ProcessResult runTour(const std::string &folder, const testsupport::ProcessOptions &run) {
        return testsupport::run_process(testsupport::bin_path("romwright-gui-tour"), {folder}, run);
    }

    std::string makeFirmware(const std::string &model) {
        QDir().mkpath(QString::fromStdString(desktop()));
        const std::string file = desktop() + "/firmware-" + model + ".rpd";
        const auto made = testsupport::run_process(
            testsupport::bin_path("romwright-mkimage"),
            {"--board", model, "--out", file, "--size", "1M", "--option-bits", "0xFE000",
             "--page0", "0x20000:0xFE000"});
        EXPECT_EQ(made.exit_code, 0) << made.err;
        return file;
    }

    // A picture of something: the expected size at least, and more than a
    // few colours.
    static void expectPicture(const std::string &path, int min_width, int min_height) {
        QImage image(QString::fromStdString(path));
        ASSERT_FALSE(image.isNull()) << path;
        EXPECT_GE(image.width(), min_width) << path;
        EXPECT_GE(image.height(), min_height) << path;
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 3)
            for (int x = 0; x < image.width(); x += 3)
                colours.insert(image.pixel(x, y));
        EXPECT_GT(colours.size(), 8) << path << " looks blank";
    }
};

TEST_F(ProgramTest, UpdatesTheBoardOnTheDesktopFileAndEndsWithStatusZero) {
    useMachine(guitest::machineToml({{BoardSpec("board")}}));
    const std::string file = makeFirmware("ZEN5191");
    const auto result = runTour(shots(), options("offscreen"));
    EXPECT_EQ(result.exit_code, 0) << result.err;
    const std::string log = testsupport::read_text(logPath());
    EXPECT_THAT(log, HasSubstr("Firmware file = " + file + "\n"));
    EXPECT_THAT(log, HasSubstr("Update succeeded.\nUpdate finished. Return code 0\n"));
    const auto image = testsupport::read_file(file);
    const auto flash = flashOf("board");
    ASSERT_GE(flash.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    for (const char *name : {"main-window", "progress-window", "update-succeeded"})
        EXPECT_TRUE(testsupport::file_exists(shots() + "/" + name + ".png")) << name;
}

TEST_F(ProgramTest, AFatalErrorShowsTheCriticalBoxAndEndsWithStatusOne) {
    useMachine(guitest::machineToml({{BoardSpec("board")}}));
    makeFirmware("ZEN5190");  // board 1 of system 1 is a ZEN5191
    const auto result = runTour(shots(), options("offscreen"));
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_THAT(result.err, HasSubstr("Error: Invalid firmware board type\n"));
    EXPECT_TRUE(testsupport::file_exists(shots() + "/critical-error.png"));
    EXPECT_FALSE(testsupport::file_exists(shots() + "/progress-window.png"));
    EXPECT_TRUE(erased(flashOf("board")));
}

TEST_F(ProgramTest, AFailedUpdateEndsWithTheFailureBoxAndStatusZero) {
    BoardSpec board("board");
    board.extra = "\n[[system.board.fault]]\ntype = \"flash_write_status\"\nsector = 3\nstatus = 4\n";
    useMachine(guitest::machineToml({{board}}));
    makeFirmware("ZEN5191");
    const auto result = runTour(shots(), options("offscreen"));
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(testsupport::file_exists(shots() + "/update-failed.png"));
    const std::string log = testsupport::read_text(logPath());
    EXPECT_THAT(log, HasSubstr("Error: Write sector failed, Flash program failed\n"));
    EXPECT_THAT(log, HasSubstr("Update finished. Return code 1\n"));
}

// SIGTERM while the program writes a board: the board is finished, and the
// program ends by itself, with status 0 as nothing was left undone and no
// box waiting for an answer.
TEST_F(ProgramTest, ASignalDuringTheUpdateLetsTheBoardFinish) {
    BoardSpec slow("board", 35, {5});
    slow.extra = "\n[system.board.upgrade]\npolls = 1000\nend_status = 2\nend_percent = 100\n";
    useMachine(guitest::machineToml({{slow}}));
    const std::string file = makeFirmware("ZEN5190");
    auto run = options("offscreen");
    const std::string trace = temp_->file("trace.log");
    run.env["ZENAPI_SIM_TRACE"] = trace;
    run.unset_env.erase(std::remove(run.unset_env.begin(), run.unset_env.end(), "ZENAPI_SIM_TRACE"),
                        run.unset_env.end());
    run.send_signal = SIGTERM;
    run.send_when = [&trace](const std::string &) {
        return testsupport::file_exists(trace) &&
               testsupport::read_text(trace).find("KorvelFirmwareUpgradeExecAndGetStatus") != std::string::npos;
    };
    const auto result = runTour(shots(), run);
    ASSERT_TRUE(result.signal_sent);
    EXPECT_EQ(result.signal, 0) << "the signal ended the program";
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_THAT(result.err, HasSubstr("romwright-gui: stop requested; a board being written is finished first\n"));
    EXPECT_FALSE(testsupport::file_exists(shots() + "/update-succeeded.png"));
    EXPECT_THAT(testsupport::read_text(logPath()), HasSubstr("Update succeeded.\nUpdate finished. Return code 0\n"));
    const auto image = testsupport::read_file(file);
    const auto flash = flashOf("board");
    ASSERT_GE(flash.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
}

// The variable that once made the shipped program press "update" by itself
// does nothing: two seconds after its start the program has saved no picture
// and touched no board, and it ends on SIGTERM as it does with nobody at it.
TEST_F(ProgramTest, TheShippedProgramWaitsForItsUserWhateverTheEnvironmentSays) {
    useMachine(guitest::machineToml({{BoardSpec("board")}}));
    makeFirmware("ZEN5191");
    auto run = options("offscreen");
    run.env["ROMWRIGHT_GUI_SCREENSHOT_DIR"] = shots();
    const auto started = std::chrono::steady_clock::now();
    run.send_signal = SIGTERM;
    run.send_when = [started](const std::string &) {
        return std::chrono::steady_clock::now() - started > std::chrono::seconds(2);
    };
    const auto result = testsupport::run_process(testsupport::bin_path("romwright-gui"), {}, run);
    ASSERT_TRUE(result.signal_sent);
    EXPECT_EQ(result.signal, 0) << "the signal ended the program";
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_FALSE(testsupport::file_exists(shots())) << "the program walked the screenshot tour";
    EXPECT_TRUE(erased(flashOf("board")));
}

// Runs the tour on an X server of its own and keeps the pictures of the
// program's windows in build/test-artifacts/gui (the README's screenshots are
// copies).
TEST_F(ProgramTest, ScreenshotsOfARealUpdateUnderXvfb) {
    const QString xvfb_run = QStandardPaths::findExecutable("xvfb-run");
    if (xvfb_run.isEmpty() || QStandardPaths::findExecutable("Xvfb").isEmpty())
        GTEST_SKIP() << "Xvfb is not installed (apt-get install xvfb xauth); no screenshots taken";

    // The built-in demo machine: board 1 of system 1 is a ZEN5190 updated
    // through its driver's firmware-upgrade service.
    makeFirmware("ZEN5190");
    auto run = options("xcb");
    // On X the platform plugin talks to the session bus; the bus library keeps
    // a buffer to the end, which a sanitizer build would call a leak.
    const std::string suppressions = temp_->file("lsan.supp");
    testsupport::write_text(suppressions, "leak:libdbus-1.so\n");
    run.env["LSAN_OPTIONS"] = "suppressions=" + suppressions;
    const std::string dir = std::string(ROMWRIGHT_ARTIFACT_DIR) + "/gui";
    QDir(QString::fromStdString(dir)).removeRecursively();
    const auto result = testsupport::run_process(
        xvfb_run.toStdString(),
        {"-a", "-s", "-screen 0 1280x1024x24", testsupport::bin_path("romwright-gui-tour"), dir}, run);
    ASSERT_EQ(result.exit_code, 0) << result.err;

    expectPicture(dir + "/main-window.png", 200, 150);
    expectPicture(dir + "/progress-window.png", 300, 100);
    expectPicture(dir + "/update-succeeded.png", 200, 80);
    EXPECT_THAT(testsupport::read_text(logPath()),
                HasSubstr("Update succeeded.\nUpdate finished. Return code 0\n"));
}

} // namespace
