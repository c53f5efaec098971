// romwright-gui: updates the firmware of Korvel boards from a Qt window.
#include "engine/frontend/stop_request.hpp"
#include "gui/application.hpp"
#include "gui/update_request.hpp"

int main(int argc, char *argv[]) {
    // SIGTERM, Ctrl+C or a closed session wait for the board being written;
    // the main window looks for them and ends the program (see MainWindow).
    romwright::frontend::defer_stop_requests("romwright-gui");
    romwright_gui::declareEndpointMetaType();
    romwright_gui::GuiApplication app(argc, argv);
    return romwright_gui::runMainWindow(app);
}
