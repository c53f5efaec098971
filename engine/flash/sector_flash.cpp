#include "engine/flash/sector_flash.hpp"

#include <algorithm>
#include <cstring>
#include <exception>

#include <fmt/format.h>

#include <romwright/error.hpp>

#include "engine/image/hex_dump.hpp"

namespace romwright {
namespace {

constexpr uint32_t kSectorSize = kSectorModeSectorSize;
constexpr uint32_t kSectorWords = kSectorSize / 4;
constexpr uint32_t kDumpBlock = 64;  // bytes shown around a difference
constexpr uint32_t kDumpLine = 16;
constexpr uint32_t kErased32 = 0xFFFFFFFFu;

const char *const kReadRefusal = "Error: Sector read not supported\n";
const char *const kWriteRefusal = "Error: Sector write not supported\n";

// What the driver's protocol costs when the controller answers at once (see
// flash_pc28f.cpp): register accesses, and the pauses of the clear sequence
// that starts every command.
constexpr uint64_t kAccessesPerWaitedCommand = 6;  // clear sequence 3, command, echo, one completion poll
constexpr uint64_t kAccessesPerStartedCommand = 5;
constexpr uint64_t kPauseMsPerCommand = 30;
constexpr uint64_t kAccessesPerStatusRead = 4;  // two words, each read and acknowledged
constexpr uint64_t kAccessesPerFifoClear = 3;
constexpr uint64_t kAccessesPerWordRead = 3;     // level, data, release
constexpr uint64_t kAccessesPerWordWritten = 2;  // level, data
constexpr uint64_t kAccessesToSwitchOutputOn = 4, kPauseMsToSwitchOutputOn = 20;
constexpr uint64_t kAccessesToSwitchOutputOff = 2;

uint32_t load_u32(const uint8_t *bytes) {
    uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// Index of the first 32-bit word that differs between the two sector images,
// or kSectorWords when they agree.
uint32_t first_differing_word(const uint8_t *a, const uint8_t *b) {
    for (uint32_t k = 0; k < kSectorWords; ++k)
        if (load_u32(a + 4u * k) != load_u32(b + 4u * k)) return k;
    return kSectorWords;
}

uint32_t first_unerased_word(const uint8_t *bytes) {
    for (uint32_t k = 0; k < kSectorWords; ++k)
        if (load_u32(bytes + 4u * k) != kErased32) return k;
    return kSectorWords;
}

// Byte offset, within a sector, of the 64-byte block that holds word k.
uint32_t block_of_word(uint32_t k) { return 4u * (k / (kDumpBlock / 4) * (kDumpBlock / 4)); }

std::string unreadable_tail(uint32_t sector, uint32_t length, const std::string &what) {
    return fmt::format("Error: Sector {} (0x{:08X} to 0x{:08X}), in which the image of 0x{:X} bytes ends, could not "
                       "be read: {}. The image may be larger than the board's flash. Nothing was erased.\n",
                       sector, sector * kSectorSize, (sector + 1) * kSectorSize - 1, length, what);
}

std::string data_past_the_end(uint32_t sector, uint32_t address, uint32_t length) {
    return fmt::format("Error: Sector {} holds data at 0x{:08X} beyond the end of the image (0x{:X} bytes); erasing "
                       "it would lose that data. Nothing was erased.\n",
                       sector, address, length);
}

} // namespace

void SectorFlash::RequireDriver(const char *refusal) const {
    if (!driver_.attached()) throw romwright::error(error_kind::internal, refusal);
}

// An erase that could not be checked is refused with the check's text.
void SectorFlash::EraseSector(uint32_t sector) {
    RequireDriver(kReadRefusal);
    driver_.EraseSector(sector);
}

uint32_t SectorFlash::ReadSector(uint32_t sector, uint8_t *out) {
    RequireDriver(kReadRefusal);
    return 4 * driver_.ReadSector(sector, out, kSectorSize);
}

uint32_t SectorFlash::ReadSectorQuickly(uint32_t sector, uint8_t *out) {
    RequireDriver(kReadRefusal);
    return 4 * driver_.ReadSectorBatched(sector, out, kSectorSize);
}

void SectorFlash::WriteSector(uint32_t sector, const uint8_t *bytes) {
    RequireDriver(kWriteRefusal);
    driver_.WriteSector(sector, bytes, kSectorSize);
}

bool SectorFlash::SectorMatches(uint32_t sector, const uint8_t *bytes) {
    return ReadSector(sector, buffer_) == kSectorSize && std::memcmp(buffer_, bytes, kSectorSize) == 0;
}

bool SectorFlash::SectorReadsErased(uint32_t sector) {
    (void)ReadSector(sector, buffer_);
    const uint32_t k = first_unerased_word(buffer_);
    if (k == kSectorWords) return true;
    const uint32_t base = sector * kSectorSize;
    log_.error("Error: erase sector {} byte address 0x{:08X} failed\n", sector, base + 4 * k);
    log_.info("Read: \n");
    hex_dump(log_, buffer_ + block_of_word(k), kDumpBlock, base + block_of_word(k), kDumpLine);
    return false;
}

void SectorFlash::WriteSectors(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress) {
    const UpdatePlan &plan = work.plan;
    if (plan.erase_count <= 0) return;
    log_.info("Writing {} of {}\n", plan.erase_count, plan.erase_map.size());
    const int64_t start = clock_.wall_seconds();
    int32_t written = 0;
    for (uint32_t sector = 0; sector < plan.erase_map.size(); ++sector) {
        if (!plan.erase_map[sector]) continue;
        WriteSector(sector, ImageBytes(work.image, uint64_t{sector} * kSectorSize, kSectorSize));
        ++written;
        Progress(progress, fraction(written, plan.erase_count));
    }
    if (written != plan.erase_count)
        throw romwright::error(error_kind::internal, "Error: not all sectors were written");
    if (work.debug) log_.info("Wrote {} sectors in {} seconds.\n", written, clock_.wall_seconds() - start);
}

void SectorFlash::VerifySectors(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress) {
    const UpdatePlan &plan = work.plan;
    if (plan.erase_count <= 0) return;
    log_.info("Verifying {} sectors\n", plan.erase_count);
    const int64_t start = clock_.wall_seconds();
    if (plan.erase_map.empty())
        throw romwright::error(error_kind::internal, "Error: wrong number of verified sectors.");
    int32_t verified = 0;
    for (uint32_t sector = 0; sector < plan.erase_map.size(); ++sector) {
        if (!plan.erase_map[sector]) continue;
        (void)ReadSector(sector, buffer_);
        const uint8_t *wrote = ImageBytes(work.image, uint64_t{sector} * kSectorSize, kSectorSize);
        const uint32_t k = first_differing_word(wrote, buffer_);
        if (k != kSectorWords) {
            const uint32_t base = sector * kSectorSize;
            const uint32_t block = block_of_word(k);
            log_.error("Error: Verify sector {} byte address 0x{:08X} failed.\n", sector, base + 4 * k);
            log_.info("Wrote:\n");
            hex_dump(log_, wrote + block, kDumpBlock, base + block, kDumpLine);
            log_.info("Read:\n");
            hex_dump(log_, buffer_ + block, kDumpBlock, base + block, kDumpLine);
            throw romwright::error(error_kind::verification, "Verify sector failed.");
        }
        Progress(progress, fraction(verified, plan.erase_count));
        ++verified;
    }
    if (verified != plan.erase_count)
        throw romwright::error(error_kind::internal, "Error: wrong number of verified sectors.");
    if (work.debug) log_.info("Verified {} sectors in {} seconds.\n", verified, clock_.wall_seconds() - start);
}

// The sector is read whole: every word must come, and every byte past the
// image's end must read erased.
void SectorFlash::CheckTrailingSector(uint32_t sector, uint32_t length) {
    const uint32_t bytes = ReadSector(sector, buffer_);
    if (bytes < kSectorSize)
        throw romwright::error(
            error_kind::device_call,
            unreadable_tail(sector, length, fmt::format("{} of {} bytes came back", bytes, kSectorSize)));
    const uint32_t base = sector * kSectorSize;
    for (uint32_t offset = length - base; offset < kSectorSize; ++offset)
        if (buffer_[offset] != 0xFF)
            throw romwright::error(error_kind::image, data_past_the_end(sector, base + offset, length));
}

// A failed attempt may leave the controller in the middle of a command (a
// read burst nobody drains, a program still waiting for words) with words in
// its FIFOs; the next attempt's commands would then be ignored until they
// time out, every time.
void SectorFlash::ResetForRetry(int32_t retry, int32_t max_retries) {
    if (!driver_.attached()) return;
    try {
        driver_.ResetController();
        log_.info("Flash controller reset for retry {} of {}.\n", retry, max_retries);
    } catch (const std::exception &error) {
        // The attempt still runs; if the controller is unusable, it fails and counts.
        log_.warning("Warning: Resetting the flash controller for retry {} failed: {}\n", retry, error.what());
    }
}

FlashCost SectorFlash::Cost(const FlashWork &work, bool verify) const {
    const UpdatePlan &plan = work.plan;
    FlashCost cost;
    const auto add_command = [&cost](bool waited) {
        cost.library_calls += waited ? kAccessesPerWaitedCommand : kAccessesPerStartedCommand;
        cost.controller_commands += 1;
        cost.pause_ms += kPauseMsPerCommand;
    };
    const auto add_read = [&] {  // READ_ARRAY, FIFO reset, READ_BURST, the words
        add_command(true);
        cost.library_calls += kAccessesPerFifoClear;
        add_command(false);
        cost.library_calls += kSectorWords * kAccessesPerWordRead;
    };
    const uint64_t length = work.image.size();
    const uint64_t last_sector = length / kSectorSize;
    if (length % kSectorSize != 0 && last_sector < plan.erase_map.size() && plan.erase_map[last_sector]) add_read();
    for (int32_t i = 0; i < plan.erase_count; ++i) {
        add_command(true);  // BLOCK_LOCK_STATUS, an unlocked sector
        cost.library_calls += kAccessesPerStatusRead;
        add_command(true);  // ERASE_BLOCK
        add_read();         // the erase check
        cost.library_calls += kSectorWords * kAccessesPerWordWritten;
        add_command(true);  // PROGRAM_BURST, once the sector is queued
        if (verify) add_read();
    }
    if (cost.controller_commands > 0) {
        cost.library_calls += kAccessesToSwitchOutputOn + kAccessesToSwitchOutputOff;
        cost.pause_ms += kPauseMsToSwitchOutputOn;
    }
    return cost;
}

} // namespace romwright
