// A minisign signer of the tests' own, with libgcrypt: key pairs and
// pre-hashed signatures (an Ed25519 signature of the file's BLAKE2b-512,
// then the global signature over it and the trusted comment) in the files
// minisign writes. Its secret key file is its own (base64 of the key id and
// the Ed25519 seed), not minisign's. Failures fail the running test.
#pragma once

#include <string>

namespace testsupport::minisign_signer {

void make_key(const std::string &pub, const std::string &key);

// Legacy signatures (of the whole file) only for files up to 16 KiB.
void sign(const std::string &key, const std::string &file, const std::string &comment, bool legacy = false);

} // namespace testsupport::minisign_signer
