// Value types the front ends use around the C interface: the options value
// that owns one options record, and the exception that carries a return code.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include <romwright/error.hpp>
#include <romwright/romwright.h>

namespace romwright {

// Raised by front ends when an engine or accessor function returns a
// non-zero code (an error of the entry kind; its runtime error's own message
// is empty). what() is "Firmware updater error. Code <code>\n". Raised by the
// front-end layer for a failed update, it also carries the engine's failure
// behind the code, its kind and text as the engine raised them.
class exception : public error {
public:
    explicit exception(ROMWRIGHT_RC code);
    exception(ROMWRIGHT_RC code, const error &cause);
    ROMWRIGHT_RC code() const noexcept { return code_; }
    const char *what() const noexcept override { return text_.c_str(); }
    // The engine's failure, when the code came from an update.
    const std::optional<error> &cause() const noexcept { return cause_; }

private:
    ROMWRIGHT_RC code_;
    std::string text_;
    std::optional<error> cause_;
};

// Owns exactly one romwright_options_record.
class options {
public:
    options();                                   // romwright_options_create
    options(const options &other);               // romwright_options_clone
    options &operator=(const options &other);    // romwright_options_copy
    ~options();

    romwright_options_record *record() const noexcept { return record_; }

    bool get_bool(int32_t id) const;             // raises exception on a non-zero result
    void set_bool(int32_t id, bool value);
    int32_t get_int(int32_t id) const;
    void set_int(int32_t id, int32_t value);

    // All seven fields equal.
    bool operator==(const options &other) const;
    bool operator!=(const options &other) const { return !(*this == other); }

private:
    romwright_options_record *record_;
};

} // namespace romwright
