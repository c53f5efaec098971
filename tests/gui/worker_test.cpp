// The update worker on its own thread, against the simulated machine: board
// selection, the version gate, the per-board loop and what reaches the GUI
// thread.
#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <gtest/gtest.h>

#include <romwright/frontend/history.hpp>
#include <romwright/frontend/stop_request.hpp>

#include "engine/platform/stop_requests.hpp"
#include "gui/firmware_update_worker.hpp"
#include "gui/update_progress_widget.hpp"
#include "tests/gui/gui_test_support.hpp"

namespace {

using guitest::BoardSpec;

const char *const kTooOldLine =
    "Uncaught error: Library or driver is too old to update the firmware safely. Please download "
    "and install the lastet Zenapi driver from the Korvelon website.\n";

struct LogLine {
    ROMWRIGHT_LOG_LEVEL level;
    std::string text;
};

class WorkerTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        QObject::connect(&requester, &guitest::Requester::request, &worker,
                         &FirmwareUpdateWorker::update_firmware);
        QObject::connect(&worker, &FirmwareUpdateWorker::log, &gui, [this](auto level, auto text) {
            logs.push_back({level, text});
            events.push_back(text);
        });
        QObject::connect(&worker, &FirmwareUpdateWorker::board_changed, &gui,
                         [this](int current, int total) { boards.emplace_back(current, total); });
        QObject::connect(&worker, &FirmwareUpdateWorker::operation_changed, &gui,
                         [this](ROMWRIGHT_OPERATION operation) { operations.push_back(operation); });
        QObject::connect(&worker, &FirmwareUpdateWorker::progress_changed, &gui,
                         [this](float fraction) { progress.push_back(fraction); });
        QObject::connect(&worker, &FirmwareUpdateWorker::update_done, &gui, [this](ROMWRIGHT_RC rc) {
            done.push_back(rc);
            events.push_back("update_done " + std::to_string(rc));
        });
        worker.moveToThread(&thread);
        thread.start();
    }

    void TearDown() override {
        thread.exit(0);
        thread.wait();
        GuiTest::TearDown();
    }

    void request(const std::string &path, romwrite_mode mode, int system_id = 1,
                 int board_id = 1, bool verbose_log = false) {
        emit requester.request(path, ba::endpoint(), system_id, board_id, romwright::options(),
                               mode, verbose_log);
    }

    // Waits for n update_done and a little longer, so that a second one
    // (which must not come) would have arrived.
    void waitDone(std::size_t n) {
        ASSERT_TRUE(guitest::waitFor([this, n] { return done.size() >= n; }));
        guitest::waitFor([] { return false; }, 200);
    }

    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const auto &line : logs)
            out.push_back(line.text);
        return out;
    }
    bool logged(const std::string &text) const {
        const auto all = texts();
        return std::find(all.begin(), all.end(), text) != all.end();
    }

    QObject gui;  // receives the worker's reports on the test (GUI) thread
    guitest::Requester requester;
    FirmwareUpdateWorker worker;
    QThread thread;
    std::vector<LogLine> logs;
    std::vector<std::string> events;
    std::vector<std::pair<int, int>> boards;
    std::vector<ROMWRIGHT_OPERATION> operations;
    std::vector<float> progress;
    std::vector<ROMWRIGHT_RC> done;
};

TEST_F(WorkerTest, AllBoardsOnAMachineWithoutSystemsUpdatesNothingAndSucceeds) {
    useMachine(guitest::machineToml({}));
    request("/nonexistent/firmware-ZEN5191.rpd", all_boards);
    waitDone(1);
    EXPECT_EQ(texts(), (std::vector<std::string>{"Start firmware update (v3.5.3)\n",
                                                 "Will update 0 boards\n",
                                                 "Update finished. Return code 0\n"}));
    for (const auto &line : logs)
        EXPECT_EQ(line.level, ROMWRIGHT_LOG_INFO);
    EXPECT_EQ(done, std::vector<ROMWRIGHT_RC>{0});
    EXPECT_TRUE(boards.empty());
}

