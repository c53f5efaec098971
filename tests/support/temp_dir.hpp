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

// The update history (ROMWRIGHT_HISTORY) of the programs a test runs
// without naming one: a file in a temporary folder of this test process,
// removed when it ends, so no test writes the user's or the machine's.
// run_process gives it to every program whose options neither set nor
// unset ROMWRIGHT_HISTORY and that does not inherit one.
const std::string &stray_history_path();

// The folder of trusted bundle signing keys (ROMWRIGHT_TRUSTED_KEYS) of the
// programs a test runs without naming one: a folder of this test process
// that holds no key, so no test reads the machine's /etc/romwright.
// run_process gives it to every program whose options do not set it.
const std::string &stray_trusted_keys_folder();

// Whole-file helpers.
std::vector<uint8_t> read_file(const std::string &path);
std::string read_text(const std::string &path);  // on Windows CR LF is read as LF
void write_file(const std::string &path, const std::vector<uint8_t> &bytes);
void write_text(const std::string &path, const std::string &text);
bool file_exists(const std::string &path);

} // namespace testsupport
