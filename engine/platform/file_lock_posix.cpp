#include "engine/platform/file_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fmt/format.h>

#include <romwright/error.hpp>

namespace romwright::platform {
namespace {

namespace fs = std::filesystem;

// Every user may create a lock file in the folder and open every lock file,
// but only remove their own (the sticky bit), as in /tmp.
constexpr mode_t kSharedFolder = S_IRWXU | S_IRWXG | S_IRWXO | S_ISVTX;
constexpr mode_t kSharedFile = S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;

class FlockedFile final : public FileLock {
public:
    explicit FlockedFile(int descriptor) : descriptor_(descriptor) {}
    ~FlockedFile() override { ::close(descriptor_); }  // frees the lock

private:
    int descriptor_;
};

romwright::error lock_error(const std::string &what, const std::string &path) {
    return romwright::error(error_kind::file, fmt::format("Cannot {} the lock file {}: {}", what, path, std::strerror(errno)));
}

bool make_shared_folder(const fs::path &folder) {
    std::error_code failure;
    fs::create_directories(folder, failure);
    if (failure) return false;
    // A folder made by one user must take the lock files of all.
    (void)::chmod(folder.c_str(), kSharedFolder);
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string read_text(int descriptor) {
    std::string text(256, '\0');
    const ssize_t got = ::pread(descriptor, text.data(), text.size(), 0);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
    return text;
}

} // namespace

std::unique_ptr<FileLock> try_lock_file(const std::string &path, const std::string &holder,
                                        std::string &holder_found) {
    const fs::path file = fs::u8path(path);
    if (!make_shared_folder(file.parent_path())) throw lock_error("create the folder of", path);
    int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kSharedFile);
    const bool writable = descriptor >= 0;
    // Another user's file that this one may not write is still locked alike.
    if (!writable) descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (descriptor < 0) throw lock_error("open", path);
    (void)::fchmod(descriptor, kSharedFile);
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        const int reason = errno;
        holder_found = read_text(descriptor);
        ::close(descriptor);
        errno = reason;
        if (reason == EWOULDBLOCK) return nullptr;
        throw lock_error("lock", path);
    }
    if (writable) {
        const std::string line = holder + "\n";
        if (::ftruncate(descriptor, 0) != 0 || ::pwrite(descriptor, line.data(), line.size(), 0) < 0) {
            // The lock holds all the same; only the note for others is lost.
        }
    }
    return std::make_unique<FlockedFile>(descriptor);
}

std::string default_lock_folder() {
    const fs::path run_lock = "/run/lock/romwright";
    if (make_shared_folder(run_lock)) return run_lock.string();
    return "/tmp/romwright-locks";
}

} // namespace romwright::platform
