#include <romwright/error.hpp>

namespace romwright {

const char *kind_name(error_kind kind) noexcept {
    switch (kind) {
    case error_kind::device_call: return "device call";
    case error_kind::timeout: return "time-out";
    case error_kind::verification: return "verification";
    case error_kind::image: return "image";
    case error_kind::file: return "file";
    case error_kind::usage: return "usage";
    case error_kind::board: return "board";
    case error_kind::stopped: return "stopped";
    case error_kind::entry: return "entry";
    case error_kind::internal: return "internal";
    }
    return "?";
}

} // namespace romwright