TEST_F(WorkerTest, OneBoardSucceedsWithTheWorkersOwnLinesAroundTheEngines) {
    useMachine(guitest::machineToml({{BoardSpec{"only"}}}));
    const std::string file = writeFirmware(temp_->path(), "fw-ZEN5191.rpd", 0x18000);
    request(file, single_board);
    waitDone(1);
    const auto all = texts();
    ASSERT_GE(all.size(), 6u);
    EXPECT_EQ(all[0], "Start firmware update (v3.5.3)\n");
    EXPECT_EQ(all[1], "Will update 1 boards\n");
    EXPECT_EQ(all[2], "Update board board 0\n");
    EXPECT_EQ(all[all.size() - 2], "Update succeeded.\n");
    EXPECT_EQ(all.back(), "Update finished. Return code 0\n");
    EXPECT_TRUE(logged("Firmware file = " + file + "\n"));
    EXPECT_EQ(done, std::vector<ROMWRIGHT_RC>{0});
    EXPECT_EQ(boards, (std::vector<std::pair<int, int>>{{1, 1}}));
    EXPECT_EQ(operations, (std::vector<ROMWRIGHT_OPERATION>{ROMWRIGHT_OPERATION_WRITING,
                                                            ROMWRIGHT_OPERATION_VERIFYING}));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 1.0f);

    const auto flash = flashOf("only");
    const auto image = guitest::firmwareBytes(0x18000);
    ASSERT_GE(flash.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
}

TEST_F(WorkerTest, SecondOfThreeBoardsFailsAndTheThirdIsNotTouched) {
    BoardSpec failing{"second"};
    failing.extra = "\n[[system.board.fault]]\ntype = \"call\"\ncall = \"KorvelFlashOpen\"\ncode = 513\n";
    useMachine(guitest::machineToml({{BoardSpec{"first"}, failing, BoardSpec{"third"}}}));
    const std::string file = writeFirmware(temp_->path(), "fw-ZEN5191.rpd", 0x18000);

    QWidget window;
    UpdateProgressWidget progress_window(&window);
    QObject::connect(&worker, &FirmwareUpdateWorker::board_changed, &progress_window,
                     &UpdateProgressWidget::onBoardChanged);
    QObject::connect(&worker, &FirmwareUpdateWorker::operation_changed, &progress_window,
                     &UpdateProgressWidget::onOperationChanged);
    QObject::connect(&worker, &FirmwareUpdateWorker::progress_changed, &progress_window,
                     &UpdateProgressWidget::onProgressChanged);

    request(file, all_boards);
    waitDone(1);
    EXPECT_EQ(done, std::vector<ROMWRIGHT_RC>{ROMWRIGHT_RC_ERROR});
    EXPECT_EQ(boards, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}}));
    EXPECT_TRUE(logged("Will update 3 boards\n"));
    EXPECT_TRUE(logged("Update board board 0\n"));
    EXPECT_TRUE(logged("Update board board 1\n"));
    EXPECT_FALSE(logged("Update board board 2\n"));
    EXPECT_EQ(texts().back(), "Update finished. Return code 1\n");
    EXPECT_TRUE(std::any_of(logs.begin(), logs.end(),
                            [](const LogLine &l) { return l.level == ROMWRIGHT_LOG_ERROR; }));
    // The worker adds no line of its own for an engine failure.
    EXPECT_FALSE(std::any_of(logs.begin(), logs.end(), [](const LogLine &l) {
        return l.text.rfind("Uncaught error", 0) == 0;
    }));

    const auto image = guitest::firmwareBytes(0x18000);
    const auto first = flashOf("first");
    EXPECT_TRUE(std::equal(image.begin(), image.end(), first.begin()));
    EXPECT_TRUE(erased(flashOf("second")));
    EXPECT_TRUE(erased(flashOf("third")));

    // The window's last board report: board 2 of 3, with the first board's
    // last operation still shown.
    const auto labels = progress_window.findChildren<QLabel *>();
    EXPECT_EQ(labels.at(1)->text(), "Verifing board 2 of 3");

    // The update history: the first board updated, the second failed, the
    // third never begun.
    const auto records = romwright::frontend::read_history(historyPath(), {});
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].program, "romwright-gui");
    EXPECT_EQ(records[0].board_id, 2u);
    EXPECT_EQ(records[0].result, "failed");
    EXPECT_NE(records[0].error.value_or("").find("Update Flash image failed"), std::string::npos);
    EXPECT_EQ(records[1].board_id, 1u);
    EXPECT_EQ(records[1].result, "succeeded");
    EXPECT_EQ(records[1].model, "ZEN5191");
    EXPECT_EQ(records[1].path, "flash-sector service");
    EXPECT_EQ(records[1].file_size, 0x18000u);
}

