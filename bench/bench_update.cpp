// Measures what a user waits for and what an update costs in memory:
//  - planning a large image (pure, no device);
//  - the log header's checksum of a large file (bounded buffer);
//  - whole updates through the update entry on the simulated machine, one
//    page-mode and one sector-mode board, with the device-library call rate.
// Each case prints its time and the process's peak resident memory after it.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "engine/planner.hpp"
#include "engine/romwright.h"
#include "tools/mkimage/image_maker.hpp"
#include "zenapi/zenapi_sim.h"

namespace {

namespace fs = std::filesystem;

long peak_rss_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double seconds_of(const std::function<void()> &work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void report(const std::string &what, double seconds, const std::string &detail) {
    fmt::print("{:<44} {:>8.3f} s  {:>8} KiB peak  {}\n", what, seconds, peak_rss_kib(), detail);
}

void bench_planner() {
    const uint32_t size = 64u << 20;
    mkimage::ImageRecipe recipe = mkimage::default_recipe("ZEN5110", size);
    recipe.page0 = {0x20000, size - 0x20000};
    const std::vector<uint8_t> image = mkimage::make_image(recipe, mkimage::Format::pof);
    romwright::PlanInput input{image, recipe.option_bits_offset, recipe.option_bits_offset + 128, false,
                               romwright::PageLayout{recipe.page0.start, recipe.page0.end, 0, 0, false},
                               true, false, true};
    int32_t pages = 0;
    const double seconds = seconds_of([&] {
        romwright::plan_sectors(input);
        pages = romwright::plan_pages(input).write_count;
    });
    report("plan 64 MiB page-mode image", seconds, fmt::format("{} pages to write", pages));
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
)";
        setenv("ZENAPI_SIM_CONFIG", (dir / "machine.toml").c_str(), 1);
        setenv("ZENAPI_SIM_STATE_DIR", (dir / "state").c_str(), 1);
        unsetenv("ZENAPI_SIM_TRACE");
        if (ZenSimReload() != 0) throw std::runtime_error(ZenSimLastError());
    }
    ~Machine() { fs::remove_all(dir); }
};

uint64_t calls_on(uint32_t board, std::initializer_list<const char *> names) {
    uint64_t total = 0;
    for (const char *name : names) total += ZenSimCallCount(1, board, name);
    return total;
}

void bench_update(const Machine &machine, uint32_t board_id, const char *model, const char *label) {
    const std::string path = (machine.dir / fmt::format("firmware-{}.rpd", model)).string();
    mkimage::FileRecipe recipe;
    recipe.format = mkimage::Format::rpd;
    recipe.primary = mkimage::default_recipe(model, 4u << 20);
    mkimage::write_file(path, mkimage::make_file(recipe));

    void *board = KorvelGetBoardBySystemID(1, board_id);
    ROMWRIGHT_RC rc = ROMWRIGHT_RC_ERROR;
    const double seconds = seconds_of([&] {
        rc = romwright_update_firmware(path.c_str(), board, nullptr, nullptr, nullptr, nullptr, nullptr);
    });
    const uint64_t calls = calls_on(board_id, {"KorvelReadRegister", "KorvelWriteRegister", "SetControlCommand",
                                               "ZEN5110FlashSectorPageRead", "ZEN5110PageWriteToFlash",
                                               "ZEN5110FlashSectorErase"});
    report(label, seconds,
           fmt::format("rc {}, {} library calls, {:.0f} calls/s", rc, calls, static_cast<double>(calls) / seconds));
}

void bench_checksum(const Machine &machine) {
    const fs::path path = machine.dir / "large-ZEN5190.rpd";
    {
        std::ofstream out(path, std::ios::binary);
        std::vector<char> block(1 << 20, '\x5A');
        for (int i = 0; i < 256; ++i) out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    // A log callback makes the entry checksum the file; the null board then ends it.
    const auto ignore = [](ROMWRIGHT_LOG_LEVEL, const char *, void *) {};
    const double seconds = seconds_of(
        [&] { romwright_update_firmware(path.c_str(), nullptr, nullptr, nullptr, ignore, nullptr, nullptr); });
    report("log header checksum of a 256 MiB file", seconds, "read in chunks of at most 64 MiB");
    fs::remove(path);
}

} // namespace

int main() {
    fmt::print("{:<44} {:>10}  {:>17}\n", "case", "time", "memory");
    // The checksum first: the peak memory after it is the bounded read buffer's.
    const Machine machine;
    bench_checksum(machine);
    bench_planner();
    bench_update(machine, 1, "ZEN5110", "page-mode update, 4 MiB image (ZEN5110)");
    bench_update(machine, 2, "ZEN5142", "sector-mode update, 4 MiB image (ZEN5142)");
    return 0;
}
