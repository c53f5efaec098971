// A bundle read from its bytes: the manifest parsed strictly, the archive's
// files held against it (each listed file there, nothing else there, sizes
// and SHA-256 as listed), and the file picked for a board by its model,
// revision and variant.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include <romwright/bundle.hpp>
#include <romwright/error.hpp>

#include "engine/bundle/crypto.hpp"
#include "engine/bundle/zip_writer.hpp"

namespace {

using Bytes = std::vector<uint8_t>;
namespace bundle = romwright::bundle;
using romwright::Bundle;

Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }

std::string sha256_of(const Bytes &bytes) {
    const bundle::Sha256 hash = bundle::sha256(bytes.data(), bytes.size());
    return bundle::hex_text(hash.data(), hash.size());
}

const Bytes kA = Bytes(5000, 0xA5);
const Bytes kB = text("a second firmware file");

// One file entry of a manifest's text.
std::string entry(const std::string &file, const Bytes &bytes, const std::string &models = "[\"ZEN5160\"]",
                  const std::string &more = "") {
    return fmt::format(R"({{"file": "{}", "models": {}, {}"size": {}, "sha256": "{}"}})", file, models, more,
                       bytes.size(), sha256_of(bytes));
}

std::string manifest(const std::string &files, const std::string &top = "") {
    return fmt::format(R"({{"schema_version": 1, "name": "lab", "version": "2.1", "created": "2026-12-09T10:00:00Z", {}"files": [{}]}})",
                       top, files);
}

Bytes archive(const std::string &manifest_text, const std::vector<bundle::ZipFile> &files) {
    std::vector<bundle::ZipFile> all = {{"manifest.json", text(manifest_text)}};
    all.insert(all.end(), files.begin(), files.end());
    return bundle::zip_archive(all, "2026-12-09T10:00:00Z");
}

const std::string kTwoFiles = entry("fw-ZEN5160.pof", kA) + ", " + entry("fw-ZEN5110.rpd", kB, "[\"ZEN5110\"]");
const std::vector<bundle::ZipFile> kTwoContents = {{"fw-ZEN5160.pof", kA}, {"fw-ZEN5110.rpd", kB}};

TEST(BundleReader, AWholeBundleIsReadAndItsFilesInflated) {
    const Bundle read = Bundle::read(archive(manifest(kTwoFiles), kTwoContents), "lab.rwb");
    EXPECT_EQ(read.manifest().name, "lab");
    ASSERT_EQ(read.manifest().files.size(), 2u);
    EXPECT_EQ(read.file_bytes(read.manifest().files[0]), kA);
    EXPECT_EQ(read.file_bytes(read.manifest().files[1]), kB);
    // The manifest create writes reads back as it was.
    const romwright::BundleManifest again = romwright::parse_manifest(romwright::manifest_text(read.manifest()), "m");
    EXPECT_EQ(romwright::manifest_text(again), romwright::manifest_text(read.manifest()));
}

struct ManifestCase {
    const char *name;
    std::function<Bytes()> bundle;
    const char *expected;
};

class BadBundles : public ::testing::TestWithParam<ManifestCase> {};

TEST_P(BadBundles, AreRefusedSayingWhy) {
    try {
        Bundle::read(GetParam().bundle(), "lab.rwb");
        FAIL() << "taken";
    } catch (const romwright::error &refusal) {
        EXPECT_EQ(refusal.kind(), romwright::error_kind::file);
        EXPECT_NE(std::string(refusal.what()).find(GetParam().expected), std::string::npos) << refusal.what();
    }
}

ManifestCase with_manifest(const char *name, const std::string &text_of_manifest, const char *expected) {
    return ManifestCase{name, [text_of_manifest] { return archive(text_of_manifest, kTwoContents); }, expected};
}

