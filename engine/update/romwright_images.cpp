// The engine object's image steps: loading a firmware file into the image
// slots, reading the current slot's page layout, and the detailed-log dump.
#include <fmt/format.h>

#include <romwright/error.hpp>

#include "engine/image/hex_dump.hpp"
#include "engine/image/pof_reader.hpp"
#include "engine/image/raw_image.hpp"
#include "engine/plan/update_plan.hpp"
#include "engine/update/romwright_engine.hpp"

void CRomwright::LoadPofFile(const std::string &path) {
    romwright::load_pof_file(path, images_, options_.debug, log());
}

void CRomwright::LoadBinaryFile(const std::string &path) { romwright::load_binary_file(path, images_[0], log()); }

// The selection starts from the options every time; the automatic selection
// is applied to it, and it and the layout keep what was decoded even when
// the layout is refused (the log shows as much).
void CRomwright::ReadPageLayout() {
    CheckImageIndex();
    romwright::select_pages(images_[image_index_], OptionsPageSelection(), options_.debug, log(),
                            planned_.selection, planned_.layout);
}

void CRomwright::CheckImageIndex() const {
    if (image_index_ < 0 || image_index_ > 1)
        throw romwright::error(romwright::error_kind::internal,
                               fmt::format("Error: Invalid image index {}", image_index_));
}

const ImageSlot &CRomwright::CurrentImage() const {
    if (image_index_ != 0 && image_index_ != 1)
        throw romwright::error(romwright::error_kind::internal, "Error: Invalid image index");
    return images_[image_index_];
}

void CRomwright::HexDump(const uint8_t *bytes, std::size_t length, uint32_t address, uint32_t bytes_per_line) {
    romwright::hex_dump(log(), bytes, length, address, bytes_per_line);
}
