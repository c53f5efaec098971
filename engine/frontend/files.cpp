#include <romwright/frontend/files.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include <fmt/format.h>

#include <romwright/error.hpp>

#include "engine/platform/file_identity.hpp"
#include "engine/platform/files.hpp"
#include "engine/platform/regular_file.hpp"

namespace romwright::frontend {
namespace {

namespace fs = std::filesystem;

// Read back and compared a piece at a time.
constexpr std::size_t kReadBackPiece = 1 << 20;

romwright::error file_error(const std::string &message) { return romwright::error(error_kind::file, message); }

// A name in the folder of path that nothing has yet: path's own name, a
// random part and ".part", so that one left behind by a kill shows what it was.
fs::path unused_name_beside(const fs::path &path) {
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path name =
            path.parent_path() / fs::u8path(fmt::format("{}.{:08x}.part", path.filename().u8string(), entropy()));
        if (!file_exists(name.u8string())) return name;
    }
    throw file_error(fmt::format("Cannot find a free name for a new file beside {}", path.u8string()));
}

void write_to(const std::string &path, const std::vector<uint8_t> &bytes) {
    platform::SharedFile file = platform::open_shared(path, "wb");
    if (!file) throw file_error(fmt::format("Cannot create {}: {}", path, std::strerror(errno)));
    // On the disk itself, so that the renamed file survives a power loss
    // during the update that may follow.
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() || !platform::flush_to_disk(file.get()))
        throw file_error(fmt::format("Cannot write {}: {}", path, std::strerror(errno)));
    if (std::fclose(file.release()) != 0)
        throw file_error(fmt::format("Cannot write {}: {}", path, std::strerror(errno)));
}

void check_reads_back(const std::string &path, const std::vector<uint8_t> &bytes) {
    platform::RegularFile file;
    if (platform::open_regular_file(path, file) != platform::OpenRegularResult::opened || file.size != bytes.size())
        throw file_error(fmt::format("{} does not read back as the {} bytes written to it", path, bytes.size()));
    std::vector<uint8_t> piece(std::min(kReadBackPiece, bytes.size()));
    for (std::size_t at = 0; at < bytes.size(); at += piece.size()) {
        const std::size_t length = std::min(piece.size(), bytes.size() - at);
        if (std::fread(piece.data(), 1, length, file.file.get()) != length ||
            std::memcmp(piece.data(), bytes.data() + at, length) != 0)
            throw file_error(fmt::format("{} does not read back as written: it differs from 0x{:X} on", path, at));
    }
}

} // namespace

struct InputFile::Open {
    platform::RegularFile file;
};

InputFile::InputFile(const std::string &path, const char *what) : open_(std::make_unique<Open>()), path_(path) {
    switch (platform::open_regular_file(path, open_->file)) {
    case platform::OpenRegularResult::opened:
        return;
    case platform::OpenRegularResult::not_regular:
        throw file_error(fmt::format("{} is not a regular file of at least one byte: a folder, a FIFO, a device or "
                                     "an empty file is no {}",
                                     path, what));
    case platform::OpenRegularResult::cannot_open:
        break;
    }
    throw file_error(fmt::format("Cannot open the {} {}: {}", what, path, std::strerror(errno)));
}

InputFile::~InputFile() = default;
InputFile::InputFile(InputFile &&) noexcept = default;
InputFile &InputFile::operator=(InputFile &&) noexcept = default;

uint64_t InputFile::size() const { return open_->file.size; }

std::vector<uint8_t> InputFile::ReadAll() {
    std::vector<uint8_t> bytes(static_cast<std::size_t>(size()));
    if (std::fread(bytes.data(), 1, bytes.size(), open_->file.file.get()) != bytes.size())
        throw file_error(fmt::format("Cannot read the {} bytes of {}", size(), path_));
    return bytes;
}

void write_whole_file(const std::string &path, const std::vector<uint8_t> &bytes) {
    const fs::path final_name = fs::u8path(path);
    const fs::path temporary = unused_name_beside(final_name);
    try {
        write_to(temporary.u8string(), bytes);
        check_reads_back(temporary.u8string(), bytes);
        std::error_code failure;
        fs::rename(temporary, final_name, failure);
        if (failure)
            throw file_error(fmt::format("Cannot rename {} to {}: {}", temporary.u8string(), path, failure.message()));
    } catch (...) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw;
    }
}

bool file_exists(const std::string &path) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(fs::u8path(path), ignored));
}

bool same_file(const std::string &a, const std::string &b) { return platform::same_file(a, b); }

} // namespace romwright::frontend
