// CRomwright: the engine object that updates one board through its
// registers. The update entry makes one per board, sets its options, runs
// UpdateBoard once and lets it go. Each step of an update fills one part of
// the object's state and the later steps read it: the options (SetOptions),
// the identity and the flash backend (identification, which chooses page mode
// or sector mode once), the image slots (the readers), the current slot (the
// image check), the page selection and layout (ReadPageLayout) and the plan
// (planning). The flash steps run on the backend.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <romwright/romwright.h>
#include <romwright/update_report.hpp>

#include "engine/core/board_identity.hpp"
#include "engine/core/clock.hpp"
#include "engine/flash/register_flash.hpp"
#include "engine/flash/flash_pc28f.hpp"
#include "engine/image/image_slot.hpp"
#include "engine/core/log_sink.hpp"
#include "engine/plan/update_plan.hpp"
#include "engine/platform/memory.hpp"
#include "engine/image/raw_image.hpp"
#include "engine/update/update_options.hpp"

class CRomwright {
public:
    CRomwright(ROMWRIGHT_LOG_CALLBACK log_callback, void *user_data,
               romwright::Clock &clock = romwright::system_clock());
    ~CRomwright();
    CRomwright(const CRomwright &) = delete;
    CRomwright &operator=(const CRomwright &) = delete;

    void SetOptions(bool auto_select_pages, bool write_page0, bool write_page1, bool write_option_bits,
                    bool verify_pages, int32_t max_retries, bool debug);
    // The seven options as the options record holds them.
    void SetOptions(const romwright::UpdateOptions &options) { options_ = options; }

    // Leave planned sectors that already read as the update would leave
    // them unerased and unwritten; the comparison is their verification.
    void SetSkipMatchingSectors(bool skip) { skip_matching_ = skip; }

    // The whole update of one board; throws on failure.
    void UpdateBoard(const std::string &path, void *board, ROMWRIGHT_OPERATION_CALLBACK operation_callback,
                     ROMWRIGHT_PROGRESS_CALLBACK progress_callback);

    // What UpdateBoard does before its first erase, short of the trailing
    // sector's check: load, identify, check the image, read the layout, plan.
    void PlanUpdate(const std::string &path, void *board);
    // The layout and the plan of the current image, in one step (as
    // UpdateBoard plans; ReadPageLayout, PlanSectors and PlanPages are its
    // parts, one at a time).
    void Plan();

    // Opening and identification. IdentifyBoard chooses the flash backend.
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

    // Flash steps, on the backend identification chose.
    // Before the first erase: refuses a planned sector that the image ends
    // inside when the board holds data in it past the image's end, or when it
    // cannot be read.
    void CheckTrailingSector();
    // Erase, write and verify with the plan made, retried as a whole up to
    // max_retries times; throws "Max retries reached." when all attempts fail.
    void EraseWriteVerifyWithRetries(ROMWRIGHT_OPERATION_CALLBACK operation, ROMWRIGHT_PROGRESS_CALLBACK progress);
    // The backend of the identified board's mode; an internal error before
    // identification.
    romwright::RegisterFlash &backend();
    // What the flash steps work on: the current image, the plan and the options.
    romwright::FlashWork Work() const;

    // The update's state, each part filled by one step and read by the later
    // ones. Tests set up and look at single steps through these.
    const romwright::UpdateOptions &options() const { return options_; }
    romwright::UpdateOptions &options() { return options_; }
    // The pages to write: the options' page choice, with the automatic page
    // selection applied by ReadPageLayout.
    const romwright::PageSelection &selection() const { return planned_.selection; }
    romwright::PageSelection &selection() { return planned_.selection; }
    const romwright::PageLayout &layout() const { return planned_.layout; }
    romwright::PageLayout &layout() { return planned_.layout; }
    const romwright::UpdatePlan &plan() const { return planned_.plan; }
    romwright::UpdatePlan &plan() { return planned_.plan; }
    const romwright::Identification &identity() const { return identity_; }
    romwright::Identification &identity() { return identity_; }
    ImageSlot (&images())[2] { return images_; }
    const ImageSlot (&images() const)[2] { return images_; }
    // The slot examined and programmed: 0 primary, 1 secondary.
    int32_t image_index() const { return image_index_; }
    void set_image_index(int32_t index) { image_index_ = index; }
    const std::string &firmware_path() const { return firmware_path_; }
    void *board() const { return board_; }
    bool controller_attached() const { return controller_attached_; }
    CFlashPC28F &flash() { return flash_; }
    const CFlashPC28F &flash() const { return flash_; }
    // The 256 KB aligned scratch sector of a sector-mode board, else null.
    const uint8_t *sector_buffer() const { return sector_buffer_.get(); }
    // What the update did, as far as it has come: the path and the firmware
    // version from identification, the sectors from the flash steps.
    const romwright::UpdateReport &report() const { return report_; }

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

    romwright::LogSink log() const { return romwright::LogSink(log_callback_, user_data_); }
    void WarnDetachFailed(const char *reason) const noexcept;
    FpgaType GetFPGAType();
    void GetSerialNumber();
    void SelectBackend();
    void LoadFirmwareFile(const std::string &path);
    // Identification, the image check and the plan: everything before the
    // first read of the flash.
    void IdentifyCheckAndPlan(void *board);
    const ImageSlot &CurrentImage() const;
    romwright::PlanInput PlanningInput() const;
    void EraseWriteVerify(ROMWRIGHT_OPERATION_CALLBACK operation, ROMWRIGHT_PROGRESS_CALLBACK progress);
    // The planned sectors that do not already hold what the plan leaves in
    // them, each erased (unless it reads erased), written and verified.
    void UpdateDifferingSectors(ROMWRIGHT_PROGRESS_CALLBACK progress);
    bool EveryWrittenPageInAnErasedSector() const;
    romwright::PageSelection OptionsPageSelection() const;
    // The layout's "Error: Invalid image index N" for a slot index other than 0 or 1.
    void CheckImageIndex() const;

    void *user_data_;
    ROMWRIGHT_LOG_CALLBACK log_callback_;
    std::string firmware_path_;
    romwright::UpdateOptions options_;
    romwright::PlannedUpdate planned_;
    romwright::Identification identity_;
    ImageSlot images_[2];
    int32_t image_index_ = 0;
    romwright::platform::AlignedBlock sector_buffer_;
    void *board_ = nullptr;
    bool controller_attached_ = false;
    CFlashPC28F flash_;
    // Chosen once by identification; uses flash_ and sector_buffer_.
    std::unique_ptr<romwright::RegisterFlash> backend_;
    romwright::Clock &clock_;
    // KorvelGetBoardKind's answer in OpenBoard, which GetFPGAType's must repeat.
    uint32_t opened_kind_ = 0;
    bool skip_matching_ = false;
    romwright::UpdateReport report_;
};
