// A firmware file as the engine reads it: opened by its UTF-8 path without
// ever waiting, refused unless it is a regular file of at least one byte,
// sized once from the handle that reads it, and read in bounded chunks
// straight into the buffer that keeps the bytes.
//
// The image readers take their bytes through FirmwareSource, which bytes
// already in memory implement as well, so that a reader runs on a byte span
// with no file and no device:
//
//   romwright::FirmwareBytes bytes(data, size);
//   romwright::load_pof(bytes, slots, false, romwright::LogSink());
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/platform/files.hpp"
#include "engine/platform/regular_file.hpp"

namespace romwright {

// The most one read asks of a file: large images are read in pieces of this
// size, each straight into its place in the final buffer.
inline constexpr std::size_t kFirmwareReadChunk = 1u << 20;  // 1 MiB

// Where a reader takes firmware bytes from.
class FirmwareSource {
public:
    virtual ~FirmwareSource() = default;
    virtual uint64_t size() const noexcept = 0;
    // Copies length bytes from offset to out; throws naming the source when
    // they cannot all be had.
    virtual void read(uint64_t offset, uint8_t *out, std::size_t length) = 0;
    // How messages name the source: a file's path, or a note that the bytes
    // are in memory.
    virtual std::string name() const = 0;
};

// Bytes already in memory (not copied: they must outlive the source).
class FirmwareBytes final : public FirmwareSource {
public:
    FirmwareBytes(const uint8_t *bytes, std::size_t size) noexcept : bytes_(bytes), size_(size) {}
    uint64_t size() const noexcept override { return size_; }
    void read(uint64_t offset, uint8_t *out, std::size_t length) override;
    std::string name() const override { return "(bytes in memory)"; }

private:
    const uint8_t *bytes_;
    std::size_t size_;
};

class FirmwareFile final : public FirmwareSource {
public:
    // Opens the file for reading, shared with other programs. Nothing when it
    // cannot be opened at all (missing, no permission: each caller words that
    // its own way); throws romwright::error (a file) with not_regular_message() when
    // it is a folder, a FIFO, a device or an empty file.
    static std::optional<FirmwareFile> open(const std::string &path);

    // The one text for every firmware file that is not a regular file of at
    // least one byte.
    static std::string not_regular_message(const std::string &path);

    uint64_t size() const noexcept override { return size_; }
    void read(uint64_t offset, uint8_t *out, std::size_t length) override;
    std::string name() const override { return path_; }

private:
    FirmwareFile(std::string path, platform::RegularFile opened)
        : path_(std::move(path)), file_(std::move(opened.file)), size_(opened.size) {}

    std::string path_;
    platform::SharedFile file_;
    uint64_t size_;
    uint64_t position_ = 0;  // where the handle stands, so that reading on needs no seek
};

// A buffer to read into: its bytes are not set before the read that fills
// them, so reading an image costs one pass over its memory, not two.
class ByteBuffer {
public:
    ByteBuffer() = default;
    explicit ByteBuffer(std::size_t size) : bytes_(size ? new uint8_t[size] : nullptr), size_(size) {}
    uint8_t *data() noexcept { return bytes_.get(); }
    const uint8_t *data() const noexcept { return bytes_.get(); }
    std::size_t size() const noexcept { return size_; }

private:
    std::unique_ptr<uint8_t[]> bytes_;
    std::size_t size_ = 0;
};

// Appends length bytes from offset of the source to out, handing each chunk
// to each_chunk (if given) as soon as it has been read. The room is reserved
// once, so nothing is copied; a chunk becomes part of the vector (which sets
// it to zero) just before the read fills it, while it is still in the cache,
// so the image is not zero-filled in a pass of its own ahead of the read.
// A firmware file's size and its Adler-32 over every byte, as the log
// header shows them. Throws romwright::error (a file) "Could not open file".
struct FileFacts {
    uint64_t size;
    uint32_t adler;
};
FileFacts file_facts(const std::string &path);

void append_from(FirmwareSource &source, uint64_t offset, uint64_t length, std::vector<uint8_t> &out,
                 const std::function<void(const uint8_t *, std::size_t)> &each_chunk = {});

} // namespace romwright
