// Minisign's files as Debian's minisign writes them (the tests' own signer
// under Wine, held to minisign below), read by the parsers
// here, and its signatures checked with libgcrypt: a valid one, and each of
// a changed file, a changed signature and a changed trusted comment.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <romwright/error.hpp>

#include "engine/bundle/minisign.hpp"
#include "tests/support/minisign.hpp"
#include "tests/support/minisign_signer.hpp"
#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

namespace bundle = romwright::bundle;
using Bytes = std::vector<uint8_t>;

class Minisign : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::minisign::make_key(dir_.file("k.pub"), dir_.file("k.key"));
        testsupport::write_file(dir_.file("lab.rwb"), bytes_);
    }
    std::string sign(const std::string &comment, bool legacy = false) {
        testsupport::minisign::sign(dir_.file("k.key"), dir_.file("lab.rwb"), comment, legacy);
        return testsupport::read_text(dir_.file("lab.rwb.minisig"));
    }
    bundle::MinisignKey key() { return bundle::parse_minisign_key(testsupport::read_text(dir_.file("k.pub")), "k.pub"); }
    bundle::SignatureCheck check(const std::string &signature_text, const Bytes &bytes) {
        const bundle::MinisignSignature signature = bundle::parse_minisign_signature(signature_text, "lab.rwb.minisig");
        return bundle::check_signature(signature, key(), bytes.data(), bytes.size());
    }

    testsupport::TempDir dir_{"minisign"};
    Bytes bytes_ = Bytes(300000, 0x3C);
};

TEST_F(Minisign, ASignatureOfTheFilesHashVerifies) {
    const std::string text = sign("lab release 2.1");
    const bundle::MinisignSignature signature = bundle::parse_minisign_signature(text, "lab.rwb.minisig");
    EXPECT_TRUE(signature.prehashed);
    EXPECT_EQ(signature.trusted_comment, "lab release 2.1");
    EXPECT_EQ(signature.key_id, key().key_id);
    EXPECT_EQ(check(text, bytes_), bundle::SignatureCheck::valid);
    // The key id as minisign's public key file names it.
    const std::string pub = testsupport::read_text(dir_.file("k.pub"));
    EXPECT_NE(pub.find("minisign public key " + bundle::key_id_text(key().key_id) + "\n"), std::string::npos) << pub;
}

TEST_F(Minisign, AChangedFileSignatureOrCommentDoesNot) {
    const std::string text = sign("lab release 2.1");
    Bytes changed = bytes_;
    changed[1234] ^= 1;
    EXPECT_EQ(check(text, changed), bundle::SignatureCheck::file_differs);
    std::string comment = text;
    comment.replace(comment.find("2.1"), 3, "9.9");
    EXPECT_EQ(check(comment, bytes_), bundle::SignatureCheck::comment_differs);
    // A byte of the signature itself: the second line's base64, one digit changed.
    std::string signature = text;
    const std::size_t digit = signature.find('\n') + 40;
    signature[digit] = signature[digit] == 'A' ? 'B' : 'A';
    EXPECT_EQ(check(signature, bytes_), bundle::SignatureCheck::file_differs);
}

TEST_F(Minisign, ALegacySignatureIsReadButNotTaken) {
    bytes_.resize(4096);  // short enough for any signer's legacy signature
    testsupport::write_file(dir_.file("lab.rwb"), bytes_);
    const std::string text = sign("legacy", true);
    EXPECT_FALSE(bundle::parse_minisign_signature(text, "lab.rwb.minisig").prehashed);
    EXPECT_EQ(check(text, bytes_), bundle::SignatureCheck::whole_file);
}

TEST_F(Minisign, CarriageReturnsAtTheLineEndsAreTaken) {
    std::string text = sign("lab release 2.1"), crlf;
    for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(check(crlf, bytes_), bundle::SignatureCheck::valid);
}

struct Unreadable {
    const char *name;
    std::string text;
    const char *expected;
};

class NotMinisignFiles : public ::testing::TestWithParam<Unreadable> {};

TEST_P(NotMinisignFiles, AreRefusedSayingWhy) {
    try {
        bundle::parse_minisign_signature(GetParam().text, "lab.rwb.minisig");
        FAIL() << "taken";
    } catch (const romwright::error &refusal) {
        EXPECT_NE(std::string(refusal.what()).find(GetParam().expected), std::string::npos) << refusal.what();
    }
}

