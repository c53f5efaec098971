// romwright run as a user runs it: a simulated machine of its own, a working
// folder for firmware files, backups and the log, and what it printed.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/process.hpp"
#include "tests/support/sim_machine.hpp"
#include "tests/support/temp_dir.hpp"

namespace tooltest {

// A machine with one board of each register mode and one flash-sector board:
// 1/1 page mode (ZEN5110), 1/2 sector mode (ZEN5160), 1/3 flash-sector service
// (ZEN5191), 1/4 firmware-upgrade service (ZEN5190).
extern const char *const kMachine;

class Tool : public ::testing::Test {
protected:
    void SetUp() override;

    testsupport::ProcessResult run(const std::vector<std::string> &args, int kill_after_ms = 0);
    testsupport::ProcessResult cli(const std::vector<std::string> &args);
    // romwright run by a shell whose files may grow to `blocks` 512-byte
    // blocks (ulimit -f), as on a disk that fills up meanwhile.
    testsupport::ProcessResult run_with_file_limit(long blocks, const std::vector<std::string> &args);
    // The simulated machine described by toml replaces the fixture's.
    void use_machine(const std::string &toml);
    // A firmware file made by the image maker in the working folder.
    std::string make_image(const std::string &file_name, const std::string &model,
                           const std::vector<std::string> &extra = {});
    // The text when it is one JSON document, else "" and a failed test.
    std::string parsed_json(const std::string &text);
    // One value of a JSON document, by a python expression over `d`
    // (testsupport::reference::json_value).
    std::string json_value(const std::string &text, const std::string &expression);
    std::string path(const std::string &name) const { return work_.file(name); }
    std::vector<uint8_t> flash(const std::string &board) const { return machine_->flash(board); }
    // The names in the working folder, sorted.
    std::vector<std::string> files() const;
    testsupport::SimMachine &machine() { return *machine_; }

    std::map<std::string, std::string> extra_env_;  // added to every run
    testsupport::TempDir work_;
    std::unique_ptr<testsupport::SimMachine> machine_;
};

} // namespace tooltest
