// Measures what a user waits for and what an update costs in memory:
//  - planning a large image (pure, no device);
//  - the log header's checksum of a large file (bounded buffer);
//  - whole updates through the update entry on the simulated machine: page
//    mode (4 MiB and 64 MiB images), sector mode, and the flash-sector
//    service, with the device-library call rate.
// Each case runs in a child process of its own, so its figures are its own:
// the time, the processor time, the peak resident memory, the peak of the heap (every operator
// new of the process, the simulator's included) above what the heap held
// when the case began, and the page faults the case caused (a page touched
// for the first time costs one). The simulated boards' flash files are
// mapped, not allocated, so they count in the resident memory only.
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include <fmt/format.h>

#include <romwright/inspection.hpp>
#include <romwright/romwright.h>
#include <zenapi/zenapi_sim.h>

#include "engine/image/image_slot.hpp"
#include "engine/core/log_sink.hpp"
#include "engine/plan/planner.hpp"
#include "engine/image/pof_reader.hpp"
#include "engine/image/raw_image.hpp"
#include "tools/mkimage/image_maker.hpp"

namespace {

std::atomic<std::size_t> heap_now{0};
std::atomic<std::size_t> heap_peak{0};

void *counted(void *block) {
    if (!block) throw std::bad_alloc();
    const std::size_t now = heap_now += malloc_usable_size(block);
    std::size_t peak = heap_peak.load();
    while (now > peak && !heap_peak.compare_exchange_weak(peak, now)) {
    }
    return block;
}

void uncounted(void *block) noexcept {
    if (!block) return;
    heap_now -= malloc_usable_size(block);
    std::free(block);
}

} // namespace

void *operator new(std::size_t bytes) { return counted(std::malloc(bytes ? bytes : 1)); }
void *operator new[](std::size_t bytes) { return counted(std::malloc(bytes ? bytes : 1)); }
void operator delete(void *block) noexcept { uncounted(block); }
void operator delete[](void *block) noexcept { uncounted(block); }
void operator delete(void *block, std::size_t) noexcept { uncounted(block); }
void operator delete[](void *block, std::size_t) noexcept { uncounted(block); }

namespace {

namespace fs = std::filesystem;

constexpr double kMiB = 1024.0 * 1024.0;

rusage own_usage() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage;
}

// Processor time, which other programs on the machine do not lengthen.
double cpu_seconds(const rusage &usage) {
    const auto of = [](const timeval &time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; };
    return of(usage.ru_utime) + of(usage.ru_stime);
}

double seconds_of(const std::function<void()> &work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Only the cases whose name holds this text (all when empty).
std::string case_filter;

// Runs one case in a child process; the case returns its detail text.
void run_case(const std::string &what, const std::function<std::string()> &work) {
    if (what.find(case_filter) == std::string::npos) return;
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        const std::size_t heap_before = heap_now.load();
        heap_peak = heap_before;
        const rusage before = own_usage();
        std::string detail;
        const double seconds = seconds_of([&] { detail = work(); });
        const rusage after = own_usage();
        fmt::print("{:<48} {:>8.3f} s  {:>8.3f} s  {:>8} KiB  {:>8.2f} MiB  {:>8}  {}\n", what, seconds,
                   cpu_seconds(after) - cpu_seconds(before), after.ru_maxrss,
                   static_cast<double>(heap_peak.load() - heap_before) / kMiB, after.ru_minflt - before.ru_minflt,
                   detail);
        std::fflush(stdout);
        std::_Exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fmt::print("{:<48} failed (status {})\n", what, status);
}

std::string bench_planner() {
    const uint32_t size = 64u << 20;
    mkimage::ImageRecipe recipe = mkimage::default_recipe("ZEN5110", size);
    recipe.page0 = {0x20000, size - 0x20000};
    const std::vector<uint8_t> image = mkimage::make_image(recipe, mkimage::Format::pof);
    romwright::PlanInput input{image, recipe.option_bits_offset, recipe.option_bits_offset + 128, false,
                               romwright::PageLayout{recipe.page0.start, recipe.page0.end, 0, 0, false},
                               true, false, true};
    romwright::plan_sectors(input);
    return fmt::format("{} pages to write (image of 64 MiB made in the case)", romwright::plan_pages(input).write_count);
}

struct Machine {
    fs::path dir;
    Machine() {
        char pattern[] = "/tmp/romwright-bench-XXXXXX";
        dir = mkdtemp(pattern);
        std::ofstream(dir / "machine.toml") << R"([library]
version = "7.4.0"
driver_version = "7.4.0"
[[system]]
[[system.board]]
name = "page"
kind = 11
flash_size = 0x1000000
[[system.board]]
name = "sector"
kind = 30
flash_size = 0x1000000
[[system.board]]
name = "page-64"
kind = 11
flash_size = 0x4000000
[[system.board]]
name = "service-64"
kind = 36
features = [2]
flash_size = 0x4000000
sector_size = 0x10000
)";
        setenv("ZENAPI_SIM_CONFIG", (dir / "machine.toml").c_str(), 1);
        setenv("ZENAPI_SIM_STATE_DIR", (dir / "state").c_str(), 1);
        setenv("ROMWRIGHT_HISTORY", (dir / "history.sqlite").c_str(), 1);
        unsetenv("ZENAPI_SIM_TRACE");
    }
    ~Machine() { fs::remove_all(dir); }

    // In the case's own process, so that its memory is the case's.
    static void load() {
        if (ZenSimReload() != 0) throw std::runtime_error(ZenSimLastError());
    }
};

