// The Windows side of run_process (process.cpp is the POSIX one): the
// program started with CreateProcessW, its standard output and error in
// files (or standard output in a pipe), a time-out, and its exit code.
#include "tests/support/process.hpp"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "tests/support/temp_dir.hpp"

namespace testsupport {
namespace {

// Exit code given to a program ended by the time-out or by kill_after_ms.
constexpr UINT kKilledExitCode = 0xDEAD;
// What ProcessResult::signal says for it: SIGKILL's number on POSIX.
constexpr int kKilledSignal = 9;

std::wstring widen(const std::string &utf8) {
    if (utf8.empty()) return {};
    const int length = static_cast<int>(utf8.size());
    const int wide_length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), wide_length);
    return wide;
}

std::runtime_error system_failure(const std::string &what) {
    return std::runtime_error(what + ": " + std::system_category().message(static_cast<int>(GetLastError())));
}

class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~Handle() { reset(); }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    HANDLE get() const { return handle_; }
    HANDLE *out() { return &handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset() {
        if (handle_) CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_ = nullptr;
};

// One argument as CommandLineToArgvW and the C runtime read it back: quoted
// when it holds blanks or quotes, with backslashes doubled where they come
// before a quote.
std::wstring quoted(const std::wstring &argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
    std::wstring text = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        text.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        text.push_back(c);
    }
    text.append(backslashes * 2, L'\\');
    text.push_back(L'"');
    return text;
}

// Windows compares the names of environment variables without regard to case.
struct NameLess {
    bool operator()(const std::wstring &a, const std::wstring &b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](wchar_t x, wchar_t y) {
            return std::towupper(static_cast<wint_t>(x)) < std::towupper(static_cast<wint_t>(y));
        });
    }
};

// This process's environment with options.unset_env removed and
// options.env added, as a CreateProcessW environment block.
} // namespace

std::string test_lock_folder() {
    static const std::string folder =
        (std::filesystem::temp_directory_path() / ("romwright-test-locks-" + std::to_string(GetCurrentProcessId())))
            .string();
    return folder;
}

namespace {

std::wstring environment_block(const ProcessOptions &options) {
    std::map<std::wstring, std::wstring, NameLess> variables;
    wchar_t *strings = GetEnvironmentStringsW();
    for (const wchar_t *entry = strings; entry && *entry; entry += std::wcslen(entry) + 1) {
        const std::wstring text(entry);
        // Names may begin with '=' (the per-drive folders "=C:=C:\...").
        const std::size_t equals = text.find(L'=', 1);
        if (equals != std::wstring::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    if (strings) FreeEnvironmentStringsW(strings);
    for (const std::string &name : options.unset_env) variables.erase(widen(name));
    for (const auto &[name, value] : options.env) variables[widen(name)] = widen(value);
    // As on POSIX (process.cpp): the test's own folder of board locks.
    if (!variables.count(L"ROMWRIGHT_LOCK_DIR")) variables[L"ROMWRIGHT_LOCK_DIR"] = widen(test_lock_folder());
    const bool unset = std::find(options.unset_env.begin(), options.unset_env.end(), "ROMWRIGHT_HISTORY") !=
                       options.unset_env.end();
    if (!unset && !variables.count(L"ROMWRIGHT_HISTORY")) variables[L"ROMWRIGHT_HISTORY"] = widen(stray_history_path());
    if (!variables.count(L"ROMWRIGHT_TRUSTED_KEYS"))
        variables[L"ROMWRIGHT_TRUSTED_KEYS"] = widen(stray_trusted_keys_folder());
    std::wstring block;
    for (const auto &[name, value] : variables) {
        block += name + L"=" + value;
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

std::string slurp(const std::string &path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// What a reader in text mode sees: CR LF read as LF.
std::string as_text(const std::string &bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) text.push_back(bytes[i]);
    return text;
}

SECURITY_ATTRIBUTES inheritable() {
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.bInheritHandle = TRUE;
    return attributes;
}

HANDLE open_for_child(const std::wstring &path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES attributes = inheritable();
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &attributes,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Moves what the pipe holds now into `into`, up to `limit` bytes in all,
// without waiting for more.
void drain(HANDLE pipe, std::string &into, std::size_t limit) {
    char buffer[4096];
    while (into.size() < limit) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>({sizeof buffer, limit - into.size(), available}));
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, wanted, &got, nullptr) || got == 0) return;
        into.append(buffer, got);
    }
}

// A program named without an extension is its .exe, as the command
// interpreter would find it, unless a file of that very name exists.
std::string executable(const std::string &program) {
    const std::filesystem::path path = std::filesystem::u8path(program);
    std::error_code error;
    return path.has_extension() || std::filesystem::is_regular_file(path, error) ? program : program + ".exe";
}

// Whole paths for the system: "/work/build/bin" means the folder on the
// drive of this process's working folder, not on a child's.
std::string whole_path(const char *path) {
    return std::filesystem::absolute(std::filesystem::u8path(path)).u8string();
}

} // namespace

ProcessResult run_process(const std::string &program, const std::vector<std::string> &args,
                          const ProcessOptions &options) {
    // SIGKILL is the one signal Windows has a counterpart of: the program
    // ended where it stands (TerminateProcess), as by a power loss.
    if (options.send_signal != 0 && options.send_signal != kKilledSignal)
        throw std::logic_error("run_process: signals other than SIGKILL exist only on POSIX; this test cannot run on "
                               "Windows");
    TempDir capture("proc");
    const std::wstring out_path = widen(capture.file("stdout"));
    const std::wstring err_path = widen(capture.file("stderr"));

    Handle input(open_for_child(L"NUL", GENERIC_READ, OPEN_EXISTING));
    Handle error(open_for_child(err_path, GENERIC_WRITE, CREATE_ALWAYS));
    Handle output;
    Handle pipe_read;
    const bool piped = options.close_stdout_after >= 0;
    if (piped) {
        SECURITY_ATTRIBUTES attributes = inheritable();
        if (!CreatePipe(pipe_read.out(), output.out(), &attributes, 0)) throw system_failure("CreatePipe");
        SetHandleInformation(pipe_read.get(), HANDLE_FLAG_INHERIT, 0);
    } else {
        *output.out() = open_for_child(out_path, GENERIC_WRITE, CREATE_ALWAYS);
        if (output.get() == INVALID_HANDLE_VALUE) *output.out() = nullptr;
    }
    if (!input || !output || !error) throw system_failure("cannot open the standard files for " + program);

    const std::string path = executable(program);
    std::wstring command_line = quoted(widen(path));
    for (const std::string &arg : args) command_line += L" " + quoted(widen(arg));
    std::wstring environment = environment_block(options);
    const std::wstring folder = widen(options.working_directory);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = output.get();
    startup.hStdError = error.get();
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(widen(path).c_str(), command_line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                        environment.data(), folder.empty() ? nullptr : folder.c_str(), &startup, &started))
        throw system_failure("cannot start " + path);
    Handle process(started.hProcess);
    CloseHandle(started.hThread);
    // The child holds its own copies; a pipe reports its end only when every
    // writing copy is closed.
    input.reset();
    output.reset();
    error.reset();

