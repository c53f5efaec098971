// romwright-gui: updates the firmware of Korvel boards from a Qt window.
#include "gui/application.hpp"
#include "gui/update_request.hpp"

int main(int argc, char *argv[]) {
    romwright_gui::declareEndpointMetaType();
    romwright_gui::GuiApplication app(argc, argv);
    return romwright_gui::runMainWindow(app);
}
