// The program's application object and its top-level error handling.
#pragma once

#include <functional>

#include <QApplication>

class MainWindow;

namespace romwright_gui {

// A standard exception that leaves an event handler anyway (slots guard
// their own bodies, see fatal_error.hpp) ends the event loop the same way.
class GuiApplication : public QApplication {
public:
    GuiApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};

// Called with the main window once it is shown, before the event loop runs.
using WindowShown = std::function<void(MainWindow &)>;

// Builds the main window, shows it and runs the event loop. A standard
// exception from the window's construction or one that ended the event loop
// ends in reportCriticalError. Returns the program's exit status.
int runMainWindow(QApplication &app, const WindowShown &shown = {});

// The whole program: stop requests deferred, the update types declared, the
// application object made and the main window run. A program that drives the
// window (the screenshot tour of the tests) passes shown.
int runProgram(int &argc, char **argv, const WindowShown &shown = {});

// Writes "Error: <what>" to standard error, shows it in a "Critical error"
// box and returns the exit status 1.
int reportCriticalError(const std::exception &error);

} // namespace romwright_gui