uint64_t calls_on(uint32_t board, std::initializer_list<const char *> names) {
    uint64_t total = 0;
    for (const char *name : names) total += ZenSimCallCount(1, board, name);
    return total;
}

// A raw image file of `size` bytes for the model; page_0 covers all of it but
// the first and the last 128 KB when `whole` is set.
std::string make_firmware(const Machine &machine, const char *model, uint32_t size, bool whole) {
    const std::string path =
        (machine.dir / fmt::format("firmware-{}-{}{}.rpd", model, size, whole ? "-whole" : "")).string();
    mkimage::FileRecipe recipe;
    recipe.format = mkimage::Format::rpd;
    recipe.primary = mkimage::default_recipe(model, size);
    if (whole) recipe.primary.page0 = {0x20000, size - 0x20000};
    mkimage::write_file(path, mkimage::make_file(recipe));
    return path;
}

std::string bench_update(const std::string &path, uint32_t board_id) {
    Machine::load();
    void *board = KorvelGetBoardBySystemID(1, board_id);
    // Front ends always pass a log callback, so the header's checksum is part of the update.
    const auto ignore = [](ROMWRIGHT_LOG_LEVEL, const char *, void *) {};
    ROMWRIGHT_RC rc = ROMWRIGHT_RC_ERROR;
    const double seconds = seconds_of([&] {
        rc = romwright_update_firmware(path.c_str(), board, nullptr, nullptr, ignore, nullptr, nullptr);
    });
    const uint64_t calls = calls_on(board_id, {"KorvelReadRegister", "KorvelWriteRegister", "SetControlCommand",
                                               "ZEN5110FlashSectorPageRead", "ZEN5110PageWriteToFlash",
                                               "ZEN5110FlashSectorErase", "KorvelFlashSectorWrite",
                                               "KorvelFlashSectorRead"});
    return fmt::format("rc {}, {} library calls, {:.0f} calls/s, file {:.1f} MiB", rc, calls,
                       static_cast<double>(calls) / seconds, static_cast<double>(fs::file_size(path)) / kMiB);
}

// Peak resident memory of one romwright-cli run, in KiB, its output dropped.
long cli_peak_kib(const std::vector<std::string> &args) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        if (!std::freopen("/dev/null", "w", stdout)) std::_Exit(127);
        const std::string program = std::string(ROMWRIGHT_BIN_DIR) + "/romwright-cli";
        std::vector<char *> argv{const_cast<char *>(program.c_str())};
        for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        std::_Exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("romwright-cli failed");
    return usage.ru_maxrss;
}

// What a whole romwright-cli update holds beyond a run of the same program
// that selects no board: the image, the simulated board's flash pages the
// update erased and wrote (the simulator's, mapped from its flash file), and
// the rest, which is the program's own.
std::string bench_cli_memory(const std::string &path) {
    romwright::InspectRequest request;
    request.path = path;
    request.model = "ZEN5110";
    const romwright::Inspection planned = romwright::inspect_firmware(request);
    const double image = static_cast<double>(planned.size) / kMiB;
    const double flash = static_cast<double>(planned.plan->sectors_to_erase) * planned.plan->sector_size / kMiB;
    const long idle = cli_peak_kib({"update", "--system=9", "--quiet", path});
    const long update = cli_peak_kib({"update", "--system=1", "--board=3", "--quiet", path});
    const double beyond = static_cast<double>(update - idle) / 1024.0;
    return fmt::format("{:.1f} MiB more than selecting no board: image {:.1f} + flash written {:.1f} + the rest {:.1f}",
                       beyond, image, flash, beyond - image - flash);
}