TEST_F(WorkerTest, BoardSystemAndSingleBoardSelectExactlyTheirBoards) {
    useMachine(guitest::machineToml({{BoardSpec{"s1b1"}, BoardSpec{"s1b2"}}, {BoardSpec{"s2b1"}}}));
    const std::string file = writeFirmware(temp_->path(), "fw-ZEN5191.rpd", 0x12000);

    request(file, board_system, 1, 2);
    waitDone(1);
    EXPECT_TRUE(logged("Will update 2 boards\n"));
    EXPECT_FALSE(erased(flashOf("s1b1")));
    EXPECT_FALSE(erased(flashOf("s1b2")));
    EXPECT_TRUE(erased(flashOf("s2b1")));

    request(file, single_board, 2, 1);
    waitDone(2);
    EXPECT_FALSE(erased(flashOf("s2b1")));
    EXPECT_EQ(done, (std::vector<ROMWRIGHT_RC>{0, 0}));
    EXPECT_EQ(boards, (std::vector<std::pair<int, int>>{{1, 2}, {2, 2}, {1, 1}}));
}

TEST_F(WorkerTest, AModeOutsideTheThreeSelectsNoBoard) {
    useMachine(guitest::machineToml({{BoardSpec{"untouched"}}}));
    const std::string file = writeFirmware(temp_->path(), "fw-ZEN5191.rpd");
    request(file, static_cast<romwrite_mode>(3));
    waitDone(1);
    EXPECT_TRUE(logged("Will update 0 boards\n"));
    EXPECT_EQ(done, std::vector<ROMWRIGHT_RC>{0});
    EXPECT_TRUE(erased(flashOf("untouched")));
}

TEST_F(WorkerTest, AMissingBoardIsHandedToTheEngineWhichRefusesIt) {
    useMachine(guitest::machineToml({{BoardSpec{"present"}}}));
    const std::string file = writeFirmware(temp_->path(), "fw-ZEN5191.rpd");
    request(file, single_board, 1, 5);
    waitDone(1);
    EXPECT_TRUE(logged("Will update 1 boards\n"));
    EXPECT_TRUE(std::any_of(logs.begin(), logs.end(), [](const LogLine &l) {
        return l.level == ROMWRIGHT_LOG_ERROR && l.text == "Board is null";
    }));
    EXPECT_EQ(done, std::vector<ROMWRIGHT_RC>{ROMWRIGHT_RC_ERROR});
    EXPECT_EQ(texts().back(), "Update finished. Return code 1\n");
}

struct VersionCase {
    const char *library;
    const char *driver;
    bool refused;
};

void PrintTo(const VersionCase &c, std::ostream *out) {
    *out << "library " << c.library << ", driver " << c.driver;
}

class WorkerVersionTest : public WorkerTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(WorkerVersionTest, RefusesALibraryOrDriverOlderThanSevenOne) {
    const VersionCase c = GetParam();
    useMachine(guitest::machineToml({{BoardSpec{"board"}}}, c.library, c.driver));
    const std::string file = writeFirmware(temp_->path(), "fw-ZEN5191.rpd");
    request(file, all_boards);
    waitDone(1);
    ASSERT_EQ(done.size(), 1u);
    if (c.refused) {
        ASSERT_EQ(logs.size(), 3u);
        EXPECT_EQ(logs[0].text, "Start firmware update (v3.5.3)\n");
        EXPECT_EQ(logs[1].level, ROMWRIGHT_LOG_ERROR);
        EXPECT_EQ(logs[1].text, kTooOldLine);
        EXPECT_EQ(logs[2].text, "Update finished. Return code 1\n");
        EXPECT_EQ(done[0], ROMWRIGHT_RC_ERROR);
        EXPECT_TRUE(erased(flashOf("board")));
    } else {
        EXPECT_FALSE(logged(kTooOldLine));
        EXPECT_EQ(done[0], ROMWRIGHT_RC_SUCCESS);
    }
    // The selected board's attempt is in the update history either way.
    const auto records = romwright::frontend::read_history(historyPath(), {});
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].result, c.refused ? "refused" : "succeeded");
    EXPECT_EQ(records[0].system_id, 1u);
    EXPECT_EQ(records[0].board_id, 1u);
}

