// The image checks on arbitrary images against arbitrary board identities:
// kind, id, variant, mode, revision (or a board that cannot tell it) and the
// debug option. An image is refused, or the slot chosen is one that exists
// and passed the checks that apply to it.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

#include "engine/image/image_check.hpp"
#include "engine/image/image_slot.hpp"
#include "fuzz/fuzz_cases.hpp"
#include "fuzz/fuzz_support.hpp"

namespace {

constexpr uint32_t kZen5120Kind = 13;
constexpr uint32_t kZen5170Kind = 29;
constexpr uint32_t kSectorModeHeaderOffset = 0x40000;
constexpr uint8_t kRevisionMinorUnset = 15;

uint16_t word_at(const std::vector<uint8_t> &data, std::size_t offset) {
    return static_cast<uint16_t>(data[offset] | data[offset + 1] << 8);
}

void expect_accepted(int32_t chosen, const ImageSlot (&images)[2], const fuzzing::CheckCase &c, int revision_reads) {
    const std::size_t at = c.sector_mode ? kSectorModeHeaderOffset : 0;
    fuzzing::expect(images[0].data.size() >= at + 6, "an accepted primary image holds its header");
    const uint16_t signature = word_at(images[0].data, at + 2);
    if (!c.debug)
        fuzzing::expect(signature == 0x5731 || signature == 0x1C0B, "without debug the signature is checked");
    if (c.kind == kZen5170Kind)
        fuzzing::expect((word_at(images[0].data, at + 4) & 0xFFu) == c.variant, "a ZEN5170 gets its own variant");
    fuzzing::expect(chosen == 0 || chosen == 1, "the chosen slot is the primary or the secondary");
    if (chosen == 1) {
        fuzzing::expect(c.kind == kZen5120Kind, "only a ZEN5120 takes the secondary image");
        fuzzing::expect(images[1].data.size() >= 6 && word_at(images[1].data, 2) == 0x5731,
                        "a secondary image taken has the 5731 signature");
    }
    fuzzing::expect(revision_reads == (c.kind == kZen5120Kind ? 1 : 0), "only a ZEN5120 is asked its revision, once");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static ImageSlot images[2];
    const fuzzing::CheckCase c = fuzzing::decode_check(data, size);
    const uint32_t length = c.padding + static_cast<uint32_t>(c.primary.size());
    const fuzzing::BlankImage primary(images[0].data, length, {fuzzing::Patch{c.padding, c.primary}});
    images[1].data = c.secondary;

    const romwright::BoardIdentity board{c.kind, c.board_id, c.variant, c.sector_mode};
    int revision_reads = 0;
    const auto read_revision = [&]() -> std::pair<int32_t, int32_t> {
        ++revision_reads;
        if (c.revision_fails) throw std::runtime_error("Error: reading board revision failed");
        return {c.revision_major, c.revision_minor == kRevisionMinorUnset ? 0 : c.revision_minor};
    };
    int32_t chosen = -1;
    try {
        chosen = romwright::check_image(images, board, c.debug, read_revision, fuzzing::reading_log());
    } catch (const std::runtime_error &) {
        fuzzing::expect(revision_reads <= 1, "the revision is read at most once");
        return 0;
    }
    expect_accepted(chosen, images, c, revision_reads);
    return 0;
}
