// CRomwright::UpdateBoard and its flash steps: erase (with a read-back check
// per sector), write and verify, in page mode through the device library's
// page calls and in sector mode through the flash controller driver. The
// three steps are retried as a whole; the plan made before them is reused.
// An image that ends inside a sector is written to that sector too, padded
// with erased bytes, once a read of the board has shown that nothing past the
// image's end would be lost.
#include "engine/romwright_engine.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <exception>
#include <stdexcept>

#include <fmt/format.h>

#include <romwright/error.hpp>
#include <zenapi/Zenapi.h>

#include "engine/devlib/zen.hpp"
#include "engine/planner.hpp"
#include "engine/pof_reader.hpp"

namespace {

constexpr std::size_t kMagicProbeBytes = 12;
constexpr uint32_t kPageSize = romwright::kPageSize;
constexpr uint32_t kPageWords = kPageSize / 2;
constexpr uint32_t kPagesPerSector = romwright::kPageModeSectorSize / kPageSize;  // 4096
constexpr uint32_t kSectorSize = romwright::kSectorModeSectorSize;
constexpr uint32_t kSectorWords = kSectorSize / 4;
constexpr uint32_t kDumpBlock = 64;  // bytes shown around a sector-mode difference
constexpr uint32_t kDumpLine = 16;
constexpr uint32_t kPrepareReadCommand = 3;
constexpr uint32_t kErased32 = 0xFFFFFFFFu;

uint32_t word_address_of_page(uint32_t page) { return page * kPageWords; }

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

float fraction(int64_t done, int64_t total) { return static_cast<float>(done) / static_cast<float>(total); }

} // namespace

void CRomwright::Progress(ROMWRIGHT_PROGRESS_CALLBACK progress, float value) const {
    if (progress) progress(value, user_data);
}

