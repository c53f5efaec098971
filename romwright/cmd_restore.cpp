#include "commands.hpp"

namespace romwright::tool {

int run_restore(const Arguments &) {
    complain("restore is not available yet");
    return kExitFailure;
}

} // namespace romwright::tool