INSTANTIATE_TEST_SUITE_P(Versions, WorkerVersionTest,
                         ::testing::Values(VersionCase{"7.0.9", "7.4.0", true},
                                           VersionCase{"6.9.0", "7.4.0", true},
                                           VersionCase{"7.4.0", "7.0.0", true},
                                           VersionCase{"7.4.0", "5.2.1", true},
                                           VersionCase{"7.1.0", "7.1.0", false},
                                           VersionCase{"8.0.0", "7.1.3", false}),
                         [](const ::testing::TestParamInfo<VersionCase> &info) {
                             std::string name = std::string("library_") + info.param.library +
                                                "_driver_" + info.param.driver;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

TEST_F(WorkerTest, AnUnreadableLibraryVersionEndsTheRequestWithAnError) {
    // A description the simulated library refuses: it then answers no version query.
    useMachine("[[system]]\n[[system.board]]\nname = \"bad\"\nkind = 0\n");
    request("/nonexistent/firmware-ZEN5191.rpd", all_boards);
    waitDone(1);
    EXPECT_EQ(texts(), (std::vector<std::string>{"Start firmware update (v3.5.3)\n",
                                                 "Uncaught error: Could not query SDK version\n",
                                                 "Update finished. Return code 1\n"}));
    ASSERT_EQ(logs.size(), 3u);
    EXPECT_EQ(logs[1].level, ROMWRIGHT_LOG_ERROR);
    EXPECT_EQ(done, std::vector<ROMWRIGHT_RC>{ROMWRIGHT_RC_ERROR});
    EXPECT_TRUE(boards.empty());
}

TEST_F(WorkerTest, ASecondRequestWaitsUntilTheRunningOneIsDone) {
    BoardSpec slow{"slow", 35, {5}};
    slow.extra = "\n[system.board.upgrade]\npolls = 300\nend_status = 2\nend_percent = 100\n";
    useMachine(guitest::machineToml({{slow}}));
    const std::string file = writeFirmware(temp_->path(), "fw-ZEN5190.rpd");

    // Both requests are queued before the worker finishes the first.
    request(file, single_board);
    request(file, single_board);
    waitDone(2);
    EXPECT_EQ(done, (std::vector<ROMWRIGHT_RC>{0, 0}));

    const auto at = [this](const std::string &text, std::size_t from = 0) {
        return std::find(events.begin() + static_cast<long>(from), events.end(), text) - events.begin();
    };
    const auto first_start = static_cast<std::size_t>(at("Start firmware update (v3.5.3)\n"));
    const auto first_done = static_cast<std::size_t>(at("update_done 0"));
    const auto second_start = static_cast<std::size_t>(at("Start firmware update (v3.5.3)\n", first_start + 1));
    EXPECT_LT(first_start, first_done);
    EXPECT_LT(first_done, second_start);
    EXPECT_LT(second_start, events.size());
    EXPECT_EQ(events[first_done - 1], "Update finished. Return code 0\n");
}

// SIGTERM, Ctrl+C or a closed session during an update, as the program
// defers them: the worker finishes the board being written and stops before
// the next one.
class WorkerStopTest : public WorkerTest {
protected:
    void SetUp() override {
        WorkerTest::SetUp();
        romwright::frontend::defer_stop_requests("gui_tests");
        romwright::platform::forget_stop_request();
    }
    void TearDown() override {
        romwright::platform::forget_stop_request();
        WorkerTest::TearDown();
    }

    std::size_t times(const std::string &text) const {
        const auto all = texts();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), text));
    }
};

TEST_F(WorkerStopTest, AStopDuringTheFirstBoardEndsTheRequestBeforeTheSecond) {
    useMachine(guitest::machineToml({{BoardSpec{"first"}, BoardSpec{"second"}}}));
    const std::string file = writeFirmware(temp_->path(), "fw-ZEN5191.rpd", 0x18000);
    // Raised on the worker thread as the first board starts writing.
    QObject::connect(
        &worker, &FirmwareUpdateWorker::operation_changed, &worker,
        [](ROMWRIGHT_OPERATION) {
            if (!romwright::frontend::stop_requested())
                std::raise(SIGTERM);
        },
        Qt::DirectConnection);
    request(file, all_boards);
    waitDone(1);

    EXPECT_EQ(done, std::vector<ROMWRIGHT_RC>{ROMWRIGHT_RC_ERROR});
    EXPECT_EQ(boards, (std::vector<std::pair<int, int>>{{1, 2}}));
    EXPECT_EQ(times("Update succeeded.\n"), 1u);
    const std::string stopped =
        "Stopped by SIGTERM before board 2 of 2; the boards before it were updated.\n";
    EXPECT_TRUE(std::any_of(logs.begin(), logs.end(), [&](const LogLine &l) {
        return l.level == ROMWRIGHT_LOG_ERROR && l.text == stopped;
    }));
    EXPECT_FALSE(logged("Update board board 1\n"));
    EXPECT_EQ(texts().back(), "Update finished. Return code 1\n");

    const auto image = guitest::firmwareBytes(0x18000);
    const auto first = flashOf("first");
    EXPECT_TRUE(std::equal(image.begin(), image.end(), first.begin()));
    EXPECT_TRUE(erased(flashOf("second")));
}

