// Where the engine's log lines go: the front end's log callback and its user
// data. The engine never prints; every line leaves through here, and only
// when a callback is set (nothing is formatted otherwise).
#pragma once

#include <string>
#include <utility>

#include <fmt/format.h>

#include <romwright/romwright.h>

namespace romwright {

class LogSink {
public:
    LogSink() = default;
    LogSink(ROMWRIGHT_LOG_CALLBACK callback, void *user_data) : callback_(callback), user_data_(user_data) {}

    bool enabled() const noexcept { return callback_ != nullptr; }
    ROMWRIGHT_LOG_CALLBACK callback() const noexcept { return callback_; }
    void *user_data() const noexcept { return user_data_; }

    void write(ROMWRIGHT_LOG_LEVEL level, const std::string &text) const {
        if (callback_) callback_(level, text.c_str(), user_data_);
    }

    template <typename... Args>
    void operator()(ROMWRIGHT_LOG_LEVEL level, fmt::format_string<Args...> format, Args &&...args) const {
        if (callback_) write(level, fmt::format(format, std::forward<Args>(args)...));
    }

    template <typename... Args>
    void info(fmt::format_string<Args...> format, Args &&...args) const {
        (*this)(ROMWRIGHT_LOG_INFO, format, std::forward<Args>(args)...);
    }
    template <typename... Args>
    void warning(fmt::format_string<Args...> format, Args &&...args) const {
        (*this)(ROMWRIGHT_LOG_WARNING, format, std::forward<Args>(args)...);
    }
    template <typename... Args>
    void error(fmt::format_string<Args...> format, Args &&...args) const {
        (*this)(ROMWRIGHT_LOG_ERROR, format, std::forward<Args>(args)...);
    }

private:
    ROMWRIGHT_LOG_CALLBACK callback_ = nullptr;
    void *user_data_ = nullptr;
};

} // namespace romwright
