#include "gui/application.hpp"

#include <iostream>
#include <string>

#include <QMessageBox>

#include "gui/mainwindow.hpp"
#include "gui/screenshot_tour.hpp"

namespace romwright_gui {

GuiApplication::GuiApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool GuiApplication::notify(QObject *receiver, QEvent *event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &) {
        if (!fatal_error_)
            fatal_error_ = std::current_exception();
        // Leaves nested loops (an open message box or dialog) as well.
        QCoreApplication::exit(1);
        return false;
    }
}

void GuiApplication::rethrowFatalError() const {
    if (fatal_error_)
        std::rethrow_exception(fatal_error_);
}

int runMainWindow(GuiApplication &app) {
    try {
        MainWindow window;
        window.show();
        startScreenshotTourIfAsked(window);
        const int status = app.exec();
        app.rethrowFatalError();
        return status;
    } catch (const std::exception &error) {
        return reportCriticalError(error);
    }
}

int reportCriticalError(const std::exception &error) {
    const std::string message = std::string("Error: ") + error.what();
    std::cerr << message << std::endl;
    QMessageBox::critical(nullptr, QStringLiteral("Critical error"),
                          QString::fromStdString(message), QMessageBox::Ok);
    return 1;
}

} // namespace romwright_gui
