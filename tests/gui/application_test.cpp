// The program's top-level error handling: an error from the window's
// construction or from a slot on the GUI thread ends the event loop and the
// program with the "Critical error" box and exit status 1.
#include <stdexcept>
#include <string>

#include <QPushButton>
#include <QTimer>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "gui/application.hpp"
#include "gui/mainwindow.hpp"
#include "gui/update_progress_widget.hpp"
#include "tests/gui/gui_test_support.hpp"

namespace {

using guitest::BoardSpec;

QApplication &app() {
    return *qApp;
}

using ApplicationTest = guitest::GuiTest;

TEST_F(ApplicationTest, TheCriticalErrorBoxAndStandardErrorCarryTheMessage) {
    guitest::MessageBoxAnswerer answerer;
    testing::internal::CaptureStderr();
    QTimer::singleShot(0, [] {
        EXPECT_EQ(romwright_gui::reportCriticalError(std::runtime_error("boom")), 1);
        QCoreApplication::exit(0);
    });
    QApplication::exec();
    EXPECT_THAT(testing::internal::GetCapturedStderr(), testing::HasSubstr("Error: boom\n"));
    ASSERT_EQ(answerer.seen().size(), 1u);
    const auto &box = answerer.seen()[0];
    EXPECT_EQ(box.title, "Critical error");
    EXPECT_EQ(box.text, "Error: boom");
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.buttons, QMessageBox::Ok);
    EXPECT_FALSE(box.has_parent);
}

// A slot that does not guard its body: the application object catches it.
TEST_F(ApplicationTest, AnErrorLeavingAnEventHandlerEndsTheEventLoopAndIsKept) {
    QTimer::singleShot(0, [] { throw std::runtime_error("from a slot"); });
    QTimer::singleShot(0, [] { throw std::runtime_error("a second one"); });
    QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(QApplication::exec(), 1);
    EXPECT_EQ(guitest::takeFatalErrorText(), "from a slot");
}

TEST_F(ApplicationTest, AnInvalidOperationReachingTheProgressWindowEndsTheEventLoop) {
    romwright_gui::registerUpdateMetaTypes();
    QWidget parent;
    UpdateProgressWidget progress(&parent);
    QMetaObject::invokeMethod(&progress, "onOperationChanged", Qt::QueuedConnection,
                              Q_ARG(ROMWRIGHT_OPERATION, static_cast<ROMWRIGHT_OPERATION>(9)));
    QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(QApplication::exec(), 1);
    EXPECT_EQ(guitest::takeFatalErrorText(), "Invalid operation.");
}

TEST_F(ApplicationTest, AFatalCheckInTheWindowEndsTheProgramWithStatusOne) {
    // The file is for a ZEN5190; board 1 of system 1 is a ZEN5191.
    useMachine(guitest::machineToml({{BoardSpec("board")}}));
    writeFirmware(desktop(), "fw-ZEN5190.rpd");
    guitest::MessageBoxAnswerer answerer;
    QTimer::singleShot(100, [] {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *window = qobject_cast<MainWindow *>(widget))
                window->findChild<QPushButton *>("updateButton")->click();
    });
    testing::internal::CaptureStderr();
    EXPECT_EQ(romwright_gui::runMainWindow(app()), 1);
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                testing::HasSubstr("Error: Invalid firmware board type\n"));
    ASSERT_EQ(answerer.seen().size(), 1u);
    EXPECT_EQ(answerer.seen()[0].title, "Critical error");
    EXPECT_EQ(answerer.seen()[0].text, "Error: Invalid firmware board type");
    EXPECT_FALSE(answerer.seen()[0].main_window_open) << "the box came while the window was open";
}

TEST_F(ApplicationTest, TheExitButtonEndsTheProgramWithStatusZero) {
    useMachine(guitest::machineToml({}));
    QTimer::singleShot(100, [] {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *window = qobject_cast<MainWindow *>(widget))
                window->findChild<QPushButton *>("exitButton")->click();
    });
    EXPECT_EQ(romwright_gui::runMainWindow(app()), 0);
    EXPECT_EQ(guitest::takeFatalErrorText(), "");
}

} // namespace
