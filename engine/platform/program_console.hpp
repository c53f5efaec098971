// Console programs: their arguments and their output in UTF-8 on every
// system; console_posix.cpp and console_windows.cpp implement this.
#pragma once

#include <string>
#include <vector>

namespace romwright::platform {

// The program's arguments after the program name, in UTF-8. POSIX hands
// them over as they are; Windows reads them from the wide command line, as
// argv holds them in the ANSI code page, where a name in another script
// (a firmware file in a folder named in Cyrillic, say) is lost.
std::vector<std::string> program_arguments(int argc, char **argv);

// Lets the console show the program's UTF-8 output (paths in messages) as
// written: on Windows the console's output code page is UTF-8 until the
// program ends, when the one it had comes back. Nothing on POSIX, whose
// terminals take UTF-8 already.
void use_utf8_console() noexcept;

} // namespace romwright::platform
