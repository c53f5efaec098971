// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes (unless ROMWRIGHT_KEEP_TEMP is set).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class TempDir {
public:
    explicit TempDir(const std::string &tag = "test");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Whole-file helpers.
std::vector<uint8_t> read_file(const std::string &path);
std::string read_text(const std::string &path);  // on Windows CR LF is read as LF
void write_file(const std::string &path, const std::vector<uint8_t> &bytes);
void write_text(const std::string &path, const std::string &text);
bool file_exists(const std::string &path);

} // namespace testsupport
