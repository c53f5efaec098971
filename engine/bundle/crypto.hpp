// The hashes and the signature check bundles need, from libgcrypt: this is
// the only file that calls it. Each function makes sure the library is set
// up first (once per process; no secure memory, which only keeps secret keys
// out of the swap, and a verifier holds none).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace romwright::bundle {

using Sha256 = std::array<uint8_t, 32>;
using Blake2b512 = std::array<uint8_t, 64>;

Sha256 sha256(const uint8_t *bytes, std::size_t size);
Blake2b512 blake2b512(const uint8_t *bytes, std::size_t size);

// The longest message ed25519_verify takes: a hash, or a signature and its
// trusted comment, never a whole file (libgcrypt's S-expressions, through
// which the message goes, take short values only).
inline constexpr std::size_t kLongestSignedMessage = 16 * 1024;

// Whether signature (R then S, 64 bytes) is public_key's Ed25519 signature
// of message; false for a message longer than kLongestSignedMessage. Throws
// romwright::error (internal) only when the library itself fails, never for
// a signature that does not verify.
bool ed25519_verify(const std::array<uint8_t, 32> &public_key, const std::array<uint8_t, 64> &signature,
                    const uint8_t *message, std::size_t size);

// Lower-case hex digits of bytes.
std::string hex_text(const uint8_t *bytes, std::size_t size);

} // namespace romwright::bundle
