// Test entry: every GUI test needs the program's application object, made
// once per process. Without a display the tests draw offscreen.
#include <gtest/gtest.h>

#include "gui/application.hpp"
#include "gui/update_request.hpp"

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    romwright_gui::declareEndpointMetaType();
    romwright_gui::GuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
