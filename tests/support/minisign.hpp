// Minisign's keys and signatures for the bundle tests. On POSIX they are made
// by Debian's minisign (minisign_posix.cpp). A test program under Wine cannot
// start the host's minisign, so the Windows build makes them with
// minisign_signer.hpp, whose files minisign itself accepts (a POSIX test
// holds the two to that).
#pragma once

#include <string>

namespace testsupport::minisign {

// minisign -G -W: a key pair without a password, public key in pub.
void make_key(const std::string &pub, const std::string &key);

// minisign -S -s key -m file -t comment [-l]: writes <file>.minisig.
void sign(const std::string &key, const std::string &file, const std::string &comment, bool legacy = false);

// Whether sign can make a legacy signature (minisign -l) of a file of
// megabytes: minisign can, the signer of the Windows build cannot (libgcrypt
// signs short messages only).
bool signs_legacy();

} // namespace testsupport::minisign
