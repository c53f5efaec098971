#include "engine/platform/device_library.hpp"

namespace romwright::platform {

// The system's loader has loaded libZenapi.so before main, or the program
// did not start: LD_LIBRARY_PATH is how another library is chosen
// (romwright-sim does so).
const DeviceLibrary &load_device_library() {
    static const DeviceLibrary library{true, "libZenapi.so", "", ""};
    return library;
}

} // namespace romwright::platform
