#include <romwright/strict_json.hpp>

#include <set>
#include <vector>

namespace romwright {

StrictJson parse_json_strictly(const std::string &text) {
    using json = nlohmann::json;
    StrictJson parsed;
    std::vector<std::set<std::string>> open;  // the keys of each object being read, innermost last
    const json::parser_callback_t count_keys = [&open, &parsed](int, json::parse_event_t event, json &value) {
        if (event == json::parse_event_t::object_start) open.emplace_back();
        if (event == json::parse_event_t::object_end && !open.empty()) open.pop_back();
        if (event == json::parse_event_t::key && !open.empty() && !open.back().insert(value.get<std::string>()).second &&
            parsed.twice.empty())
            parsed.twice = value.get<std::string>();
        return true;
    };
    try {
        parsed.document = json::parse(text, count_keys);
    } catch (const json::exception &failure) {
        std::string why = failure.what();
        const std::size_t tag_end = why.find("] ");
        if (why.rfind("[json.exception.", 0) == 0 && tag_end != std::string::npos) why = why.substr(tag_end + 2);
        parsed.not_json = why;
        parsed.twice.clear();
    }
    return parsed;
}

} // namespace romwright
