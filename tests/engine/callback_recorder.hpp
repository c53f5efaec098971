// Collects what the engine reports through its three callbacks, in order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <romwright/romwright.h>

namespace testsupport {

struct CallbackRecorder {
    struct Line {
        ROMWRIGHT_LOG_LEVEL level;
        std::string text;
        bool operator==(const Line &other) const { return level == other.level && text == other.text; }
        friend std::ostream &operator<<(std::ostream &out, const Line &line) {
            return out << "{level " << static_cast<int>(line.level) << ", \"" << line.text << "\"}";
        }
    };
    // One entry per callback in the order they came: 'o' operation, 'p' progress, 'l' log.
    std::string order;
    std::vector<ROMWRIGHT_OPERATION> operations;
    std::vector<float> progress;
    std::vector<Line> lines;

    static void on_operation(ROMWRIGHT_OPERATION operation, void *self) {
        auto *recorder = static_cast<CallbackRecorder *>(self);
        recorder->operations.push_back(operation);
        recorder->order += 'o';
    }
    static void on_progress(float value, void *self) {
        auto *recorder = static_cast<CallbackRecorder *>(self);
        recorder->progress.push_back(value);
        recorder->order += 'p';
    }
    static void on_log(ROMWRIGHT_LOG_LEVEL level, const char *text, void *self) {
        auto *recorder = static_cast<CallbackRecorder *>(self);
        recorder->lines.push_back({level, text});
        recorder->order += 'l';
    }

    std::vector<std::string> all_texts() const {
        std::vector<std::string> out;
        for (const Line &line : lines) out.push_back(line.text);
        return out;
    }
    std::vector<std::string> texts(ROMWRIGHT_LOG_LEVEL level) const {
        std::vector<std::string> out;
        for (const Line &line : lines)
            if (line.level == level) out.push_back(line.text);
        return out;
    }
    bool has_line(ROMWRIGHT_LOG_LEVEL level, const std::string &text) const {
        return std::find(lines.begin(), lines.end(), Line{level, text}) != lines.end();
    }
};

// Deterministic bytes that look like nothing in particular.
inline std::vector<uint8_t> pseudo_random_bytes(std::size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (auto &byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

} // namespace testsupport
