// A bundle read whole from its bytes: the archive's directory, the manifest,
// and every file the manifest lists inflated once and checked against it
// (size first, from the directory, before anything is inflated; then the
// CRC-32 and the SHA-256). Files the manifest does not list, and files it
// lists that the archive lacks, are refused: what is signed is what is used.
#include <romwright/bundle.hpp>

#include <algorithm>

#include <fmt/format.h>

#include <romwright/board_table.hpp>
#include <romwright/error.hpp>
#include <romwright/inspection.hpp>
#include <romwright/programming_path.hpp>

#include "engine/bundle/crypto.hpp"
#include "engine/bundle/zip_archive.hpp"
#include "engine/bundle/zip_writer.hpp"

namespace romwright {

struct Bundle::Entry {
    const BundleFile *file = nullptr;
    bundle::ZipEntry zip;
};

namespace {

romwright::error refusal(const std::string &message) { return romwright::error(error_kind::file, message); }

std::string sha256_text(const std::vector<uint8_t> &bytes) {
    const bundle::Sha256 hash = bundle::sha256(bytes.data(), bytes.size());
    return bundle::hex_text(hash.data(), hash.size());
}

const bundle::ZipEntry *entry_named(const std::vector<bundle::ZipEntry> &entries, const std::string &name) {
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [&name](const bundle::ZipEntry &entry) { return entry.name == name; });
    return found == entries.end() ? nullptr : &*found;
}

void check_against_manifest(const std::vector<uint8_t> &bytes, const BundleFile &file, const std::string &what) {
    if (bytes.size() != file.size)
        throw refusal(fmt::format("{} in {} holds {} bytes but the manifest says {}", file.file, what, bytes.size(),
                                  file.size));
    const std::string hash = sha256_text(bytes);
    if (hash != file.sha256)
        throw refusal(fmt::format("{} in {} has SHA-256 {} but the manifest says {}: the file has changed since the "
                                  "bundle was made",
                                  file.file, what, hash, file.sha256));
}

const BoardModel &model_row(const std::string &designation) {
    for (const BoardModel &row : board_models())
        if (designation == row.designation) return row;
    throw refusal(fmt::format("No board model is called \"{}\"", designation));
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

ModelVerdict verdict_of(const std::string &model, const Inspection &inspection) {
    ModelVerdict verdict;
    verdict.model = model;
    verdict.accepted = inspection.accepted;
    verdict.image = inspection.slot;
    if (inspection.plan) verdict.path = path_name(inspection.plan->mode);
    verdict.message = trimmed(inspection.verdict);
    return verdict;
}

ModelVerdict judge(const std::string &name, const std::vector<uint8_t> &bytes, const BoardModel &model,
                   const std::optional<Version> &revision, const std::optional<uint32_t> &variant) {
    if (model.path == UpdatePath::not_programmed) {
        ModelVerdict verdict;
        verdict.model = model.designation;
        verdict.accepted = true;
        verdict.path = "the driver's services";
        verdict.message = "handed to the board driver's services as it is; the driver, not romwright, checks it";
        return verdict;
    }
    InspectRequest request;
    request.path = name;
    request.model = model.designation;
    if (model.revision != RevisionRule::none) request.revision = revision;
    if (model.variant != VariantRule::none) request.variant = variant;
    ModelVerdict verdict = verdict_of(model.designation, inspect_firmware_bytes(request, bytes));
    verdict.revision = request.revision;
    verdict.variant = request.variant;
    return verdict;
}

// The variant a sector-mode image's header names, where the image has one.
std::optional<uint32_t> header_variant(const std::string &name, const std::vector<uint8_t> &bytes,
                                       const BoardModel &model) {
    InspectRequest request;
    request.path = name;
    request.model = model.designation;
    request.variant = 0;
    const Inspection inspection = inspect_firmware_bytes(request, bytes);
    if (inspection.slots.empty() || !inspection.slots[0].header_present) return std::nullopt;
    return inspection.slots[0].word2 & 0xFFu;
}

const Version kBeforeMarks{1, 2};  // the last revision whose ZEN5120 takes unmarked images
const Version kMarked{1, 3};       // the first that takes images marked 0x90

} // namespace

Bundle Bundle::read(std::vector<uint8_t> archive, const std::string &what) {
    Bundle bundle;
    bundle.what_ = what;
    auto bytes = std::make_shared<const std::vector<uint8_t>>(std::move(archive));
    const std::vector<bundle::ZipEntry> entries = bundle::read_zip_directory(bytes->data(), bytes->size(), what);
    const bundle::ZipEntry *manifest_entry = entry_named(entries, kManifestName);
    if (!manifest_entry) throw refusal(fmt::format("{} has no {}; a bundle carries its manifest", what, kManifestName));
    const std::vector<uint8_t> text = bundle::inflate_zip_entry(bytes->data(), bytes->size(), *manifest_entry, what);
    auto manifest = std::make_shared<const BundleManifest>(
        parse_manifest(std::string(text.begin(), text.end()), fmt::format("{} in {}", kManifestName, what)));
    for (const bundle::ZipEntry &entry : entries)
        if (entry.name != kManifestName &&
            std::none_of(manifest->files.begin(), manifest->files.end(),
                         [&entry](const BundleFile &file) { return file.file == entry.name; }))
            throw refusal(fmt::format("{} holds {}, which its manifest does not list", what, entry.name));
    auto checked = std::make_shared<std::vector<Entry>>();
    for (const BundleFile &file : manifest->files) {
        const bundle::ZipEntry *entry = entry_named(entries, file.file);
        if (!entry) throw refusal(fmt::format("{} lacks {}, which its manifest lists", what, file.file));
        // The directory's size is compared before anything is inflated.
        if (entry->size != file.size)
            throw refusal(fmt::format("{} in {} holds {} bytes by the archive's directory but the manifest says {}",
                                      file.file, what, entry->size, file.size));
        check_against_manifest(bundle::inflate_zip_entry(bytes->data(), bytes->size(), *entry, what), file, what);
        checked->push_back(Entry{&file, *entry});
    }
    bundle.bytes_ = std::move(bytes);
    bundle.manifest_ = std::move(manifest);
    bundle.entries_ = std::move(checked);
    return bundle;
}

std::vector<uint8_t> Bundle::file_bytes(const BundleFile &file) const {
    for (const Entry &entry : *entries_) {
        if (entry.file->file != file.file) continue;
        std::vector<uint8_t> out = bundle::inflate_zip_entry(bytes_->data(), bytes_->size(), entry.zip, what_);
        check_against_manifest(out, *entry.file, what_);
        return out;
    }
    throw refusal(fmt::format("{} has no file {}", what_, file.file));
}

const BundleFile *Bundle::file_for(const std::string &model, const std::optional<Version> &revision,
                                   const std::optional<uint32_t> &variant) const {
    for (const BundleFile &file : manifest_->files)
        if (file.takes(model, revision, variant)) return &file;
    return nullptr;
}

bool Bundle::needs_revision(const std::string &model) const {
    return std::any_of(manifest_->files.begin(), manifest_->files.end(), [&model](const BundleFile &file) {
        return file.has_revision_rule() && std::find(file.models.begin(), file.models.end(), model) != file.models.end();
    });
}

bool Bundle::needs_variant(const std::string &model) const {
    return std::any_of(manifest_->files.begin(), manifest_->files.end(), [&model](const BundleFile &file) {
        return !file.variants.empty() && std::find(file.models.begin(), file.models.end(), model) != file.models.end();
    });
}

std::vector<ModelVerdict> judge_bundle_file(const BundleFile &file, const std::vector<uint8_t> &bytes) {
    std::vector<ModelVerdict> verdicts;
    for (const std::string &designation : file.models) {
        const BoardModel &model = model_row(designation);
        std::vector<std::optional<Version>> revisions = {std::nullopt};
        if (model.revision != RevisionRule::none) {
            if (file.revision_min)
                revisions = {file.revision_min};
            else if (file.revision_max)
                revisions = {file.revision_max};
            else
                revisions = {kBeforeMarks, kMarked};
        }
        std::vector<std::optional<uint32_t>> variants = {std::nullopt};
        if (model.variant != VariantRule::none) {
            variants.clear();
            for (const uint32_t variant : file.variants) variants.push_back(variant);
            if (variants.empty()) variants.push_back(header_variant(file.file, bytes, model).value_or(0));
        }
        for (const auto &revision : revisions)
            for (const auto &variant : variants) verdicts.push_back(judge(file.file, bytes, model, revision, variant));
    }
    return verdicts;
}

BundleFile describe_firmware(const std::string &name, const std::vector<uint8_t> &bytes) {
    BundleFile file;
    file.file = name;
    file.size = bytes.size();
    file.sha256 = sha256_text(bytes);
    const std::string problem = bundle::name_problem(name);
    if (!problem.empty()) throw refusal(fmt::format("{}: its name {}", name, problem));
    if (name.find(".pof") == std::string::npos && name.find(".rpd") == std::string::npos)
        throw refusal(fmt::format("{}: its name carries neither \".pof\" nor \".rpd\", which the update's file-name "
                                  "check needs",
                                  name));
    std::vector<std::string> refusals;
    bool named = false;
    for (const BoardModel &model : board_models()) {
        if (model.path == UpdatePath::unsupported || name.find(model.designation) == std::string::npos) continue;
        named = true;
        if (model.revision != RevisionRule::none) {
            const ModelVerdict before = judge(name, bytes, model, kBeforeMarks, std::nullopt);
            const ModelVerdict marked = judge(name, bytes, model, kMarked, std::nullopt);
            if (!before.accepted && !marked.accepted) {
                refusals.push_back(fmt::format("{}: {}", model.designation, marked.message));
                continue;
            }
            if (!before.accepted) file.revision_min = kMarked;
            if (!marked.accepted) file.revision_max = kBeforeMarks;
        } else if (model.variant != VariantRule::none) {
            const std::optional<uint32_t> variant = header_variant(name, bytes, model);
            const ModelVerdict verdict = judge(name, bytes, model, std::nullopt, variant.value_or(0));
            if (!verdict.accepted) {
                refusals.push_back(fmt::format("{}: {}", model.designation, verdict.message));
                continue;
            }
            file.variants.push_back(variant.value_or(0));
        } else {
            const ModelVerdict verdict = judge(name, bytes, model, std::nullopt, std::nullopt);
            if (!verdict.accepted) {
                refusals.push_back(fmt::format("{}: {}", model.designation, verdict.message));
                continue;
            }
        }
        file.models.push_back(model.designation);
    }
    if (!named)
        throw refusal(fmt::format("{}: its name carries no model designation (\"ZEN5160\", say), so no board would "
                                  "take it",
                                  name));
    if (file.models.empty()) {
        std::string why;
        for (const std::string &line : refusals) why += (why.empty() ? "" : "; ") + line;
        throw refusal(fmt::format("{}: no model its name carries accepts it ({})", name, why));
    }
    // Rules that belong to one model only would bind the others: a file for
    // several models carries none.
    if (file.models.size() > 1 && (file.has_revision_rule() || !file.variants.empty()))
        throw refusal(fmt::format("{} is for {} models, one of which takes it only at some revisions or variants; "
                                  "make one file per model",
                                  name, file.models.size()));
    return file;
}

std::vector<uint8_t> bundle_archive(const BundleManifest &manifest, const std::vector<std::vector<uint8_t>> &file_bytes) {
    std::vector<bundle::ZipFile> files;
    const std::string text = manifest_text(manifest);
    files.push_back(bundle::ZipFile{kManifestName, std::vector<uint8_t>(text.begin(), text.end())});
    for (std::size_t i = 0; i < manifest.files.size() && i < file_bytes.size(); ++i)
        files.push_back(bundle::ZipFile{manifest.files[i].file, file_bytes[i]});
    try {
        return bundle::zip_archive(files, manifest.created);
    } catch (const std::runtime_error &failure) {
        throw romwright::error(error_kind::file, failure.what());
    }
}

} // namespace romwright
