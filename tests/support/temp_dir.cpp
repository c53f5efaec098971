#include "tests/support/temp_dir.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace testsupport {

TempDir::TempDir(const std::string &tag) {
    std::string pattern = (std::filesystem::temp_directory_path() / ("romwright-" + tag + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

TempDir::~TempDir() {
    if (std::getenv("ROMWRIGHT_KEEP_TEMP")) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

const std::string &stray_history_path() {
    static const TempDir folder("history");
    static const std::string path = folder.file("history.sqlite");
    return path;
}

const std::string &stray_trusted_keys_folder() {
    static const TempDir folder("keys");
    static const std::string path = folder.file("trusted-keys");
    return path;
}

std::vector<uint8_t> read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) throw std::runtime_error("cannot read " + path);
    // One read of the whole file: flash files are megabytes and are read
    // after every run.
    std::vector<uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
        throw std::runtime_error("cannot read " + path);
    return bytes;
}

std::string read_text(const std::string &path) {
#if defined(_WIN32)
    // As a Windows program reads a text file: CR LF is a line break.
    std::ifstream in(path);
#else
    std::ifstream in(path, std::ios::binary);
#endif
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void write_text(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool file_exists(const std::string &path) { return std::filesystem::exists(path); }

} // namespace testsupport
