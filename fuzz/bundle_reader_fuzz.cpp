// The bundle reader on arbitrary archives: every input is a whole bundle
// file, read as update reads it (directory, names, manifest, every file
// inflated and held against the manifest). A bundle is refused, or every
// file it lists comes out again with the manifest's size; the same bytes
// read as a minisign signature file are refused or parsed, never more.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <romwright/bundle.hpp>
#include <romwright/error.hpp>

#include "engine/bundle/minisign.hpp"
#include "engine/bundle/zip_archive.hpp"
#include "fuzz/fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    try {
        const romwright::Bundle bundle = romwright::Bundle::read(std::vector<uint8_t>(data, data + size), "fuzz.rwb");
        uint64_t total = 0;
        for (const romwright::BundleFile &file : bundle.manifest().files) {
            const std::vector<uint8_t> bytes = bundle.file_bytes(file);
            fuzzing::expect(bytes.size() == file.size, "a bundle's file holds the size its manifest gives");
            total += bytes.size();
            // A board its rules take gets this file, and no other: no two files are for one board.
            const std::optional<romwright::Version> revision = file.revision_min ? file.revision_min : file.revision_max;
            const std::optional<uint32_t> variant =
                file.variants.empty() ? std::nullopt : std::optional<uint32_t>(file.variants.front());
            fuzzing::expect(bundle.file_for(file.models.front(), revision, variant) == &file,
                            "a board the file's rules take gets that file");
        }
        fuzzing::expect(total <= romwright::bundle::kMostArchiveBytes, "the files inflate within the limit");
    } catch (const romwright::error &) {  // refusals: the archive, its manifest or a file
    }
    try {
        const auto signature = romwright::bundle::parse_minisign_signature(
            std::string(reinterpret_cast<const char *>(data), size), "fuzz.rwb.minisig");
        fuzzing::expect(signature.trusted_comment.size() < size, "the trusted comment comes from the file");
    } catch (const romwright::error &) {
    }
    return 0;
}
