// romwright-gui: updates the firmware of Korvel boards from a Qt window.
#include "application.hpp"

int main(int argc, char *argv[]) { return romwright_gui::runProgram(argc, argv); }
