#include "engine/platform/device_library.hpp"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cwctype>
#include <filesystem>

#include "engine/platform/places.hpp"
#include "engine/platform/windows_text.hpp"

namespace romwright::platform {
namespace {

// The name the programs' delay-loaded calls are bound to (the import
// library is made for it: zenapi/CMakeLists.txt).
constexpr const wchar_t *kLibraryName = L"Zenapi.dll";
constexpr const char *kNamingVariable = "ROMWRIGHT_ZENAPI_DLL";

// The system's text for an error code, without its final line break, and the code.
std::string system_message(DWORD code) {
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::wstring message(text ? text : L"", length);
    if (text) LocalFree(text);
    while (!message.empty() && (std::iswspace(message.back()) || message.back() == L'.')) message.pop_back();
    if (message.empty()) message = L"system error";
    return windows_text::narrow(message) + " (error " + std::to_string(code) + ")";
}

bool same_name(const std::wstring &a, const std::wstring &b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

DeviceLibrary load() {
    DeviceLibrary library;
    library.file = windows_text::narrow(kLibraryName);
    // Linked at load time (the test programs), or loaded already.
    if (GetModuleHandleW(kLibraryName)) {
        library.loaded = true;
        return library;
    }
    HMODULE module = nullptr;
    if (const auto named = environment_value(kNamingVariable)) {
        library.file = *named;
        library.named_by = kNamingVariable;
        const std::filesystem::path path(windows_text::widen(*named));
        if (!same_name(path.filename().wstring(), kLibraryName)) {
            library.reason = "its file name is not Zenapi.dll";
            return library;
        }
        // Its own dependencies are looked for in its folder first.
        module = LoadLibraryExW(path.wstring().c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    } else {
        // Where Windows finds a DLL: beside the program, in the system's
        // folders (where the maker's installer puts it), then on the PATH.
        module = LoadLibraryW(kLibraryName);
    }
    if (!module) {
        library.reason = system_message(GetLastError());
        return library;
    }
    // The first call of each function binds it: the delay-load helper asks
    // the loader for Zenapi.dll by name and is given this module, whichever
    // folder it came from. The module stays loaded until the program ends.
    library.loaded = true;
    return library;
}

} // namespace

const DeviceLibrary &load_device_library() {
    static const DeviceLibrary library = load();
    return library;
}

} // namespace romwright::platform
