#include "commands.hpp"

namespace romwright::tool {

int run_verify(const Arguments &) {
    complain("verify is not available yet");
    return kExitFailure;
}

} // namespace romwright::tool
