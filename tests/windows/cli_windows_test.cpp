// romwright-cli.exe as a Windows user meets it: firmware paths in any script
// and with blanks, a firmware file another program holds open, the exit
// code a batch file sees, the log's line ends, the console output, and
// Zenapi.dll found the way Windows finds a DLL, or named for romwright-sim.cmd,
// or missing.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/cli/cli_fixture.hpp"

namespace {

using clitest::Cli;
using clitest::contains;
namespace fs = std::filesystem;

std::vector<uint8_t> read_bytes(const std::string &utf8_path) {
    std::ifstream in(fs::u8path(utf8_path), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool starts_with(const std::vector<uint8_t> &whole, const std::vector<uint8_t> &part) {
    return whole.size() >= part.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// Line ends that are not CR LF: a lone LF or a lone CR.
std::size_t foreign_line_ends(const std::string &text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) ++count;
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) ++count;
    }
    return count;
}

class WindowsCli : public Cli {
protected:
    // A flash-sector board and a firmware file for it, made under an ASCII
    // name and moved to `utf8_path` (whose folder is created).
    std::string sector_firmware_at(const std::string &utf8_path) {
        machine("[[system]]\n" + clitest::sector_board("s1"));
        const std::string made = make_image("made-ZEN5191.rpd", "ZEN5191", 0x30000);
        fs::create_directories(fs::u8path(utf8_path).parent_path());
        fs::rename(fs::u8path(made), fs::u8path(utf8_path));
        return utf8_path;
    }
};

TEST_F(WindowsCli, FirmwarePathWithBlanksAndOtherScripts) {
    const std::string path =
        sector_firmware_at(work_.path() + u8"\\Прошивка для платы\\新しい firmware ZEN5191 größer.rpd");
    const auto result = run({"update", path});
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_TRUE(contains(result.out, "Update of 1 board successful\n")) << result.out;
    EXPECT_TRUE(contains(log(), "Firmware file = " + path + "\nFile size = 196608\n")) << log();
    EXPECT_TRUE(starts_with(flash("s1"), read_bytes(path)));
}

// Starts hold_file.exe on `file` and waits until it holds it.
class HeldFile {
public:
    HeldFile(const std::string &file, const std::string &marker) : marker_(marker) {
        std::wstring command = L"\"" + fs::u8path(testsupport::bin_path("hold_file.exe")).wstring() + L"\" \"" +
                               fs::u8path(file).wstring() + L"\" \"" + fs::u8path(marker).wstring() + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started{};
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &started))
            return;
        process_ = started.hProcess;
        CloseHandle(started.hThread);
        for (int waited_ms = 0; waited_ms < 30000 && !fs::exists(fs::u8path(marker)); waited_ms += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~HeldFile() {
        if (process_) {
            release();
            CloseHandle(process_);
        }
    }
    bool holding() const { return process_ && fs::exists(fs::u8path(marker_)); }
    // Lets the other program close the file and end; its exit code.
    DWORD release() {
        std::error_code ignored;
        fs::remove(fs::u8path(marker_), ignored);
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(process_, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(process_, &code);
        return code;
    }

private:
    std::string marker_;
    HANDLE process_ = nullptr;
};

TEST_F(WindowsCli, FirmwareFileHeldOpenByAnotherProgramForReading) {
    const std::string path = sector_firmware_at(work_.file("firmware ZEN5191.rpd"));
    HeldFile held(path, work_.file("held"));
    ASSERT_TRUE(held.holding());
    // The other program lets nobody write the file meanwhile.
    HANDLE writer = CreateFileW(fs::u8path(path).wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    const auto result = run({"update", path});
    EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_TRUE(starts_with(flash("s1"), read_bytes(path)));
    EXPECT_EQ(held.release(), 0u);
}

TEST_F(WindowsCli, RefusedVersionIsExitCodeMinusOneAsABatchFileSeesIt) {
    machine(clitest::library_toml("7.0.9", "7.4.0") + "[[system]]\n" + clitest::sector_board("s1"));
    const std::string image = make_image("fw-ZEN5191.rpd", "ZEN5191", 0x30000);
    const auto direct = run({"update", image});
    EXPECT_EQ(direct.system_exit_code, 0xFFFFFFFFul);
    EXPECT_EQ(direct.exit_code, 255);  // what an 8-bit exit status (Wine's, a POSIX shell's) shows
    EXPECT_TRUE(contains(direct.out, "Error: Your library and driver are too old to run\n")) << direct.out;

    const std::string script = work_.file("update.cmd");
    testsupport::write_text(script, "@echo off\r\n\"" + testsupport::bin_path("romwright-cli.exe") +
                                        "\" update --quiet \"" + image + "\" > nul\r\n"
                                        "echo errorlevel=%ERRORLEVEL%\r\n");
    const char *shell = std::getenv("ComSpec");
    testsupport::ProcessOptions options = machine_->process_options();
    options.working_directory = work_.path();
    const auto batch = testsupport::run_process(shell ? shell : "C:\\windows\\system32\\cmd.exe", {"/c", script}, options);
    EXPECT_TRUE(contains(batch.out, "errorlevel=-1\n")) << batch.out << batch.err;
}

TEST_F(WindowsCli, LogLinesEndInCarriageReturnLineFeed) {
    // A failed upgrade: its last text has no line break, the log adds one.
    machine("[[system]]\n" + clitest::upgrade_board("u1", 3, 40, 4));
    const auto result = run({"update", make_image("fw-ZEN5190.rpd", "ZEN5190", 0x30000)});
    ASSERT_EQ(result.exit_code, 1) << result.out;
    const std::vector<uint8_t> bytes = read_bytes(work_.file("romwright-cli.log"));
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.rfind("-------------------------------------\r\nKorvel Firmware Updater Version 3.5.3\r\n", 0), 0u)
        << text;
    EXPECT_EQ(foreign_line_ends(text), 0u) << text;
    const std::string tail = "Upgrade firmware failed\r\nUpgrade firmware failed\r\n";
    EXPECT_EQ(text.substr(text.size() - std::min(text.size(), tail.size())), tail) << text;
}

TEST_F(WindowsCli, ProgressBarRedrawsInPlaceOnTheConsole) {
    machine("[[system]]\n" + clitest::upgrade_board("u1", 2, 100, 20));
    const auto result = run({"update", make_image("fw-ZEN5190.rpd", "ZEN5190", 0x30000)});
    ASSERT_EQ(result.exit_code, 0) << result.out;
    const std::string &bytes = result.out_bytes;
    EXPECT_EQ(bytes.rfind("\rWriting board 0 of 1 [                              ]    0%\r", 0), 0u) << bytes;
    EXPECT_TRUE(contains(bytes, "\rWriting board 0 of 1 [==============================]  100%\r\n"
                                "Update of 1 board successful\r\n"))
        << bytes;
    EXPECT_EQ(bytes.find("\r\r"), std::string::npos);
}

// The programs alone in a folder: no Zenapi.dll beside them. The PATH is
// the system's own, without the build's bin folder.
class ProgramsAlone : public WindowsCli {
protected:
    void SetUp() override {
        WindowsCli::SetUp();
        machine("[[system]]\n" + clitest::sector_board("s1"));
        image_ = make_image("fw-ZEN5191.rpd", "ZEN5191", 0x30000);
        alone_ = work_.file("alone");
        fs::create_directories(alone_);
        for (const char *program : {"romwright-cli.exe", "romwright.exe"})
            fs::copy_file(fs::u8path(testsupport::bin_path(program)), fs::u8path(alone_) / program);
        options_ = machine_->process_options();
        options_.working_directory = work_.path();
        const char *system_path = std::getenv("PATH");
        options_.env["PATH"] = system_path ? system_path : "";
        options_.unset_env.push_back("ROMWRIGHT_ZENAPI_DLL");
    }

    testsupport::ProcessResult alone(const std::string &program, const std::vector<std::string> &args) {
        return testsupport::run_process(alone_ + "\\" + program, args, options_);
    }

    std::string bin_folder() const {
        return fs::u8path(testsupport::bin_path("romwright-cli.exe")).parent_path().u8string();
    }

    std::string image_, alone_;
    testsupport::ProcessOptions options_;
};

TEST_F(ProgramsAlone, WithoutZenapiDllSayWhatIsMissingAndExitMinusOne) {
    const auto cli = alone("romwright-cli.exe", {"update", image_});
    EXPECT_EQ(cli.system_exit_code, 0xFFFFFFFFul);
    EXPECT_TRUE(contains(cli.out, "Error: Zenapi.dll, Korvelon's device library, cannot be loaded: ")) << cli.out;
    EXPECT_TRUE(contains(cli.out, "run the program through romwright-sim")) << cli.out;
    EXPECT_FALSE(fs::exists(fs::u8path(machine_->flash_path("s1"))));  // no simulator ever ran

    const auto tool = alone("romwright.exe", {"list"});
    EXPECT_EQ(tool.system_exit_code, 0xFFFFFFFFul);
    EXPECT_EQ(tool.out, "");
    EXPECT_EQ(tool.err.rfind("romwright: Zenapi.dll, Korvelon's device library, cannot be loaded: ", 0), 0u) << tool.err;
}

TEST_F(ProgramsAlone, WithoutZenapiDllStillTellTheirVersionAndInspectFiles) {
    const auto version = alone("romwright-cli.exe", {"--version"});
    EXPECT_EQ(version.exit_code, 0) << version.out;
    EXPECT_TRUE(contains(version.out, "3.5.3")) << version.out;
    const std::string image = make_image("fw-ZEN5160.rpd", "ZEN5160", 0x80000);
    const auto inspected = alone("romwright.exe", {"inspect", image, "--board=ZEN5160"});
    EXPECT_EQ(inspected.exit_code, 0) << inspected.out << inspected.err;
    EXPECT_TRUE(contains(inspected.out, "ZEN5160: accepted")) << inspected.out;
}

TEST_F(ProgramsAlone, FindZenapiDllOnThePath) {
    options_.env["PATH"] = bin_folder() + ";" + options_.env["PATH"];
    const auto found = alone("romwright-cli.exe", {"update", image_});
    EXPECT_EQ(found.exit_code, 0) << found.out << found.err;
    EXPECT_TRUE(starts_with(flash("s1"), read_bytes(image_)));
}

// romwright-sim.cmd names the simulator's file this way.
TEST_F(ProgramsAlone, LoadTheZenapiDllTheEnvironmentNames) {
    options_.env["ROMWRIGHT_ZENAPI_DLL"] = bin_folder() + "\\Zenapi.dll";
    const auto updated = alone("romwright-cli.exe", {"update", image_});
    EXPECT_EQ(updated.exit_code, 0) << updated.out << updated.err;
    EXPECT_TRUE(starts_with(flash("s1"), read_bytes(image_)));
    EXPECT_TRUE(contains(log(), "Device library = " + bin_folder() + "\\Zenapi.dll (simulated: ")) << log();
    const auto listed = alone("romwright.exe", {"list"});
    EXPECT_EQ(listed.exit_code, 0) << listed.err;
}

TEST_F(ProgramsAlone, RefuseAZenapiDllTheEnvironmentNamesThatIsNotThere) {
    for (const std::string &named : {work_.file("nowhere\\Zenapi.dll"), bin_folder() + "\\romwright-cli.exe"}) {
        options_.env["ROMWRIGHT_ZENAPI_DLL"] = named;
        const auto refused = alone("romwright-cli.exe", {"update", image_});
        EXPECT_EQ(refused.system_exit_code, 0xFFFFFFFFul) << named;
        EXPECT_TRUE(contains(refused.out, "Error: The device library " + named +
                                              " that ROMWRIGHT_ZENAPI_DLL names cannot be loaded: "))
            << refused.out;
    }
    EXPECT_FALSE(fs::exists(fs::u8path(machine_->flash_path("s1"))));
}

} // namespace
