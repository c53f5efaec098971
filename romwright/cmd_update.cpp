#include "commands.hpp"

namespace romwright::tool {

int run_update(const Arguments &) {
    complain("update is not available yet");
    return kExitFailure;
}

} // namespace romwright::tool
