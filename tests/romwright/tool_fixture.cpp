#include "tests/romwright/tool_fixture.hpp"

#include <algorithm>
#include <filesystem>

#include "tests/support/reference.hpp"

namespace tooltest {

const char *const kMachine = R"(
[[system]]
[[system.board]]
name = "page"
kind = 11
serial = 511001
revision = "2.0"
flash_size = 0x800000
[[system.board]]
name = "sector"
kind = 25
serial = 516001
revision = "1.5"
ksopc_signature = 0x0E080000
flash_size = 0x400000
[[system.board]]
name = "service"
kind = 36
features = [2]
flash_size = 0x100000
sector_size = 0x10000
[[system.board]]
name = "upgrade"
kind = 35
features = [5]
)";

void Tool::SetUp() { machine_ = std::make_unique<testsupport::SimMachine>(kMachine); }

testsupport::ProcessResult Tool::run(const std::vector<std::string> &args, int kill_after_ms) {
    testsupport::ProcessOptions options = machine_->process_options();
    options.working_directory = work_.path();
    for (const auto &[name, value] : extra_env_) options.env[name] = value;
    options.kill_after_ms = kill_after_ms;
    return testsupport::run_process(testsupport::bin_path("romwright"), args, options);
}

testsupport::ProcessResult Tool::run_with_file_limit(long blocks, const std::vector<std::string> &args) {
    testsupport::ProcessOptions options = machine_->process_options();
    options.working_directory = work_.path();
    for (const auto &[name, value] : extra_env_) options.env[name] = value;
    std::vector<std::string> shell_args = {"-c", "ulimit -f " + std::to_string(blocks) + " && exec \"$0\" \"$@\"",
                                           testsupport::bin_path("romwright")};
    shell_args.insert(shell_args.end(), args.begin(), args.end());
    return testsupport::run_process("/bin/sh", shell_args, options);
}

void Tool::use_machine(const std::string &toml) { machine_ = std::make_unique<testsupport::SimMachine>(toml); }

std::vector<std::string> Tool::files() const {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(work_.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

testsupport::ProcessResult Tool::cli(const std::vector<std::string> &args) {
    testsupport::ProcessOptions options = machine_->process_options();
    options.working_directory = work_.path();
    for (const auto &[name, value] : extra_env_) options.env[name] = value;
    return testsupport::run_process(testsupport::bin_path("romwright-cli"), args, options);
}

std::string Tool::make_image(const std::string &file_name, const std::string &model,
                             const std::vector<std::string> &extra) {
    const std::string out = work_.file(file_name);
    std::vector<std::string> args = {"--board", model, "--out", out};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto made = testsupport::run_process(testsupport::bin_path("romwright-mkimage"), args);
    EXPECT_EQ(made.exit_code, 0) << made.err;
    return out;
}

std::string Tool::parsed_json(const std::string &text) {
    std::string why;
    const bool whole = testsupport::reference::is_json(text, why);
    EXPECT_TRUE(whole) << "not one JSON document:\n" << text << why;
    return whole ? text : "";
}

std::string Tool::json_value(const std::string &text, const std::string &expression) {
    return testsupport::reference::json_value(text, expression);
}

} // namespace tooltest
