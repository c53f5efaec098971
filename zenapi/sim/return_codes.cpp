#include "zenapi/sim/return_codes.hpp"

#include <algorithm>
#include <array>

namespace zenapi_sim {
namespace {

struct CodeText {
    uint32_t code;
    const char *text;
};

// Written for people reading a library trace or a program's error line:
// each says what the library found, not the code's identifier.
constexpr CodeText kCodeTexts[] = {
    {512, "The operation completed successfully"},
    {513, "The operation did not complete"},
    {514, "The board refused access: wrong access code or privilege"},
    {515, "No DMA channel is free for this transfer"},
    {516, "The DMA channel number is out of range"},
    {517, "The DMA channel is of the wrong type for this request"},
    {518, "A DMA transfer is still running on this channel"},
    {519, "The DMA transfer has finished"},
    {520, "The DMA transfer is paused"},
    {521, "The DMA transfer is not paused"},
    {522, "The DMA command is not recognised"},
    {531, "A required pointer argument was null"},
    {533, "The board or its driver does not offer this function"},
    {534, "The PCI address space is not valid for this board"},
    {535, "The local (IOP) address space is not valid for this board"},
    {536, "The size is outside the range this call accepts"},
    {537, "The address lies outside the device"},
    {538, "The access width or type is not valid here"},
    {539, "The index or selector is out of range"},
    {543, "The register does not exist on this board"},
    {550, "PCI configuration space could not be accessed"},
    {551, "The device information reported by the driver is inconsistent"},
    {552, "No driver is active for this board"},
    {553, "The system ran out of resources for this request"},
    {556, "The library is not initialised"},
    {558, "The board is in a power state that does not allow this"},
    {559, "The board is powered down"},
    {561, "This channel does not support the request"},
    {562, "There was nothing to do for this request"},
    {563, "Hot swap is not supported by this board"},
    {565, "The vital product data area is not enabled"},
    {567, "The offset lies outside the allowed range"},
    {569, "The PCI bus timed out"},
    {572, "The board handle is not valid"},
    {573, "The buffer is not ready yet"},
    {574, "The data is not valid"},
    {575, "The request had no effect"},
    {576, "The DMA scatter-gather list could not be built"},
    {577, "Power management is not supported"},
    {578, "The driver version does not match the library"},
    {579, "Waiting for the board timed out"},
    {580, "Waiting for the board was cancelled"},
    {581, "The buffer is too small for the request"},
    {582, "The buffer overflowed"},
    {583, "The buffer is not usable for this request"},
    {584, "The number of records per buffer is not valid"},
    {585, "A DMA transfer is pending"},
    {586, "The buffer pages could not be locked in memory"},
    {589, "The transfer is complete"},
    {590, "The clock PLL is not locked"},
    {591, "This is not supported in dual channel mode"},
    {592, "This is not supported in quad channel mode"},
    {593, "A file could not be read or written"},
    {594, "The clock frequency is not valid"},
    {595, "The skip table is not valid"},
    {596, "The DSP module is not valid"},
    {597, "DES mode needs single channel mode"},
    {598, "The channel selection is inconsistent"},
    {599, "The DSP module needs a finite number of records per acquisition"},
    {600, "Not enough NPT footers were found"},
    {601, "An NPT footer is not valid"},
    {602, "Ignoring a bad clock is not supported in OCT mode"},
    {603, "Internal error (1)"},
    {604, "Internal error (2)"},
    {605, "OCT mode saw no trigger"},
    {606, "OCT mode triggers arrive too fast"},
    {607, "A network error occurred"},
    {608, "The FFT size is too large"},
    {609, "The GPU reported an error"},
    {610, "This acquisition mode needs FIFO streaming"},
    {611, "Interleaving is not supported in traditional mode"},
    {612, "Record headers are not supported"},
    {613, "Record footers are not supported"},
    {614, "Too many fast buffer locks are held"},
    {615, "The board is in a state that does not allow this now; try again"},
    {616, "The input range is not valid"},
    {617, "The board is busy"},
    {618, "The RC path environment variable is not set"},
    {619, "The on-FPGA FFT option is not installed"},
    {620, "The reference clock PLL is not locked"},
    {621, "The ADC JESD PLL is not locked"},
    {622, "The ADC JESD link is not locked"},
    {623, "The FPGA JESD link is not locked"},
    {624, "The firmware is not valid for a ZEN5162"},
    {625, "The hardware has been removed"},
    {626, "The firmware is not valid for a ZEN5190"},
};

constexpr std::size_t kCodeCount = sizeof kCodeTexts / sizeof kCodeTexts[0];
static_assert(kCodeCount == 86, "the library returns 86 codes");

constexpr bool codes_ascending() {
    for (std::size_t i = 1; i < kCodeCount; ++i)
        if (kCodeTexts[i - 1].code >= kCodeTexts[i].code) return false;
    return true;
}
static_assert(codes_ascending(), "lookups rely on ascending codes");

constexpr std::array<uint32_t, kCodeCount> make_code_list() {
    std::array<uint32_t, kCodeCount> codes{};
    for (std::size_t i = 0; i < kCodeCount; ++i) codes[i] = kCodeTexts[i].code;
    return codes;
}
constexpr std::array<uint32_t, kCodeCount> kCodes = make_code_list();

} // namespace

const char *find_return_code_text(uint32_t code) {
    const CodeText *end = kCodeTexts + kCodeCount;
    const CodeText *row = std::lower_bound(kCodeTexts, end, code,
                                           [](const CodeText &r, uint32_t c) { return r.code < c; });
    return row != end && row->code == code ? row->text : nullptr;
}

const uint32_t *return_codes_begin() { return kCodes.data(); }
const uint32_t *return_codes_end() { return kCodes.data() + kCodes.size(); }

} // namespace zenapi_sim