    ProcessResult result;
    std::string piped_out;
    const auto piped_limit = static_cast<std::size_t>(piped ? options.close_stdout_after : 0);
    const auto read_pipe = [&] {
        if (!pipe_read) return;
        drain(pipe_read.get(), piped_out, piped_limit);
        if (piped_out.size() >= piped_limit) pipe_read.reset();  // the reader has had enough, as `head -c` does
    };
    const auto started_at = std::chrono::steady_clock::now();
    auto deadline = started_at + std::chrono::seconds(options.timeout_seconds);
    if (options.kill_after_ms > 0)
        deadline = std::min(deadline, started_at + std::chrono::milliseconds(options.kill_after_ms));
    bool killed = false;
    // What the program has written so far, for send_when.
    const auto output_so_far = [&] { return piped ? piped_out : as_text(slurp(capture.file("stdout"))); };
    for (;;) {
        read_pipe();
        if (options.send_signal != 0 && !result.signal_sent && options.send_when && options.send_when(output_so_far())) {
            TerminateProcess(process.get(), kKilledExitCode);
            WaitForSingleObject(process.get(), INFINITE);
            result.signal_sent = true;
            killed = true;
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        const DWORD step = static_cast<DWORD>(std::clamp<long long>(left, 0, 5));
        if (WaitForSingleObject(process.get(), step) == WAIT_OBJECT_0) break;
        if (std::chrono::steady_clock::now() >= deadline) {
            TerminateProcess(process.get(), kKilledExitCode);
            WaitForSingleObject(process.get(), INFINITE);
            killed = true;
            break;
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    result.system_exit_code = code;
    const auto as_signed = static_cast<int32_t>(code);
    if (killed) {
        result.signal = kKilledSignal;
    } else if (as_signed >= -128 && as_signed <= 255) {
        // An exit status as POSIX reports it: exit(-1) is 255.
        result.exit_code = as_signed & 0xFF;
    }
    // Anything else (0xC0000005, ...) is an exception that ended the program.
    read_pipe();
    if (pipe_read) {
        // The program has gone: what is left in the pipe is all there is.
        drain(pipe_read.get(), piped_out, piped_limit);
    }
    result.out_bytes = piped ? piped_out : slurp(capture.file("stdout"));
    result.out = as_text(result.out_bytes);
    result.err = as_text(slurp(capture.file("stderr")));
    return result;
}

std::string bin_path(const std::string &program) { return whole_path(ROMWRIGHT_BIN_DIR) + "\\" + program; }
std::string lib_dir() { return whole_path(ROMWRIGHT_LIB_DIR); }
std::string source_dir() { return whole_path(ROMWRIGHT_SOURCE_DIR); }

} // namespace testsupport
