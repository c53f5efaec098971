// Reader of programmer object files (".pof"): packets of image data and
// option-bits locations into the primary and secondary image slots.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/image/firmware_file.hpp"
#include "engine/image/image_slot.hpp"
#include "engine/core/log_sink.hpp"

namespace romwright {

// What a POF file says about itself besides its images: the texts of its
// creator, device and comment packets, the packets of tags the reader does
// not use, and its CRC as stored and as computed.
struct PofFacts {
    struct Packet {
        uint64_t index = 0;
        uint16_t tag = 0;
        uint32_t size = 0;
    };
    uint32_t packet_count = 0;
    std::string creator;
    std::string device;
    std::string comment;
    std::vector<Packet> unknown_packets;
    bool crc_read = false;
    uint16_t crc_stored = 0;
    uint16_t crc_computed = 0;
};

// True when the first four bytes are "POF" and a zero byte.
bool has_pof_magic(const uint8_t *first_bytes, std::size_t length);

// Fills slots[0] (tags 17/26) and slots[1] (tags 0x8011/0x801A) from the
// source. Log lines are written only with debug. Throws on input that cannot
// be used; a load that fails may leave the slots partly filled.
// facts, when given, is filled as the packets are read, also when the load
// is refused later (a CRC mismatch still shows both values).
void load_pof(FirmwareSource &source, ImageSlot (&slots)[2], bool debug, const LogSink &log,
              PofFacts *facts = nullptr);

// The same from the firmware file at path (UTF-8).
void load_pof_file(const std::string &path, ImageSlot (&slots)[2], bool debug, const LogSink &log);

} // namespace romwright
