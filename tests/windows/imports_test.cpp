// What the programs ask the Windows loader for: Zenapi.dll by that name,
// delay-loaded (the program loads it when a command first needs it, so it
// starts and says what is missing when it is not there), only for the calls
// that zenapi/include/zenapi/Zenapi.h declares (so the maker's DLL can stand
// in), and otherwise only DLLs of the system itself, no MinGW runtime, so
// nothing else need stand beside the program.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
using Imports = std::map<std::string, std::set<std::string>>;  // DLL name -> function names

std::string lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Reads the import directory of a 64-bit PE file.
class PeFile {
public:
    explicit PeFile(const std::string &path) {
        std::ifstream in(fs::u8path(path), std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // What the loader loads before the program starts.
    Imports imports() const {
        Imports found;
        const DWORD directory = headers().OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
        for (std::size_t at_rva = directory; directory != 0; at_rva += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            const auto &entry = at<IMAGE_IMPORT_DESCRIPTOR>(offset(static_cast<DWORD>(at_rva)));
            if (entry.Name == 0) break;
            names(entry.OriginalFirstThunk ? entry.OriginalFirstThunk : entry.FirstThunk, found[text(entry.Name)]);
        }
        return found;
    }

    // What the program's delay-load helper loads when a call is first made.
    // GNU ld leaves the header's delay-import directory empty: the
    // descriptors are then found by what they hold, attributes 1 (RVAs) and
    // the RVAs of a DLL's name and of its tables, all inside the image.
    Imports delay_imports() const {
        Imports found;
        const IMAGE_NT_HEADERS64 &nt = headers();
        const DWORD directory = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].VirtualAddress;
        if (directory != 0) {
            for (std::size_t at_rva = directory;; at_rva += sizeof(IMAGE_DELAYLOAD_DESCRIPTOR)) {
                const auto &entry = at<IMAGE_DELAYLOAD_DESCRIPTOR>(offset(static_cast<DWORD>(at_rva)));
                if (entry.DllNameRVA == 0) break;
                names(entry.ImportNameTableRVA, found[text(entry.DllNameRVA)]);
            }
            return found;
        }
        for (std::size_t i = 0; i < section_count_; ++i) {
            const IMAGE_SECTION_HEADER &section = sections_[i];
            for (std::size_t at_offset = section.PointerToRawData;
                 at_offset + sizeof(IMAGE_DELAYLOAD_DESCRIPTOR) <= section.PointerToRawData + section.SizeOfRawData;
                 at_offset += sizeof(DWORD)) {
                const auto &entry = at<IMAGE_DELAYLOAD_DESCRIPTOR>(at_offset);
                if (entry.Attributes.AllAttributes != 1 || !mapped(entry.DllNameRVA) || !mapped(entry.ModuleHandleRVA) ||
                    !mapped(entry.ImportAddressTableRVA) || !mapped(entry.ImportNameTableRVA))
                    continue;
                const std::string dll = text(entry.DllNameRVA);
                if (dll.size() < 5 || lower(dll.substr(dll.size() - 4)) != ".dll") continue;
                names(entry.ImportNameTableRVA, found[dll]);
            }
        }
        return found;
    }

private:
    const IMAGE_NT_HEADERS64 &headers() const {
        const auto &dos = at<IMAGE_DOS_HEADER>(0);
        const auto &nt = at<IMAGE_NT_HEADERS64>(static_cast<std::size_t>(dos.e_lfanew));
        if (nt.Signature != IMAGE_NT_SIGNATURE || nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
            throw std::runtime_error("not a 64-bit PE file");
        sections_ = reinterpret_cast<const IMAGE_SECTION_HEADER *>(reinterpret_cast<const char *>(&nt.OptionalHeader) +
                                                                    nt.FileHeader.SizeOfOptionalHeader);
        section_count_ = nt.FileHeader.NumberOfSections;
        return nt;
    }

    // The names (or ordinals) of a table of import thunks.
    void names(DWORD thunks, std::set<std::string> &functions) const {
        for (DWORD thunk = thunks;; thunk += sizeof(ULONGLONG)) {
            const ULONGLONG value = at<ULONGLONG>(offset(thunk));
            if (value == 0) break;
            if (value & IMAGE_ORDINAL_FLAG64) {
                functions.insert("#" + std::to_string(value & 0xFFFF));
            } else {
                functions.insert(text(static_cast<DWORD>(value) + sizeof(WORD)));  // after the hint
            }
        }
    }

    template <typename T> const T &at(std::size_t file_offset) const {
        if (file_offset + sizeof(T) > bytes_.size()) throw std::runtime_error("PE file cut short");
        return *reinterpret_cast<const T *>(bytes_.data() + file_offset);
    }
    bool mapped(DWORD rva) const {
        for (std::size_t i = 0; i < section_count_; ++i)
            if (rva >= sections_[i].VirtualAddress && rva < sections_[i].VirtualAddress + sections_[i].SizeOfRawData)
                return true;
        return false;
    }
    std::size_t offset(DWORD rva) const {
        for (std::size_t i = 0; i < section_count_; ++i) {
            const IMAGE_SECTION_HEADER &section = sections_[i];
            if (rva >= section.VirtualAddress && rva < section.VirtualAddress + section.SizeOfRawData)
                return rva - section.VirtualAddress + section.PointerToRawData;
        }
        throw std::runtime_error("address outside every section");
    }
    std::string text(DWORD rva) const { return std::string(bytes_.data() + offset(rva)); }

    std::vector<char> bytes_;
    mutable const IMAGE_SECTION_HEADER *sections_ = nullptr;
    mutable std::size_t section_count_ = 0;
};

// The calls zenapi/include/zenapi/Zenapi.h declares.
std::set<std::string> declared_calls() {
    const std::string header = testsupport::read_text(testsupport::source_dir() + "/zenapi/include/zenapi/Zenapi.h");
    const std::regex declaration(R"(ZENAPI_EXPORT [^;(]*?\b(\w+)\()");
    std::set<std::string> names;
    for (std::sregex_iterator it(header.begin(), header.end(), declaration), end; it != end; ++it)
        names.insert((*it)[1]);
    return names;
}

bool in_system_folder(const std::string &dll) {
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return fs::exists(fs::path(folder) / fs::u8path(dll));
}

struct Program {
    const char *name;
    const char *file;
};

void PrintTo(const Program &program, std::ostream *out) { *out << program.file; }

class ProgramImports : public ::testing::TestWithParam<Program> {};

TEST_P(ProgramImports, ZenapiDllDelayLoadedForTheDeclaredCallsAndOtherwiseOnlyTheSystem) {
    const PeFile program(testsupport::bin_path(GetParam().file));
    const Imports imports = program.imports();
    const Imports delayed = program.delay_imports();
    const std::set<std::string> declared = declared_calls();
    ASSERT_GE(declared.size(), 20u);  // the header was read

    EXPECT_EQ(imports.count("Zenapi.dll"), 0u) << "the program would not start without Zenapi.dll";
    ASSERT_EQ(delayed.size(), 1u);
    ASSERT_EQ(delayed.count("Zenapi.dll"), 1u);
    const std::set<std::string> &from_zenapi = delayed.at("Zenapi.dll");
    for (const std::string &call : from_zenapi) EXPECT_EQ(declared.count(call), 1u) << call << " is not declared";
    EXPECT_EQ(from_zenapi.count("KorvelGetSDKVersion"), 1u);
    EXPECT_EQ(from_zenapi.count("KorvelFlashSectorWrite"), 1u);
    EXPECT_EQ(from_zenapi.count("ZEN5110PageWriteToFlash"), 1u);

    for (const auto &[dll, functions] : imports) {
        EXPECT_TRUE(in_system_folder(dll)) << dll << " is not a DLL of the system";
        EXPECT_EQ(lower(dll).rfind("lib", 0), std::string::npos) << dll << ": a MinGW runtime DLL";
    }
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramImports,
                         ::testing::Values(Program{"RomwrightCli", "romwright-cli.exe"},
                                           Program{"Romwright", "romwright.exe"}),
                         [](const ::testing::TestParamInfo<Program> &info) { return std::string(info.param.name); });

TEST(MkimageImports, OnlyTheSystem) {
    const PeFile program(testsupport::bin_path("romwright-mkimage.exe"));
    EXPECT_TRUE(program.delay_imports().empty());
    for (const auto &[dll, functions] : program.imports())
        EXPECT_TRUE(in_system_folder(dll)) << dll << " is not a DLL of the system";
}

} // namespace
