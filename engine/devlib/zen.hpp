// Binding to the device library: its return codes and their texts, the
// error that carries a failed call, the range checks that every value from
// the library passes, the board-kind names, and typed wrappers of the calls
// whose results the engine needs as typed values.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <romwright/error.hpp>

namespace zen {

// Device-library return codes; 512 is success.
enum class return_code : uint32_t {
    success = 512,
    failed = 513,
    access_denied = 514,
    dma_channel_unavailable = 515,
    dma_channel_invalid = 516,
    dma_channel_type_error = 517,
    dma_in_progress = 518,
    dma_done = 519,
    dma_paused = 520,
    dma_not_paused = 521,
    dma_command_invalid = 522,
    null_param = 531,
    unsupported_function = 533,
    invalid_pci_space = 534,
    invalid_iop_space = 535,
    invalid_size = 536,
    invalid_address = 537,
    invalid_access_type = 538,
    invalid_index = 539,
    invalid_register = 543,
    config_access_failed = 550,
    invalid_device_info = 551,
    no_active_driver = 552,
    insufficient_resources = 553,
    not_initialized = 556,
    invalid_power_state = 558,
    power_down = 559,
    not_support_this_channel = 561,
    no_action = 562,
    hs_not_supported = 563,
    vpd_not_enabled = 565,
    invalid_offset = 567,
    pci_timeout = 569,
    invalid_handle = 572,
    buffer_not_ready = 573,
    invalid_data = 574,
    do_nothing = 575,
    dma_sgl_build_failed = 576,
    pm_not_supported = 577,
    invalid_driver_version = 578,
    wait_timeout = 579,
    wait_canceled = 580,
    buffer_too_small = 581,
    buffer_overflow = 582,
    invalid_buffer = 583,
    invalid_records_per_buffer = 584,
    dma_pending = 585,
    lock_and_probe_pages_failed = 586,
    transfer_complete = 589,
    pll_not_locked = 590,
    not_supported_in_dual_channel_mode = 591,
    not_supported_in_quad_channel_mode = 592,
    file_io_error = 593,
    invalid_clock_frequency = 594,
    invalid_skip_table = 595,
    invalid_dsp_module = 596,
    des_only_supported_in_single_channel_mode = 597,
    inconsistent_channel = 598,
    dsp_finite_records_per_acquisition = 599,
    not_enough_npt_footers = 600,
    invalid_npt_footer = 601,
    oct_ignore_bad_clock_not_supported = 602,
    error1 = 603,
    error2 = 604,
    oct_no_trigger_detected = 605,
    oct_trigger_too_fast = 606,
    network_error = 607,
    fft_size_too_large = 608,
    gpu_error = 609,
    acquisition_mode_only_supported_in_fifo_streaming = 610,
    interleave_not_supported_in_traditional_mode = 611,
    record_headers_not_supported = 612,
    record_footers_not_supported = 613,
    fast_buffer_lock_count_exceeded = 614,
    invalid_state_do_retry = 615,
    invalid_input_range = 616,
    busy = 617,
    no_rc_path_variable = 618,
    on_fpga_fft_option_missing = 619,
    reference_clock_pll_not_locked = 620,
    adc_jesd_pll_not_locked = 621,
    adc_jesd_link_not_locked = 622,
    fpga_jesd_link_not_locked = 623,
    invalid_firmware_for_zen5162 = 624,
    hardware_removed = 625,
    invalid_firmware_for_zen5190 = 626,
};

// Board kinds 1 to 57 are valid.
enum class board_kind : uint32_t {};

// Driver features 0 to 5: 2 is the flash-sector service, 5 the firmware-upgrade service.
enum class driver_feature : uint32_t {
    flash_sector_service = 2,
    firmware_upgrade_service = 5,
};

enum class firmware_upgrade_status : uint32_t {
    failed = 0,
    in_progress = 1,
    succeeded = 2,
    aborted = 3,
};

struct return_code_row {
    uint32_t code;
    const char *identifier;
    const char *display_text;
};

// The 86 rows, in ascending code order.
const std::vector<return_code_row> &return_code_table();

// Display text of a code, or null when the table has no row for it.
const char *display_text(return_code code);

// Model designation of a board kind ("ZEN5170"), or null outside 1 to 57.
const char *model_name(board_kind kind);

// Writes the display text / model designation; a value missing from its
// table writes nothing and sets the stream's failbit.
std::ostream &operator<<(std::ostream &out, return_code code);
std::ostream &operator<<(std::ostream &out, board_kind kind);

// A failed device-library call, or a value from the library outside its
// range: the device-call kind of romwright::error. what() is "<function>
// failed with error <display text>"; the runtime error's own message is the
// function name.
class zen_error : public romwright::error {
public:
    zen_error(return_code code, const std::string &function);
    return_code code() const noexcept { return code_; }
    const std::string &message() const noexcept { return message_; }
    const char *what() const noexcept override { return message_.c_str(); }

private:
    return_code code_;
    std::string message_;
};

// Range checks for values that come from the device library: the value
// unchanged when valid, else zen_error with invalid_data (574).
template <typename Enum>
Enum from_c(uint32_t value);
template <> return_code from_c<return_code>(uint32_t value);
template <> board_kind from_c<board_kind>(uint32_t value);
template <> driver_feature from_c<driver_feature>(uint32_t value);
template <> firmware_upgrade_status from_c<firmware_upgrade_status>(uint32_t value);

// A 64-bit size that must fit 32 bits, else zen_error with invalid_data.
uint32_t fit_u32(uint64_t value);

// Throws romwright::error (a device call) "Error in <where>: <KorvelErrorToText(result)>"
// unless result is 512. Used by engine methods for their own calls.
void check_call(uint32_t result, const char *where);
// The library's own text for a code (never null).
std::string error_text(uint32_t result);

// Typed wrappers; each raises zen_error naming the call unless it returns 512.
board_kind get_board_kind(void *board);
std::vector<driver_feature> get_supported_driver_features(void *board);
void firmware_upgrade_start(void *board, const uint8_t *image, uint64_t size);
// (status, progress percent)
std::pair<firmware_upgrade_status, uint32_t> firmware_upgrade_exec_and_get_status(void *board);

} // namespace zen