std::string bench_checksum(const fs::path &path) {
    // A log callback makes the entry checksum the file; the null board then ends it.
    const auto ignore = [](ROMWRIGHT_LOG_LEVEL, const char *, void *) {};
    romwright_update_firmware(path.c_str(), nullptr, nullptr, nullptr, ignore, nullptr, nullptr);
    return "file 256 MiB";
}

// Loading an image alone, as the update does before it touches the board:
// the best of five loads, each into a fresh slot.
template <typename Load>
std::string bench_load(const std::string &path, Load load) {
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        ImageSlot slots[2];
        best = std::min(best, seconds_of([&] { load(path, slots); }));
    }
    return fmt::format("best of 5: {:.1f} ms, file {:.1f} MiB", best * 1000,
                       static_cast<double>(fs::file_size(path)) / kMiB);
}

std::string make_pof(const Machine &machine, uint32_t size) {
    const std::string path = (machine.dir / fmt::format("firmware-ZEN5110-{}.pof", size)).string();
    mkimage::FileRecipe recipe;
    recipe.format = mkimage::Format::pof;
    recipe.primary = mkimage::default_recipe("ZEN5110", size);
    mkimage::write_file(path, mkimage::make_file(recipe));
    return path;
}

fs::path make_large_file(const Machine &machine) {
    const fs::path path = machine.dir / "large-ZEN5190.rpd";
    std::ofstream out(path, std::ios::binary);
    std::vector<char> block(1 << 20, '\x5A');
    for (int i = 0; i < 256; ++i) out.write(block.data(), static_cast<std::streamsize>(block.size()));
    return path;
}

} // namespace

// bench_update [text]: runs the cases whose name holds the text, or all.
int main(int argc, char **argv) {
    if (argc > 1) case_filter = argv[1];
    fmt::print("{:<48} {:>10}  {:>10}  {:>12}  {:>12}  {:>8}\n", "case", "time", "CPU", "peak RSS", "peak heap",
               "faults");
    const Machine machine;
    const fs::path large = make_large_file(machine);
    run_case("log header checksum of a 256 MiB file", [&] { return bench_checksum(large); });
    fs::remove(large);
    run_case("plan 64 MiB page-mode image", bench_planner);

    const std::string page4 = make_firmware(machine, "ZEN5110", 4u << 20, false);
    const std::string sector4 = make_firmware(machine, "ZEN5142", 4u << 20, false);
    const std::string page64 = make_firmware(machine, "ZEN5110", 64u << 20, true);
    // Not a whole number of sectors, so the service's image needs padding.
    const std::string service64 = make_firmware(machine, "ZEN5191", (64u << 20) - 0x8000, false);
    const std::string pof64 = make_pof(machine, 64u << 20);
    run_case("baseline: library loaded, nothing done", [] {
        Machine::load();
        return std::string("the process without an update");
    });
    run_case("load a 64 MiB raw image", [&] {
        return bench_load(page64, [](const std::string &path, ImageSlot(&slots)[2]) {
            romwright::load_binary_file(path, slots[0], romwright::LogSink());
        });
    });
    run_case("load a 64 MiB POF image", [&] {
        return bench_load(pof64, [](const std::string &path, ImageSlot(&slots)[2]) {
            romwright::load_pof_file(path, slots, false, romwright::LogSink());
        });
    });
    run_case("page-mode update, 4 MiB image (ZEN5110)", [&] { return bench_update(page4, 1); });
    run_case("sector-mode update, 4 MiB image (ZEN5142)", [&] { return bench_update(sector4, 2); });
    run_case("page-mode update, 64 MiB image (ZEN5110)", [&] { return bench_update(page64, 3); });
    run_case("flash-sector service, 64 MiB - 32 KiB file (ZEN5191)", [&] { return bench_update(service64, 4); });
    const std::string page64_default = make_firmware(machine, "ZEN5110", 64u << 20, false);
    run_case("romwright-cli memory, 64 MiB page-mode update", [&] { return bench_cli_memory(page64_default); });
    return 0;
}
