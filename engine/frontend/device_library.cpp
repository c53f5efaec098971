#include <romwright/frontend/device_library.hpp>

#include <fmt/format.h>

#include "engine/platform/device_library.hpp"

namespace romwright::frontend {

std::optional<std::string> device_library_missing() {
    const platform::DeviceLibrary &library = platform::load_device_library();
    if (library.loaded) return std::nullopt;
    if (!library.named_by.empty())
        return fmt::format("The device library {} that {} names cannot be loaded: {}", library.file, library.named_by,
                           library.reason);
    return fmt::format("{}, Korvelon's device library, cannot be loaded: {}. Install Korvelon's Zenapi driver "
                       "package, which brings it, or run the program through romwright-sim to use the simulated "
                       "boards",
                       library.file, library.reason);
}

} // namespace romwright::frontend
