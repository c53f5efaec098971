#include "engine/image/pof_reader.hpp"

#include <array>
#include <cstring>
#include <ios>
#include <optional>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>

#include <romwright/error.hpp>

#include "engine/image/firmware_file.hpp"
#include "engine/image/hex_dump.hpp"

namespace romwright {

namespace {

constexpr std::size_t kFileHeaderSize = 12;
constexpr std::size_t kPacketHeaderSize = 6;
constexpr std::size_t kLad32WordsSize = 12;
constexpr std::size_t kPieceSize = 16;
constexpr std::size_t kDataDumpBytes = 16;
constexpr std::size_t kOtherDumpBytes = 256;
constexpr uint32_t kNoOffset = 0xFFFFFFFF;

enum Tag : uint16_t {
    kCreator = 1,
    kDeviceName = 2,
    kComment = 3,
    kTerminator = 8,
    kData = 17,
    kOptionBits = 26,
    kSecondaryData = 0x8011,
    kSecondaryOptionBits = 0x801A,
};

struct TextTag {
    uint16_t tag;
    const char *line;
};

const TextTag kTextTags[] = {
    {kCreator, "[POF]  CreatorId = {}\n"},
    {kDeviceName, "[POF]  DeviceName = {}\n"},
    {kComment, "[POF]  Comment = {}\n"},
};

uint16_t le16(const uint8_t *bytes) { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }
uint32_t le32(const uint8_t *bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

// CRC-16/X-25 (reflected 0x8408, initial and final XOR 0xFFFF), the check
// value that the terminator packet carries over every byte before it. Eight
// bytes are folded in per step (table k gives a byte's CRC followed by k zero
// bytes): the image data of a large file passes through here, and a byte at
// a time took longer than reading it.
class Crc16X25 {
public:
    void update(const uint8_t *bytes, std::size_t length) {
        const Tables &t = tables();
        uint32_t crc = state_;
        for (; length >= 8; bytes += 8, length -= 8) {
            const uint32_t low = le32(bytes) ^ crc;
            crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
                  t[3][bytes[4]] ^ t[2][bytes[5]] ^ t[1][bytes[6]] ^ t[0][bytes[7]];
        }
        for (; length > 0; ++bytes, --length) crc = (crc >> 8) ^ t[0][(crc ^ *bytes) & 0xFF];
        state_ = static_cast<uint16_t>(crc);
    }
    uint16_t value() const { return static_cast<uint16_t>(state_ ^ 0xFFFF); }

private:
    using Tables = std::array<std::array<uint16_t, 256>, 8>;

    static const Tables &tables() {
        static const Tables entries = [] {
            Tables built{};
            for (uint32_t byte = 0; byte < 256; ++byte) {
                uint16_t crc = static_cast<uint16_t>(byte);
                for (int bit = 0; bit < 8; ++bit)
                    crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : static_cast<uint16_t>(crc >> 1);
                built[0][byte] = crc;
            }
            for (std::size_t k = 1; k < built.size(); ++k)
                for (std::size_t n = 0; n < 256; ++n)
                    built[k][n] = static_cast<uint16_t>((built[k - 1][n] >> 8) ^ built[0][built[k - 1][n] & 0xFF]);
            return built;
        }();
        return entries;
    }

    uint16_t state_ = 0xFFFF;
};

// The input read front to back, knowing how much is left, so that no size
// field read from it can make the reader allocate or read past its end. Every
// byte read goes into the CRC.
class PofInput {
public:
    explicit PofInput(FirmwareSource &source) : source_(source) {}

    uint64_t remaining() const { return source_.size() - position_; }

    // Reads exactly length bytes; input that ends first is refused by name.
    void read(uint8_t *out, std::size_t length, const std::string &what) {
        check_left(length, what);
        source_.read(position_, out, length);
        crc_.update(out, length);
        position_ += length;
    }

    // Reads length bytes into a fresh vector, straight into its final place.
    std::vector<uint8_t> read_block(std::size_t length, const std::string &what) {
        check_left(length, what);
        std::vector<uint8_t> block;
        append_from(source_, position_, length, block,
                    [this](const uint8_t *chunk, std::size_t size) { crc_.update(chunk, size); });
        position_ += length;
        return block;
    }

    uint16_t crc() const { return crc_.value(); }

private:
    void check_left(std::size_t length, const std::string &what) const {
        if (length > remaining())
            throw romwright::error(error_kind::image,
                                   fmt::format("Error: POF file {} ends inside {}: {} bytes needed at offset "
                                               "{}, {} left",
                                               source_.name(), what, length, position_, remaining()));
    }

    FirmwareSource &source_;
    uint64_t position_ = 0;
    Crc16X25 crc_;
};

struct Packet {
    uint64_t index;
    uint16_t tag;
    uint32_t size;
};

std::string packet_name(const Packet &packet) {
    return fmt::format("packet {} (tag {}, size {})", packet.index, packet.tag, packet.size);
}

class PofLoader {
public:
    PofLoader(FirmwareSource &source, ImageSlot (&slots)[2], bool debug, const LogSink &log, PofFacts &facts)
        : input_(source), slots_(slots), verbose_(debug ? log : LogSink()), facts_(facts) {}

    void load() {
        const uint32_t count = read_file_header();
        facts_.packet_count = count;
        verbose_.info("[POF] packet count = {}\n", count);
        for (uint64_t index = 1;; ++index) {
            const Packet packet = read_packet_header(index);
            if (index > count) throw romwright::error(error_kind::image, "Error: Too many packets");
            verbose_.info("[POF] packet , {} : tag = {} size = {}\n", index, packet.tag, packet.size);
            if (packet.tag == kTerminator) {
                read_terminator(packet, count);
                return;
            }
            read_payload(packet);
        }
    }

private:
    uint32_t read_file_header() {
        uint8_t header[kFileHeaderSize];
        input_.read(header, sizeof header, "its 12-byte header");
        if (!has_pof_magic(header, sizeof header)) throw romwright::error(error_kind::image, "Invalid POF header.");
        return le32(header + 8);
    }

    Packet read_packet_header(uint64_t index) {
        uint8_t header[kPacketHeaderSize];
        input_.read(header, sizeof header, fmt::format("the header of packet {} (no terminator packet)", index));
        return Packet{index, le16(header), le32(header + 2)};
    }

    void read_terminator(const Packet &packet, uint32_t count) {
        // The CRC covers every byte before its own value, whatever the
        // terminator's size field says: exactly two bytes follow it.
        const uint16_t computed = input_.crc();
        uint8_t stored_bytes[2];
        input_.read(stored_bytes, sizeof stored_bytes, packet_name(packet));
        const uint16_t stored = le16(stored_bytes);
        if (packet.index != count)
            throw romwright::error(error_kind::image, "Error: Terminator packet not last packet.");
        facts_.crc_read = true;
        facts_.crc_stored = stored;
        facts_.crc_computed = computed;
        verbose_.info("[POF]  CRC = 0x{:04X}\n", stored);
        verbose_.info("[POF]  computed CRC = 0x{:04X}\n", computed);
        // A corrupt file is refused here, before anything is erased.
        if (computed != stored)
            throw romwright::error(
                error_kind::image,
                fmt::format("Error: POF file CRC mismatch: computed 0x{:04X}, stored 0x{:04X}", computed, stored));
    }

    void read_payload(const Packet &packet) {
        if (packet.size > input_.remaining())
            throw romwright::error(error_kind::image,
                                   fmt::format("Error: POF {} is larger than the {} bytes left in the file",
                                               packet_name(packet), input_.remaining()));
        switch (packet.tag) {
        case kData: return read_data(packet, slots_[0]);
        case kSecondaryData: return read_data(packet, slots_[1]);
        case kOptionBits: return read_option_bits(packet, slots_[0]);
        case kSecondaryOptionBits: return read_option_bits(packet, slots_[1]);
        case kCreator:
        case kDeviceName:
        case kComment: return read_text(packet);
        default: return skip_payload(packet);
        }
    }

    void read_data(const Packet &packet, ImageSlot &slot) {
        if (!slot.data.empty())
            throw romwright::error(error_kind::image, "Error: Duplicate logical address and data 32.");
        if (packet.size < kLad32WordsSize)
            throw romwright::error(error_kind::image,
                                   fmt::format("Error: POF {} is too short for logical address and data 32: "
                                               "at least 12 bytes needed",
                                               packet_name(packet)));
        uint8_t words[kLad32WordsSize];
        input_.read(words, sizeof words, packet_name(packet));
        verbose_.info("[POF]  LAD32 = 0x{:08X} 0x{:08X} 0x{:08X}\n", le32(words), le32(words + 4), le32(words + 8));
        const std::size_t length = packet.size - kLad32WordsSize;
        verbose_.info("Loading POF data: {} bytes.\n", length);
        slot.data = input_.read_block(length, packet_name(packet));
        hex_dump(verbose_, slot.data.data(), std::min(length, kDataDumpBytes), 0, kPieceSize);
    }

    void read_text(const Packet &packet) {
        std::string text(packet.size, '\0');
        input_.read(reinterpret_cast<uint8_t *>(text.data()), text.size(), packet_name(packet));
        text.resize(std::strlen(text.c_str()));
        (packet.tag == kCreator ? facts_.creator : packet.tag == kDeviceName ? facts_.device : facts_.comment) = text;
        for (const auto &entry : kTextTags)
            if (entry.tag == packet.tag) verbose_(ROMWRIGHT_LOG_INFO, fmt::runtime(entry.line), text);
    }

    void read_option_bits(const Packet &packet, ImageSlot &slot) {
        uint8_t piece[kPieceSize] = {};
        bool first_piece = true;
        uint32_t offset = kNoOffset;
        for (uint64_t done = 0; done < packet.size; done += kPieceSize) {
            const std::size_t length = static_cast<std::size_t>(std::min<uint64_t>(kPieceSize, packet.size - done));
            input_.read(piece, length, packet_name(packet));
            hex_dump(verbose_, piece, length, 0, kPieceSize);
            if (first_piece) offset = le32(piece);
            first_piece = false;
        }
        // Widened so that an offset near 4 GiB cannot wrap below the data length.
        if (!first_piece && offset != kNoOffset && uint64_t(offset) + kOptionBitsSize < slot.data.size()) {
            slot.option_bits_start = offset;
            slot.option_bits_end = offset + kOptionBitsSize;
        }
    }

    void skip_payload(const Packet &packet) {
        facts_.unknown_packets.push_back(PofFacts::Packet{packet.index, packet.tag, packet.size});
        uint8_t piece[kPieceSize];
        for (uint64_t done = 0; done < packet.size; done += kPieceSize) {
            const std::size_t length = static_cast<std::size_t>(std::min<uint64_t>(kPieceSize, packet.size - done));
            input_.read(piece, length, packet_name(packet));
            if (done < kOtherDumpBytes) hex_dump(verbose_, piece, length, static_cast<uint32_t>(done), kPieceSize);
        }
    }

    PofInput input_;
    ImageSlot (&slots_)[2];
    LogSink verbose_;
    PofFacts &facts_;
};

} // namespace

bool has_pof_magic(const uint8_t *first_bytes, std::size_t length) {
    static const uint8_t kMagic[4] = {'P', 'O', 'F', 0};
    return first_bytes != nullptr && length >= sizeof kMagic && std::memcmp(first_bytes, kMagic, sizeof kMagic) == 0;
}

void load_pof(FirmwareSource &source, ImageSlot (&slots)[2], bool debug, const LogSink &log, PofFacts *facts) {
    PofFacts ignored;
    PofLoader(source, slots, debug, log, facts ? *facts : ignored).load();
}

void load_pof_file(const std::string &path, ImageSlot (&slots)[2], bool debug, const LogSink &log) {
    std::optional<FirmwareFile> file = FirmwareFile::open(path);
    if (!file) throw romwright::error(error_kind::file, fmt::format("Error: Unable to open POF file {}", path));
    load_pof(*file, slots, debug, log);
}

} // namespace romwright
