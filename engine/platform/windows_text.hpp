// UTF-8 and UTF-16 for the Windows files of the platform layer: the engine
// keeps paths and texts in UTF-8, the system's wide-character calls take and
// give UTF-16. Windows only (windows_text_windows.cpp); nothing outside
// engine/platform/ includes this.
#pragma once

#include <string>
#include <string_view>

namespace romwright::platform::windows_text {

// UTF-8 to UTF-16.
std::wstring widen(const std::string &utf8);

// UTF-16 to UTF-8 (a zero-terminated text converts up to its end).
std::string narrow(std::wstring_view wide);

} // namespace romwright::platform::windows_text
