#include "engine/bundle/crypto.hpp"

#include <fmt/format.h>
#include <gcrypt.h>

#include <romwright/error.hpp>

namespace romwright::bundle {
namespace {

// The version this program was built with, or a newer one, set up once.
void ready() {
    static const bool set_up = [] {
        if (!gcry_check_version(GCRYPT_VERSION))
            throw romwright::error(error_kind::internal,
                                   fmt::format("libgcrypt {} or later is needed, the system has {}", GCRYPT_VERSION,
                                               gcry_check_version(nullptr)));
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)set_up;
}

// Frees an S-expression when it goes.
struct Sexp {
    gcry_sexp_t value = nullptr;
    ~Sexp() { gcry_sexp_release(value); }
};

romwright::error library_failure(const char *step, gcry_error_t code) {
    return romwright::error(error_kind::internal, fmt::format("libgcrypt could not {}: {}", step, gcry_strerror(code)));
}

template <std::size_t N> std::array<uint8_t, N> digest(int algorithm, const uint8_t *bytes, std::size_t size) {
    ready();
    std::array<uint8_t, N> out{};
    gcry_md_hash_buffer(algorithm, out.data(), bytes, size);
    return out;
}

} // namespace

Sha256 sha256(const uint8_t *bytes, std::size_t size) { return digest<32>(GCRY_MD_SHA256, bytes, size); }

Blake2b512 blake2b512(const uint8_t *bytes, std::size_t size) { return digest<64>(GCRY_MD_BLAKE2B_512, bytes, size); }

bool ed25519_verify(const std::array<uint8_t, 32> &public_key, const std::array<uint8_t, 64> &signature,
                    const uint8_t *message, std::size_t size) {
    ready();
    Sexp key, sig, data;
    gcry_error_t code = gcry_sexp_build(&key.value, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                                        static_cast<int>(public_key.size()), public_key.data());
    if (code) throw library_failure("take the public key", code);
    code = gcry_sexp_build(&sig.value, nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, signature.data(), 32,
                           signature.data() + 32);
    if (code) throw library_failure("take the signature", code);
    // libgcrypt's S-expressions hold short values only (a longer one stops
    // the program in the library): what is signed here is a hash, or a
    // signature and its trusted comment.
    if (size > kLongestSignedMessage) return false;
    code = gcry_sexp_build(&data.value, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                           static_cast<int>(size), message);
    if (code) throw library_failure("take the signed bytes", code);
    return gcry_pk_verify(sig.value, data.value, key.value) == 0;
}

std::string hex_text(const uint8_t *bytes, std::size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0x0F];
    }
    return out;
}

} // namespace romwright::bundle
