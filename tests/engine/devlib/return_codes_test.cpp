#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "engine/devlib/zen.hpp"

namespace {

struct ExpectedRow {
    uint32_t code;
    const char *identifier;
    const char *text;
};

// Written out by hand, independently of the rule the binding applies.
const ExpectedRow kExpected[] = {
    {512, "success", "Success"},
    {513, "failed", "Failed"},
    {514, "access_denied", "Access denied"},
    {515, "dma_channel_unavailable", "DMA channel unavailable"},
    {516, "dma_channel_invalid", "DMA channel invalid"},
    {517, "dma_channel_type_error", "DMA channel type_error"},
    {518, "dma_in_progress", "DMA in progress"},
    {519, "dma_done", "DMA done"},
    {520, "dma_paused", "DMA paused"},
    {521, "dma_not_paused", "DMA not paused"},
    {522, "dma_command_invalid", "DMA command invalid"},
    {531, "null_param", "NULL parameter"},
    {533, "unsupported_function", "Unsupported function"},
    {534, "invalid_pci_space", "Invalid PCI space"},
    {535, "invalid_iop_space", "Invalid IOP space"},
    {536, "invalid_size", "Invalid size"},
    {537, "invalid_address", "Invalid address"},
    {538, "invalid_access_type", "Invalid access type"},
    {539, "invalid_index", "Invalid index"},
    {543, "invalid_register", "Invalid register"},
    {550, "config_access_failed", "Config access failed"},
    {551, "invalid_device_info", "Invalid device info"},
    {552, "no_active_driver", "No active driver"},
    {553, "insufficient_resources", "Insufficient resources"},
    {556, "not_initialized", "Not initialized"},
    {558, "invalid_power_state", "Invalid power state"},
    {559, "power_down", "Powerdown"},
    {561, "not_support_this_channel", "Not support this channel"},
    {562, "no_action", "No action"},
    {563, "hs_not_supported", "HS not supported"},
    {565, "vpd_not_enabled", "VPD not enabled"},
    {567, "invalid_offset", "Invalid offset"},
    {569, "pci_timeout", "PCI timeout"},
    {572, "invalid_handle", "Invalid handle"},
    {573, "buffer_not_ready", "Buffer not ready"},
    {574, "invalid_data", "Invalid data"},
    {575, "do_nothing", "Do nothing"},
    {576, "dma_sgl_build_failed", "Dma SGL build failed"},
    {577, "pm_not_supported", "PM not supported"},
    {578, "invalid_driver_version", "Invalid driver version"},
    {579, "wait_timeout", "Wait timeout"},
    {580, "wait_canceled", "Wait canceled"},
    {581, "buffer_too_small", "Buffer too small"},
    {582, "buffer_overflow", "Buffer overflow"},
    {583, "invalid_buffer", "Invalid buffer"},
    {584, "invalid_records_per_buffer", "Invalid records per buffer"},
    {585, "dma_pending", "DMA pending"},
    {586, "lock_and_probe_pages_failed", "Lock and probe pages failed"},
    {589, "transfer_complete", "Transfer complete"},
    {590, "pll_not_locked", "PLL not locked"},
    {591, "not_supported_in_dual_channel_mode", "Not supported in dual channel mode"},
    {592, "not_supported_in_quad_channel_mode", "Not supported in quad channel mode"},
    {593, "file_io_error", "File I/O error"},
    {594, "invalid_clock_frequency", "Invalid clock frequency"},
    {595, "invalid_skip_table", "Invalid skip table"},
    {596, "invalid_dsp_module", "Invalid dsp module"},
    {597, "des_only_supported_in_single_channel_mode", "DES only supported in single channel mode"},
    {598, "inconsistent_channel", "Inconsistent channel"},
    {599, "dsp_finite_records_per_acquisition", "DSP finite records per acquisition"},
    {600, "not_enough_npt_footers", "Not enough NPT footers"},
    {601, "invalid_npt_footer", "Invalid NPT footer"},
    {602, "oct_ignore_bad_clock_not_supported", "OCT ignore bad clock not supported"},
    {603, "error1", "Error1"},
    {604, "error2", "Error2"},
    {605, "oct_no_trigger_detected", "OCT no trigger detected"},
    {606, "oct_trigger_too_fast", "OCT trigger too fast"},
    {607, "network_error", "Network error"},
    {608, "fft_size_too_large", "FFT size too large"},
    {609, "gpu_error", "GPU error"},
    {610, "acquisition_mode_only_supported_in_fifo_streaming", "Acquisition mode only supported in fifo streaming"},
    {611, "interleave_not_supported_in_traditional_mode", "Interleave not supported in traditional mode"},
    {612, "record_headers_not_supported", "Record headers not supported"},
    {613, "record_footers_not_supported", "Record footers not supported"},
    {614, "fast_buffer_lock_count_exceeded", "Fast buffer lock count exceeded"},
    {615, "invalid_state_do_retry", "Invalid state do retry"},
    {616, "invalid_input_range", "Invalid input range"},
    {617, "busy", "Busy"},
    {618, "no_rc_path_variable", "No RC path variable"},
    {619, "on_fpga_fft_option_missing", "On-FPGA FFT Option Missing"},
    {620, "reference_clock_pll_not_locked", "Reference clock PLL not locked"},
    {621, "adc_jesd_pll_not_locked", "ADC JESD PLL not locked"},
    {622, "adc_jesd_link_not_locked", "ADC JESD link not locked"},
    {623, "fpga_jesd_link_not_locked", "FPGA JESD link not locked"},
    {624, "invalid_firmware_for_zen5162", "Invalid firmware for ZEN5162"},
    {625, "hardware_removed", "Hardware removed"},
    {626, "invalid_firmware_for_zen5190", "Invalid firmware for ZEN5190"},
};

TEST(ReturnCodeTable, HasEightySixRowsInAscendingOrder) {
    const auto &rows = zen::return_code_table();
    ASSERT_EQ(rows.size(), 86u);
    ASSERT_EQ(std::size(kExpected), 86u);
    for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_LT(rows[i - 1].code, rows[i].code) << "row " << i;
}

TEST(ReturnCodeTable, EveryRowHasItsIdentifierAndDisplayText) {
    const auto &rows = zen::return_code_table();
    ASSERT_EQ(rows.size(), std::size(kExpected));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(kExpected[i].code);
        EXPECT_EQ(rows[i].code, kExpected[i].code);
        EXPECT_STREQ(rows[i].identifier, kExpected[i].identifier);
        EXPECT_STREQ(rows[i].display_text, kExpected[i].text);
        EXPECT_STREQ(zen::display_text(static_cast<zen::return_code>(kExpected[i].code)), kExpected[i].text);
    }
}

