// romwright's update on the simulated default machine, as a user runs it:
// the time of an update of an image the board already holds, and of the
// rerun after a kill at half of an update, each as a share of a full update
// (romwright-cli's, --full) of the same board in the same run.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kBin = ROMWRIGHT_BIN_DIR;

// Runs the program (argv[0] under kBin) in folder; kills it after kill_after
// seconds when that is above 0. Returns the wall time in seconds.
double run(const fs::path &folder, std::vector<std::string> args, double kill_after = 0) {
    args[0] = kBin + "/" + args[0];
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(folder.c_str()) != 0) _exit(127);
        std::vector<char *> argv;
        for (std::string &arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (kill_after > 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(kill_after));
        kill(child, SIGKILL);
    }
    int status = 0;
    waitpid(child, &status, 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (kill_after <= 0 && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
        std::fprintf(stderr, "bench_tool: %s failed\n", args[0].c_str());
        std::exit(1);
    }
    return seconds;
}

struct Case {
    const char *mode;
    const char *model;
    const char *board;  // --board of system 3 of the default machine
    const char *extension;
};

void bench(const fs::path &folder, const Case &c) {
    const std::string a = std::string("a-") + c.model + c.extension, b = std::string("b-") + c.model + c.extension;
    run(folder, {"romwright-mkimage", "--board", c.model, "--out", a, "--seed", "1"});
    run(folder, {"romwright-mkimage", "--board", c.model, "--out", b, "--seed", "2"});
    const std::vector<std::string> update = {"romwright", "update", "--system=3", std::string("--board=") + c.board,
                                             "--quiet"};
    const auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = update;
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    };
    run(folder, with({"--full", a}));
    const double full = run(folder, with({"--full", b}));
    const double same = run(folder, with({b}));
    run(folder, with({"--full", a}));
    run(folder, with({b}), full / 2);
    const double rerun = run(folder, with({b}));
    std::printf("%-11s full update %6.2f s, image already held %6.2f s (%4.1f%%), rerun after a kill at half "
                "%6.2f s (%4.1f%%)\n",
                c.mode, full, same, 100 * same / full, rerun, 100 * rerun / full);
}

} // namespace

int main() {
    const fs::path folder = fs::temp_directory_path() / ("romwright-bench-tool-" + std::to_string(getpid()));
    fs::create_directories(folder);
    // The built-in default machine, with its busy times, and boards of our own.
    unsetenv("ZENAPI_SIM_CONFIG");
    unsetenv("ZENAPI_SIM_TRACE");
    setenv("ZENAPI_SIM_STATE_DIR", (folder / "state").c_str(), 1);
    setenv("ROMWRIGHT_HISTORY", (folder / "history.sqlite").c_str(), 1);
    std::printf("romwright update on the simulated default machine (wall time; one run each):\n");
    bench(folder, Case{"sector mode", "ZEN5160", "3", ".pof"});
    bench(folder, Case{"page mode", "ZEN5110", "2", ".rpd"});
    fs::remove_all(folder);
    return 0;
}
