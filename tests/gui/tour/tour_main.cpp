// romwright-gui-tour <folder>: romwright-gui as it ships, walked through one
// update by the screenshot tour, which saves the windows it meets in
// <folder>. A test program: the GUI tests run it where they need the real
// program to update a board with nobody at the window.
#include <cstdio>

#include <QString>

#include "gui/application.hpp"
#include "tests/gui/tour/screenshot_tour.hpp"

int main(int argc, char *argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: romwright-gui-tour <folder> [Qt options]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    // The program sees its own name and the Qt options, not the folder.
    argv[1] = argv[0];
    int program_argc = argc - 1;
    return romwright_gui::runProgram(program_argc, argv + 1, [&folder](MainWindow &window) {
        romwright_gui_tour::startScreenshotTour(window, folder);
    });
}
