#include "commands.hpp"

namespace romwright::tool {

int run_read(const Arguments &) {
    complain("read is not available yet");
    return kExitFailure;
}

} // namespace romwright::tool
