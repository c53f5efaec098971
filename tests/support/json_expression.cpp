#include "tests/support/json_expression.hpp"

#include <cctype>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

namespace testsupport {
namespace {

// Objects keep the document's order of keys, as Python's dicts do.
using Value = nlohmann::ordered_json;

enum class TokenKind { name, number, text, symbol, end };

struct Token {
    TokenKind kind;
    std::string text;       // the name, the symbol, or a string literal's value
    std::size_t at = 0;     // offset in the expression
};

std::vector<Token> tokens_of(const std::string &expression) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    const auto fail = [&](const std::string &what) {
        throw std::invalid_argument(fmt::format("{} at offset {} of: {}", what, i, expression));
    };
    while (i < expression.size()) {
        const char c = expression[i];
        const std::size_t start = i;
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            while (i < expression.size() && (std::isalnum(static_cast<unsigned char>(expression[i])) || expression[i] == '_'))
                ++i;
            tokens.push_back({TokenKind::name, expression.substr(start, i - start), start});
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            while (i < expression.size() && std::isdigit(static_cast<unsigned char>(expression[i]))) ++i;
            tokens.push_back({TokenKind::number, expression.substr(start, i - start), start});
        } else if (c == '\'' || c == '"') {
            std::string value;
            for (++i; i < expression.size() && expression[i] != c; ++i) {
                if (expression[i] == '\\') {
                    if (++i == expression.size()) break;
                    const char escaped = expression[i];
                    value.push_back(escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped);
                } else {
                    value.push_back(expression[i]);
                }
            }
            if (i == expression.size()) fail("a string without its closing quote");
            ++i;
            tokens.push_back({TokenKind::text, value, start});
        } else {
            static const char *const kSymbols[] = {"==", "!=", "<=", ">=", "<", ">", "[", "]", "(", ")", ",", "+", "-"};
            bool found = false;
            for (const char *symbol : kSymbols) {
                const std::string_view text(symbol);
                if (expression.compare(i, text.size(), text) == 0) {
                    tokens.push_back({TokenKind::symbol, std::string(text), start});
                    i += text.size();
                    found = true;
                    break;
                }
            }
            if (!found) fail(fmt::format("'{}' is not understood", c));
        }
    }
    tokens.push_back({TokenKind::end, "", expression.size()});
    return tokens;
}

bool is_number(const Value &value) { return value.is_number() && !value.is_boolean(); }

// A recursive-descent evaluator over the tokens. A comprehension's element is
// read once without being evaluated (evaluating_ false), to find the `for`
// after it, and then evaluated once per item from its first token again.
class Evaluator {
public:
    Evaluator(const std::string &expression, Value document) : expression_(expression), tokens_(tokens_of(expression)) {
        names_["d"] = std::move(document);
    }

    Value whole() {
        Value value = comparison();
        if (peek().kind != TokenKind::end) fail("unexpected text");
        return value;
    }

private:
    const Token &peek() const { return tokens_[position_]; }
    bool next_is(const char *symbol) const { return peek().kind == TokenKind::symbol && peek().text == symbol; }
    bool next_is_name(const char *name) const { return peek().kind == TokenKind::name && peek().text == name; }
    void expect(const char *symbol) {
        if (!next_is(symbol)) fail(fmt::format("'{}' expected", symbol));
        ++position_;
    }
    [[noreturn]] void fail(const std::string &what) const {
        throw std::invalid_argument(fmt::format("{} at offset {} of: {}", what, peek().at, expression_));
    }

    Value comparison() {
        Value left = sum();
        Value result = true;
        bool compared = false;
        for (;;) {
            static const char *const kComparisons[] = {"==", "!=", "<=", ">=", "<", ">"};
            const char *op = nullptr;
            for (const char *candidate : kComparisons)
                if (next_is(candidate)) op = candidate;
            if (!op) break;
            ++position_;
            Value right = sum();
            if (evaluating_ && result.get<bool>()) result = compare(op, left, right);
            left = std::move(right);
            compared = true;
        }
        return compared ? result : left;
    }

    bool compare(const std::string &op, const Value &a, const Value &b) const {
        if (op == "==") return a == b;
        if (op == "!=") return a != b;
        const bool comparable = (is_number(a) && is_number(b)) || (a.is_string() && b.is_string());
        if (!comparable) fail("only numbers or texts can be ordered");
        if (op == "<") return a < b;
        if (op == "<=") return a <= b;
        if (op == ">") return a > b;
        return a >= b;
    }

