#include "tests/support/minisign.hpp"

#include "tests/support/minisign_signer.hpp"

namespace testsupport::minisign {

void make_key(const std::string &pub, const std::string &key) { minisign_signer::make_key(pub, key); }

void sign(const std::string &key, const std::string &file, const std::string &comment, bool legacy) {
    minisign_signer::sign(key, file, comment, legacy);
}

bool signs_legacy() { return false; }

} // namespace testsupport::minisign
