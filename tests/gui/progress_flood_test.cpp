// A page-mode update reports progress once per flash page. These tests count
// what reaches the GUI thread and check that the progress window ends up
// showing what it would show had every report been delivered.
#include <atomic>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <gtest/gtest.h>

#include <zenapi/Zenapi.h>

#include "gui/firmware_update_worker.hpp"
#include "gui/progress_throttle.hpp"
#include "gui/update_progress_widget.hpp"
#include "tests/gui/gui_test_support.hpp"
#include "tests/support/process.hpp"

namespace {

using guitest::BoardSpec;

// Counts the queued slot calls that reach an object on the GUI thread.
class QueuedCallCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::MetaCall)
            ++count;
        return false;
    }
};

struct Shown {
    QString text;
    int percent;
    bool operator==(const Shown &other) const {
        return text == other.text && percent == other.percent;
    }
};

Shown shownBy(UpdateProgressWidget &widget) {
    return {widget.findChildren<QLabel *>().at(1)->text(), widget.findChild<QProgressBar *>()->value()};
}

void wire(FirmwareUpdateWorker &worker, UpdateProgressWidget &window) {
    QObject::connect(&worker, &FirmwareUpdateWorker::board_changed, &window,
                     &UpdateProgressWidget::onBoardChanged);
    QObject::connect(&worker, &FirmwareUpdateWorker::operation_changed, &window,
                     &UpdateProgressWidget::onOperationChanged);
    QObject::connect(&worker, &FirmwareUpdateWorker::progress_changed, &window,
                     &UpdateProgressWidget::onProgressChanged);
}

// One report of a synthetic update, as the engine would make it.
struct Report {
    enum Kind { board, operation, progress } kind;
    int value;       // board number or operation
    float fraction;  // progress
};

// Two boards; erase, write and verify with `pages` reports each, a retry
// that starts writing again from zero, and a last operation cut short at an
// odd fraction (as a failure would leave it).
std::vector<Report> syntheticUpdate(int pages) {
    std::vector<Report> reports;
    const auto operation = [&](ROMWRIGHT_OPERATION op, int upto) {
        reports.push_back({Report::operation, op, 0.0f});
        for (int page = 1; page <= upto; ++page)
            reports.push_back({Report::progress, 0, static_cast<float>(page) / static_cast<float>(pages)});
    };
    for (int board = 1; board <= 2; ++board) {
        reports.push_back({Report::board, board, 0.0f});
        operation(ROMWRIGHT_OPERATION_ERASING, pages);
        operation(ROMWRIGHT_OPERATION_WRITING, pages / 3);
        operation(ROMWRIGHT_OPERATION_ERASING, pages);
        operation(ROMWRIGHT_OPERATION_WRITING, pages);
        operation(ROMWRIGHT_OPERATION_VERIFYING, board == 2 ? pages * 7345 / 10000 : pages);
    }
    return reports;
}

TEST(ProgressFlood, ASyntheticFloodReachesTheGuiAsAFewHundredEventsShowingTheSame) {
    constexpr int kPages = 100000;
    const std::vector<Report> reports = syntheticUpdate(kPages);
    int operations = 0;
    for (const Report &r : reports)
        operations += r.kind == Report::operation;

    FirmwareUpdateWorker worker;
    QThread thread;
    worker.moveToThread(&thread);
    thread.start();
    QWidget parent;
    UpdateProgressWidget coalesced(&parent);
    UpdateProgressWidget reference(&parent);
    wire(worker, coalesced);
    QueuedCallCounter counter;
    coalesced.installEventFilter(&counter);
    bool finished = false;
    QObject::connect(&worker, &FirmwareUpdateWorker::update_done, &parent, [&] { finished = true; });

    // The flood runs on the worker thread, through the callbacks the worker
    // hands the engine: a new set per board, as in a real request.
    QMetaObject::invokeMethod(&worker, [&worker, &reports] {
        engine_callbacks callbacks;
        for (const Report &r : reports) {
            switch (r.kind) {
            case Report::board:
                emit worker.board_changed(r.value, 2);
                callbacks = worker.makeEngineCallbacks(false);
                break;
            case Report::operation:
                engine_operation_callback(static_cast<ROMWRIGHT_OPERATION>(r.value), &callbacks);
                break;
            case Report::progress:
                engine_progress_callback(r.fraction, &callbacks);
                break;
            }
        }
        emit worker.update_done(0);
    });
    // The reference window gets every report directly.
    for (const Report &r : reports) {
        if (r.kind == Report::board)
            reference.onBoardChanged(r.value, 2);
        else if (r.kind == Report::operation)
            reference.onOperationChanged(static_cast<ROMWRIGHT_OPERATION>(r.value));
        else
            reference.onProgressChanged(r.fraction);
    }
    ASSERT_TRUE(guitest::waitFor([&] { return finished; }));
    thread.exit(0);
    thread.wait();

    EXPECT_EQ(shownBy(coalesced), shownBy(reference));
    EXPECT_EQ(shownBy(reference), (Shown{"Verifing board 2 of 2", 73}));
    // Per operation at most the 101 percentages plus a forced first report;
    // plus the operation and board reports themselves.
    const int bound = 2 + operations + operations * 102;
    RecordProperty("reports", static_cast<int>(reports.size()));
    RecordProperty("gui_events", counter.count);
    EXPECT_LE(counter.count, bound) << "of " << reports.size() << " reports";
    EXPECT_GE(counter.count, operations * 50);
}

