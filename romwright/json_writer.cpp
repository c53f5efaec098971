#include "json_writer.hpp"

#include <cmath>

#include <fmt/format.h>

namespace romwright::tool {

std::string JsonWriter::quoted(const std::string &text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (byte < 0x20)
                out += fmt::format("\\u{:04x}", byte);
            else
                out += c;  // UTF-8 passes as it is
        }
    }
    return out + "\"";
}

void JsonWriter::key(const char *name) {
    if (!first_.empty()) {
        if (!first_.back()) text_ += ",";
        first_.back() = false;
    }
    if (name) text_ += quoted(name) + ":";
}

JsonWriter &JsonWriter::begin_object(const char *name) {
    key(name);
    text_ += "{";
    first_.push_back(true);
    return *this;
}

JsonWriter &JsonWriter::end_object() {
    first_.pop_back();
    text_ += "}";
    return *this;
}

JsonWriter &JsonWriter::begin_array(const char *name) {
    key(name);
    text_ += "[";
    first_.push_back(true);
    return *this;
}

JsonWriter &JsonWriter::end_array() {
    first_.pop_back();
    text_ += "]";
    return *this;
}

JsonWriter &JsonWriter::field(const char *name, const std::string &value) {
    key(name);
    text_ += quoted(value);
    return *this;
}

JsonWriter &JsonWriter::field(const char *name, uint64_t value) {
    key(name);
    text_ += std::to_string(value);
    return *this;
}

JsonWriter &JsonWriter::field(const char *name, double value) {
    if (!std::isfinite(value)) return null_field(name);
    key(name);
    text_ += fmt::format("{}", value);
    return *this;
}

JsonWriter &JsonWriter::field(const char *name, int64_t value) {
    key(name);
    text_ += std::to_string(value);
    return *this;
}

JsonWriter &JsonWriter::field(const char *name, bool value) {
    key(name);
    text_ += value ? "true" : "false";
    return *this;
}

JsonWriter &JsonWriter::null_field(const char *name) {
    key(name);
    text_ += "null";
    return *this;
}

} // namespace romwright::tool
