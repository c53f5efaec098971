// The device library's return codes with their display texts: one literal
// row per code. Each row names its enumerator, so a row for a code that the
// enumeration lacks does not compile, and the checks below tie the table to
// the enumeration's 86 values in ascending order.
#include <algorithm>
#include <iterator>
#include <ostream>

#include "engine/devlib/zen.hpp"

namespace zen {
namespace {

struct Row {
    return_code code;
    const char *identifier;
    const char *display_text;
};

#define ZEN_RC_ROW(name, text) Row{return_code::name, #name, text}

constexpr Row kRows[] = {
    ZEN_RC_ROW(success, "Success"),
    ZEN_RC_ROW(failed, "Failed"),
    ZEN_RC_ROW(access_denied, "Access denied"),
    ZEN_RC_ROW(dma_channel_unavailable, "DMA channel unavailable"),
    ZEN_RC_ROW(dma_channel_invalid, "DMA channel invalid"),
    ZEN_RC_ROW(dma_channel_type_error, "DMA channel type_error"),
    ZEN_RC_ROW(dma_in_progress, "DMA in progress"),
    ZEN_RC_ROW(dma_done, "DMA done"),
    ZEN_RC_ROW(dma_paused, "DMA paused"),
    ZEN_RC_ROW(dma_not_paused, "DMA not paused"),
    ZEN_RC_ROW(dma_command_invalid, "DMA command invalid"),
    ZEN_RC_ROW(null_param, "NULL parameter"),
    ZEN_RC_ROW(unsupported_function, "Unsupported function"),
    ZEN_RC_ROW(invalid_pci_space, "Invalid PCI space"),
    ZEN_RC_ROW(invalid_iop_space, "Invalid IOP space"),
    ZEN_RC_ROW(invalid_size, "Invalid size"),
    ZEN_RC_ROW(invalid_address, "Invalid address"),
    ZEN_RC_ROW(invalid_access_type, "Invalid access type"),
    ZEN_RC_ROW(invalid_index, "Invalid index"),
    ZEN_RC_ROW(invalid_register, "Invalid register"),
    ZEN_RC_ROW(config_access_failed, "Config access failed"),
    ZEN_RC_ROW(invalid_device_info, "Invalid device info"),
    ZEN_RC_ROW(no_active_driver, "No active driver"),
    ZEN_RC_ROW(insufficient_resources, "Insufficient resources"),
    ZEN_RC_ROW(not_initialized, "Not initialized"),
    ZEN_RC_ROW(invalid_power_state, "Invalid power state"),
    ZEN_RC_ROW(power_down, "Powerdown"),
    ZEN_RC_ROW(not_support_this_channel, "Not support this channel"),
    ZEN_RC_ROW(no_action, "No action"),
    ZEN_RC_ROW(hs_not_supported, "HS not supported"),
    ZEN_RC_ROW(vpd_not_enabled, "VPD not enabled"),
    ZEN_RC_ROW(invalid_offset, "Invalid offset"),
    ZEN_RC_ROW(pci_timeout, "PCI timeout"),
    ZEN_RC_ROW(invalid_handle, "Invalid handle"),
    ZEN_RC_ROW(buffer_not_ready, "Buffer not ready"),
    ZEN_RC_ROW(invalid_data, "Invalid data"),
    ZEN_RC_ROW(do_nothing, "Do nothing"),
    ZEN_RC_ROW(dma_sgl_build_failed, "Dma SGL build failed"),
    ZEN_RC_ROW(pm_not_supported, "PM not supported"),
    ZEN_RC_ROW(invalid_driver_version, "Invalid driver version"),
    ZEN_RC_ROW(wait_timeout, "Wait timeout"),
    ZEN_RC_ROW(wait_canceled, "Wait canceled"),
    ZEN_RC_ROW(buffer_too_small, "Buffer too small"),
    ZEN_RC_ROW(buffer_overflow, "Buffer overflow"),
    ZEN_RC_ROW(invalid_buffer, "Invalid buffer"),
    ZEN_RC_ROW(invalid_records_per_buffer, "Invalid records per buffer"),
    ZEN_RC_ROW(dma_pending, "DMA pending"),
    ZEN_RC_ROW(lock_and_probe_pages_failed, "Lock and probe pages failed"),
    ZEN_RC_ROW(transfer_complete, "Transfer complete"),
    ZEN_RC_ROW(pll_not_locked, "PLL not locked"),
    ZEN_RC_ROW(not_supported_in_dual_channel_mode, "Not supported in dual channel mode"),
    ZEN_RC_ROW(not_supported_in_quad_channel_mode, "Not supported in quad channel mode"),
    ZEN_RC_ROW(file_io_error, "File I/O error"),
    ZEN_RC_ROW(invalid_clock_frequency, "Invalid clock frequency"),
    ZEN_RC_ROW(invalid_skip_table, "Invalid skip table"),
    ZEN_RC_ROW(invalid_dsp_module, "Invalid dsp module"),
    ZEN_RC_ROW(des_only_supported_in_single_channel_mode, "DES only supported in single channel mode"),
    ZEN_RC_ROW(inconsistent_channel, "Inconsistent channel"),
    ZEN_RC_ROW(dsp_finite_records_per_acquisition, "DSP finite records per acquisition"),
    ZEN_RC_ROW(not_enough_npt_footers, "Not enough NPT footers"),
    ZEN_RC_ROW(invalid_npt_footer, "Invalid NPT footer"),
    ZEN_RC_ROW(oct_ignore_bad_clock_not_supported, "OCT ignore bad clock not supported"),
    ZEN_RC_ROW(error1, "Error1"),
    ZEN_RC_ROW(error2, "Error2"),
    ZEN_RC_ROW(oct_no_trigger_detected, "OCT no trigger detected"),
    ZEN_RC_ROW(oct_trigger_too_fast, "OCT trigger too fast"),
    ZEN_RC_ROW(network_error, "Network error"),
    ZEN_RC_ROW(fft_size_too_large, "FFT size too large"),
    ZEN_RC_ROW(gpu_error, "GPU error"),
    ZEN_RC_ROW(acquisition_mode_only_supported_in_fifo_streaming, "Acquisition mode only supported in fifo streaming"),
    ZEN_RC_ROW(interleave_not_supported_in_traditional_mode, "Interleave not supported in traditional mode"),
    ZEN_RC_ROW(record_headers_not_supported, "Record headers not supported"),
    ZEN_RC_ROW(record_footers_not_supported, "Record footers not supported"),
    ZEN_RC_ROW(fast_buffer_lock_count_exceeded, "Fast buffer lock count exceeded"),
    ZEN_RC_ROW(invalid_state_do_retry, "Invalid state do retry"),
    ZEN_RC_ROW(invalid_input_range, "Invalid input range"),
    ZEN_RC_ROW(busy, "Busy"),
    ZEN_RC_ROW(no_rc_path_variable, "No RC path variable"),
    ZEN_RC_ROW(on_fpga_fft_option_missing, "On-FPGA FFT Option Missing"),
    ZEN_RC_ROW(reference_clock_pll_not_locked, "Reference clock PLL not locked"),
    ZEN_RC_ROW(adc_jesd_pll_not_locked, "ADC JESD PLL not locked"),
    ZEN_RC_ROW(adc_jesd_link_not_locked, "ADC JESD link not locked"),
    ZEN_RC_ROW(fpga_jesd_link_not_locked, "FPGA JESD link not locked"),
    ZEN_RC_ROW(invalid_firmware_for_zen5162, "Invalid firmware for ZEN5162"),
    ZEN_RC_ROW(hardware_removed, "Hardware removed"),
    ZEN_RC_ROW(invalid_firmware_for_zen5190, "Invalid firmware for ZEN5190"),
};

#undef ZEN_RC_ROW

constexpr bool ascending() {
    for (std::size_t i = 1; i < std::size(kRows); ++i)
        if (static_cast<uint32_t>(kRows[i - 1].code) >= static_cast<uint32_t>(kRows[i].code)) return false;
    return true;
}

static_assert(std::size(kRows) == 86, "one row per return code of the device library");
static_assert(ascending(), "rows in ascending code order, each code once");
static_assert(kRows[0].code == return_code::success && static_cast<uint32_t>(kRows[0].code) == 512,
              "512 is success");
static_assert(static_cast<uint32_t>(kRows[std::size(kRows) - 1].code) == 626, "626 is the last code");

} // namespace

const std::vector<return_code_row> &return_code_table() {
    static const std::vector<return_code_row> rows = [] {
        std::vector<return_code_row> built;
        built.reserve(std::size(kRows));
        for (const Row &row : kRows) built.push_back({static_cast<uint32_t>(row.code), row.identifier, row.display_text});
        return built;
    }();
    return rows;
}

const char *display_text(return_code code) {
    const auto row = std::lower_bound(std::begin(kRows), std::end(kRows), code, [](const Row &r, return_code c) {
        return static_cast<uint32_t>(r.code) < static_cast<uint32_t>(c);
    });
    if (row == std::end(kRows) || row->code != code) return nullptr;
    return row->display_text;
}

std::ostream &operator<<(std::ostream &out, return_code code) {
    const char *text = display_text(code);
    if (text)
        out << text;
    else
        out.setstate(std::ios::failbit);
    return out;
}

} // namespace zen
