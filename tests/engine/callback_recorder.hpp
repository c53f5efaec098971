// Collects what the engine reports through its three callbacks, in order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <romwright/romwright.h>

#include "engine/core/log_sink.hpp"

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
    // The flash driver's line before every command it waits for; most tests
    // look at the engine's own lines without it.
    static constexpr const char *kWaitLine = "--- Just about to wait\n";

    // One entry per callback in the order they came: 'o' operation, 'p' progress, 'l' log.
    std::string order;
    std::vector<ROMWRIGHT_OPERATION> operations;
    std::vector<float> progress;
    // The operation current when each progress value came (none before the first).
    std::vector<ROMWRIGHT_OPERATION> progress_operations;
    std::vector<Line> lines;

    static void on_operation(ROMWRIGHT_OPERATION operation, void *self) {
        auto *recorder = static_cast<CallbackRecorder *>(self);
        recorder->operations.push_back(operation);
        recorder->order += 'o';
    }
    static void on_progress(float value, void *self) {
        auto *recorder = static_cast<CallbackRecorder *>(self);
        recorder->progress.push_back(value);
        recorder->progress_operations.push_back(recorder->operations.empty() ? ROMWRIGHT_OPERATION_NONE
                                                                             : recorder->operations.back());
        recorder->order += 'p';
    }
    static void on_log(ROMWRIGHT_LOG_LEVEL level, const char *text, void *self) {
        auto *recorder = static_cast<CallbackRecorder *>(self);
        recorder->lines.push_back({level, text});
        recorder->order += 'l';
    }

    // For the parts of the engine that log through a sink of their own.
    romwright::LogSink sink() { return romwright::LogSink(on_log, this); }

    std::vector<ROMWRIGHT_LOG_LEVEL> levels() const {
        std::vector<ROMWRIGHT_LOG_LEVEL> out;
        for (const Line &line : lines) out.push_back(line.level);
        return out;
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
    std::size_t count(const std::string &text) const {
        return static_cast<std::size_t>(
            std::count_if(lines.begin(), lines.end(), [&](const Line &line) { return line.text == text; }));
    }
    std::size_t count_starting(const std::string &prefix) const {
        return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [&](const Line &line) {
            return line.text.compare(0, prefix.size(), prefix) == 0;
        }));
    }
    // The lines without the driver's wait lines, and their texts at one level.
    std::vector<Line> engine_lines() const {
        std::vector<Line> out;
        for (const Line &line : lines)
            if (line.text != kWaitLine) out.push_back(line);
        return out;
    }
    std::vector<std::string> engine_texts(ROMWRIGHT_LOG_LEVEL level) const {
        std::vector<std::string> out;
        for (const Line &line : engine_lines())
            if (line.level == level) out.push_back(line.text);
        return out;
    }
    // The log as one text, pieces of a dump joined as a front end would.
    std::string joined() const {
        std::string all;
        for (const Line &line : lines) all += line.text;
        return all;
    }
    // Progress values reported while one operation was current, per attempt in order.
    std::vector<float> progress_during(ROMWRIGHT_OPERATION operation) const {
        std::vector<float> out;
        for (std::size_t i = 0; i < progress.size(); ++i)
            if (progress_operations[i] == operation) out.push_back(progress[i]);
        return out;
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