TEST(ReturnCodeTable, EnumeratorsCarryTheTableCodes) {
    EXPECT_EQ(static_cast<uint32_t>(zen::return_code::success), 512u);
    EXPECT_EQ(static_cast<uint32_t>(zen::return_code::invalid_data), 574u);
    EXPECT_EQ(static_cast<uint32_t>(zen::return_code::invalid_handle), 572u);
    EXPECT_EQ(static_cast<uint32_t>(zen::return_code::invalid_firmware_for_zen5190), 626u);
}

TEST(ReturnCodeTable, BuiltOnceAndStable) {
    const auto *first = &zen::return_code_table();
    const char *text = zen::display_text(zen::return_code::adc_jesd_pll_not_locked);
    EXPECT_EQ(first, &zen::return_code_table());
    EXPECT_EQ(text, zen::display_text(zen::return_code::adc_jesd_pll_not_locked));
}

TEST(ReturnCodeTable, CodesOutsideTheTableHaveNoText) {
    for (uint32_t code : {0u, 511u, 523u, 530u, 532u, 588u, 627u, 0xFFFFFFFFu})
        EXPECT_EQ(zen::display_text(static_cast<zen::return_code>(code)), nullptr) << code;
}

TEST(ReturnCodeStream, WritesTheDisplayText) {
    for (const ExpectedRow &row : kExpected) {
        std::ostringstream out;
        out << static_cast<zen::return_code>(row.code);
        EXPECT_TRUE(out.good()) << row.code;
        EXPECT_EQ(out.str(), row.text);
    }
}

TEST(ReturnCodeStream, UnknownCodeWritesNothingAndFailsTheStream) {
    std::ostringstream out;
    out << "x" << static_cast<zen::return_code>(530u);
    EXPECT_TRUE(out.fail());
    EXPECT_EQ(out.str(), "x");
}

} // namespace
