// What a console program needs from the system before it parses its command
// line: the arguments in UTF-8 and a console that shows UTF-8 as written.
#pragma once

#include <string>
#include <vector>

namespace romwright::frontend {

// The program's arguments after the program name, in UTF-8 on every system
// (on Windows read from the wide command line), so a firmware path in any
// script reaches the file.
std::vector<std::string> program_arguments(int argc, char **argv);

// Lets the console show the program's UTF-8 output (paths in messages) as
// written, until the program ends.
void use_utf8_console() noexcept;

} // namespace romwright::frontend
