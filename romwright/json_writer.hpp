// A small JSON writer: one document, built in order, with strings escaped as
// RFC 8259 asks. Keys and values are written as they come; the writer only
// places the commas and the brackets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace romwright::tool {

class JsonWriter {
public:
    JsonWriter &begin_object(const char *key = nullptr);
    JsonWriter &end_object();
    JsonWriter &begin_array(const char *key = nullptr);
    JsonWriter &end_array();

    JsonWriter &field(const char *key, const std::string &value);
    JsonWriter &field(const char *key, const char *value) { return field(key, std::string(value)); }
    JsonWriter &field(const char *key, uint64_t value);
    JsonWriter &field(const char *key, int64_t value);
    JsonWriter &field(const char *key, uint32_t value) { return field(key, uint64_t{value}); }
    JsonWriter &field(const char *key, int32_t value) { return field(key, int64_t{value}); }
    JsonWriter &field(const char *key, uint16_t value) { return field(key, uint64_t{value}); }
    JsonWriter &field(const char *key, bool value);
    // The shortest decimal that reads back as value; null for one JSON has no number for.
    JsonWriter &field(const char *key, double value);
    JsonWriter &null_field(const char *key);
    template <typename T> JsonWriter &field(const char *key, const std::optional<T> &value) {
        return value ? field(key, *value) : null_field(key);
    }

    // The document with a final line break.
    std::string text() const { return text_ + "\n"; }

    static std::string quoted(const std::string &text);

private:
    void key(const char *name);

    std::string text_;
    std::vector<bool> first_;  // per open bracket: nothing written in it yet
};

} // namespace romwright::tool