// Reads 32 bytes at a 16-bit word address. The erase check and the verify
// leave the results to the comparison that follows, where a bad read shows.
uint32_t CRomwright::ReadPage(uint32_t word_address, uint8_t out[32]) {
    uint16_t words[kPageWords] = {};
    EnableFlash(true);
    const uint32_t results[] = {
        SetControlCommand(board, kPrepareReadCommand),
        ZEN5110FlashSectorPageRead(board, word_address, words),
        ZEN5110FlashSectorPageRead(board, word_address + kPageWords / 2, words + kPageWords / 2),
    };
    EnableFlash(false);
    for (uint32_t i = 0; i < kPageWords; ++i) {
        out[2 * i] = static_cast<uint8_t>(words[i] & 0xFFu);
        out[2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
    }
    for (uint32_t result : results)
        if (result != ZENAPI_SUCCESS) return result;
    return ZENAPI_SUCCESS;
}

void CRomwright::PageImage(uint32_t page, uint8_t out[32]) const {
    const std::vector<uint8_t> &data = images[image_index].data;
    const std::size_t begin = std::size_t{page} * kPageSize;
    const std::size_t available = begin < data.size() ? std::min<std::size_t>(kPageSize, data.size() - begin) : 0;
    std::fill(out, out + kPageSize, uint8_t{0xFF});
    if (available) std::memcpy(out, data.data() + begin, available);
}

const uint8_t *CRomwright::SectorImage(uint32_t sector) {
    const std::vector<uint8_t> &data = images[image_index].data;
    const std::size_t begin = std::size_t{sector} * kSectorSize;
    if (begin + kSectorSize <= data.size()) return data.data() + begin;
    // One sector's copy, made again for every use so that it always shows the
    // current slot; the buffer itself is allocated once.
    padded_sector_.assign(kSectorSize, 0xFF);
    if (begin < data.size())
        std::copy(data.begin() + static_cast<std::ptrdiff_t>(begin), data.end(), padded_sector_.begin());
    return padded_sector_.data();
}

// Tells a POF file from a raw one by its magic and loads it into the slots,
// from the one handle that was checked to be a regular, non-empty file.
void CRomwright::LoadFirmwareFile(const std::string &path) {
    std::optional<romwright::FirmwareFile> file = romwright::FirmwareFile::open(path);
    if (!file)
        throw romwright::error(romwright::error_kind::file,
                               fmt::format("Error: Could not open firmware file {}", path));
    uint8_t first_bytes[kMagicProbeBytes] = {};
    const std::size_t probed = static_cast<std::size_t>(std::min<uint64_t>(file->size(), sizeof first_bytes));
    file->read(0, first_bytes, probed);
    if (romwright::has_pof_magic(first_bytes, probed))
        romwright::load_pof(*file, images, debug, log());
    else
        romwright::load_binary(*file, images[0], log());
}

// One attempt: erase, write and (if asked) verify, in the board's mode.
void CRomwright::EraseWriteVerify(ROMWRIGHT_OPERATION_CALLBACK operation, ROMWRIGHT_PROGRESS_CALLBACK progress) {
    const auto report = [&](ROMWRIGHT_OPERATION value) {
        if (operation) operation(value, user_data);
    };
    report(ROMWRIGHT_OPERATION_ERASING);
    EraseSectors(progress);
    report(ROMWRIGHT_OPERATION_WRITING);
    if (sector_mode)
        WriteSectors(progress);
    else
        WritePages(progress);
    if (!verify_pages) return;
    report(ROMWRIGHT_OPERATION_VERIFYING);
    if (sector_mode)
        VerifySectors(progress);
    else
        VerifyPages(progress);
}

void CRomwright::UpdateBoard(const std::string &path, void *handle, ROMWRIGHT_OPERATION_CALLBACK operation_callback,
                             ROMWRIGHT_PROGRESS_CALLBACK progress_callback) {
    LoadFirmwareFile(path);
    firmware_path = path;
    const int64_t start = clock_.wall_seconds();

    // Nothing here is retried: a refusal comes before any erase.
    IdentifyBoard(handle);
    CheckImage();
    ReadPageLayout();
    PlanSectors();
    if (!sector_mode) PlanPages();
    CheckTrailingSector();

    EraseWriteVerifyWithRetries(operation_callback, progress_callback);

    if (controller_attached) flash.Detach();
    controller_attached = false;
    board = nullptr;
    log().info("Board update time = {}s\n", clock_.wall_seconds() - start);
}

// The same plan for every attempt; each starts again from the first erase.
void CRomwright::EraseWriteVerifyWithRetries(ROMWRIGHT_OPERATION_CALLBACK operation,
                                             ROMWRIGHT_PROGRESS_CALLBACK progress) {
    for (int32_t attempt = 0;; ++attempt) {
        if (attempt > 0) ResetControllerForRetry(attempt);
        // The last attempt's failure tells what kind of failure ends the update.
        romwright::error_kind last_failure = romwright::error_kind::internal;
        try {
            EraseWriteVerify(operation, progress);
            return;
        } catch (const romwright::error &failure) {
            log().error("{}\n", failure.what());
            last_failure = failure.kind();
        } catch (const std::exception &failure) {
            log().error("{}\n", failure.what());
        } catch (...) {
            log().error("Unknown error.");
        }
        if (attempt >= max_retries) throw romwright::error(last_failure, "Max retries reached.");
    }
}

// A failed attempt may leave the controller in the middle of a command (a
// read burst nobody drains, a program still waiting for words) with words in
// its FIFOs; the next attempt's commands would then be ignored until they
// time out, every time. Page mode has no such state to clear.
void CRomwright::ResetControllerForRetry(int32_t retry) {
    if (!sector_mode || !controller_attached) return;
    try {
        flash.ResetController();
        log().info("Flash controller reset for retry {} of {}.\n", retry, max_retries);
    } catch (const std::exception &error) {
        // The attempt still runs; if the controller is unusable, it fails and counts.
        log().warning("Warning: Resetting the flash controller for retry {} failed: {}\n", retry, error.what());
    }
}

namespace {

std::string unreadable_tail(uint32_t sector, uint32_t sector_size, uint32_t length, const std::string &what) {
    return fmt::format("Error: Sector {} (0x{:08X} to 0x{:08X}), in which the image of 0x{:X} bytes ends, could not "
                       "be read: {}. The image may be larger than the board's flash. Nothing was erased.\n",
                       sector, sector * sector_size, (sector + 1) * sector_size - 1, length, what);
}

std::string data_past_the_end(uint32_t sector, uint32_t address, uint32_t length) {
    return fmt::format("Error: Sector {} holds data at 0x{:08X} beyond the end of the image (0x{:X} bytes); erasing "
                       "it would lose that data. Nothing was erased.\n",
                       sector, address, length);
}

} // namespace

// Erasing the sector in which the image ends also erases what the board holds
// past that end, which nothing writes back. That is sound only where it reads
// erased already; a board that cannot even be read there is refused too.
void CRomwright::CheckTrailingSector() {
    const uint32_t sector_size = sector_mode ? kSectorSize : romwright::kPageModeSectorSize;
    const std::size_t size = images[image_index].data.size();
    if (size % sector_size == 0) return;
    const auto length = static_cast<uint32_t>(size);
    const uint32_t sector = length / sector_size;
    if (sector >= erase_map.size() || !erase_map[sector]) return;
    if (sector_mode)
        CheckTrailingSectorRead(sector, length);
    else
        CheckTrailingPages(sector, length);
}

void CRomwright::CheckTrailingSectorRead(uint32_t sector, uint32_t length) {
    if (!controller_attached || !sector_buffer)
        throw romwright::error(romwright::error_kind::internal, "Error: Sector read not supported\n");
    const uint32_t words = flash.ReadSector(sector, sector_buffer.get(), kSectorSize);
    if (words < kSectorWords)
        throw romwright::error(romwright::error_kind::device_call,
                               unreadable_tail(sector, kSectorSize, length,
                                               fmt::format("{} of {} bytes came back", 4 * words, kSectorSize)));
    const uint32_t base = sector * kSectorSize;
    for (uint32_t offset = length - base; offset < kSectorSize; ++offset)
        if (sector_buffer.get()[offset] != 0xFF)
            throw romwright::error(romwright::error_kind::image, data_past_the_end(sector, base + offset, length));
}

void CRomwright::CheckTrailingPages(uint32_t sector, uint32_t length) {
    if (controller_attached) throw romwright::error(romwright::error_kind::internal, "Error: Page read not supported");
    const uint32_t sector_size = romwright::kPageModeSectorSize;
    const uint32_t end_page = (sector + 1) * kPagesPerSector;
    uint8_t read[kPageSize];
    for (uint32_t page = length / kPageSize; page < end_page; ++page) {
        const uint32_t address = page * kPageSize;
        const uint32_t result = ReadPage(word_address_of_page(page), read);
        if (result != ZENAPI_SUCCESS)
            throw romwright::error(romwright::error_kind::device_call,
                                   unreadable_tail(sector, sector_size, length,
                                                   fmt::format("the page read at 0x{:08X} failed with {}", address,
                                                               zen::error_text(result))));
        for (uint32_t i = address < length ? length - address : 0; i < kPageSize; ++i)
            if (read[i] != 0xFF)
                throw romwright::error(romwright::error_kind::image, data_past_the_end(sector, address + i, length));
    }
}

void CRomwright::EraseSectors(ROMWRIGHT_PROGRESS_CALLBACK progress) {
    log().info("Erasing {} of {} sectors.\n", erase_count, erase_map.size());
    Progress(progress, 0.0f);
    if (erase_count <= 0) return;

    const int64_t start = clock_.wall_seconds();
    int32_t erased = 0;
    for (uint32_t sector = 0; sector < erase_map.size(); ++sector) {
        if (!erase_map[sector]) continue;
        Progress(progress, fraction(erased, erase_count));
        for (int32_t retry = 0;; ++retry) {
            if (controller_attached)
                flash.EraseSector(sector);
            else
                (void)ZEN5110FlashSectorErase(board, sector);
            if (SectorReadsErased(sector)) break;
            if (retry >= max_retries)
                throw romwright::error(romwright::error_kind::verification, "Error: erase retries depleted.");
        }
        ++erased;
    }
    if (debug) log().info("Erased {} sectors in {} seconds.\n", erased, clock_.wall_seconds() - start);
    if (erased != erase_count)
        throw romwright::error(romwright::error_kind::internal, "Error: Not all sectors erased.");
}

bool CRomwright::SectorReadsErased(uint32_t sector) {
    if (sector_mode) {
        if (!controller_attached || !sector_buffer)
            throw romwright::error(romwright::error_kind::internal, "Error: Sector read not supported\n");
        (void)flash.ReadSector(sector, sector_buffer.get(), kSectorSize);
        const uint32_t k = first_unerased_word(sector_buffer.get());
        if (k == kSectorWords) return true;
        const uint32_t base = sector * kSectorSize;
        log().error("Error: erase sector {} byte address 0x{:08X} failed\n", sector, base + 4 * k);
        log().info("Read: \n");
        HexDump(sector_buffer.get() + block_of_word(k), kDumpBlock, base + block_of_word(k), kDumpLine);
        return false;
    }
    if (controller_attached) throw romwright::error(romwright::error_kind::internal, "Error: Page read not supported");
    uint8_t read[kPageSize];
    for (uint32_t j = 0; j < kPagesPerSector; ++j) {
        const uint32_t page = sector * kPagesPerSector + j;
        (void)ReadPage(word_address_of_page(page), read);
        if (std::all_of(read, read + kPageSize, [](uint8_t byte) { return byte == 0xFF; })) continue;
        log().error("Error: Erase sector {} byte address 0x{:08X} failed\n", sector, page * kPageSize);
        log().error("Read\n");
        HexDump(read, kPageSize, page * kPageSize, kDumpLine);
        return false;
    }
    return true;
}

void CRomwright::WritePages(ROMWRIGHT_PROGRESS_CALLBACK progress) {
    log().info("Writing {} of {} pages.", write_count, write_map.size());
    const int64_t start = clock_.wall_seconds();
    int32_t written = 0;
    if (write_count >= 1 && !write_map.empty()) {
        for (uint32_t page = 0; page < write_map.size(); ++page) {
            if (!write_map[page]) continue;
            if (controller_attached)
                throw romwright::error(romwright::error_kind::internal, "Error: Page write not supported");
            uint16_t words[kPageWords];
            uint8_t bytes[kPageSize];
            PageImage(page, bytes);
            for (uint32_t i = 0; i < kPageWords; ++i)
                words[i] = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
            EnableFlash(true);
            (void)ZEN5110PageWriteToFlash(board, word_address_of_page(page), words);
            EnableFlash(false);
            Progress(progress, fraction(written, write_count));
            ++written;
        }
    }
    if (debug) log().info("Wrote {} pages in {} seconds.\n", write_count, clock_.wall_seconds() - start);
    if (written != write_count)
        throw romwright::error(romwright::error_kind::internal, "Error: Not all pages were written");
}

void CRomwright::WriteSectors(ROMWRIGHT_PROGRESS_CALLBACK progress) {
    if (erase_count <= 0) return;
    log().info("Writing {} of {}\n", erase_count, erase_map.size());
    const int64_t start = clock_.wall_seconds();
    int32_t written = 0;
    for (uint32_t sector = 0; sector < erase_map.size(); ++sector) {
        if (!erase_map[sector]) continue;
        if (!controller_attached)
            throw romwright::error(romwright::error_kind::internal, "Error: Sector write not supported\n");
        flash.WriteSector(sector, SectorImage(sector), kSectorSize);
        ++written;
        Progress(progress, fraction(written, erase_count));
    }
    if (written != erase_count)
        throw romwright::error(romwright::error_kind::internal, "Error: not all sectors were written");
    if (debug) log().info("Wrote {} sectors in {} seconds.\n", written, clock_.wall_seconds() - start);
}

void CRomwright::VerifyPages(ROMWRIGHT_PROGRESS_CALLBACK progress) {
    if (write_count <= 0) return;
    log().info("Verifying {} pages\n", write_count);
    const int64_t start = clock_.wall_seconds();
    int32_t verified = 0;
    for (uint32_t page = 0; page < write_map.size(); ++page) {
        if (!write_map[page]) continue;
        if (controller_attached)
            throw romwright::error(romwright::error_kind::internal, "Error: Page read not supported");
        uint8_t read[kPageSize];
        (void)ReadPage(word_address_of_page(page), read);
        uint8_t wrote[kPageSize];
        PageImage(page, wrote);
        if (std::memcmp(read, wrote, kPageSize) != 0) {
            const uint32_t address = page * kPageSize;
            log().error("Verify page at 0x{:08X} failed", address);
            log().info("Wrote:\n");
            HexDump(wrote, kPageSize, address, kDumpLine);
            log().info("Read:\n");
            HexDump(read, kPageSize, address, kDumpLine);
            throw romwright::error(romwright::error_kind::verification, "Data verification failed.");
        }
        ++verified;
        Progress(progress, fraction(verified, write_count));
    }
    if (debug) log().info("Verified {} pages in {} seconds.\n", verified, clock_.wall_seconds() - start);
    if (verified != write_count)
        throw romwright::error(romwright::error_kind::internal, "Error: Not all pages were verified.");
}

void CRomwright::VerifySectors(ROMWRIGHT_PROGRESS_CALLBACK progress) {
    if (erase_count <= 0) return;
    log().info("Verifying {} sectors\n", erase_count);
    const int64_t start = clock_.wall_seconds();
    if (erase_map.empty())
        throw romwright::error(romwright::error_kind::internal, "Error: wrong number of verified sectors.");
    int32_t verified = 0;
    for (uint32_t sector = 0; sector < erase_map.size(); ++sector) {
        if (!erase_map[sector]) continue;
        if (!controller_attached || !sector_buffer)
            throw romwright::error(romwright::error_kind::internal, "Error: Sector read not supported\n");
        (void)flash.ReadSector(sector, sector_buffer.get(), kSectorSize);
        const uint8_t *wrote = SectorImage(sector);
        const uint32_t k = first_differing_word(wrote, sector_buffer.get());
        if (k != kSectorWords) {
            const uint32_t base = sector * kSectorSize;
            const uint32_t block = block_of_word(k);
            log().error("Error: Verify sector {} byte address 0x{:08X} failed.\n", sector, base + 4 * k);
            log().info("Wrote:\n");
            HexDump(wrote + block, kDumpBlock, base + block, kDumpLine);
            log().info("Read:\n");
            HexDump(sector_buffer.get() + block, kDumpBlock, base + block, kDumpLine);
            throw romwright::error(romwright::error_kind::verification, "Verify sector failed.");
        }
        Progress(progress, fraction(verified, erase_count));
        ++verified;
    }
    if (verified != erase_count)
        throw romwright::error(romwright::error_kind::internal, "Error: wrong number of verified sectors.");
    if (debug) log().info("Verified {} sectors in {} seconds.\n", verified, clock_.wall_seconds() - start);
}
