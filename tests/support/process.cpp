#include "tests/support/process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/temp_dir.hpp"

extern char **environ;

namespace testsupport {
namespace {

std::vector<std::string> build_environment(const ProcessOptions &options) {
    std::map<std::string, std::string> env;
    for (char **entry = environ; *entry; ++entry) {
        std::string text(*entry);
        auto eq = text.find('=');
        if (eq != std::string::npos) env[text.substr(0, eq)] = text.substr(eq + 1);
    }
    for (const auto &name : options.unset_env) env.erase(name);
    for (const auto &[name, value] : options.env) env[name] = value;
    std::vector<std::string> out;
    for (const auto &[name, value] : env) out.push_back(name + "=" + value);
    return out;
}

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

ProcessResult run_process(const std::string &program, const std::vector<std::string> &args,
                          const ProcessOptions &options) {
    TempDir capture("proc");
    const std::string out_path = capture.file("stdout");
    const std::string err_path = capture.file("stderr");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

    // posix_spawn has no portable chdir action here, so a shell-free way is to
    // spawn through /usr/bin/env -C <dir>.
    std::vector<std::string> argv_text;
    std::string executable = program;
    if (!options.working_directory.empty()) {
        executable = "/usr/bin/env";
        argv_text = {"env", "-C", options.working_directory, program};
    } else {
        argv_text = {program};
    }
    for (const auto &arg : args) argv_text.push_back(arg);
    std::vector<char *> argv;
    for (auto &arg : argv_text) argv.push_back(arg.data());
    argv.push_back(nullptr);

    std::vector<std::string> env_text = build_environment(options);
    std::vector<char *> envp;
    for (auto &entry : env_text) envp.push_back(entry.data());
    envp.push_back(nullptr);

    pid_t pid = 0;
    int rc = posix_spawn(&pid, executable.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));

    ProcessResult result;
    int status = 0;
    const auto started = std::chrono::steady_clock::now();
    auto deadline = started + std::chrono::seconds(options.timeout_seconds);
    if (options.kill_after_ms > 0)
        deadline = std::min(deadline, started + std::chrono::milliseconds(options.kill_after_ms));
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        // Short steps near the deadline, so that a kill lands when it was asked for.
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(deadline - now,
                                                                                   std::chrono::milliseconds(5)));
    }
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.out = slurp(out_path);
    result.err = slurp(err_path);
    return result;
}

std::string bin_path(const std::string &program) { return std::string(ROMWRIGHT_BIN_DIR) + "/" + program; }
std::string lib_dir() { return ROMWRIGHT_LIB_DIR; }
std::string source_dir() { return ROMWRIGHT_SOURCE_DIR; }

} // namespace testsupport
