#include <romwright/frontend/bundle_source.hpp>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <utility>

#include <fmt/format.h>

#include <romwright/board_table.hpp>
#include <romwright/error.hpp>
#include <romwright/frontend/files.hpp>
#include <zenapi/Zenapi.h>

#include "engine/bundle/minisign.hpp"
#include "engine/platform/places.hpp"

namespace romwright::frontend {
namespace {

namespace fs = std::filesystem;

constexpr const char *kKeysVariable = "ROMWRIGHT_TRUSTED_KEYS";
constexpr const char *kSignatureSuffix = ".minisig";
constexpr const char *kFolderPrefix = "romwright-bundle-";
constexpr uint32_t kRevisionMinorUnset = 15;
constexpr uint32_t kBoardRegister0 = 0;

romwright::error keys_file_error(const std::string &message) { return romwright::error(error_kind::file, message); }

std::string lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string small_file_text(const std::string &path, const char *what) {
    InputFile file(path, what);
    if (file.size() > bundle::kLargestMinisignFile)
        throw keys_file_error(fmt::format("{} holds {} bytes; a minisign file holds at most {}", path, file.size(),
                                     bundle::kLargestMinisignFile));
    const std::vector<uint8_t> bytes = file.ReadAll();
    return std::string(bytes.begin(), bytes.end());
}

TrustedKey key_of(const std::string &path) {
    const bundle::MinisignKey key = bundle::parse_minisign_key(small_file_text(path, "trusted key"), path);
    return TrustedKey{path, key.key_id, key.public_key};
}

std::string where_keys_come_from(const std::vector<TrustedKey> &keys) {
    const std::string folder = trusted_keys_folder();
    return fmt::format("{} trusted key{} ({}{}, and --trusted-key)", keys.size(), keys.size() == 1 ? "" : "s",
                       folder.empty() ? "no machine folder" : folder, folder.empty() ? "" : "/*.pub");
}

} // namespace

bool is_bundle_path(const std::string &path) {
    return path.size() >= 4 && lower(path.substr(path.size() - 4)) == ".rwb";
}

std::string trusted_keys_folder() {
    if (const auto folder = platform::environment_value(kKeysVariable)) return *folder;
    return platform::trusted_keys_folder();
}

std::vector<TrustedKey> load_trusted_keys(const BundlePolicy &policy, const char *program, std::FILE *warnings) {
    std::vector<TrustedKey> keys;
    const std::string folder = trusted_keys_folder();
    std::vector<fs::path> found;
    std::error_code error;
    if (!folder.empty() && fs::is_directory(fs::u8path(folder), error))
        for (fs::directory_iterator it(fs::u8path(folder), error), end; !error && it != end; it.increment(error))
            if (lower(it->path().extension().u8string()) == ".pub") found.push_back(it->path());
    std::sort(found.begin(), found.end());
    for (const fs::path &path : found) {
        try {
            keys.push_back(key_of(path.u8string()));
        } catch (const std::exception &failure) {
            if (warnings) std::fprintf(warnings, "%s: ignoring a file among the trusted keys: %s\n", program, failure.what());
        }
    }
    for (const std::string &path : policy.key_files) keys.push_back(key_of(path));
    return keys;
}

const char *kind_name(SignatureState::Kind kind) {
    switch (kind) {
    case SignatureState::Kind::unsigned_bundle: return "unsigned";
    case SignatureState::Kind::trusted: return "trusted";
    case SignatureState::Kind::untrusted: return "untrusted";
    case SignatureState::Kind::invalid: return "invalid";
    }
    return "invalid";
}

SignatureState signature_state(const std::string &bundle_path, const std::vector<uint8_t> &bundle_bytes,
                               const std::vector<TrustedKey> &keys) {
    SignatureState state;
    state.signature_file = bundle_path + kSignatureSuffix;
    if (!file_exists(state.signature_file)) {
        state.kind = SignatureState::Kind::unsigned_bundle;
        state.problem = fmt::format("{} is not signed: there is no {}. A bundle must carry a signature by a trusted "
                                    "key (--allow-unsigned takes an unsigned one)",
                                    bundle_path, state.signature_file);
        return state;
    }
    bundle::MinisignSignature signature;
    try {
        signature = bundle::parse_minisign_signature(small_file_text(state.signature_file, "bundle signature"),
                                                     state.signature_file);
    } catch (const std::exception &failure) {
        state.kind = SignatureState::Kind::invalid;
        state.problem = failure.what();
        return state;
    }
    state.key_id = bundle::key_id_text(signature.key_id);
    state.trusted_comment = signature.trusted_comment;
    state.prehashed = signature.prehashed;
    const auto key = std::find_if(keys.begin(), keys.end(),
                                  [&signature](const TrustedKey &k) { return k.key_id == signature.key_id; });
    if (key == keys.end()) {
        state.kind = SignatureState::Kind::untrusted;
        state.problem = fmt::format("{} is signed by key {}, which is not among the {}", state.signature_file,
                                    state.key_id, where_keys_come_from(keys));
        return state;
    }
    bundle::MinisignKey public_key;
    public_key.key_id = key->key_id;
    public_key.public_key = key->public_key;
    switch (bundle::check_signature(signature, public_key, bundle_bytes.data(), bundle_bytes.size())) {
    case bundle::SignatureCheck::valid:
        state.kind = SignatureState::Kind::trusted;
        state.key_file = key->file;
        break;
    case bundle::SignatureCheck::whole_file:
        state.kind = SignatureState::Kind::invalid;
        state.problem = fmt::format("{} is a legacy signature of the whole file (minisign -l), which romwright does "
                                    "not take: sign the bundle again with minisign's default, pre-hashed signature "
                                    "(without -l)",
                                    state.signature_file);
        break;
    case bundle::SignatureCheck::file_differs:
        state.kind = SignatureState::Kind::invalid;
        state.problem = fmt::format("The signature {} by key {} does not match {}: the bundle or its signature has "
                                    "changed since it was signed",
                                    state.signature_file, state.key_id, bundle_path);
        break;
    case bundle::SignatureCheck::comment_differs:
        state.kind = SignatureState::Kind::invalid;
        state.problem = fmt::format("The trusted comment of {} is not the one key {} signed: the signature file has "
                                    "changed since it was made",
                                    state.signature_file, state.key_id);
        break;
    }
    return state;
}

Bundle read_bundle_file(const std::string &path) {
    InputFile file(path, "bundle");
    if (file.size() > kLargestBundle)
        throw keys_file_error(fmt::format("{} holds {} bytes; a bundle holds at most {}", path, file.size(), kLargestBundle));
    return Bundle::read(file.ReadAll(), path);
}

OpenedBundle open_bundle(const std::string &path, const BundlePolicy &policy, const char *program,
                         std::FILE *warnings) {
    OpenedBundle opened{path, read_bundle_file(path), {}};
    opened.signature = signature_state(path, opened.bundle.bytes(), load_trusted_keys(policy, program, warnings));
    switch (opened.signature.kind) {
    case SignatureState::Kind::trusted:
        return opened;
    case SignatureState::Kind::unsigned_bundle:
        if (!policy.allow_unsigned) break;
        if (warnings)
            std::fprintf(warnings, "%s: warning: %s is not signed (there is no %s); taking it as it is, as "
                                   "--allow-unsigned asks\n",
                         program, path.c_str(), opened.signature.signature_file.c_str());
        return opened;
    case SignatureState::Kind::untrusted:
    case SignatureState::Kind::invalid:
        break;
    }
    throw keys_file_error(opened.signature.problem + "; nothing was changed");
}

std::string signature_summary(const SignatureState &signature) {
    if (signature.kind == SignatureState::Kind::trusted)
        return fmt::format("signed by key {} (trusted comment: {})", signature.key_id, signature.trusted_comment);
    if (signature.kind == SignatureState::Kind::unsigned_bundle) return "unsigned, taken as --allow-unsigned asks";
    return signature.problem;
}

BoardFile bundle_file_for(const Bundle &bundle, void *board) {
    BoardFile choice;
    const BoardModel *model = find_board_model(KorvelGetBoardKind(board));
    if (!model) return choice;
    choice.model = model->designation;
    if (bundle.needs_revision(choice.model)) {
        uint8_t major = 0, minor = 0;
        if (KorvelGetBoardRevision(board, &major, &minor) == ZENAPI_SUCCESS)
            choice.revision = Version{major, minor == kRevisionMinorUnset ? 0u : uint32_t{minor}};
    }
    if (model->variant != VariantRule::none && bundle.needs_variant(choice.model)) {
        uint32_t value = 0;
        if (KorvelReadRegister(board, kBoardRegister0, &value, ZENAPI_REGISTER_ACCESS_CODE) == ZENAPI_SUCCESS)
            choice.variant = value & 0xFFu;
    }
    choice.file = bundle.file_for(choice.model, choice.revision, choice.variant);
    return choice;
}

std::string board_file_described(const BoardFile &choice) {
    std::string text = choice.model.empty() ? std::string("a board of a kind romwright does not know") : choice.model;
    if (choice.revision) text += " revision " + version_text(*choice.revision);
    if (choice.variant) text += fmt::format(" variant {}", *choice.variant);
    return text;
}

BundleFiles::BundleFiles(Bundle bundle) : bundle_(std::move(bundle)) {}

BundleFiles::~BundleFiles() {
    if (folder_.empty()) return;
    std::error_code ignored;
    fs::remove_all(fs::u8path(folder_), ignored);
}

std::string BundleFiles::path_of(const BundleFile &file) {
    if (folder_.empty()) folder_ = platform::make_private_folder(kFolderPrefix);
    const std::string path = (fs::u8path(folder_) / fs::u8path(file.file)).u8string();
    if (std::find(written_.begin(), written_.end(), file.file) != written_.end()) return path;
    write_whole_file(path, bundle_.file_bytes(file));
    written_.push_back(file.file);
    return path;
}

} // namespace romwright::frontend