    Value sum() {
        Value value = postfix();
        while (next_is("+") || next_is("-")) {
            const bool plus = next_is("+");
            ++position_;
            Value right = postfix();
            if (!evaluating_) continue;
            if (is_number(value) && is_number(right)) {
                if (value.is_number_float() || right.is_number_float()) {
                    value = plus ? value.get<double>() + right.get<double>() : value.get<double>() - right.get<double>();
                } else {
                    const int64_t a = value.get<int64_t>(), b = right.get<int64_t>();
                    value = plus ? a + b : a - b;
                }
            } else if (plus && value.is_string() && right.is_string()) {
                value = value.get<std::string>() + right.get<std::string>();
            } else if (plus && value.is_array() && right.is_array()) {
                for (const Value &item : right) value.push_back(item);
            } else {
                fail("operands that cannot be added or subtracted");
            }
        }
        return value;
    }

    Value postfix() {
        Value value = atom();
        while (next_is("[")) {
            ++position_;
            Value key = comparison();
            expect("]");
            if (evaluating_) value = subscript(value, key);
        }
        return value;
    }

    Value subscript(const Value &value, const Value &key) const {
        if (value.is_object() && key.is_string()) {
            const auto found = value.find(key.get<std::string>());
            if (found == value.end()) fail(fmt::format("no key '{}'", key.get<std::string>()));
            return *found;
        }
        if ((value.is_array() || value.is_string()) && key.is_number_integer()) {
            const auto size = static_cast<int64_t>(value.is_array() ? value.size() : value.get<std::string>().size());
            int64_t index = key.get<int64_t>();
            if (index < 0) index += size;
            if (index < 0 || index >= size) fail("index out of range");
            if (value.is_array()) return value[static_cast<std::size_t>(index)];
            return std::string(1, value.get<std::string>()[static_cast<std::size_t>(index)]);
        }
        fail("a subscript that does not fit its value");
    }

    Value atom() {
        const Token token = peek();
        ++position_;
        switch (token.kind) {
        case TokenKind::number:
            return static_cast<int64_t>(std::stoll(token.text));
        case TokenKind::text:
            return token.text;
        case TokenKind::name:
            if (token.text == "True") return true;
            if (token.text == "False") return false;
            if (token.text == "None") return nullptr;
            if (!evaluating_) return nullptr;
            if (const auto found = names_.find(token.text); found != names_.end()) return found->second;
            --position_;
            fail(fmt::format("'{}' is not defined", token.text));
        case TokenKind::symbol:
            if (token.text == "-") {
                Value value = atom();
                if (!evaluating_) return nullptr;
                if (!is_number(value)) fail("'-' before what is not a number");
                return value.is_number_float() ? Value(-value.get<double>()) : Value(-value.get<int64_t>());
            }
            if (token.text == "(") return items(")");
            if (token.text == "[") return list();
            break;
        case TokenKind::end:
            break;
        }
        --position_;
        fail("a value expected");
    }

    // Comma-separated items up to `close`, a trailing comma allowed.
    Value items(const char *close) {
        Value array = Value::array();
        while (!next_is(close)) {
            Value item = comparison();
            if (evaluating_) array.push_back(std::move(item));
            if (!next_is(",")) break;
            ++position_;
        }
        expect(close);
        return array;
    }

    Value list() {
        const std::size_t first = position_;
        if (next_is("]")) {
            ++position_;
            return Value::array();
        }
        // The first item read without its value: a `for` after it makes
        // the list a comprehension.
        const bool was_evaluating = evaluating_;
        evaluating_ = false;
        comparison();
        evaluating_ = was_evaluating;
        if (!next_is_name("for")) {
            position_ = first;
            return items("]");
        }
        ++position_;
        if (peek().kind != TokenKind::name) fail("a name expected after 'for'");
        const std::string variable = peek().text;
        ++position_;
        if (!next_is_name("in")) fail("'in' expected");
        ++position_;
        Value iterable = comparison();
        expect("]");
        if (!evaluating_) return nullptr;
        if (!iterable.is_array()) fail("a comprehension over what is not a list");
        const std::size_t after = position_;
        const auto shadowed = names_.find(variable);
        const std::optional<Value> saved =
            shadowed == names_.end() ? std::nullopt : std::optional<Value>(shadowed->second);
        Value result = Value::array();
        for (const Value &item : iterable) {
            names_[variable] = item;
            position_ = first;
            result.push_back(comparison());
        }
        if (saved) {
            names_[variable] = *saved;
        } else {
            names_.erase(variable);
        }
        position_ = after;
        return result;
    }