TEST(ProgressThrottle, ForwardsExactlyTheReportsThatChangeTheShownPercentage) {
    romwright_gui::progress_throttle throttle;
    const struct {
        float progress;
        bool forwarded;
    } steps[] = {
        {0.001f, true},   // the first report
        {0.002f, false},  // still 0 %
        {0.011f, true},   // 1 %
        {0.019f, false},  // 1 %
        {0.5f, true},     {0.505f, false}, {0.2f, true},  // backwards is a change too
        {0.999f, true},   {0.9995f, false},
        {1.0f, true},     {1.0f, true},  // completion always goes through
    };
    for (const auto &step : steps)
        EXPECT_EQ(throttle.shouldForward(step.progress), step.forwarded) << step.progress;

    throttle.operationReported();
    EXPECT_TRUE(throttle.shouldForward(1.0f));
    EXPECT_TRUE(throttle.shouldForward(0.0f));
    throttle.operationReported();
    EXPECT_TRUE(throttle.shouldForward(0.0f)) << "first report of an operation";
    EXPECT_FALSE(throttle.shouldForward(0.001f));
}

TEST(ProgressThrottle, ShownPercentMatchesTheWindowsTruncation) {
    const struct {
        float progress;
        int percent;
    } cases[] = {{0.0f, 0}, {0.999f, 99}, {0.5f, 50}, {1.0f, 100}, {0.015f, 1}, {2.0f, 100}, {-1.0f, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(romwright_gui::shownPercent(c.progress), c.percent) << c.progress;
}

class PageModeFlood : public guitest::GuiTest {};

// A real page-mode update of the simulated machine: the engine reports once
// per page erased, written and verified.
TEST_F(PageModeFlood, ARealPageModeUpdateReachesTheGuiAsAFewHundredEvents) {
    const std::string board_toml =
        "revision = \"2.0\"\ncpld = \"3.0\"\nksopc_signature = 0x02040000\nserial = 511001\n";
    BoardSpec counted("counted", 11, {});
    counted.flash_size = 0x800000;
    counted.extra = board_toml;
    BoardSpec direct("direct", 11, {});
    direct.flash_size = 0x800000;
    direct.extra = board_toml;
    useMachine(guitest::machineToml({{counted, direct}}));
    const std::string file = temp_->file("fw-ZEN5110.rpd");
    const auto made = testsupport::run_process(testsupport::bin_path("romwright-mkimage"),
                                               {"--board", "ZEN5110", "--out", file});
    ASSERT_EQ(made.exit_code, 0) << made.err;

    // How many reports the engine makes for this update, without the worker.
    engine_callbacks raw;
    int raw_reports = 0;
    raw.on_operation = [&raw_reports](ROMWRIGHT_OPERATION) { ++raw_reports; };
    raw.on_progress = [&raw_reports](float) { ++raw_reports; };
    raw.on_log = [](ROMWRIGHT_LOG_LEVEL, std::string) {};
    const romwright::options options;
    ASSERT_EQ(romwright_update_firmware(file.c_str(), KorvelGetBoardBySystemID(1, 2),
                                        engine_operation_callback, engine_progress_callback,
                                        engine_log_callback, options.record(), &raw),
              ROMWRIGHT_RC_SUCCESS);

    FirmwareUpdateWorker worker;
    QThread thread;
    worker.moveToThread(&thread);
    thread.start();
    QWidget parent;
    UpdateProgressWidget window(&parent);
    wire(worker, window);
    QueuedCallCounter counter;
    window.installEventFilter(&counter);
    std::vector<ROMWRIGHT_RC> done;
    QObject::connect(&worker, &FirmwareUpdateWorker::update_done, &parent,
                     [&done](ROMWRIGHT_RC rc) { done.push_back(rc); });
    guitest::Requester requester;
    QObject::connect(&requester, &guitest::Requester::request, &worker,
                     &FirmwareUpdateWorker::update_firmware);
    emit requester.request(file, ba::endpoint(), 1, 1, options, single_board, false);
    ASSERT_TRUE(guitest::waitFor([&done] { return !done.empty(); }));
    thread.exit(0);
    thread.wait();

    EXPECT_EQ(done, std::vector<ROMWRIGHT_RC>{ROMWRIGHT_RC_SUCCESS});
    EXPECT_EQ(shownBy(window), (Shown{"Verifing board 1 of 1", 100}));
    RecordProperty("engine_reports", raw_reports);
    RecordProperty("gui_events", counter.count);
    EXPECT_GT(raw_reports, 10000) << "the update was expected to report per page";
    EXPECT_LE(counter.count, 1 + 3 * 103) << "of " << raw_reports << " engine reports";
}

} // namespace
