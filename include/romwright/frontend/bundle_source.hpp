// A bundle as the programs take it: the file read whole as hostile input and
// checked (romwright/bundle.hpp), its detached minisign signature
// (<bundle>.minisig) checked against the trusted keys, the file for each
// board picked by what the board says of itself, and that file handed to
// the update as a file of its own in a private temporary folder.
//
// Trusted keys are minisign public key files (*.pub) in the machine's folder
// (/etc/romwright/trusted-keys/, %ProgramData%\Korvelon\romwright\trusted-keys
// on Windows; ROMWRIGHT_TRUSTED_KEYS names another) and those the command
// line gives. A bundle must carry a valid signature by one of them; an
// unsigned one is taken only when the caller allows it (with a warning), a
// badly signed one never.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <romwright/bundle.hpp>

namespace romwright::frontend {

// Whether path names a bundle: its name ends in ".rwb", in any case.
bool is_bundle_path(const std::string &path);

// The folder of trusted keys: ROMWRIGHT_TRUSTED_KEYS when set, else the
// machine's ("" when the system names none).
std::string trusted_keys_folder();

struct TrustedKey {
    std::string file;
    std::array<uint8_t, 8> key_id{};
    std::array<uint8_t, 32> public_key{};
};

struct BundlePolicy {
    std::vector<std::string> key_files;  // --trusted-key, each a minisign public key file
    bool allow_unsigned = false;         // --allow-unsigned
};

// The folder's *.pub files, in name order (one that is not a public key is
// left out with a warning on `warnings` naming it), then the policy's key
// files, each of which must be one (romwright::error naming it otherwise).
std::vector<TrustedKey> load_trusted_keys(const BundlePolicy &policy, const char *program,
                                          std::FILE *warnings = stderr);

struct SignatureState {
    enum class Kind {
        unsigned_bundle,  // no <bundle>.minisig
        trusted,          // a valid signature by a trusted key
        untrusted,        // a signature by a key that is not trusted (not checked further)
        invalid,          // not a signature file, or one that does not verify
    };
    Kind kind = Kind::unsigned_bundle;
    std::string signature_file;   // <bundle>.minisig
    std::string key_id;           // hex digits, as minisign shows it; "" when unreadable
    std::string trusted_comment;  // as signed; "" when unreadable
    bool prehashed = false;       // signed as BLAKE2b-512 hash ("ED"), not whole ("Ed")
    std::string key_file;         // the trusted key that verified it
    std::string problem;          // why it is not trusted: a whole sentence naming the files
};

// "trusted", "untrusted", "unsigned" or "invalid".
const char *kind_name(SignatureState::Kind kind);

// How the bundle's signature stands, without refusing anything.
SignatureState signature_state(const std::string &bundle_path, const std::vector<uint8_t> &bundle_bytes,
                               const std::vector<TrustedKey> &keys);

// The bundle file read whole (a regular file of at most kLargestBundle
// bytes) and checked. Raises romwright::error (a file).
Bundle read_bundle_file(const std::string &path);

struct OpenedBundle {
    std::string path;
    Bundle bundle;
    SignatureState signature;  // trusted, or unsigned_bundle where the policy allows it
};

// read_bundle_file, then the signature by the policy: raises romwright::error
// (a file) naming what failed; an unsigned bundle that the policy allows
// gives a warning on `warnings`. Makes no device-library call.
OpenedBundle open_bundle(const std::string &path, const BundlePolicy &policy, const char *program,
                         std::FILE *warnings = stderr);

// One line for the log and the console: who signed the bundle, or that it
// is unsigned and was allowed.
std::string signature_summary(const SignatureState &signature);

// The file of one board: its model asked of the board (read-only calls),
// and its revision and variant where the bundle's files of that model have
// rules for them.
struct BoardFile {
    std::string model;  // "" when the board's kind is not a model the board table knows
    std::optional<Version> revision;
    std::optional<uint32_t> variant;
    const BundleFile *file = nullptr;  // null: the bundle has no file for the board
};
BoardFile bundle_file_for(const Bundle &bundle, void *board);

// "ZEN5160", "ZEN5120 revision 1.2", "ZEN5170 variant 3": the board as the
// bundle's rules saw it.
std::string board_file_described(const BoardFile &choice);

// The bundle's files an update hands to the engine, each a file of its own,
// named as in the bundle (so the file-name check sees the model) in a folder
// only this user may enter, written when first asked for from bytes checked
// again against the manifest. The folder and all it holds are removed when
// this goes; only a kill that cannot be caught leaves it (romwright-bundle-*
// in the temporary folder).
class BundleFiles {
public:
    explicit BundleFiles(Bundle bundle);
    ~BundleFiles();
    BundleFiles(const BundleFiles &) = delete;
    BundleFiles &operator=(const BundleFiles &) = delete;

    std::string path_of(const BundleFile &file);
    const std::string &folder() const { return folder_; }

private:
    Bundle bundle_;
    std::string folder_;
    std::vector<std::string> written_;
};

} // namespace romwright::frontend
