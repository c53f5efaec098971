// Minisign's public key and signature files, parsed strictly, and the check
// of a signature: the Ed25519 signature of the file's BLAKE2b-512 hash (a
// pre-hashed signature, minisign's default), then the global signature over
// that signature and the trusted comment, so neither can be changed alone.
// A legacy signature of the whole file (minisign -l) is read but not taken:
// libgcrypt verifies Ed25519 only over short messages, and a bundle is
// megabytes.
//
// A public key file: an "untrusted comment: " line, then base64 of "Ed", the
// 8-byte key id and the 32-byte Ed25519 public key.
// A signature file: an "untrusted comment: " line; base64 of "Ed" (the file
// itself signed) or "ED" (its BLAKE2b-512 hash signed), the key id and the
// 64-byte signature; a "trusted comment: " line; base64 of the 64-byte global
// signature. Lines end in LF or CR LF.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace romwright::bundle {

using KeyId = std::array<uint8_t, 8>;

// The most a signature or key file holds: four lines of at most about a
// kilobyte each.
inline constexpr std::size_t kLargestMinisignFile = 8 * 1024;

struct MinisignKey {
    KeyId key_id{};
    std::array<uint8_t, 32> public_key{};
};

struct MinisignSignature {
    bool prehashed = false;  // "ED": the BLAKE2b-512 hash of the file was signed
    KeyId key_id{};
    std::array<uint8_t, 64> signature{};
    std::string trusted_comment;  // without "trusted comment: "
    std::array<uint8_t, 64> global_signature{};
};

// Throw romwright::error (a file) "<what> is not a minisign ...: <why>".
MinisignKey parse_minisign_key(const std::string &text, const std::string &what);
MinisignSignature parse_minisign_signature(const std::string &text, const std::string &what);

enum class SignatureCheck {
    valid,
    whole_file,        // a legacy signature of the whole file ("Ed"), which is not taken
    file_differs,      // the signature is not the key's signature of these bytes
    comment_differs,   // the global signature does not cover this signature and trusted comment
};
// The key ids must already agree (the caller picked the key by its id).
SignatureCheck check_signature(const MinisignSignature &signature, const MinisignKey &key, const uint8_t *bytes,
                               std::size_t size);

// The key id as minisign shows it: the id read as a little-endian number,
// in upper-case hex digits without leading zeros ("F61B03B7DC8B968").
std::string key_id_text(const KeyId &id);

// Strict base64 (RFC 4648, with padding): nothing when text is not that.
bool base64_decode(const std::string &text, std::string &out);

} // namespace romwright::bundle
