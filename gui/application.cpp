#include "application.hpp"

#include <iostream>
#include <string>

#include <QMessageBox>

#include <romwright/frontend/device_library.hpp>
#include <romwright/frontend/stop_request.hpp>

#include "fatal_error.hpp"
#include "mainwindow.hpp"
#include "update_request.hpp"

namespace romwright_gui {

GuiApplication::GuiApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool GuiApplication::notify(QObject *receiver, QEvent *event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &) {
        endWithError(std::current_exception());
        return false;
    }
}

int runMainWindow(QApplication &app, const WindowShown &shown) {
    try {
        MainWindow window;
        window.show();
        if (shown)
            shown(window);
        const int status = app.exec();
        if (std::exception_ptr error = takeFatalError())
            std::rethrow_exception(error);
        return status;
    } catch (const std::exception &error) {
        return reportCriticalError(error);
    }
}

int runProgram(int &argc, char **argv, const WindowShown &shown) {
    // SIGTERM, Ctrl+C or a closed session wait for the board being written;
    // the main window looks for them and ends the program (see MainWindow).
    romwright::frontend::defer_stop_requests("romwright-gui");
    declareEndpointMetaType();
    GuiApplication app(argc, argv);
    // Without the device library there are no boards to show: said in a
    // box, as the console programs say it on the console.
    if (const auto missing = romwright::frontend::device_library_missing()) {
        std::cerr << "Error: " << *missing << std::endl;
        QMessageBox::critical(nullptr, QStringLiteral("Zenapi library missing"),
                              QString::fromStdString(*missing), QMessageBox::Ok);
        return -1;
    }
    return runMainWindow(app, shown);
}

int reportCriticalError(const std::exception &error) {
    const std::string message = std::string("Error: ") + error.what();
    std::cerr << message << std::endl;
    QMessageBox::critical(nullptr, QStringLiteral("Critical error"),
                          QString::fromStdString(message), QMessageBox::Ok);
    return 1;
}

} // namespace romwright_gui
