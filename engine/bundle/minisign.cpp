#include "engine/bundle/minisign.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include <fmt/format.h>

#include <romwright/error.hpp>

#include "engine/bundle/crypto.hpp"

namespace romwright::bundle {
namespace {

constexpr const char *kUntrusted = "untrusted comment: ";
constexpr const char *kTrusted = "trusted comment: ";
constexpr std::size_t kKeyBytes = 2 + 8 + 32;
constexpr std::size_t kSignatureBytes = 2 + 8 + 64;

romwright::error refusal(const std::string &what, const char *kind, const std::string &why) {
    return romwright::error(error_kind::file, fmt::format("{} is not a minisign {}: {}", what, kind, why));
}

// The lines of text, each without its LF or CR LF; the last line may lack
// its LF. A CR anywhere else, or a NUL, makes it no such file.
bool split_lines(const std::string &text, std::vector<std::string> &lines) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(begin, end - begin);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\r') != std::string::npos || line.find('\0') != std::string::npos) return false;
        lines.push_back(line);
        begin = end + 1;
    }
    return true;
}

std::vector<std::string> lines_of(const std::string &text, std::size_t count, const std::string &what,
                                  const char *kind) {
    if (text.size() > kLargestMinisignFile)
        throw refusal(what, kind, fmt::format("it holds {} bytes; one holds at most {}", text.size(),
                                              kLargestMinisignFile));
    std::vector<std::string> lines;
    if (!split_lines(text, lines)) throw refusal(what, kind, "it holds a stray carriage return or a NUL byte");
    if (lines.size() != count)
        throw refusal(what, kind, fmt::format("it has {} lines, not {}", lines.size(), count));
    if (lines[0].rfind(kUntrusted, 0) != 0)
        throw refusal(what, kind, fmt::format("its first line does not begin with \"{}\"", kUntrusted));
    return lines;
}

std::string decoded(const std::string &line, std::size_t bytes, const std::string &what, const char *kind,
                    const char *which) {
    std::string out;
    if (!base64_decode(line, out)) throw refusal(what, kind, fmt::format("its {} is not base64", which));
    if (out.size() != bytes)
        throw refusal(what, kind, fmt::format("its {} holds {} bytes, not {}", which, out.size(), bytes));
    return out;
}

template <std::size_t N> void take(std::array<uint8_t, N> &to, const std::string &from, std::size_t offset) {
    std::memcpy(to.data(), from.data() + offset, N);
}

int digit_of(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

} // namespace

bool base64_decode(const std::string &text, std::string &out) {
    out.clear();
    if (text.empty() || text.size() % 4 != 0) return false;
    std::size_t padding = 0;
    while (padding < 2 && text[text.size() - 1 - padding] == '=') ++padding;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        uint32_t group = 0;
        const bool last = i + 4 == text.size();
        for (std::size_t j = 0; j < 4; ++j) {
            const char c = text[i + j];
            int value = digit_of(c);
            if (c == '=' && last && j >= 4 - padding) value = 0;
            if (value < 0) return false;
            group = group << 6 | static_cast<uint32_t>(value);
        }
        out += static_cast<char>(group >> 16);
        if (!last || padding < 2) out += static_cast<char>(group >> 8 & 0xFF);
        if (!last || padding < 1) out += static_cast<char>(group & 0xFF);
        // The bits the padding leaves over must be zero, so each text has one meaning.
        if (last && padding == 2 && (group & 0xFFFF) != 0) return false;
        if (last && padding == 1 && (group & 0xFF) != 0) return false;
    }
    return true;
}

MinisignKey parse_minisign_key(const std::string &text, const std::string &what) {
    const char *kind = "public key";
    const std::vector<std::string> lines = lines_of(text, 2, what, kind);
    const std::string bytes = decoded(lines[1], kKeyBytes, what, kind, "key line");
    if (bytes.compare(0, 2, "Ed") != 0)
        throw refusal(what, kind, "its algorithm is not Ed25519 (\"Ed\")");
    MinisignKey key;
    take(key.key_id, bytes, 2);
    take(key.public_key, bytes, 10);
    return key;
}

MinisignSignature parse_minisign_signature(const std::string &text, const std::string &what) {
    const char *kind = "signature";
    const std::vector<std::string> lines = lines_of(text, 4, what, kind);
    const std::string bytes = decoded(lines[1], kSignatureBytes, what, kind, "signature line");
    MinisignSignature signature;
    if (bytes.compare(0, 2, "ED") == 0)
        signature.prehashed = true;
    else if (bytes.compare(0, 2, "Ed") != 0)
        throw refusal(what, kind, "its algorithm is neither Ed25519 (\"Ed\") nor Ed25519 over BLAKE2b-512 (\"ED\")");
    take(signature.key_id, bytes, 2);
    take(signature.signature, bytes, 10);
    if (lines[2].rfind(kTrusted, 0) != 0)
        throw refusal(what, kind, fmt::format("its third line does not begin with \"{}\"", kTrusted));
    signature.trusted_comment = lines[2].substr(std::strlen(kTrusted));
    take(signature.global_signature, decoded(lines[3], 64, what, kind, "global signature line"), 0);
    return signature;
}

SignatureCheck check_signature(const MinisignSignature &signature, const MinisignKey &key, const uint8_t *bytes,
                               std::size_t size) {
    if (!signature.prehashed) return SignatureCheck::whole_file;
    const Blake2b512 hash = blake2b512(bytes, size);
    if (!ed25519_verify(key.public_key, signature.signature, hash.data(), hash.size()))
        return SignatureCheck::file_differs;
    std::vector<uint8_t> global(signature.signature.begin(), signature.signature.end());
    global.insert(global.end(), signature.trusted_comment.begin(), signature.trusted_comment.end());
    if (!ed25519_verify(key.public_key, signature.global_signature, global.data(), global.size()))
        return SignatureCheck::comment_differs;
    return SignatureCheck::valid;
}

std::string key_id_text(const KeyId &id) {
    uint64_t number = 0;
    for (std::size_t i = id.size(); i-- > 0;) number = number << 8 | id[i];
    return fmt::format("{:X}", number);
}

} // namespace romwright::bundle
