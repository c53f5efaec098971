// The program's application object and its top-level error handling.
#pragma once

#include <QApplication>

namespace romwright_gui {

// A standard exception that leaves an event handler anyway (slots guard
// their own bodies, see fatal_error.hpp) ends the event loop the same way.
class GuiApplication : public QApplication {
public:
    GuiApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};

// Builds the main window, shows it and runs the event loop. A standard
// exception from the window's construction or one that ended the event loop
// ends in reportCriticalError. Returns the program's exit status.
int runMainWindow(QApplication &app);

// Writes "Error: <what>" to standard error, shows it in a "Critical error"
// box and returns the exit status 1.
int reportCriticalError(const std::exception &error);

} // namespace romwright_gui
