// The screenshot tour: a walk through one update with nobody at the window.
//
// Once the main window shows, the tour saves it as main-window.png in the
// folder, presses "update" itself (so the request is the one the window starts
// with: the firmware file on the Desktop and board 1 of system 1), saves the
// progress window as progress-window.png once the bar reaches half way, and
// saves each message box that follows (named after its title, e.g.
// update-succeeded.png) before pressing its default button and quitting.
//
// It drives the program's own window from outside: the test program
// romwright-gui-tour (tour_main.cpp) runs the program's whole flow with it,
// and the GUI tests run that program, under Xvfb for the README's
// screenshots. The shipped romwright-gui has no such walk.
#pragma once

#include <QString>

class MainWindow;

namespace romwright_gui_tour {

void startScreenshotTour(MainWindow &window, const QString &folder);

} // namespace romwright_gui_tour
