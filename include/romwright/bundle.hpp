// Firmware bundles: one ZIP archive (".rwb") that carries a manifest and the
// firmware files of several board models, so one run updates every board of
// a machine. Everything here works on bytes in memory and makes no
// device-library call: an archive is taken as hostile input and checked
// whole (its directory, its names, its manifest, every file's size, CRC-32
// and SHA-256) before anything uses it, and nothing is unpacked to disk.
//
// The manifest, "manifest.json" at the archive's top level:
//
//   {"schema_version": 1, "name": "lab firmware", "version": "2.1",
//    "created": "2026-12-09T10:00:00Z",
//    "files": [{"file": "fw-ZEN5120.pof", "models": ["ZEN5120"],
//               "revision": {"min": "1.3"}, "size": 4194432, "sha256": "..."},
//              {"file": "fw-ZEN5170.pof", "models": ["ZEN5170"], "variant": [3], ...}]}
//
// A file's name carries each model it is for, and ".pof" or ".rpd", as the
// file-name check of an update needs. "revision" (min and/or max, both
// included) and "variant" (the board variants it is for) are optional: a
// file without them is for every board of its models. No two files may be
// for one board: files of one model must differ in their rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace romwright {

using Version = std::pair<uint32_t, uint32_t>;  // major, minor

// The largest bundle file a program reads (into memory, whole).
inline constexpr uint64_t kLargestBundle = 1024ull << 20;
inline constexpr const char *kManifestName = "manifest.json";
inline constexpr uint32_t kBundleSchemaVersion = 1;

struct BundleFile {
    std::string file;                 // its name in the archive
    std::vector<std::string> models;  // the designations it is for, "ZEN5160"
    std::optional<Version> revision_min;
    std::optional<Version> revision_max;
    std::vector<uint32_t> variants;   // empty: every variant
    uint64_t size = 0;
    std::string sha256;               // 64 lower-case hex digits

    bool has_revision_rule() const { return revision_min || revision_max; }
    // Whether the file is for a board of model with this revision and variant
    // (either unknown: only a file without that rule is).
    bool takes(const std::string &model, const std::optional<Version> &revision,
               const std::optional<uint32_t> &variant) const;
};

struct BundleManifest {
    uint32_t schema_version = kBundleSchemaVersion;
    std::string name;
    std::string version;
    std::string created;  // UTC, "YYYY-MM-DDTHH:MM:SSZ"
    std::vector<BundleFile> files;
};

// The manifest as create writes it (indented JSON, a final line break).
std::string manifest_text(const BundleManifest &manifest);
// Parses and checks a manifest; throws romwright::error (a file) naming
// `what` and what is wrong.
BundleManifest parse_manifest(const std::string &text, const std::string &what);

class Bundle {
public:
    // Reads and checks the archive's bytes (kept by the bundle); `what`
    // names the bundle in messages. Throws romwright::error (a file).
    static Bundle read(std::vector<uint8_t> bytes, const std::string &what);

    const BundleManifest &manifest() const { return *manifest_; }
    const std::vector<uint8_t> &bytes() const { return *bytes_; }
    const std::string &what() const { return what_; }

    // The file's bytes, inflated again and checked against the manifest's
    // size and SHA-256 (a bundle changed in memory is still refused).
    std::vector<uint8_t> file_bytes(const BundleFile &file) const;

    // The file for a board of model with this revision and variant; null
    // when the bundle has none.
    const BundleFile *file_for(const std::string &model, const std::optional<Version> &revision,
                               const std::optional<uint32_t> &variant) const;
    // Whether some file of model has a revision rule, or a variant rule: the
    // board is asked for that only then.
    bool needs_revision(const std::string &model) const;
    bool needs_variant(const std::string &model) const;

private:
    struct Entry;
    std::shared_ptr<const std::vector<uint8_t>> bytes_;
    std::shared_ptr<const BundleManifest> manifest_;
    std::shared_ptr<const std::vector<Entry>> entries_;  // in the manifest's order
    std::string what_;
};

// What an update of one model would do with a file: the image check and
// planning of inspect, for the revision or variant the file's rules name.
struct ModelVerdict {
    std::string model;
    std::optional<Version> revision;  // judged for this revision (models whose image depends on it)
    std::optional<uint32_t> variant;  // judged for this variant (models that have one)
    bool accepted = false;
    int32_t image = -1;               // the image programmed, when accepted by the engine's check
    std::string path;                 // "page mode", "sector mode", or the driver's services
    std::string message;              // the refusal, or a note
};

// The verdicts of a bundle's file for each model it lists.
std::vector<ModelVerdict> judge_bundle_file(const BundleFile &file, const std::vector<uint8_t> &bytes);

// The manifest entry of a firmware file for create: its models are the
// designations its name carries whose update accepts it (the image check of
// inspect; for ZEN5120 at revisions 1.2 and 1.3, which gives its revision
// rule, for ZEN5170 at every variant, which gives its variants); models that
// only the driver's services update take any file, as those do. Throws
// romwright::error (a file) naming the file when no model takes it.
BundleFile describe_firmware(const std::string &name, const std::vector<uint8_t> &bytes);

// The archive create writes: the manifest first, then each file.
std::vector<uint8_t> bundle_archive(const BundleManifest &manifest,
                                    const std::vector<std::vector<uint8_t>> &file_bytes);

// "1.3".
std::string version_text(const Version &version);

} // namespace romwright
