// Runs a program as a child process and collects what a user would see.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

struct ProcessResult {
    int exit_code = -1;      // process status (0..255), or -1 when it did not exit normally
    int signal = 0;          // the signal that ended it, if any
    std::string out;         // standard output
    std::string err;         // standard error
    bool signal_sent = false;  // ProcessOptions::send_signal was sent

    // Windows: out and err are what a reader in text mode sees (CR LF read
    // as LF); out_bytes is standard output byte for byte. exit_code is the
    // exit status as POSIX would report it (a program's -1 is 255), and
    // system_exit_code the whole 32-bit code the system reports (-1 is
    // 0xFFFFFFFF). On POSIX out_bytes is out and system_exit_code the status.
    std::string out_bytes;
    unsigned long system_exit_code = 0;
};

struct ProcessOptions {
    std::string working_directory;               // empty: the current one
    std::map<std::string, std::string> env;      // added to (or replacing in) the environment
    std::vector<std::string> unset_env;          // removed from the environment
    int timeout_seconds = 240;                   // killed after this
    int kill_after_ms = 0;                       // > 0: SIGKILL this long after the start, as a power loss would

    // Sends send_signal to the program once, as soon as send_when returns
    // true. It is asked every few milliseconds while the program runs, with
    // the standard output so far; it may look at anything else (a trace file).
    int send_signal = 0;
    std::function<bool(const std::string &out_so_far)> send_when;

    // When not negative, standard output is a pipe whose reading end is
    // closed after that many bytes, as `program | head -c N` does; the
    // program's later writes to it fail (or raise SIGPIPE). out holds the
    // bytes read.
    long close_stdout_after = -1;
};

// On Windows a program named without an extension is its ".exe", and
// send_signal is refused (there are no signals to send) except SIGKILL (9),
// which ends the program with TerminateProcess.
ProcessResult run_process(const std::string &program, const std::vector<std::string> &args,
                          const ProcessOptions &options = {});

// The folder of board locks for the programs this test process runs, unless
// they are given another: one per test process, so that tests running side
// by side never turn each other's programs away.
std::string test_lock_folder();

// Paths of the built programs and libraries.
std::string bin_path(const std::string &program);   // build/bin/<program>
std::string lib_dir();                               // build/lib
std::string source_dir();                            // repository root

} // namespace testsupport
