// A machine description that cannot be used. The text names the file, the
// line and the key: "<file>:<line>: <key>: <what is wrong>".
#pragma once

#include <stdexcept>
#include <string>

namespace zenapi_sim {

class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace zenapi_sim
