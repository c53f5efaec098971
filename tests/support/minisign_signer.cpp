#include "tests/support/minisign_signer.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>
#include <gcrypt.h>

#include "tests/support/temp_dir.hpp"

namespace testsupport::minisign_signer {
namespace {

using Bytes = std::vector<uint8_t>;

struct Sexp {
    gcry_sexp_t value = nullptr;
    ~Sexp() { gcry_sexp_release(value); }
};

void ready() {
    static const bool set_up = [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)set_up;
}

void check(gcry_error_t code, const char *step) {
    if (code) throw std::runtime_error(fmt::format("libgcrypt could not {}: {}", step, gcry_strerror(code)));
}

// The bytes of the first `token` inside sexp, which must be `size` long (a
// 33-byte point with its 0x40 prefix gives its 32 bytes).
Bytes token_bytes(gcry_sexp_t sexp, const char *token, std::size_t size) {
    Sexp found;
    found.value = gcry_sexp_find_token(sexp, token, 0);
    if (!found.value) throw std::runtime_error(fmt::format("libgcrypt gave no {}", token));
    std::size_t length = 0;
    const char *data = gcry_sexp_nth_data(found.value, 1, &length);
    if (data && length == size + 1 && static_cast<uint8_t>(data[0]) == 0x40) ++data, --length;
    if (!data || length != size) throw std::runtime_error(fmt::format("libgcrypt gave a {} of {} bytes", token, length));
    return Bytes(data, data + length);
}

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64(const Bytes &bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const uint32_t group = (uint32_t(bytes[i]) << 16) | (i + 1 < bytes.size() ? uint32_t(bytes[i + 1]) << 8 : 0) |
                               (i + 2 < bytes.size() ? bytes[i + 2] : 0);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= bytes.size() - i ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return out;
}

Bytes unbase64(const std::string &text) {
    Bytes out;
    uint32_t group = 0;
    int bits = 0;
    for (char c : text) {
        const char *at = c ? std::strchr(kAlphabet, c) : nullptr;
        if (!at) break;
        group = (group << 6) | uint32_t(at - kAlphabet);
        if ((bits += 6) >= 8) out.push_back(uint8_t(group >> (bits -= 8)));
    }
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// The Ed25519 signature (R then S) of a short message.
Bytes ed25519_sign(const Bytes &seed, const Bytes &public_key, const Bytes &message) {
    Sexp key, data, signature;
    check(gcry_sexp_build(&key.value, nullptr, "(private-key (ecc (curve Ed25519) (flags eddsa) (q %b) (d %b)))",
                          int(public_key.size()), public_key.data(), int(seed.size()), seed.data()),
          "take the key");
    check(gcry_sexp_build(&data.value, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                          int(message.size()), message.data()),
          "take the message");
    check(gcry_pk_sign(&signature.value, data.value, key.value), "sign");
    return concat({token_bytes(signature.value, "r", 32), token_bytes(signature.value, "s", 32)});
}

// The key id read as a little-endian number, as minisign names keys.
std::string key_id_text(const Bytes &id) {
    uint64_t value = 0;
    for (std::size_t i = id.size(); i-- > 0;) value = (value << 8) | id[i];
    return fmt::format("{:X}", value);
}

} // namespace

void make_key(const std::string &pub, const std::string &key) {
    try {
        ready();
        Sexp request, pair;
        check(gcry_sexp_build(&request.value, nullptr, "(genkey (ecc (curve Ed25519) (flags eddsa)))"), "ask for a key");
        check(gcry_pk_genkey(&pair.value, request.value), "make a key");
        const Bytes public_key = token_bytes(pair.value, "q", 32), seed = token_bytes(pair.value, "d", 32);
        Bytes id(8);
        gcry_randomize(id.data(), id.size(), GCRY_STRONG_RANDOM);
        write_text(pub, "untrusted comment: minisign public key " + key_id_text(id) + "\n" +
                            base64(concat({{'E', 'd'}, id, public_key})) + "\n");
        write_text(key, "untrusted comment: romwright test secret key\n" + base64(concat({id, seed, public_key})) + "\n");
    } catch (const std::exception &error) {
        ADD_FAILURE() << error.what();
    }
}

void sign(const std::string &key, const std::string &file, const std::string &comment, bool legacy) {
    try {
        ready();
        const std::string text = read_text(key);
        const Bytes secret = unbase64(text.substr(text.find('\n') + 1));
        if (secret.size() != 72) throw std::runtime_error(key + " is not a secret key of this signer");
        const Bytes id(secret.begin(), secret.begin() + 8), seed(secret.begin() + 8, secret.begin() + 40),
            public_key(secret.begin() + 40, secret.end());
        Bytes message = read_file(file);
        if (legacy && message.size() > 16 * 1024)
            throw std::runtime_error("a legacy signature of a file above 16 KiB is beyond libgcrypt");
        if (!legacy) {
            message.assign(64, 0);
            const Bytes bytes = read_file(file);
            gcry_md_hash_buffer(GCRY_MD_BLAKE2B_512, message.data(), bytes.data(), bytes.size());
        }
        const Bytes signature = ed25519_sign(seed, public_key, message);
        const Bytes global = ed25519_sign(seed, public_key, concat({signature, Bytes(comment.begin(), comment.end())}));
        const Bytes algorithm = legacy ? Bytes{'E', 'd'} : Bytes{'E', 'D'};
        write_text(file + ".minisig", "untrusted comment: signature from romwright test key\n" +
                                          base64(concat({algorithm, id, signature})) + "\ntrusted comment: " + comment +
                                          "\n" + base64(global) + "\n");
    } catch (const std::exception &error) {
        ADD_FAILURE() << error.what();
    }
}

} // namespace testsupport::minisign_signer
