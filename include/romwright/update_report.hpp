// What an update did to one board, as far as its path can tell: the path,
// the sectors it erased, wrote and left alone because they already held the
// image, and what identification read of the board: its model, its serial
// and the firmware it ran before (its FPGA's version, which changes only once
// the computer has been powered off and on). The driver's services identify
// nothing, so their updates leave those three unknown.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include <romwright/programming_path.hpp>

namespace romwright {

struct UpdateReport {
    ProgrammingPath path = ProgrammingPath::none;
    // None where the path does not tell: the firmware-upgrade service
    // programs the image as the driver sees fit.
    std::optional<uint32_t> sectors_erased;
    std::optional<uint32_t> sectors_written;
    std::optional<uint32_t> sectors_skipped;
    // major, minor of the FPGA firmware, where identification read it.
    std::optional<std::pair<uint32_t, uint32_t>> firmware_before;
    std::optional<std::string> model;  // "ZEN5160"
    std::optional<uint32_t> serial;
};

} // namespace romwright
