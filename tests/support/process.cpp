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
#include <filesystem>
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
    // The programs a test runs take their board locks in a folder of the
    // test's own, never the machine's, where the tests running beside it
    // (on other simulated machines with the same board IDs) would meet them.
    if (!env.count("ROMWRIGHT_LOCK_DIR")) env["ROMWRIGHT_LOCK_DIR"] = test_lock_folder();
    const bool unset = std::find(options.unset_env.begin(), options.unset_env.end(), "ROMWRIGHT_HISTORY") !=
                       options.unset_env.end();
    if (!unset && !env.count("ROMWRIGHT_HISTORY")) env["ROMWRIGHT_HISTORY"] = stray_history_path();
    if (!env.count("ROMWRIGHT_TRUSTED_KEYS")) env["ROMWRIGHT_TRUSTED_KEYS"] = stray_trusted_keys_folder();
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

// Moves what the pipe holds now into `into`, up to `limit` bytes in all.
void drain(int fd, std::string &into, std::size_t limit) {
    char buffer[4096];
    while (into.size() < limit) {
        const std::size_t wanted = std::min(sizeof buffer, limit - into.size());
        const ssize_t got = ::read(fd, buffer, wanted);
        if (got <= 0) return;
        into.append(buffer, static_cast<std::size_t>(got));
    }
}

} // namespace

std::string test_lock_folder() {
    static const std::string folder =
        (std::filesystem::temp_directory_path() / ("romwright-test-locks-" + std::to_string(::getpid()))).string();
    return folder;
}

ProcessResult run_process(const std::string &program, const std::vector<std::string> &args,
                          const ProcessOptions &options) {
    TempDir capture("proc");
    const std::string out_path = capture.file("stdout");
    const std::string err_path = capture.file("stderr");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const bool piped = options.close_stdout_after >= 0;
    int pipe_fds[2] = {-1, -1};
    if (piped) {
        if (::pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe for " + program);
        posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
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
    int read_fd = -1;
    if (piped) {
        ::close(pipe_fds[1]);
        read_fd = pipe_fds[0];
        ::fcntl(read_fd, F_SETFL, O_NONBLOCK);
    }
    if (rc != 0) {
        if (read_fd >= 0) ::close(read_fd);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    }

    ProcessResult result;
    std::string piped_out;
    const auto piped_limit = static_cast<std::size_t>(piped ? options.close_stdout_after : 0);
    const auto read_pipe = [&] {
        if (read_fd < 0) return;
        drain(read_fd, piped_out, piped_limit);
        if (piped_out.size() < piped_limit) return;
        ::close(read_fd);  // the reader has had enough, as `head -c` does
        read_fd = -1;
    };
    int status = 0;
    const auto started = std::chrono::steady_clock::now();
    auto deadline = started + std::chrono::seconds(options.timeout_seconds);
    if (options.kill_after_ms > 0)
        deadline = std::min(deadline, started + std::chrono::milliseconds(options.kill_after_ms));
    for (;;) {
        read_pipe();
        if (options.send_signal != 0 && options.send_when && !result.signal_sent &&
            options.send_when(piped ? piped_out : slurp(out_path))) {
            kill(pid, options.send_signal);
            result.signal_sent = true;
        }
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
    read_pipe();
    if (read_fd >= 0) ::close(read_fd);
    result.out = piped ? piped_out : slurp(out_path);
    result.err = slurp(err_path);
    result.out_bytes = result.out;
    result.system_exit_code = result.exit_code >= 0 ? static_cast<unsigned long>(result.exit_code) : 0;
    return result;
}

std::string bin_path(const std::string &program) { return std::string(ROMWRIGHT_BIN_DIR) + "/" + program; }
std::string lib_dir() { return ROMWRIGHT_LIB_DIR; }
std::string source_dir() { return ROMWRIGHT_SOURCE_DIR; }

} // namespace testsupport
