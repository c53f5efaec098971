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

// Which libZenapi the loader picked: its file and, for a simulated one, the
// simulator's own version text. Asks the loader, not the library, so the
// device-library calls stay those of the update.
std::string device_library() {
    const void *library_function = reinterpret_cast<const void *>(&KorvelGetSDKVersion);
    std::string path = platform::module_path(library_function);
    if (path.empty()) path = "(location unknown)";
    if (const char *simulator = platform::module_text(library_function, kSimulatorVersionSymbol))
        return fmt::format("{} ({})", path, simulator);
    return path;
}

void write_header(const LogSink &log, const std::string &path) {
    log.info("{}", kDashLine);
    log.info("Korvel Firmware Updater Version {}\n", kVersion);
    log.info("{}", kDashLine);
    log.info("Firmware file = {}\n", path);
    const FileFacts facts = file_facts(path);
    log.info("File size = {}\n", facts.size);
    log.info("File checksum = {:08x}\n", facts.adler);
    log.info("Device library = {}\n", device_library());
}

struct RecordDeleter {
    void operator()(romwright_options_record *record) const noexcept { romwright_options_free(record); }
};
using OwnedRecord = std::unique_ptr<romwright_options_record, RecordDeleter>;

bool has_feature(const std::vector<zen::driver_feature> &features, zen::driver_feature wanted) {
    return std::find(features.begin(), features.end(), wanted) != features.end();
}

void update_through_registers(const std::string &path, void *board, ROMWRIGHT_OPERATION_CALLBACK operation,
                              ROMWRIGHT_PROGRESS_CALLBACK progress, const LogSink &log,
                              const romwright_options_record &options, bool skip_matching) {
    if (KorvelSetParameter(board, kApiLoggingChannel, ZENAPI_PARAM_API_LOGGING, kApiLoggingOff) != ZENAPI_SUCCESS)
        log.write(ROMWRIGHT_LOG_WARNING, "Disabling API logging failed");
    boost::shared_ptr<CRomwright> engine = boost::make_shared<CRomwright>(log.callback(), log.user_data());
    engine->SetOptions(options.auto_select_pages, options.write_page0, options.write_page1,
                       options.write_option_bits, options.verify_pages, options.max_retries, options.debug);
    engine->SetSkipMatchingSectors(skip_matching);
    engine->UpdateBoard(path, board, operation, progress);
}

void update(const std::string &path, void *board, ROMWRIGHT_OPERATION_CALLBACK operation,
            ROMWRIGHT_PROGRESS_CALLBACK progress, const LogSink &log, const romwright_options_record &options,
            bool skip_matching) {
    const std::vector<zen::driver_feature> features = zen::get_supported_driver_features(board);
    if (has_feature(features, zen::driver_feature::firmware_upgrade_service))
        UpgradeThroughDriver(path, board, operation, progress, log.callback(), log.user_data());
    else if (has_feature(features, zen::driver_feature::flash_sector_service))
        UpdateThroughFlashService(path, board, operation, progress, log.callback(), log.user_data());
    else
        update_through_registers(path, board, operation, progress, log, options, skip_matching);
}

// Logging the failure must not itself let anything escape.
void log_failure(const LogSink &log, const char *text) noexcept {
    try {
        log.write(ROMWRIGHT_LOG_ERROR, text);
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
    return romwright::update_firmware(path, board, operation_callback, progress_callback, log_callback, options,
                                      user_data, false);
}

ROMWRIGHT_RC romwright::update_firmware(const char *path, void *board, ROMWRIGHT_OPERATION_CALLBACK operation_callback,
                                        ROMWRIGHT_PROGRESS_CALLBACK progress_callback,
                                        ROMWRIGHT_LOG_CALLBACK log_callback, const romwright_options_record *options,
                                        void *user_data, bool skip_matching) {
    using namespace romwright;
    const LogSink log(log_callback, user_data);
    try {
        const std::string file_path = path ? path : "";
        if (log.enabled()) write_header(log, file_path);
        if (!board) {
            log.write(ROMWRIGHT_LOG_ERROR, "Board is null");
            return ROMWRIGHT_RC_ERROR;
        }
        OwnedRecord defaults;
        if (!options) {
            defaults.reset(romwright_options_create());
            if (!defaults) return ROMWRIGHT_RC_ERROR;
            options = defaults.get();
        }
        update(file_path, board, operation_callback, progress_callback, log, *options, skip_matching);
        log.info("Update succeeded.\n");
        return ROMWRIGHT_RC_SUCCESS;
    } catch (const std::exception &error) {
        log_failure(log, error.what());
    } catch (...) {
        log_failure(log, "Unknown error");
    }
    return ROMWRIGHT_RC_ERROR;
}
