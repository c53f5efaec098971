// The seven update options: what the options record holds (its layout is
// this struct) and what the engine object keeps for one update.
#pragma once

#include <cstdint>

namespace romwright {

struct UpdateOptions {
    bool auto_select_pages = true;  // choose the pages from the image (write page 0 only)
    bool write_page0 = false;
    bool write_page1 = false;
    bool write_option_bits = true;
    bool verify_pages = true;  // read back and compare after writing
    int32_t max_retries = 15;  // of one sector's erase, and of the whole erase-write-verify
    bool debug = false;        // detailed log lines, no signature check, near-match boards

    bool operator==(const UpdateOptions &other) const {
        return auto_select_pages == other.auto_select_pages && write_page0 == other.write_page0 &&
               write_page1 == other.write_page1 && write_option_bits == other.write_option_bits &&
               verify_pages == other.verify_pages && max_retries == other.max_retries && debug == other.debug;
    }
    bool operator!=(const UpdateOptions &other) const { return !(*this == other); }
};

} // namespace romwright
