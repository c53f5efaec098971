#include "fuzz/fuzz_cases.hpp"

#include <algorithm>
#include <utility>

#include "fuzz/byte_stream.hpp"

namespace fuzzing {
namespace {

bool bit(uint8_t flags, int n) { return (flags >> n) & 1u; }
uint8_t flag(bool on, int n) { return static_cast<uint8_t>(on ? 1u << n : 0u); }

// Patches follow one another to the end of the input: offset, length, bytes.
std::vector<Patch> read_patches(ByteReader &in) {
    std::vector<Patch> patches;
    while (in.remaining() > 0) {
        Patch patch;
        patch.at = in.u32();
        patch.bytes = in.take(in.u16());
        patches.push_back(std::move(patch));
    }
    return patches;
}

void write_patches(ByteWriter &out, const std::vector<Patch> &patches) {
    for (const Patch &patch : patches) {
        // A patch longer than a length field can say goes in pieces.
        for (std::size_t done = 0; done < patch.bytes.size(); done += 0xFFFF) {
            const std::size_t count = std::min<std::size_t>(0xFFFF, patch.bytes.size() - done);
            const auto first = patch.bytes.begin() + static_cast<std::ptrdiff_t>(done);
            out.u32(static_cast<uint32_t>(patch.at + done)).u16(static_cast<uint16_t>(count));
            out.bytes(std::vector<uint8_t>(first, first + static_cast<std::ptrdiff_t>(count)));
        }
    }
}

} // namespace

RawCase decode_raw(const uint8_t *data, std::size_t size) {
    ByteReader in(data, size);
    RawCase c;
    c.zeros = in.u32();
    c.tail = in.rest();
    return c;
}

std::vector<uint8_t> encode(const RawCase &c) { return ByteWriter().u32(c.zeros).bytes(c.tail).data(); }

LayoutCase decode_layout(const uint8_t *data, std::size_t size) {
    ByteReader in(data, size);
    LayoutCase c;
    const uint8_t flags = in.u8();
    c.auto_select_pages = bit(flags, 0);
    c.write_page0 = bit(flags, 1);
    c.write_page1 = bit(flags, 2);
    c.write_option_bits = bit(flags, 3);
    c.debug = bit(flags, 4);
    c.option_bits_start = in.u32();
    c.option_bits_end = in.u32();
    c.length = in.u32() % (kMaxLayoutLength + 1);
    c.patches = read_patches(in);
    return c;
}

std::vector<uint8_t> encode(const LayoutCase &c) {
    ByteWriter out;
    out.u8(flag(c.auto_select_pages, 0) | flag(c.write_page0, 1) | flag(c.write_page1, 2) |
           flag(c.write_option_bits, 3) | flag(c.debug, 4));
    out.u32(c.option_bits_start).u32(c.option_bits_end).u32(c.length);
    write_patches(out, c.patches);
    return out.data();
}

CheckCase decode_check(const uint8_t *data, std::size_t size) {
    ByteReader in(data, size);
    CheckCase c;
    const uint8_t flags = in.u8();
    c.debug = bit(flags, 0);
    c.sector_mode = bit(flags, 1);
    c.revision_fails = bit(flags, 2);
    c.kind = in.u32();
    c.board_id = in.u16();
    c.variant = in.u32();
    c.revision_major = in.u8();
    c.revision_minor = in.u8();
    c.padding = in.u32() & kMaxCheckPadding;
    c.primary = in.take(in.u16());
    c.secondary = in.rest();
    return c;
}

std::vector<uint8_t> encode(const CheckCase &c) {
    ByteWriter out;
    out.u8(flag(c.debug, 0) | flag(c.sector_mode, 1) | flag(c.revision_fails, 2));
    out.u32(c.kind).u16(c.board_id).u32(c.variant).u8(c.revision_major).u8(c.revision_minor).u32(c.padding);
    out.u16(static_cast<uint16_t>(c.primary.size())).bytes(c.primary).bytes(c.secondary);
    return out.data();
}

PlanCase decode_plan(const uint8_t *data, std::size_t size) {
    ByteReader in(data, size);
    PlanCase c;
    const uint8_t flags = in.u8();
    c.sector_mode = bit(flags, 0);
    c.write_page0 = bit(flags, 1);
    c.write_page1 = bit(flags, 2);
    c.write_option_bits = bit(flags, 3);
    c.page1_present = bit(flags, 4);
    c.through_layout = bit(flags, 5);
    c.auto_select_pages = bit(flags, 6);
    c.page0_start = in.u32();
    c.page0_end = in.u32();
    c.page1_start = in.u32();
    c.page1_end = in.u32();
    c.option_bits_start = in.u32();
    c.option_bits_end = in.u32();
    c.length = in.u32() % (kMaxPlanLength + 1);
    c.patches = read_patches(in);
    return c;
}

std::vector<uint8_t> encode(const PlanCase &c) {
    ByteWriter out;
    out.u8(flag(c.sector_mode, 0) | flag(c.write_page0, 1) | flag(c.write_page1, 2) | flag(c.write_option_bits, 3) |
           flag(c.page1_present, 4) | flag(c.through_layout, 5) | flag(c.auto_select_pages, 6));
    out.u32(c.page0_start).u32(c.page0_end).u32(c.page1_start).u32(c.page1_end);
    out.u32(c.option_bits_start).u32(c.option_bits_end).u32(c.length);
    write_patches(out, c.patches);
    return out.data();
}

} // namespace fuzzing
