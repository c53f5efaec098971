// Files a program takes in and writes out besides firmware files and the log:
// backups and their descriptions. What comes in is read as hostile input (a
// FIFO, a device, a folder or an empty file is refused at once, without
// waiting or reading); what goes out is there whole or not at all.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace romwright::frontend {

// A regular file of at least one byte, open for reading and shared with
// other programs. what names the file in messages ("backup"). Raises
// romwright::error (a file) naming the path.
class InputFile {
public:
    InputFile(const std::string &path, const char *what);
    ~InputFile();
    InputFile(InputFile &&) noexcept;
    InputFile &operator=(InputFile &&) noexcept;

    uint64_t size() const;
    // The whole file.
    std::vector<uint8_t> ReadAll();

private:
    struct Open;
    std::unique_ptr<Open> open_;
    std::string path_;
};

// Writes bytes to a new file in the folder of path, hands them to the disk,
// reads them back and, once they compare equal, gives the file the name path
// (replacing a file of that name). On a failure (a full disk, say) the new
// file is removed and path is left as it was. Raises romwright::error (a file).
void write_whole_file(const std::string &path, const std::vector<uint8_t> &bytes);

// Whether something (a file, a folder, a link) has the name path.
bool file_exists(const std::string &path);

// Whether both paths name one existing file, whatever the spelling, the
// symbolic or the hard link.
bool same_file(const std::string &a, const std::string &b);

} // namespace romwright::frontend
