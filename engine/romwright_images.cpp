// The engine object's image steps: loading a firmware file into the image
// slots, reading the current slot's page layout, and the detailed-log dump.
#include <stdexcept>

#include <fmt/format.h>

#include <romwright/error.hpp>

#include "engine/hex_dump.hpp"
#include "engine/pof_reader.hpp"
#include "engine/raw_image.hpp"
#include "engine/romwright_engine.hpp"

void CRomwright::LoadPofFile(const std::string &path) { romwright::load_pof_file(path, images, debug, log()); }

void CRomwright::LoadBinaryFile(const std::string &path) { romwright::load_binary_file(path, images[0], log()); }

void CRomwright::ReadPageLayout() {
    if (image_index < 0 || image_index > 1)
        throw romwright::error(romwright::error_kind::internal,
                               fmt::format("Error: Invalid image index {}", image_index));
    romwright::PageSelection selection{auto_select_pages, write_page0, write_page1, write_option_bits};
    romwright::PageLayout layout{page0_start, page0_end, page1_start, page1_end, page1_present};
    // Copied back even when the layout is refused: the selection has been
    // applied and the pages read so far are what the log shows.
    struct CopyBack {
        CRomwright &self;
        const romwright::PageSelection &selection;
        const romwright::PageLayout &layout;
        ~CopyBack() {
            self.auto_select_pages = selection.auto_select_pages;
            self.write_page0 = selection.write_page0;
            self.write_page1 = selection.write_page1;
            self.write_option_bits = selection.write_option_bits;
            self.page0_start = layout.page0_start;
            self.page0_end = layout.page0_end;
            self.page1_start = layout.page1_start;
            self.page1_end = layout.page1_end;
            self.page1_present = layout.page1_present;
        }
    } copy_back{*this, selection, layout};
    romwright::read_page_layout(images[image_index], selection, layout, debug, log());
}

void CRomwright::HexDump(const uint8_t *bytes, std::size_t length, uint32_t address, uint32_t bytes_per_line) {
    romwright::hex_dump(log(), bytes, length, address, bytes_per_line);
}