// A signature line ("ED", key id, signature) and a global signature of zeros.
const std::string kLine = "RUQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
const std::string kGlobal = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA==";

std::string file_of(const std::string &line, const std::string &comment = "trusted comment: x",
                    const std::string &global = kGlobal) {
    return "untrusted comment: u\n" + line + "\n" + comment + "\n" + global + "\n";
}

INSTANTIATE_TEST_SUITE_P(
    Signatures, NotMinisignFiles,
    ::testing::Values(Unreadable{"Empty", "", "it has 0 lines, not 4"},
                      Unreadable{"NoUntrustedComment", "hello\n" + kLine + "\ntrusted comment: x\n" + kGlobal + "\n",
                                 "its first line does not begin with"},
                      Unreadable{"NotBase64", file_of("RUQ*"), "its signature line is not base64"},
                      Unreadable{"BadPadding", file_of(kLine.substr(0, kLine.size() - 1) + "B"),
                                 "its signature line holds 75 bytes, not 74"},
                      Unreadable{"Short", file_of("RUQA"), "holds 3 bytes, not 74"},
                      Unreadable{"AnotherAlgorithm", file_of("QUIA" + kLine.substr(4)), "its algorithm is neither"},
                      Unreadable{"NoTrustedComment", file_of(kLine, "comment: x"), "its third line does not begin"},
                      Unreadable{"ShortGlobal", file_of(kLine, "trusted comment: x", "AAAA"),
                                 "its global signature line holds 3 bytes, not 64"},
                      Unreadable{"StrayCarriageReturn", file_of(kLine, "trusted comment: a\rb"),
                                 "a stray carriage return"},
                      Unreadable{"TooLong", file_of(kLine, "trusted comment: " + std::string(9000, 'x')),
                                 "one holds at most 8192"}),
    [](const ::testing::TestParamInfo<Unreadable> &info) { return std::string(info.param.name); });

TEST(Base64, IsReadStrictly) {
    std::string out;
    EXPECT_TRUE(bundle::base64_decode("TWFu", out));
    EXPECT_EQ(out, "Man");
    EXPECT_TRUE(bundle::base64_decode("TWE=", out));
    EXPECT_EQ(out, "Ma");
    EXPECT_TRUE(bundle::base64_decode("TQ==", out));
    EXPECT_EQ(out, "M");
    EXPECT_FALSE(bundle::base64_decode("TWF", out)) << "not a multiple of four";
    EXPECT_FALSE(bundle::base64_decode("TR==", out)) << "bits left over after the padding";
    EXPECT_FALSE(bundle::base64_decode("T===", out));
    EXPECT_FALSE(bundle::base64_decode("TW=u", out)) << "padding inside";
    EXPECT_FALSE(bundle::base64_decode("TWFu TWFu", out));
    EXPECT_FALSE(bundle::base64_decode("", out));
}

} // namespace

#ifndef _WIN32
// The signer the Windows build signs with, held to minisign: minisign takes
// its public key and verifies its signatures, pre-hashed and legacy.
TEST(MinisignSigner, WritesKeysAndSignaturesMinisignVerifies) {
    testsupport::TempDir dir("signer");
    testsupport::minisign_signer::make_key(dir.file("k.pub"), dir.file("k.key"));
    testsupport::write_file(dir.file("small"), Bytes(5000, 0x42));
    for (const bool legacy : {false, true}) {
        testsupport::minisign_signer::sign(dir.file("k.key"), dir.file("small"), "signer test", legacy);
        const auto verified =
            testsupport::run_process("/usr/bin/minisign", {"-V", "-p", dir.file("k.pub"), "-m", dir.file("small")});
        EXPECT_EQ(verified.exit_code, 0) << (legacy ? "legacy: " : "pre-hashed: ") << verified.out << verified.err;
        EXPECT_NE(verified.out.find("Trusted comment: signer test"), std::string::npos) << verified.out;
    }
    testsupport::write_file(dir.file("small"), Bytes(5000, 0x43));
    EXPECT_NE(testsupport::run_process("/usr/bin/minisign", {"-V", "-p", dir.file("k.pub"), "-m", dir.file("small")})
                  .exit_code,
              0)
        << "minisign took a signature of other bytes";
}
#endif
