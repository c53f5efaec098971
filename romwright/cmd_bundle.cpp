// romwright bundle create: a firmware bundle from firmware files, each judged
// as inspect judges it, written whole under its name or not at all. No
// device-library call.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <fmt/format.h>

#include <romwright/bundle.hpp>
#include <romwright/error.hpp>
#include <romwright/frontend/bundle_source.hpp>
#include <romwright/frontend/files.hpp>
#include <romwright/frontend/history.hpp>

#include "commands.hpp"

namespace romwright::tool {
namespace {

namespace fs = std::filesystem;

romwright::error bundle_error(const std::string &message) { return romwright::error(error_kind::file, message); }

std::string rules_text(const BundleFile &file) {
    std::string text;
    for (const std::string &model : file.models) text += (text.empty() ? "" : ", ") + model;
    if (file.revision_min) text += " revision " + version_text(*file.revision_min) + " or later";
    if (file.revision_max) text += (file.revision_min ? " up to " : " revision ") + version_text(*file.revision_max) +
                                   (file.revision_min ? "" : " or earlier");
    if (!file.variants.empty()) {
        text += file.variants.size() == 1 ? " variant " : " variants ";
        for (std::size_t i = 0; i < file.variants.size(); ++i) text += fmt::format("{}{}", i ? ", " : "", file.variants[i]);
    }
    return text;
}

} // namespace

int run_bundle(const Arguments &args) {
    if (!flag(args, "create")) return kExitSuccess;
    const std::string out = args.at("<out.rwb>").asString();
    if (!frontend::is_bundle_path(out))
        throw BadCommandLine(fmt::format("{}: a bundle's name ends in .rwb, which is how update, verify and inspect "
                                         "know it",
                                         out));
    const std::vector<std::string> inputs = args.at("<firmware>").asStringList();
    if (!flag(args, "--overwrite") && frontend::file_exists(out))
        throw bundle_error(fmt::format("{} already exists; --overwrite replaces it", out));

    BundleManifest manifest;
    manifest.created = frontend::utc_now_text();
    manifest.name = text(args, "--name").value_or(fs::u8path(out).stem().u8string());
    manifest.version = text(args, "--version").value_or(manifest.created);
    std::vector<std::vector<uint8_t>> contents;
    for (const std::string &input : inputs) {
        if (frontend::same_file(input, out))
            throw bundle_error(fmt::format("{} is the bundle being written; nothing was written", input));
        frontend::InputFile file(input, "firmware file");
        if (file.size() > kLargestBundle)
            throw bundle_error(fmt::format("{} holds {} bytes, more than a bundle may", input, file.size()));
        std::vector<uint8_t> bytes = file.ReadAll();
        const std::string name = fs::u8path(input).filename().u8string();
        BundleFile described;
        try {
            described = describe_firmware(name, bytes);
        } catch (const romwright::error &refusal) {
            throw bundle_error(fmt::format("{}: refused: {}", input, refusal.what()));
        }
        manifest.files.push_back(described);
        contents.push_back(std::move(bytes));
    }
    // The manifest is read back as update reads it: a name given twice, or
    // two files for one board, are refused here rather than by every update.
    parse_manifest(manifest_text(manifest), out);
    const std::vector<uint8_t> archive = bundle_archive(manifest, contents);
    Bundle::read(archive, out);
    frontend::write_whole_file(out, archive);

    std::string report = fmt::format("Wrote {} ({} {}, {} bytes) with {} firmware file{}:\n", out, manifest.name,
                                     manifest.version, archive.size(), manifest.files.size(),
                                     manifest.files.size() == 1 ? "" : "s");
    for (const BundleFile &file : manifest.files)
        report += fmt::format("  {}  {} bytes  for {}\n", file.file, file.size, rules_text(file));
    report += fmt::format("Sign it for the machines that trust your key: minisign -S -s <secret key> -m {}\n", out);
    std::fputs(report.c_str(), stdout);
    return kExitSuccess;
}

} // namespace romwright::tool
