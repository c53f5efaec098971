#include "engine/flash/sector_flash.hpp"

#include <algorithm>
#include <cstring>
#include <exception>

#include <fmt/format.h>

#include <romwright/error.hpp>

#include "engine/flash/flash_status.hpp"
#include "engine/image/hex_dump.hpp"

namespace romwright {
namespace {

constexpr uint32_t kSectorSize = kSectorModeSectorSize;
constexpr uint32_t kSectorWords = kSectorSize / 4;
constexpr uint32_t kDumpBlock = 64;  // bytes shown around a difference
constexpr uint32_t kSectorDumpLine = 16;
constexpr uint32_t kErased32 = 0xFFFFFFFFu;

const char *const kSectorReadRefusal = "Error: Sector read not supported\n";
const char *const kSectorWriteRefusal = "Error: Sector write not supported\n";

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

} // namespace

void SectorFlash::RequireDriver(const char *refusal) const {
    if (!driver_.attached()) throw romwright::error(error_kind::internal, refusal);
}

// An erase that could not be checked is refused with the check's text.
void SectorFlash::EraseSector(uint32_t sector) {
    RequireDriver(kSectorReadRefusal);
    driver_.EraseSector(sector);
}

// Each read starts from an unfilled buffer: the words that do not come are
// not those of the sector read before.
SectorRead SectorFlash::ReadSector(uint32_t sector, uint8_t *out) {
    RequireDriver(kSectorReadRefusal);
    std::memset(out, kUnreadByte, kSectorSize);
    return Outcome(sector, driver_.ReadSector(sector, out, kSectorSize));
}

SectorRead SectorFlash::ReadSectorQuickly(uint32_t sector, uint8_t *out) {
    RequireDriver(kSectorReadRefusal);
    std::memset(out, kUnreadByte, kSectorSize);
    return Outcome(sector, driver_.ReadSectorBatched(sector, out, kSectorSize));
}

// A burst that brought nothing tells why in its result words: the controller
// refuses a block it does not have with "flash not ready".
SectorRead SectorFlash::Outcome(uint32_t sector, uint32_t words) {
    if (words == kSectorWords) return SectorRead::ok(kSectorSize);
    const std::string came = fmt::format("{} of {} bytes came back", 4 * words, kSectorSize);
    if (words != 0) return {SectorRead::Outcome::failed, came, 4 * words};
    uint32_t results[2] = {};
    driver_.ReadStatusRegisters(results, false);
    const FlashStatus status = FlashStatus::decode(results[0]);
    if (status.transaction == TransactionResult::error && status.error == ErrorResult::not_ready_for_write)
        return {SectorRead::Outcome::beyond_flash,
                fmt::format("{}: the controller refused the read of block {} ({})", came, sector,
                            describe(status.error)),
                0};
    return {SectorRead::Outcome::failed, came, 0};
}

void SectorFlash::Recover() {
    if (driver_.attached()) driver_.ResetController();
}

uint32_t SectorFlash::ExpectedBytes(const FlashWork &work, uint64_t first, uint32_t length, uint8_t *out) const {
    CopyPadded(work.image, first, length, kErasedByte, out);
    return length;
}

void SectorFlash::WriteSector(uint32_t sector, const uint8_t *bytes) {
    RequireDriver(kSectorWriteRefusal);
    driver_.WriteSector(sector, bytes, kSectorSize);
}

bool SectorFlash::SectorMatches(uint32_t sector, const uint8_t *bytes) {
    return ReadSector(sector, buffer_).whole() && std::memcmp(buffer_, bytes, kSectorSize) == 0;
}

bool SectorFlash::SectorReadsErased(uint32_t sector) {
    (void)ReadSector(sector, buffer_);
    const uint32_t k = first_unerased_word(buffer_);
    if (k == kSectorWords) return true;
    const uint32_t base = sector * kSectorSize;
    log_.error("Error: erase sector {} byte address 0x{:08X} failed\n", sector, base + 4 * k);
    log_.info("Read: \n");
    hex_dump(log_, buffer_ + block_of_word(k), kDumpBlock, base + block_of_word(k), kSectorDumpLine);
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
        WriteSector(sector, ImageBytes(work.image, uint64_t{sector} * kSectorSize, kSectorSize, kErasedByte));
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
        const uint8_t *wrote = ImageBytes(work.image, uint64_t{sector} * kSectorSize, kSectorSize, kErasedByte);
        const uint32_t k = first_differing_word(wrote, buffer_);
        if (k != kSectorWords) {
            const uint32_t base = sector * kSectorSize;
            const uint32_t block = block_of_word(k);
            log_.error("Error: Verify sector {} byte address 0x{:08X} failed.\n", sector, base + 4 * k);
            log_.info("Wrote:\n");
            hex_dump(log_, wrote + block, kDumpBlock, base + block, kSectorDumpLine);
            log_.info("Read:\n");
            hex_dump(log_, buffer_ + block, kDumpBlock, base + block, kSectorDumpLine);
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
    const SectorRead read = ReadSector(sector, buffer_);
    if (!read.whole())
        throw romwright::error(
            error_kind::device_call,
            UnreadableTail(sector, length, fmt::format("{} of {} bytes came back", read.bytes, kSectorSize)));
    const uint32_t base = sector * kSectorSize;
    for (uint32_t offset = length - base; offset < kSectorSize; ++offset)
        if (buffer_[offset] != 0xFF)
            throw romwright::error(error_kind::image, DataPastTheEnd(sector, base + offset, length));
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

FlashCost SectorFlash::Cost(const FlashWork &work, bool verify) {
    const UpdatePlan &plan = work.plan;
    ControllerCost cost;
    const ControllerCost read = CFlashPC28F::CostOfReadSector(kSectorSize);
    if (trailing_sector(plan, work.image.size(), kSectorSize)) cost += read;
    const uint64_t sectors = static_cast<uint64_t>(std::max(plan.erase_count, 0));
    ControllerCost per_sector = CFlashPC28F::CostOfEraseSector(true);  // locked, as the flash powers up
    per_sector += read;                                                  // the erase check
    per_sector += CFlashPC28F::CostOfWriteSector(kSectorSize);
    if (verify) per_sector += read;
    cost += per_sector * sectors;
    if (cost.commands > 0) {
        cost += CFlashPC28F::CostOfOutputEnable(true);
        cost += CFlashPC28F::CostOfOutputEnable(false);  // when the driver lets go of the board
    }
    return FlashCost{cost.accesses, cost.commands, cost.pause_ms};
}

} // namespace romwright
