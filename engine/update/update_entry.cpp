// romwright_update_firmware: the one entry both front ends call per board.
// It writes the log header, picks the programming path the board's driver
// allows, and turns every failure into return code 1 after logging its text;
// no exception ever leaves it.
#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>
#include <fmt/format.h>
#include <zlib.h>

#include <romwright/error.hpp>
#include <romwright/programming_path.hpp>
#include <romwright/romwright.h>
#include <romwright/version.hpp>
#include <zenapi/Zenapi.h>

#include "engine/devlib/zen.hpp"
#include "engine/flash/driver_paths.hpp"
#include "engine/image/firmware_file.hpp"
#include "engine/core/log_sink.hpp"
#include "engine/update/options_record.hpp"
#include "engine/platform/modules.hpp"
#include "engine/update/romwright_engine.hpp"
#include "engine/update/update_entry.hpp"

namespace romwright {

namespace {
constexpr uint64_t kChecksumChunk = kFirmwareReadChunk;
// A simulated device library says so in this exported text; a board maker's
// library has no such symbol.
constexpr const char *kSimulatorVersionSymbol = "zenapi_sim_version_string";
} // namespace

// Size and Adler-32 of the whole file, read in bounded chunks so that a file
// of any size needs one chunk of memory. A file that is not a regular,
// non-empty one is refused when it is opened, before any read can wait on it.
FileFacts file_facts(const std::string &path) {
    std::optional<FirmwareFile> file = FirmwareFile::open(path);
    if (!file) throw romwright::error(romwright::error_kind::file, "Could not open file");
    const uint64_t total = file->size();
    ByteBuffer buffer(static_cast<std::size_t>(std::min<uint64_t>(total, kChecksumChunk)));
    uLong adler = adler32(0L, Z_NULL, 0);
    for (uint64_t done = 0; done < total;) {
        const std::size_t chunk = static_cast<std::size_t>(std::min<uint64_t>(total - done, kChecksumChunk));
        file->read(done, buffer.data(), chunk);
        adler = adler32(adler, buffer.data(), static_cast<uInt>(chunk));
        done += chunk;
    }
    return {total, static_cast<uint32_t>(adler)};
}

namespace {

constexpr const char *kDashLine = "-------------------------------------\n";
constexpr uint32_t kApiLoggingChannel = 0;
constexpr int32_t kApiLoggingOff = 0;

// Which libZenapi the loader picked, when it is the project's simulator: its
// file and the simulator's own version text, which only a simulated library
// exports. Asks the loader, not the library, so the device-library calls stay
// those of the update. Nothing for any other library: the header of its runs
// is the six lines that tools reading these logs expect.
std::optional<std::string> simulated_library() {
    const void *library_function = reinterpret_cast<const void *>(&KorvelGetSDKVersion);
    const char *simulator = platform::module_text(library_function, kSimulatorVersionSymbol);
    if (!simulator) return std::nullopt;
    std::string path = platform::module_path(library_function);
    if (path.empty()) path = "(location unknown)";
    return fmt::format("{} ({})", path, simulator);
}

void write_header(const LogSink &log, const std::string &path) {
    log.info("{}", kDashLine);
    log.info("Korvel Firmware Updater Version {}\n", kVersion);
    log.info("{}", kDashLine);
    log.info("Firmware file = {}\n", path);
    const FileFacts facts = file_facts(path);
    log.info("File size = {}\n", facts.size);
    log.info("File checksum = {:08x}\n", facts.adler);
    if (const std::optional<std::string> simulator = simulated_library())
        log.info("Device library = {}\n", *simulator);
}

struct RecordDeleter {
    void operator()(romwright_options_record *record) const noexcept { romwright_options_free(record); }
};
using OwnedRecord = std::unique_ptr<romwright_options_record, RecordDeleter>;

void update_through_registers(const std::string &path, void *board, ROMWRIGHT_OPERATION_CALLBACK operation,
                              ROMWRIGHT_PROGRESS_CALLBACK progress, const LogSink &log,
                              const romwright_options_record &options, bool skip_matching, UpdateReport &report) {
    if (KorvelSetParameter(board, kApiLoggingChannel, ZENAPI_PARAM_API_LOGGING, kApiLoggingOff) != ZENAPI_SUCCESS)
        log.write(ROMWRIGHT_LOG_WARNING, "Disabling API logging failed");
    boost::shared_ptr<CRomwright> engine = boost::make_shared<CRomwright>(log.callback(), log.user_data());
    engine->SetOptions(options);
    engine->SetSkipMatchingSectors(skip_matching);
    try {
        engine->UpdateBoard(path, board, operation, progress);
    } catch (...) {
        report = engine->report();
        throw;
    }
    report = engine->report();
}

void update(const std::string &path, void *board, ROMWRIGHT_OPERATION_CALLBACK operation,
            ROMWRIGHT_PROGRESS_CALLBACK progress, const LogSink &log, const romwright_options_record &options,
            bool skip_matching, UpdateReport &report) {
    switch (service_path(board)) {
    case ProgrammingPath::firmware_upgrade_service:
        report.path = ProgrammingPath::firmware_upgrade_service;
        UpgradeThroughDriver(path, board, operation, progress, log.callback(), log.user_data());
        return;
    case ProgrammingPath::flash_sector_service:
        report.path = ProgrammingPath::flash_sector_service;
        UpdateThroughFlashService(path, board, operation, progress, log.callback(), log.user_data(), system_clock(),
                                  &report, skip_matching);
        return;
    case ProgrammingPath::none:
    case ProgrammingPath::page_mode:
    case ProgrammingPath::sector_mode:
        update_through_registers(path, board, operation, progress, log, options, skip_matching, report);
        return;
    }
}

// The one failure the entry returns without logging it: no memory for the
// default options.
class unlogged_failure : public romwright::error {
public:
    unlogged_failure() : error(error_kind::internal, "Out of memory for the default options") {}
};

// Logging the failure must not itself let anything escape.
void log_failure(const LogSink &log, const romwright::error &failure) noexcept {
    try {
        log.write(ROMWRIGHT_LOG_ERROR, failure.what());
    } catch (...) {
    }
}

} // namespace
} // namespace romwright

