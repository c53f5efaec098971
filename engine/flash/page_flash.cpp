#include "engine/flash/page_flash.hpp"

#include <algorithm>
#include <cstring>
#include <optional>

#include <fmt/format.h>

#include <romwright/error.hpp>
#include <zenapi/Zenapi.h>

#include "engine/devlib/zen.hpp"
#include "engine/image/hex_dump.hpp"

namespace romwright {
namespace {

constexpr uint32_t kPageWords = kPageSize / 2;
constexpr uint32_t kPagesPerSector = kPageModeSectorSize / kPageSize;  // 4096
constexpr uint32_t kPageDumpLine = 16;
constexpr uint32_t kPrepareReadCommand = 3;

const char *const kPageReadRefusal = "Error: Page read not supported";
const char *const kPageWriteRefusal = "Error: Page write not supported";

// Device-library calls of one page read (flash enable read and written on,
// SetControlCommand, two reads of 8 words, the enable off) and one page write.
constexpr uint64_t kCallsPerPageRead = 7;
constexpr uint64_t kCallsPerPageWrite = 5;

uint32_t word_address_of_page(uint32_t page) { return page * kPageWords; }

bool blank(const uint8_t *bytes, std::size_t length) {
    return std::all_of(bytes, bytes + length, [](uint8_t byte) { return byte == 0xFF; });
}

} // namespace

void enable_flash(void *board, bool enable) {
    uint32_t value = 0;
    zen::check_call(KorvelReadRegister(board, flash_reg::kFlashEnable, &value, ZENAPI_REGISTER_ACCESS_CODE),
                    "CRomwright::EnableFlash");
    value = enable ? (value | flash_reg::kFlashEnableBit) : (value & ~flash_reg::kFlashEnableBit);
    zen::check_call(KorvelWriteRegister(board, flash_reg::kFlashEnable, value, ZENAPI_REGISTER_ACCESS_CODE),
                    "CRomwright::EnableFlash");
}

void PageFlash::RequireNoDriver(const char *refusal) const {
    if (driver_.attached()) throw romwright::error(error_kind::internal, refusal);
}

uint32_t PageFlash::ReadPage(uint32_t word_address, uint8_t out[kPageSize]) {
    uint16_t words[kPageWords];
    std::memset(words, kUnreadByte, sizeof words);
    enable_flash(board_, true);
    const uint32_t results[] = {
        SetControlCommand(board_, kPrepareReadCommand),
        ZEN5110FlashSectorPageRead(board_, word_address, words),
        ZEN5110FlashSectorPageRead(board_, word_address + kPageWords / 2, words + kPageWords / 2),
    };
    enable_flash(board_, false);
    for (uint32_t i = 0; i < kPageWords; ++i) {
        out[2 * i] = static_cast<uint8_t>(words[i] & 0xFFu);
        out[2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
    }
    for (uint32_t result : results)
        if (result != ZENAPI_SUCCESS) return result;
    return ZENAPI_SUCCESS;
}

// The library's result is not looked at: the read-back finds a failed write.
void PageFlash::WritePage(uint32_t page, const uint8_t bytes[kPageSize]) {
    uint16_t words[kPageWords];
    for (uint32_t i = 0; i < kPageWords; ++i) words[i] = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    enable_flash(board_, true);
    (void)ZEN5110PageWriteToFlash(board_, word_address_of_page(page), words);
    enable_flash(board_, false);
}

// An erase that could not be checked is refused with the check's text. The
// library's result is not looked at: the erase check finds a failed erase.
void PageFlash::EraseSector(uint32_t sector) {
    RequireNoDriver(kPageReadRefusal);
    (void)ZEN5110FlashSectorErase(board_, sector);
}

// The same page reads as ReadPage, with the flash enabled and put in
// read-array mode once for the whole sector instead of once per page: nothing
// programs or erases in between, so every read sees the array. It takes two
// library calls per page instead of seven. Each read starts from an unfilled
// buffer, so a call that answers success without data shows as a difference.
SectorRead PageFlash::ReadSector(uint32_t sector, uint8_t *out) {
    RequireNoDriver(kPageReadRefusal);
    std::memset(out, kUnreadByte, kPageModeSectorSize);
    enable_flash(board_, true);
    SectorRead outcome = SectorRead::ok(0);
    const uint32_t prepared = SetControlCommand(board_, kPrepareReadCommand);
    if (prepared != ZENAPI_SUCCESS)
        outcome = {SectorRead::Outcome::failed,
                   fmt::format("SetControlCommand before sector {} failed with {}", sector, zen::error_text(prepared)),
                   0};
    for (uint32_t j = 0; j < kPagesPerSector && outcome.whole(); ++j) {
        outcome = ReadPageOfSector(sector * kPagesPerSector + j, out + j * kPageSize);
        outcome.bytes = j * kPageSize + (outcome.whole() ? kPageSize : 0);
    }
    enable_flash(board_, false);
    return outcome;
}

// One page of ReadSector, its two halves each read into an unfilled buffer.
SectorRead PageFlash::ReadPageOfSector(uint32_t page, uint8_t *out) {
    uint16_t words[kPageWords];
    for (uint32_t half = 0; half < 2; ++half) {
        uint16_t *part = words + half * kPageWords / 2;
        std::memset(part, kUnreadByte, sizeof(uint16_t) * kPageWords / 2);
        const uint32_t address = word_address_of_page(page) + half * kPageWords / 2;
        const uint32_t result = ZEN5110FlashSectorPageRead(board_, address, part);
        if (result == static_cast<uint32_t>(zen::return_code::invalid_address))
            return {SectorRead::Outcome::beyond_flash,
                    fmt::format("the page read at 0x{:08X} was refused: {}", 2 * uint64_t{address},
                                zen::error_text(result)),
                    0};
        if (result != ZENAPI_SUCCESS)
            return {SectorRead::Outcome::failed,
                    fmt::format("the page read at 0x{:08X} failed with {}", 2 * uint64_t{address},
                                zen::error_text(result)),
                    0};
    }
    for (uint32_t i = 0; i < kPageWords; ++i) {
        out[2 * i] = static_cast<uint8_t>(words[i] & 0xFFu);
        out[2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
    }
    return SectorRead::ok(kPageSize);
}

// Blank pages need no programming after the erase.
void PageFlash::WriteSector(uint32_t sector, const uint8_t *bytes) {
    RequireNoDriver(kPageWriteRefusal);
    for (uint32_t j = 0; j < kPagesPerSector; ++j)
        if (!blank(bytes + j * kPageSize, kPageSize)) WritePage(sector * kPagesPerSector + j, bytes + j * kPageSize);
}

bool PageFlash::SectorMatches(uint32_t sector, const uint8_t *bytes) {
    RequireNoDriver(kPageReadRefusal);
    uint8_t read[kPageSize];
    for (uint32_t j = 0; j < kPagesPerSector; ++j) {
        if (ReadPage(word_address_of_page(sector * kPagesPerSector + j), read) != ZENAPI_SUCCESS) return false;
        if (std::memcmp(read, bytes + j * kPageSize, kPageSize) != 0) return false;
    }
    return true;
}

// Page by page, stopping at the first page that is not erased.
bool PageFlash::SectorReadsErased(uint32_t sector) {
    RequireNoDriver(kPageReadRefusal);
    uint8_t read[kPageSize];
    for (uint32_t j = 0; j < kPagesPerSector; ++j) {
        const uint32_t page = sector * kPagesPerSector + j;
        (void)ReadPage(word_address_of_page(page), read);
        if (blank(read, kPageSize)) continue;
        log_.error("Error: Erase sector {} byte address 0x{:08X} failed\n", sector, page * kPageSize);
        log_.error("Read\n");
        hex_dump(log_, read, kPageSize, page * kPageSize, kPageDumpLine);
        return false;
    }
    return true;
}

void PageFlash::WritePages(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress) {
    const UpdatePlan &plan = work.plan;
    log_.info("Writing {} of {} pages.", plan.write_count, plan.write_map.size());
    const int64_t start = clock_.wall_seconds();
    int32_t written = 0;
    if (plan.write_count >= 1 && !plan.write_map.empty()) {
        for (uint32_t page = 0; page < plan.write_map.size(); ++page) {
            if (!plan.write_map[page]) continue;
            RequireNoDriver(kPageWriteRefusal);
            WritePage(page, ImageBytes(work.image, uint64_t{page} * kPageSize, kPageSize, kErasedByte));
            Progress(progress, fraction(written, plan.write_count));
            ++written;
        }
    }
    if (work.debug) log_.info("Wrote {} pages in {} seconds.\n", plan.write_count, clock_.wall_seconds() - start);
    if (written != plan.write_count) throw romwright::error(error_kind::internal, "Error: Not all pages were written");
}

void PageFlash::VerifyPages(const FlashWork &work, ROMWRIGHT_PROGRESS_CALLBACK progress) {
    const UpdatePlan &plan = work.plan;
    if (plan.write_count <= 0) return;
    log_.info("Verifying {} pages\n", plan.write_count);
    const int64_t start = clock_.wall_seconds();
    int32_t verified = 0;
    for (uint32_t page = 0; page < plan.write_map.size(); ++page) {
        if (!plan.write_map[page]) continue;
        RequireNoDriver(kPageReadRefusal);
        uint8_t read[kPageSize];
        (void)ReadPage(word_address_of_page(page), read);
        const uint8_t *wrote = ImageBytes(work.image, uint64_t{page} * kPageSize, kPageSize, kErasedByte);
        if (std::memcmp(read, wrote, kPageSize) != 0) {
            const uint32_t address = page * kPageSize;
            log_.error("Verify page at 0x{:08X} failed", address);
            log_.info("Wrote:\n");
            hex_dump(log_, wrote, kPageSize, address, kPageDumpLine);
            log_.info("Read:\n");
            hex_dump(log_, read, kPageSize, address, kPageDumpLine);
            throw romwright::error(error_kind::verification, "Data verification failed.");
        }
        ++verified;
        Progress(progress, fraction(verified, plan.write_count));
    }
    if (work.debug) log_.info("Verified {} pages in {} seconds.\n", verified, clock_.wall_seconds() - start);
    if (verified != plan.write_count)
        throw romwright::error(error_kind::internal, "Error: Not all pages were verified.");
}

// From the image's last page to the end of its sector, every byte past the
// image's end must read erased, and every read must succeed.
void PageFlash::CheckTrailingSector(uint32_t sector, uint32_t length) {
    RequireNoDriver(kPageReadRefusal);
    const uint32_t end_page = (sector + 1) * kPagesPerSector;
    uint8_t read[kPageSize];
    for (uint32_t page = length / kPageSize; page < end_page; ++page) {
        const uint32_t address = page * kPageSize;
        const uint32_t result = ReadPage(word_address_of_page(page), read);
        if (result != ZENAPI_SUCCESS)
            throw romwright::error(error_kind::device_call,
                                   UnreadableTail(sector, length,
                                                   fmt::format("the page read at 0x{:08X} failed with {}", address,
                                                               zen::error_text(result))));
        for (uint32_t i = address < length ? length - address : 0; i < kPageSize; ++i)
            if (read[i] != 0xFF)
                throw romwright::error(error_kind::image, DataPastTheEnd(sector, address + i, length));
    }
}

uint32_t PageFlash::ExpectedBytes(const FlashWork &work, uint64_t first, uint32_t length, uint8_t *out) const {
    const std::vector<bool> &pages = work.plan.write_map;
    std::fill(out, out + length, kErasedByte);
    for (uint64_t page = first / kPageSize; page * kPageSize < first + length; ++page) {
        if (page >= pages.size() || !pages[page]) continue;
        const uint64_t begin = std::max(first, page * kPageSize);
        const uint64_t end = std::min(first + length, (page + 1) * kPageSize);
        CopyPadded(work.image, begin, static_cast<uint32_t>(end - begin), kErasedByte, out + (begin - first));
    }
    return length;
}

FlashCost PageFlash::Cost(const FlashWork &work, bool verify) {
    const UpdatePlan &plan = work.plan;
    FlashCost cost;
    const uint64_t length = work.image.size();
    if (const std::optional<uint32_t> trailing = trailing_sector(plan, length, kPageModeSectorSize))
        cost.library_calls += ((uint64_t{*trailing} + 1) * kPagesPerSector - length / kPageSize) * kCallsPerPageRead;
    const uint64_t erased = static_cast<uint64_t>(std::max(plan.erase_count, 0));
    const uint64_t written = static_cast<uint64_t>(std::max(plan.write_count, 0));
    cost.library_calls += erased * (1 + kPagesPerSector * kCallsPerPageRead);  // the erase, the erase check
    cost.library_calls += written * kCallsPerPageWrite;
    if (verify) cost.library_calls += written * kCallsPerPageRead;
    return cost;
}

} // namespace romwright
