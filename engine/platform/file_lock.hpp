// Exclusive locks that the operating system holds for a process and frees
// when it ends, however it ends (kill -9 and a crash included), so a lock
// left behind never blocks anybody: a file locked with flock on POSIX, with
// LockFileEx on Windows. The file itself stays; what counts is the lock.
// The holder writes a line about itself into the file, for those it turns
// away. file_lock_posix.cpp and file_lock_windows.cpp implement this.
#pragma once

#include <memory>
#include <string>

namespace romwright::platform {

class FileLock {
public:
    virtual ~FileLock() = default;  // lets go of the lock
};

// Takes the lock of the file at path (UTF-8) without waiting, creating the
// file, and its folder, when missing, and writes holder into it. Null when
// another process holds it; holder_found then gets what that process wrote
// (empty when it has not yet). Throws romwright::error (a file) when the
// file cannot be created or locked at all.
std::unique_ptr<FileLock> try_lock_file(const std::string &path, const std::string &holder,
                                        std::string &holder_found);

// The machine-wide folder for lock files, which every user of the machine
// can write: /run/lock/romwright on POSIX (else /tmp/romwright-locks), and
// %ProgramData%\Korvelon\romwright\locks on Windows (else the user's
// %LOCALAPPDATA%\Korvelon\romwright\locks).
std::string default_lock_folder();

} // namespace romwright::platform
