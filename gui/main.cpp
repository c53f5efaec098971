// romwright-gui: updates the firmware of Korvel boards from a Qt window.
#include <cstring>

#include <QCommandLineParser>
#include <QCoreApplication>

#include <romwright/version.hpp>

#include "application.hpp"

namespace {

// The options QCommandLineParser's help and version options answer.
bool asksForHelpOrVersion(int argc, char *argv[]) {
    for (int k = 1; k < argc; ++k)
        for (const char *option : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[k], option) == 0) return true;
    return false;
}

// Prints the help or the version and exits, as Qt programs do, without a
// window: a QCoreApplication needs no display.
int printHelpOrVersion(int &argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("romwright-gui"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(romwright::kVersion));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Korvel Firmware Updater: writes new FPGA firmware to the flash of Korvel digitizer boards."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);  // exits after printing
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    if (asksForHelpOrVersion(argc, argv)) return printHelpOrVersion(argc, argv);
    return romwright_gui::runProgram(argc, argv);
}
