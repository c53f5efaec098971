// The layout of the options record, private to the engine.
#pragma once

#include <cstdint>

#include <romwright/romwright.h>

struct romwright_options_record {
    bool auto_select_pages = true;
    bool write_page0 = false;
    bool write_page1 = false;
    bool write_option_bits = true;
    bool verify_pages = true;
    int32_t max_retries = 15;
    bool debug = false;
};
