// The program's application object and its top-level error handling.
#pragma once

#include <exception>

#include <QApplication>

namespace romwright_gui {

// Ends the event loop on the first standard exception that leaves an event
// handler (a slot run on the GUI thread, a queued report, a key press), so
// the error reaches the program's own handler instead of unwinding through
// Qt's event dispatch.
class GuiApplication : public QApplication {
public:
    GuiApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    // Raises again the exception that ended the event loop, if there was one.
    void rethrowFatalError() const;

private:
    std::exception_ptr fatal_error_;
};

// Builds the main window, shows it and runs the event loop. A standard
// exception from the window's construction or from a slot on the GUI thread
// ends in reportCriticalError. Returns the program's exit status.
int runMainWindow(GuiApplication &app);

// Writes "Error: <what>" to standard error, shows it in a "Critical error"
// box and returns the exit status 1.
int reportCriticalError(const std::exception &error);

} // namespace romwright_gui