TEST_F(WorkerStopTest, AStopBeforeTheRequestTouchesNoBoard) {
    useMachine(guitest::machineToml({{BoardSpec{"first"}, BoardSpec{"second"}}}));
    const std::string file = writeFirmware(temp_->path(), "fw-ZEN5191.rpd");
    ASSERT_EQ(std::raise(SIGINT), 0);
    request(file, all_boards);
    waitDone(1);
    EXPECT_EQ(texts(), (std::vector<std::string>{
                           "Start firmware update (v3.5.3)\n", "Will update 2 boards\n",
                           "Stopped by SIGINT before board 1 of 2; no board was touched.\n",
                           "Update finished. Return code 1\n"}));
    EXPECT_EQ(done, std::vector<ROMWRIGHT_RC>{ROMWRIGHT_RC_ERROR});
    EXPECT_TRUE(boards.empty());
    EXPECT_TRUE(erased(flashOf("first")));
    EXPECT_TRUE(erased(flashOf("second")));
}

TEST(WorkerCallbacks, LevelZeroLinesReachTheWindowOnlyWithVerboseLog) {
    const struct {
        bool verbose;
        ROMWRIGHT_LOG_LEVEL level;
        bool forwarded;
    } cases[] = {
        {false, ROMWRIGHT_LOG_DEBUG, false},  {false, ROMWRIGHT_LOG_INFO, true},
        {false, ROMWRIGHT_LOG_WARNING, true}, {false, ROMWRIGHT_LOG_ERROR, true},
        {true, ROMWRIGHT_LOG_DEBUG, true},    {true, ROMWRIGHT_LOG_INFO, true},
        {true, ROMWRIGHT_LOG_ERROR, true},
    };
    for (const auto &c : cases) {
        FirmwareUpdateWorker worker;
        std::vector<LogLine> seen;
        QObject::connect(&worker, &FirmwareUpdateWorker::log,
                         [&seen](ROMWRIGHT_LOG_LEVEL level, std::string text) {
                             seen.push_back({level, text});
                         });
        engine_callbacks callbacks = worker.makeEngineCallbacks(c.verbose);
        engine_log_callback(c.level, "engine line\n", &callbacks);
        if (c.forwarded) {
            ASSERT_EQ(seen.size(), 1u) << "verbose " << c.verbose << " level " << c.level;
            EXPECT_EQ(seen[0].level, c.level);
            EXPECT_EQ(seen[0].text, "engine line\n");
        } else {
            EXPECT_TRUE(seen.empty()) << "verbose " << c.verbose << " level " << c.level;
        }
    }
}

TEST(WorkerCallbacks, ThePlainCallbacksForwardIntoTheRecordTheyAreHanded) {
    std::vector<std::string> calls;
    engine_callbacks callbacks;
    callbacks.on_operation = [&calls](ROMWRIGHT_OPERATION op) { calls.push_back("op " + std::to_string(op)); };
    callbacks.on_progress = [&calls](float p) { calls.push_back("progress " + std::to_string(p)); };
    callbacks.on_log = [&calls](ROMWRIGHT_LOG_LEVEL level, std::string text) {
        calls.push_back("log " + std::to_string(level) + " " + text);
    };
    engine_operation_callback(ROMWRIGHT_OPERATION_ERASING, &callbacks);
    engine_progress_callback(0.25f, &callbacks);
    engine_log_callback(ROMWRIGHT_LOG_WARNING, "careful", &callbacks);
    engine_log_callback(ROMWRIGHT_LOG_INFO, nullptr, &callbacks);
    EXPECT_EQ(calls, (std::vector<std::string>{"op 1", "progress 0.250000", "log 2 careful", "log 1 "}));
}

} // namespace
