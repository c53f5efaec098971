// The structured fuzz inputs as bytes: a reader for the targets and a writer
// for the seed corpus, so both agree on one layout. Numbers are little-endian;
// a reader past the end reads zeros, so every input decodes to something.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzzing {

class ByteReader {
public:
    ByteReader(const uint8_t *data, std::size_t size) : data_(data), size_(size) {}

    uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | u8() << 8); }
    uint32_t u32() { return uint32_t(u16()) | uint32_t(u16()) << 16; }

    // Up to length bytes, fewer at the end of the input.
    std::vector<uint8_t> take(std::size_t length) {
        const std::size_t count = std::min(length, remaining());
        std::vector<uint8_t> out(data_ + at_, data_ + at_ + count);
        at_ += count;
        return out;
    }
    std::vector<uint8_t> rest() { return take(remaining()); }
    std::size_t remaining() const { return size_ - at_; }

private:
    const uint8_t *data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

class ByteWriter {
public:
    ByteWriter &u8(uint8_t value) {
        bytes_.push_back(value);
        return *this;
    }
    ByteWriter &u16(uint16_t value) { return u8(static_cast<uint8_t>(value)).u8(static_cast<uint8_t>(value >> 8)); }
    ByteWriter &u32(uint32_t value) {
        return u16(static_cast<uint16_t>(value)).u16(static_cast<uint16_t>(value >> 16));
    }
    ByteWriter &bytes(const std::vector<uint8_t> &more) {
        bytes_.insert(bytes_.end(), more.begin(), more.end());
        return *this;
    }
    const std::vector<uint8_t> &data() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

} // namespace fuzzing
