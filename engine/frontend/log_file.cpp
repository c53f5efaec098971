#include <romwright/frontend/log_file.hpp>

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include <fmt/format.h>

#include "engine/platform/files.hpp"

namespace romwright::frontend {
namespace {

// The path as the user would look for it; as given when it cannot be told.
std::string absolute(const std::string &path) {
    std::error_code error;
    const std::filesystem::path whole = std::filesystem::absolute(std::filesystem::u8path(path), error);
    return error ? path : whole.u8string();
}

std::string reason_of(int error_number) {
    return error_number != 0 ? std::strerror(error_number) : "the write did not complete";
}

// Writes and closes; the C library's reason when any step fails, else 0.
int write_all(std::FILE *file, const std::string &text) {
    int failure = 0;
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) failure = errno ? errno : EIO;
    errno = 0;
    if (std::fflush(file) != 0 && !failure) failure = errno ? errno : EIO;
    errno = 0;
    if (std::fclose(file) != 0 && !failure) failure = errno ? errno : EIO;
    return failure;
}

} // namespace

LogFile::LogFile(std::string program, PathSource path, const char *mode, std::FILE *warnings)
    : program_(std::move(program)), path_(std::move(path)), mode_(mode), warnings_(warnings) {}

LogFile::LogFile(std::string program, const std::string &path, const char *mode, std::FILE *warnings)
    : LogFile(std::move(program), PathSource([path] { return path; }), mode, warnings) {}

LogFile::~LogFile() { end_entry(); }

void LogFile::append(const std::string &text) noexcept {
    try {
        take(text);
    } catch (...) {
        // Out of memory: the text is lost, the update goes on.
    }
}

void LogFile::take(const std::string &text) {
    kept_ += text;
    const std::size_t last_break = kept_.rfind('\n');
    if (last_break == std::string::npos) return;
    const std::string lines = kept_.substr(0, last_break + 1);
    kept_.erase(0, last_break + 1);
    write(lines);
}

void LogFile::end_entry() noexcept {
    if (kept_.empty()) return;
    try {
        kept_ += '\n';
        write(kept_);
    } catch (...) {
        // Out of memory: the text is lost, the update goes on.
    }
    kept_.clear();
}

void LogFile::write(const std::string &lines) {
    std::string path;
    try {
        path = path_();
    } catch (const std::exception &error) {
        warn(std::string(), error.what());
        return;
    }
    errno = 0;
    platform::SharedFile file = platform::open_shared(path, mode_);
    if (!file) {
        warn(path, reason_of(errno));
        return;
    }
    if (const int failure = write_all(file.release(), lines)) warn(path, reason_of(failure));
}

void LogFile::warn(const std::string &path, const std::string &reason) {
    if (warned_) return;
    warned_ = true;
    const std::string where = path.empty() ? std::string() : " " + absolute(path);
    const std::string warning = fmt::format("{}: cannot write the log file{}: {}\n", program_, where, reason);
    std::fwrite(warning.data(), 1, warning.size(), warnings_);
    std::fflush(warnings_);
}

} // namespace romwright::frontend
