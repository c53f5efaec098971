// A hook for taking pictures of the program's windows without a user.
//
// With ROMWRIGHT_GUI_SCREENSHOT_DIR=<folder> in its environment the program,
// once its window shows, saves the main window as main-window.png, presses
// "update" itself (so the request is the one the window starts with: the
// firmware file on the Desktop and board 1 of system 1), saves the progress
// window as progress-window.png once the bar reaches half way, and saves each
// message box that follows (named after its title, e.g. update-succeeded.png)
// before pressing its default button and quitting. Without the variable
// nothing of this happens. The GUI test under Xvfb uses it to make the
// screenshots of the README.
#pragma once

class MainWindow;

namespace romwright_gui {

void startScreenshotTourIfAsked(MainWindow &window);

} // namespace romwright_gui
