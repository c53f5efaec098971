// romwright-cli run as a user runs it: a simulated machine of its own, a
// working folder for the log file and the firmware files, and the console
// output and exit status collected.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "tests/support/process.hpp"
#include "tests/support/sim_machine.hpp"
#include "tests/support/temp_dir.hpp"

namespace clitest {

// A board of the simulated machine, as TOML.
inline std::string board_toml(const std::string &name, int kind, const std::string &features,
                              const std::string &extra = "") {
    return fmt::format("[[system.board]]\nname = \"{}\"\nkind = {}\nfeatures = {}\n{}\n", name, kind, features, extra);
}

// A firmware-upgrade board (ZEN5190) that ends after `polls` busy answers.
inline std::string upgrade_board(const std::string &name, int end_status = 2, int end_percent = 100, int polls = 3) {
    return board_toml(name, 35, "[5]",
                      fmt::format("[system.board.upgrade]\npolls = {}\nend_status = {}\nend_percent = {}\n", polls,
                                  end_status, end_percent));
}

// A flash-sector board (ZEN5191).
inline std::string sector_board(const std::string &name, const std::string &extra = "") {
    return board_toml(name, 36, "[2]", "flash_size = 0x100000\nsector_size = 0x10000\n" + extra);
}

inline std::string library_toml(const std::string &version, const std::string &driver_version) {
    return fmt::format("[library]\nversion = \"{}\"\ndriver_version = \"{}\"\n", version, driver_version);
}

class Cli : public ::testing::Test {
protected:
    // Sets up the machine described by `toml` (with a call trace).
    void machine(const std::string &toml) {
        machine_ = std::make_unique<testsupport::SimMachine>(toml);
        machine_->with_trace();
    }

    testsupport::ProcessResult run(const std::vector<std::string> &args) {
        if (!machine_) machine(upgrade_board("only"));
        testsupport::ProcessOptions options = machine_->process_options();
        options.working_directory = work_.path();
        return testsupport::run_process(testsupport::bin_path("romwright-cli"), args, options);
    }

    // A firmware file made by the project's image maker, in the working folder.
    std::string make_image(const std::string &file_name, const std::string &model, uint32_t size,
                           std::vector<std::string> extra = {}) {
        const std::string path = work_.file(file_name);
        std::vector<std::string> args = {"--board", model, "--out", path, "--format", "rpd", "--size", std::to_string(size)};
        args.insert(args.end(), extra.begin(), extra.end());
        const auto made = testsupport::run_process(testsupport::bin_path("romwright-mkimage"), args);
        EXPECT_EQ(made.exit_code, 0) << made.err;
        return path;
    }

    std::string log() const {
        const std::string path = work_.file("romwright-cli.log");
        return testsupport::file_exists(path) ? testsupport::read_text(path) : std::string();
    }
    bool log_exists() const { return testsupport::file_exists(work_.file("romwright-cli.log")); }

    std::vector<std::string> trace() const { return testsupport::read_lines(machine_->trace_path()); }
    // Trace lines of one call, in order.
    std::vector<std::string> trace_of(const std::string &call) const {
        std::vector<std::string> lines;
        for (const std::string &line : trace())
            if (line.rfind(call + "(", 0) == 0) lines.push_back(line);
        return lines;
    }

    std::vector<uint8_t> flash(const std::string &board) const { return machine_->flash(board); }

    std::unique_ptr<testsupport::SimMachine> machine_;
    testsupport::TempDir work_{"cli"};
};

// The text of every redraw collapsed: what the screen shows line by line.
inline std::vector<std::string> screen_lines(const std::string &out) {
    std::vector<std::string> lines;
    std::string current;
    for (char c : out) {
        if (c == '\r') {
            current.clear();
        } else if (c == '\n') {
            lines.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) lines.push_back(current);
    return lines;
}

inline bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

} // namespace clitest