extern "C" ROMWRIGHT_RC romwright_update_firmware(const char *path, void *board,
                                                  ROMWRIGHT_OPERATION_CALLBACK operation_callback,
                                                  ROMWRIGHT_PROGRESS_CALLBACK progress_callback,
                                                  ROMWRIGHT_LOG_CALLBACK log_callback,
                                                  const romwright_options_record *options, void *user_data) {
    try {
        romwright::run_update(path, board, operation_callback, progress_callback, log_callback, options, user_data,
                              false);
        return ROMWRIGHT_RC_SUCCESS;
    } catch (...) {
        // The failure was logged by run_update.
        return ROMWRIGHT_RC_ERROR;
    }
}

void romwright::run_update(const char *path, void *board, ROMWRIGHT_OPERATION_CALLBACK operation_callback,
                           ROMWRIGHT_PROGRESS_CALLBACK progress_callback, ROMWRIGHT_LOG_CALLBACK log_callback,
                           const romwright_options_record *options, void *user_data, bool skip_matching,
                           UpdateReport *report) {
    using namespace romwright;
    const LogSink log(log_callback, user_data);
    UpdateReport unused;
    UpdateReport &did = report ? *report : unused;
    try {
        const std::string file_path = path ? path : "";
        if (log.enabled()) write_header(log, file_path);
        if (!board) throw romwright::error(error_kind::usage, "Board is null");
        OwnedRecord defaults;
        if (!options) {
            defaults.reset(romwright_options_create());
            if (!defaults) throw unlogged_failure();
            options = defaults.get();
        }
        update(file_path, board, operation_callback, progress_callback, log, *options, skip_matching, did);
        log.info("Update succeeded.\n");
    } catch (const unlogged_failure &) {
        throw;
    } catch (const romwright::error &failure) {
        log_failure(log, failure);
        throw;
    } catch (const std::exception &failure) {
        const romwright::error typed(error_kind::internal, failure.what());
        log_failure(log, typed);
        throw typed;
    } catch (...) {
        const romwright::error typed(error_kind::internal, "Unknown error");
        log_failure(log, typed);
        throw typed;
    }
}
