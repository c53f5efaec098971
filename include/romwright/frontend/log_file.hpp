// The log file of a front end. Texts are appended as the engine and the
// front end send them, but the file only ever receives whole lines: a text
// without a line break (a piece of a hex dump, "Board is null", a caught
// exception's text) is kept in memory until its line is complete, or until
// the entry ends (after each board and at the end of the run), when it is
// written with a line break added. So neither a killed program nor a power
// loss can leave half a line for the next run's header to continue.
//
// The file is opened, appended to and closed for every write, shared with
// other programs, so it can be read while an update runs. A file that cannot
// be written (a folder of that name, a full disk, no right to write) gets one
// warning on standard error naming the file and the reason, once per
// LogFile; the update goes on without its lines.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace romwright::frontend {

class LogFile {
public:
    // Gives the file's path (UTF-8) before each write; it may raise a
    // std::exception, whose text then is the warning's reason.
    using PathSource = std::function<std::string()>;

    // program names the program in the warning. mode is the append mode
    // handed to the C library ("ab"; "a" for a text file on Windows).
    LogFile(std::string program, PathSource path, const char *mode = "ab", std::FILE *warnings = stderr);
    LogFile(std::string program, const std::string &path, const char *mode = "ab", std::FILE *warnings = stderr);
    // Ends the entry: a kept text is written.
    ~LogFile();

    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;

    // Writes every complete line of what is kept plus text; keeps the rest.
    // Never raises: the log must not stop an update.
    void append(const std::string &text) noexcept;
    // Writes a kept text with a line break added. Never raises.
    void end_entry() noexcept;

    bool warned() const noexcept { return warned_; }

private:
    void take(const std::string &text);
    void write(const std::string &lines);
    void warn(const std::string &path, const std::string &reason);

    std::string program_;
    PathSource path_;
    const char *mode_;
    std::FILE *warnings_;
    std::string kept_;
    bool warned_ = false;
};

} // namespace romwright::frontend