    const std::string &expression_;
    std::vector<Token> tokens_;
    std::size_t position_ = 0;
    bool evaluating_ = true;
    std::map<std::string, Value> names_;
};

// Code points of a UTF-8 text (bytes that are not UTF-8 stand for themselves).
std::vector<uint32_t> code_points(const std::string &utf8) {
    std::vector<uint32_t> points;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        const std::size_t length = byte < 0x80 ? 1 : (byte >> 5) == 0x6 ? 2 : (byte >> 4) == 0xE ? 3 : (byte >> 3) == 0x1E ? 4 : 1;
        uint32_t point = length == 1 ? byte : byte & (0x7Fu >> length);
        bool whole = i + length <= utf8.size();
        for (std::size_t k = 1; whole && k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            whole = (next >> 6) == 0x2;
            point = (point << 6) | (next & 0x3Fu);
        }
        if (!whole) {
            points.push_back(byte);
            ++i;
            continue;
        }
        points.push_back(point);
        i += length;
    }
    return points;
}

void dump(const Value &value, std::string &out) {
    switch (value.type()) {
    case Value::value_t::array: {
        out += '[';
        bool first = true;
        for (const Value &item : value) {
            if (!first) out += ", ";
            first = false;
            dump(item, out);
        }
        out += ']';
        return;
    }
    case Value::value_t::object: {
        out += '{';
        bool first = true;
        for (const auto &[key, item] : value.items()) {
            if (!first) out += ", ";
            first = false;
            out += json_dumps_text(key);
            out += ": ";
            dump(item, out);
        }
        out += '}';
        return;
    }
    case Value::value_t::string:
        out += json_dumps_text(value.get<std::string>());
        return;
    default:
        // null, true, false and numbers as JSON writes them; a float keeps
        // its shortest exact form, as Python's repr does.
        out += value.dump();
        return;
    }
}

} // namespace

std::string json_dumps_text(const std::string &utf8) {
    std::string out = "\"";
    for (const uint32_t point : code_points(utf8)) {
        switch (point) {
        case '"': out += "\\\""; continue;
        case '\\': out += "\\\\"; continue;
        case '\n': out += "\\n"; continue;
        case '\r': out += "\\r"; continue;
        case '\t': out += "\\t"; continue;
        case '\b': out += "\\b"; continue;
        case '\f': out += "\\f"; continue;
        default: break;
        }
        if (point >= 0x20 && point < 0x7F) {
            out += static_cast<char>(point);
        } else if (point < 0x10000) {
            out += fmt::format("\\u{:04x}", point);
        } else {
            const uint32_t above = point - 0x10000;
            out += fmt::format("\\u{:04x}\\u{:04x}", 0xD800 + (above >> 10), 0xDC00 + (above & 0x3FF));
        }
    }
    return out + "\"";
}

namespace {

Value evaluated(const std::string &document, const std::string &expression) {
    Value parsed;
    try {
        parsed = Value::parse(document);
    } catch (const nlohmann::json::exception &error) {
        throw std::invalid_argument(std::string("not one JSON document: ") + error.what());
    }
    return Evaluator(expression, std::move(parsed)).whole();
}

} // namespace

std::string json_expression(const std::string &document, const std::string &expression) {
    std::string out;
    dump(evaluated(document, expression), out);
    return out;
}

std::vector<std::map<std::string, std::string>> json_expression_objects(const std::string &document,
                                                                       const std::string &expression) {
    const Value list = evaluated(document, expression);
    if (!list.is_array()) throw std::invalid_argument(expression + " is not a list");
    std::vector<std::map<std::string, std::string>> objects;
    for (const Value &item : list) {
        if (!item.is_object()) throw std::invalid_argument(expression + " holds what is not an object");
        std::map<std::string, std::string> &fields = objects.emplace_back();
        for (const auto &[key, value] : item.items()) dump(value, fields[key]);
    }
    return objects;
}

} // namespace testsupport