std::string replaced(std::string text, const std::string &from, const std::string &to) {
    const std::size_t at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

INSTANTIATE_TEST_SUITE_P(
    Manifest, BadBundles,
    ::testing::Values(
        ManifestCase{"NoManifest", [] { return bundle::zip_archive({{"fw-ZEN5160.pof", kA}}, ""); },
                     "has no manifest.json"},
        with_manifest("NotJson", "{\"schema_version\": 1,", "manifest.json in lab.rwb: not a JSON document"),
        with_manifest("NotAnObject", "[1, 2]", "not a JSON object"),
        with_manifest("NestedHalfAMillionDeep",
                      manifest(std::string(500000, '[') + std::string(500000, ']')),
                      "file 1 is a list of 1, not an object"),
        with_manifest("TrailingText", manifest(kTwoFiles) + " {}", "not a JSON document"),
        with_manifest("AKeyTwice", manifest(kTwoFiles, R"("name": "again", )"), "has \"name\" twice"),
        with_manifest("AKeyTwiceInAFile",
                      manifest(replaced(kTwoFiles, "\"size\"", "\"size\": 1, \"size\"")), "has \"size\" twice"),
        with_manifest("AnUnknownKey", manifest(kTwoFiles, R"("signer": "me", )"),
                      "the manifest has \"signer\", which a manifest does not have"),
        with_manifest("NoFiles", manifest(""), "\"files\" is [], not a list of 1 to 63 files"),
        with_manifest("ANewerSchema", replaced(manifest(kTwoFiles), "\"schema_version\": 1", "\"schema_version\": 2"),
                      "\"schema_version\" is 2, not a whole number from 1 to 1"),
        with_manifest("NotUtc", replaced(manifest(kTwoFiles), "10:00:00Z", "10:00:00+01:00"), "a UTC time"),
        with_manifest("AnEmptyName", replaced(manifest(kTwoFiles), "\"name\": \"lab\"", "\"name\": \"\""),
                      "\"name\" is \"\""),
        with_manifest("AnUnknownModel", manifest(replaced(kTwoFiles, "[\"ZEN5160\"]", "[\"ZEN9999\"]")),
                      "names \"ZEN9999\", which is not a model an update takes"),
        with_manifest("ANameWithoutItsModel",
                      manifest(replaced(kTwoFiles, "[\"ZEN5160\"]", "[\"ZEN5160\", \"ZEN5170\"]")),
                      "its name does not carry \"ZEN5170\""),
        with_manifest("ANameWithoutItsKind", manifest(entry("fw-ZEN5160.bin", kA)),
                      "its name carries neither \".pof\" nor \".rpd\""),
        with_manifest("ANameWithAFolder", manifest(entry("lab/fw-ZEN5160.pof", kA)), "lies in a folder"),
        with_manifest("AVariantForAModelWithout", manifest(entry("fw-ZEN5160.pof", kA, "[\"ZEN5160\"]", "\"variant\": [3], ")),
                      "a ZEN5160 has no board variant"),
        with_manifest("ARevisionThatIsNone",
                      manifest(entry("fw-ZEN5160.pof", kA, "[\"ZEN5160\"]", R"("revision": {"min": "one"}, )")),
                      "is \"one\", not a \"major.minor\" text"),
        with_manifest("AnUpperCaseHash", manifest(replaced(kTwoFiles, "\"sha256\": \"", "\"sha256\": \"A")),
                      "64 lower-case hex digits"),
        with_manifest("ASizeOfNothing", manifest(replaced(kTwoFiles, "\"size\": 5000", "\"size\": 0")),
                      "\"size\" is 0, not a whole number from 1"),
        with_manifest("TwoFilesForOneBoard",
                      manifest(entry("fw-ZEN5160.pof", kA) + ", " + entry("fw2-ZEN5160.pof", kB)),
                      "both fw-ZEN5160.pof and fw2-ZEN5160.pof are for ZEN5160 boards"),
        with_manifest("OneFileTwice", manifest(entry("fw-ZEN5160.pof", kA) + ", " + entry("FW-ZEN5160.pof", kA)),
                      "it lists the file FW-ZEN5160.pof twice"),
        with_manifest("ASizeThatLies", manifest(replaced(kTwoFiles, "\"size\": 5000", "\"size\": 5001")),
                      "fw-ZEN5160.pof in lab.rwb holds 5000 bytes by the archive's directory but the manifest says 5001"),
        with_manifest("AHashThatLies", manifest(entry("fw-ZEN5160.pof", kA) + ", " +
                                                replaced(entry("fw-ZEN5110.rpd", kB, "[\"ZEN5110\"]"), sha256_of(kB), sha256_of(kA))),
                      "fw-ZEN5110.rpd in lab.rwb has SHA-256"),
        with_manifest("AFileMissing", manifest(kTwoFiles + ", " + entry("fw-ZEN5170.pof", kA, "[\"ZEN5170\"]")),
                      "lacks fw-ZEN5170.pof, which its manifest lists"),
        ManifestCase{"AFileNotListed",
                     [] {
                         std::vector<bundle::ZipFile> more = kTwoContents;
                         more.push_back({"extra.pof", kB});
                         return archive(manifest(kTwoFiles), more);
                     },
                     "holds extra.pof, which its manifest does not list"}),
    [](const ::testing::TestParamInfo<ManifestCase> &info) { return std::string(info.param.name); });

TEST(BundleReader, TheFileForABoardIsPickedByItsModelRevisionAndVariant) {
    const std::string files =
        entry("old-ZEN5120.pof", kA, "[\"ZEN5120\"]", R"("revision": {"max": "1.2"}, )") + ", " +
        entry("new-ZEN5120.pof", kB, "[\"ZEN5120\"]", R"("revision": {"min": "1.3"}, )") + ", " +
        entry("v3-ZEN5170.pof", kA, "[\"ZEN5170\"]", R"("variant": [3, 4], )") + ", " +
        entry("v5-ZEN5170.pof", kB, "[\"ZEN5170\"]", R"("variant": [5], )") + ", " + entry("fw-ZEN5160.pof", kA);
    const Bundle read = Bundle::read(archive(manifest(files), {{"old-ZEN5120.pof", kA},
                                                              {"new-ZEN5120.pof", kB},
                                                              {"v3-ZEN5170.pof", kA},
                                                              {"v5-ZEN5170.pof", kB},
                                                              {"fw-ZEN5160.pof", kA}}),
                                     "lab.rwb");
    const auto picked = [&read](const std::string &model, std::optional<romwright::Version> revision,
                                std::optional<uint32_t> variant) -> std::string {
        const romwright::BundleFile *file = read.file_for(model, revision, variant);
        return file ? file->file : "none";
    };
    EXPECT_EQ(picked("ZEN5120", romwright::Version{1, 2}, std::nullopt), "old-ZEN5120.pof");
    EXPECT_EQ(picked("ZEN5120", romwright::Version{1, 3}, std::nullopt), "new-ZEN5120.pof");
    EXPECT_EQ(picked("ZEN5120", romwright::Version{2, 0}, std::nullopt), "new-ZEN5120.pof");
    EXPECT_EQ(picked("ZEN5120", std::nullopt, std::nullopt), "none") << "a board that cannot tell its revision";
    EXPECT_EQ(picked("ZEN5170", std::nullopt, 4u), "v3-ZEN5170.pof");
    EXPECT_EQ(picked("ZEN5170", std::nullopt, 5u), "v5-ZEN5170.pof");
    EXPECT_EQ(picked("ZEN5170", std::nullopt, 6u), "none");
    EXPECT_EQ(picked("ZEN5160", romwright::Version{1, 5}, std::nullopt), "fw-ZEN5160.pof");
    EXPECT_EQ(picked("ZEN5110", std::nullopt, std::nullopt), "none");
    EXPECT_TRUE(read.needs_revision("ZEN5120"));
    EXPECT_FALSE(read.needs_revision("ZEN5160"));
    EXPECT_TRUE(read.needs_variant("ZEN5170"));
}

} // namespace
