#include "fuzz/firmware_input.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "engine/image/firmware_file.hpp"
#include "engine/image/pof_reader.hpp"
#include "engine/image/raw_image.hpp"

namespace fuzzing {
namespace {

// A raw image of `zeros` zero bytes followed by a tail, read as a file would
// be: the zeros cost nothing until a reader allocates for them.
class ZerosThenBytes final : public romwright::FirmwareSource {
public:
    ZerosThenBytes(uint64_t zeros, const uint8_t *tail, std::size_t size) : zeros_(zeros), tail_(tail), size_(size) {}

    uint64_t size() const noexcept override { return zeros_ + size_; }

    void read(uint64_t offset, uint8_t *out, std::size_t length) override {
        if (offset > size() || length > size() - offset)
            throw std::runtime_error("read past the end of the fuzz input");
        const uint64_t end = offset + length;
        const uint64_t zero_end = std::min(end, zeros_);
        if (offset < zero_end) std::memset(out, 0, static_cast<std::size_t>(zero_end - offset));
        const uint64_t tail_begin = std::max(offset, zeros_);
        if (tail_begin < end)
            std::memcpy(out + (tail_begin - offset), tail_ + (tail_begin - zeros_),
                        static_cast<std::size_t>(end - tail_begin));
    }

    std::string name() const override { return "(fuzz input)"; }

private:
    uint64_t zeros_;
    const uint8_t *tail_;
    std::size_t size_;
};

} // namespace

void read_pof(const uint8_t *bytes, std::size_t size, ImageSlot (&slots)[2], bool debug,
              const romwright::LogSink &log) {
    romwright::FirmwareBytes source(bytes, size);
    romwright::load_pof(source, slots, debug, log);
}

void read_raw(uint64_t zeros, const uint8_t *tail, std::size_t size, ImageSlot &primary,
              const romwright::LogSink &log) {
    ZerosThenBytes source(zeros, tail, size);
    romwright::load_binary(source, primary, log);
}

} // namespace fuzzing
