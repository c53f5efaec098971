// One JSON document read strictly, for the files romwright reads back (bundle
// manifests, backup descriptions): nlohmann's parser keeps the last of two
// equal keys without a word, so the keys of every object are counted on the
// way and the first one seen twice is named. Each caller words its refusals.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace romwright {

struct StrictJson {
    nlohmann::json document;
    std::string not_json;  // why the text is not one JSON document (the parser's words, without its tag)
    std::string twice;     // the first key an object holds twice
};

StrictJson parse_json_strictly(const std::string &text);

} // namespace romwright
