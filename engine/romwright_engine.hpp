// CRomwright: the engine object that updates one board through its
// registers. The update entry makes one per board, sets its options, runs
// UpdateBoard once and lets it go. The steps of an update share the members
// below: identification fixes the mode, the image readers fill the slots,
// the checks pick the slot, planning fills the maps, and the flash steps
// walk them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <romwright/romwright.h>

#include "engine/clock.hpp"
#include "engine/flash_pc28f.hpp"
#include "engine/image_slot.hpp"
#include "engine/log_sink.hpp"
#include "engine/platform.hpp"

class CRomwright {
public:
    CRomwright(ROMWRIGHT_LOG_CALLBACK log_callback, void *user_data,
               romwright::Clock &clock = romwright::system_clock());
    ~CRomwright();
    CRomwright(const CRomwright &) = delete;
    CRomwright &operator=(const CRomwright &) = delete;

    void SetOptions(bool auto_select_pages, bool write_page0, bool write_page1, bool write_option_bits,
                    bool verify_pages, int32_t max_retries, bool debug);

    // The whole update of one board; throws on failure.
    void UpdateBoard(const std::string &path, void *board, ROMWRIGHT_OPERATION_CALLBACK operation_callback,
                     ROMWRIGHT_PROGRESS_CALLBACK progress_callback);

    // Opening and identification.
    void IdentifyBoard(void *board);
    void OpenBoard(void *board);
    uint32_t GetKsopcSignature();
    std::pair<int32_t, int32_t> ReadBoardRevision();
    void EnableFlash(bool enable);

    // Images.
    void LoadPofFile(const std::string &path);
    void LoadBinaryFile(const std::string &path);
    void CheckImage();
    void ReadPageLayout();
    void HexDump(const uint8_t *bytes, std::size_t length, uint32_t address, uint32_t bytes_per_line);

    // Planning.
    void PlanSectors();
    void PlanPages();

    // Flash steps.
    // Before the first erase: refuses a planned sector that the image ends
    // inside when the board holds data in it past the image's end, or when it
    // cannot be read.
    void CheckTrailingSector();
    // Erase, write and verify with the plan made, retried as a whole up to
    // max_retries times; throws "Max retries reached." when all attempts fail.
    void EraseWriteVerifyWithRetries(ROMWRIGHT_OPERATION_CALLBACK operation, ROMWRIGHT_PROGRESS_CALLBACK progress);
    void EraseSectors(ROMWRIGHT_PROGRESS_CALLBACK progress);
    void WritePages(ROMWRIGHT_PROGRESS_CALLBACK progress);
    void WriteSectors(ROMWRIGHT_PROGRESS_CALLBACK progress);
    void VerifyPages(ROMWRIGHT_PROGRESS_CALLBACK progress);
    void VerifySectors(ROMWRIGHT_PROGRESS_CALLBACK progress);

    // The engine's members, shared by its steps (and open to tests).
    void *user_data;
    ROMWRIGHT_LOG_CALLBACK log_callback;
    std::string firmware_path;
    bool debug = false;
    uint32_t page0_start = 0, page0_end = 0, page1_start = 0, page1_end = 0;
    bool auto_select_pages = true;
    bool write_page0 = true;
    bool write_page1 = false;
    bool write_option_bits = true;
    bool page1_present = false;
    bool verify_pages = true;
    int32_t max_retries = 15;
    uint32_t board_kind = 0;
    uint32_t board_variant = 0;
    std::string board_model;
    uint32_t ksopc_signature = 0;
    std::vector<bool> erase_map;
    int32_t erase_count = 0;
    std::vector<bool> write_map;
    int32_t write_count = 0;
    ImageSlot images[2];
    int32_t image_index = 0;
    uint16_t board_id = 0;
    bool sector_mode = false;
    romwright::platform::AlignedBlock sector_buffer;
    void *board = nullptr;
    bool controller_attached = false;
    CFlashPC28F flash;

private:
    // What the board kind says about the board, stored only once the whole
    // identification has succeeded.
    struct FpgaType {
        uint32_t kind = 0;
        uint32_t variant = 0;
        const char *model = "";
        uint16_t board_id = 0;
        bool sector_mode = false;
    };

    romwright::LogSink log() const { return romwright::LogSink(log_callback, user_data); }
    void WarnDetachFailed(const char *reason) const noexcept;
    FpgaType GetFPGAType();
    void GetSerialNumber();
    void LoadFirmwareFile(const std::string &path);
    void EraseWriteVerify(ROMWRIGHT_OPERATION_CALLBACK operation, ROMWRIGHT_PROGRESS_CALLBACK progress);
    void ResetControllerForRetry(int32_t retry);
    // Returns the first device-library result that was not success, else success.
    uint32_t ReadPage(uint32_t word_address, uint8_t out[32]);
    // The image's bytes of a page or sector; past the image's end they read
    // 0xFF, as the flash does after the erase.
    void PageImage(uint32_t page, uint8_t out[32]) const;
    const uint8_t *SectorImage(uint32_t sector);
    void CheckTrailingPages(uint32_t sector, uint32_t length);
    void CheckTrailingSectorRead(uint32_t sector, uint32_t length);
    // Erase check of one sector: true when it reads erased, else logs where not.
    bool SectorReadsErased(uint32_t sector);
    void Progress(ROMWRIGHT_PROGRESS_CALLBACK progress, float fraction) const;

    romwright::Clock &clock_;
    // KorvelGetBoardKind's answer in OpenBoard, which GetFPGAType's must repeat.
    uint32_t opened_kind_ = 0;
    // The last sector of an image that ends inside it, padded with 0xFF.
    std::vector<uint8_t> padded_sector_;
};
