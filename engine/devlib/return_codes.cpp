// The device library's return codes with their display texts. Most texts
// follow from the identifier (blanks for underscores, a capital first letter,
// acronyms and model words in capitals); a handful of rows were named by hand
// long ago and keep their own spelling.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <ostream>
#include <string>

#include "engine/devlib/zen.hpp"

namespace zen {
namespace {

struct CodeName {
    uint32_t code;
    const char *identifier;
};

// Ascending code order; lookups rely on it.
constexpr CodeName kCodeNames[] = {
    {512, "success"},
    {513, "failed"},
    {514, "access_denied"},
    {515, "dma_channel_unavailable"},
    {516, "dma_channel_invalid"},
    {517, "dma_channel_type_error"},
    {518, "dma_in_progress"},
    {519, "dma_done"},
    {520, "dma_paused"},
    {521, "dma_not_paused"},
    {522, "dma_command_invalid"},
    {531, "null_param"},
    {533, "unsupported_function"},
    {534, "invalid_pci_space"},
    {535, "invalid_iop_space"},
    {536, "invalid_size"},
    {537, "invalid_address"},
    {538, "invalid_access_type"},
    {539, "invalid_index"},
    {543, "invalid_register"},
    {550, "config_access_failed"},
    {551, "invalid_device_info"},
    {552, "no_active_driver"},
    {553, "insufficient_resources"},
    {556, "not_initialized"},
    {558, "invalid_power_state"},
    {559, "power_down"},
    {561, "not_support_this_channel"},
    {562, "no_action"},
    {563, "hs_not_supported"},
    {565, "vpd_not_enabled"},
    {567, "invalid_offset"},
    {569, "pci_timeout"},
    {572, "invalid_handle"},
    {573, "buffer_not_ready"},
    {574, "invalid_data"},
    {575, "do_nothing"},
    {576, "dma_sgl_build_failed"},
    {577, "pm_not_supported"},
    {578, "invalid_driver_version"},
    {579, "wait_timeout"},
    {580, "wait_canceled"},
    {581, "buffer_too_small"},
    {582, "buffer_overflow"},
    {583, "invalid_buffer"},
    {584, "invalid_records_per_buffer"},
    {585, "dma_pending"},
    {586, "lock_and_probe_pages_failed"},
    {589, "transfer_complete"},
    {590, "pll_not_locked"},
    {591, "not_supported_in_dual_channel_mode"},
    {592, "not_supported_in_quad_channel_mode"},
    {593, "file_io_error"},
    {594, "invalid_clock_frequency"},
    {595, "invalid_skip_table"},
    {596, "invalid_dsp_module"},
    {597, "des_only_supported_in_single_channel_mode"},
    {598, "inconsistent_channel"},
    {599, "dsp_finite_records_per_acquisition"},
    {600, "not_enough_npt_footers"},
    {601, "invalid_npt_footer"},
    {602, "oct_ignore_bad_clock_not_supported"},
    {603, "error1"},
    {604, "error2"},
    {605, "oct_no_trigger_detected"},
    {606, "oct_trigger_too_fast"},
    {607, "network_error"},
    {608, "fft_size_too_large"},
    {609, "gpu_error"},
    {610, "acquisition_mode_only_supported_in_fifo_streaming"},
    {611, "interleave_not_supported_in_traditional_mode"},
    {612, "record_headers_not_supported"},
    {613, "record_footers_not_supported"},
    {614, "fast_buffer_lock_count_exceeded"},
    {615, "invalid_state_do_retry"},
    {616, "invalid_input_range"},
    {617, "busy"},
    {618, "no_rc_path_variable"},
    {619, "on_fpga_fft_option_missing"},
    {620, "reference_clock_pll_not_locked"},
    {621, "adc_jesd_pll_not_locked"},
    {622, "adc_jesd_link_not_locked"},
    {623, "fpga_jesd_link_not_locked"},
    {624, "invalid_firmware_for_zen5162"},
    {625, "hardware_removed"},
    {626, "invalid_firmware_for_zen5190"},
};

// Words that read in capitals wherever they stand.
constexpr const char *kCapitalWords[] = {
    "dma", "pci", "iop", "hs",  "vpd", "pm",   "pll",  "des",     "dsp",     "npt",
    "oct", "fft", "gpu", "rc",  "adc", "jesd", "fpga", "zen5162", "zen5190",
};

// Rows whose display text does not follow from the identifier.
constexpr CodeName kIrregularTexts[] = {
    {517, "DMA channel type_error"},
    {531, "NULL parameter"},
    {559, "Powerdown"},
    {576, "Dma SGL build failed"},
    {593, "File I/O error"},
    {596, "Invalid dsp module"},
    {619, "On-FPGA FFT Option Missing"},
};

bool is_capital_word(const std::string &word) {
    return std::any_of(std::begin(kCapitalWords), std::end(kCapitalWords),
                       [&](const char *capital) { return word == capital; });
}

std::string upper(std::string word) {
    for (char &c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return word;
}

std::string text_from_identifier(const std::string &identifier) {
    std::string text;
    std::size_t start = 0;
    while (start <= identifier.size()) {
        std::size_t end = identifier.find('_', start);
        if (end == std::string::npos) end = identifier.size();
        std::string word = identifier.substr(start, end - start);
        if (!text.empty()) text += ' ';
        text += is_capital_word(word) ? upper(word) : word;
        start = end + 1;
    }
    if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

std::string display_text_for(const CodeName &row) {
    for (const CodeName &irregular : kIrregularTexts)
        if (irregular.code == row.code) return irregular.identifier;
    return text_from_identifier(row.identifier);
}

struct Table {
    std::vector<std::string> texts;   // owns the display texts the rows point into
    std::vector<return_code_row> rows;

    Table() {
        texts.reserve(std::size(kCodeNames));
        for (const CodeName &name : kCodeNames) texts.push_back(display_text_for(name));
        rows.reserve(texts.size());
        for (std::size_t i = 0; i < texts.size(); ++i)
            rows.push_back({kCodeNames[i].code, kCodeNames[i].identifier, texts[i].c_str()});
    }
};

const Table &table() {
    static const Table instance;
    return instance;
}

} // namespace

const std::vector<return_code_row> &return_code_table() { return table().rows; }

const char *display_text(return_code code) {
    const auto &rows = return_code_table();
    const uint32_t value = static_cast<uint32_t>(code);
    auto row = std::lower_bound(rows.begin(), rows.end(), value,
                                [](const return_code_row &r, uint32_t v) { return r.code < v; });
    if (row == rows.end() || row->code != value) return nullptr;
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
