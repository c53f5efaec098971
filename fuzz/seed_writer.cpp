// romwright-fuzz-seeds: writes the seed corpus of every fuzz target from
// firmware files that the image maker builds, valid and damaged on purpose.
//   romwright-fuzz-seeds <corpus folder>
// makes <corpus folder>/<target>/ and fills it. Seeds are kept small: the POF
// and raw seeds carry small images or only the part of a file the reader
// looks at, the structured seeds only the bytes that differ from blank.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "engine/bundle/crypto.hpp"
#include "engine/bundle/zip_writer.hpp"
#include "fuzz/fuzz_cases.hpp"
#include "tools/mkimage/image_maker.hpp"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class Corpus {
public:
    explicit Corpus(fs::path root) : root_(std::move(root)) {}

    void add(const std::string &target, const std::string &name, const Bytes &bytes) {
        const fs::path folder = root_ / target;
        fs::create_directories(folder);
        mkimage::write_file((folder / name).string(), bytes);
        ++counts_[target];
    }

    void report() const {
        for (const auto &[target, count] : counts_) std::printf("%-12s %zu seeds\n", target.c_str(), count);
    }

private:
    fs::path root_;
    std::map<std::string, std::size_t> counts_;
};

// A small page-mode image: header at 0, an empty page_0 in the first 8 KB
// unit, the option bits behind the header.
mkimage::ImageRecipe tiny_recipe(const std::string &model, uint32_t size) {
    mkimage::ImageRecipe recipe = mkimage::default_recipe(model, size);
    recipe.page0 = {0, 0};
    recipe.option_bits_offset = size / 2;
    return recipe;
}

std::optional<Bytes> try_make(const mkimage::FileRecipe &recipe) {
    try {
        return mkimage::make_file(recipe);
    } catch (const mkimage::MakerError &) {
        return std::nullopt;  // a damage that this layout cannot carry
    }
}

void write_pof_seeds(Corpus &corpus) {
    std::vector<std::pair<std::string, mkimage::FileRecipe>> recipes;
    mkimage::FileRecipe small{mkimage::Format::pof, "CFG_FLASH", tiny_recipe("ZEN5110", 0x400), std::nullopt};
    recipes.emplace_back("small", small);
    mkimage::FileRecipe dual = small;
    dual.primary = tiny_recipe("ZEN5120", 0x200);
    dual.secondary = mkimage::default_secondary(dual.primary);
    recipes.emplace_back("dual", dual);

    for (const auto &[name, base] : recipes) {
        for (const mkimage::BrokenInfo &info : mkimage::broken_variants()) {
            if (!info.for_pof || info.variant == mkimage::Broken::truncate) continue;
            mkimage::FileRecipe recipe = base;
            recipe.broken = info.variant;
            if (const auto bytes = try_make(recipe)) corpus.add("pof_reader", name + "-" + info.name + ".pof", *bytes);
        }
        mkimage::FileRecipe cut = base;
        cut.broken = mkimage::Broken::truncate;
        for (uint64_t kept : {0, 3, 11, 12, 17, 40, 100}) {
            cut.broken_arg = kept;
            if (const auto bytes = try_make(cut)) corpus.add("pof_reader", fmt::format("{}-truncate-{}.pof", name, kept), *bytes);
        }
    }
}

// A raw seed keeps the file's last bytes from a little before its option
// bits; the rest of the file is a hole of zeros, as the loader sees it.
fuzzing::RawCase raw_case(const Bytes &file, std::size_t tail) {
    tail = std::min(tail, file.size());
    return fuzzing::RawCase{static_cast<uint32_t>(file.size() - tail),
                            Bytes(file.end() - static_cast<std::ptrdiff_t>(tail), file.end())};
}

void write_raw_seeds(Corpus &corpus) {
    // Sizes on both sides of the 128 KB window, even and odd.
    for (uint32_t size : {0x20400u, 0x20401u, 0x24000u, 0x3FFFFu}) {
        mkimage::ImageRecipe image = mkimage::default_recipe("ZEN5110", size);
        image.page0 = {0x20000, 0x20000};
        image.option_bits_offset = size - 0x200;
        for (const mkimage::BrokenInfo &info : mkimage::broken_variants()) {
            if (!info.for_rpd) continue;
            mkimage::FileRecipe recipe{mkimage::Format::rpd, "", image, std::nullopt, info.variant, 0x20000};
            if (const auto bytes = try_make(recipe))
                corpus.add("raw_image", fmt::format("{:x}-{}.seed", size, info.name), fuzzing::encode(raw_case(*bytes, 0x300)));
        }
    }
    const Bytes short_file = {0x20, 0x00, 0x02, 0x00, 0x04};
    corpus.add("raw_image", "short.seed", fuzzing::encode(fuzzing::RawCase{0, short_file}));
}

struct Flags {
    bool auto_select_pages, write_page0, write_page1, write_option_bits, debug;
};
constexpr Flags kFlagSets[] = {
    {true, true, false, true, false},
    {false, true, true, true, true},
    {false, false, true, false, false},
    {false, true, false, false, true},
};

fuzzing::Patch option_bits_patch(const Bytes &image, uint32_t at) {
    const auto first = image.begin() + at;
    return fuzzing::Patch{at, Bytes(first, first + mkimage::kOptionBitsSize)};
}

// The primary image inside a POF file the maker wrote: the payload of its
// first data packet after the three address words.
Bytes primary_image_of(const Bytes &pof) {
    const auto le = [&](std::size_t at, int bytes) {
        uint32_t value = 0;
        for (int k = bytes - 1; k >= 0; --k) value = value << 8 | pof[at + static_cast<std::size_t>(k)];
        return value;
    };
    for (std::size_t at = 12; at + 6 <= pof.size();) {
        const uint32_t tag = le(at, 2), size = le(at + 2, 4);
        const auto payload = pof.begin() + static_cast<std::ptrdiff_t>(at + 6);
        if (tag == mkimage::kTagData) return Bytes(payload + 12, payload + size);
        if (tag == mkimage::kTagTerminator) break;
        at += 6 + size;
    }
    return {};
}

const mkimage::Broken kLayoutVariants[] = {
    mkimage::Broken::none,           mkimage::Broken::page0_blank,         mkimage::Broken::page0_start_outside,
    mkimage::Broken::page0_end_outside, mkimage::Broken::page0_reversed,   mkimage::Broken::page1_start_outside,
    mkimage::Broken::page1_end_outside, mkimage::Broken::page1_reversed,
};

std::string variant_name(mkimage::Broken variant) {
    for (const mkimage::BrokenInfo &info : mkimage::broken_variants())
        if (info.variant == variant) return info.name;
    return "unknown";
}

// The maker's images for boards of both modes and with two pages, valid
// and with each damaged layout: (name, recipe, image bytes).
struct MadeImage {
    std::string name;
    mkimage::ImageRecipe recipe;
    Bytes bytes;
};

std::vector<MadeImage> layout_images(uint32_t size) {
    std::vector<std::pair<std::string, mkimage::ImageRecipe>> recipes;
    recipes.emplace_back("page-mode", mkimage::default_recipe("ZEN5110", size));
    recipes.emplace_back("sector-mode", mkimage::default_recipe("ZEN5160", size));
    mkimage::ImageRecipe two = mkimage::default_recipe("ZEN5130", size);
    two.page0 = {0x20000, size / 2};
    two.page1 = mkimage::PageRange{size / 2, size - 0x4000};
    recipes.emplace_back("two-pages", two);

    std::vector<MadeImage> made;
    for (const auto &[name, recipe] : recipes) {
        for (mkimage::Broken variant : kLayoutVariants) {
            mkimage::FileRecipe file{mkimage::Format::pof, "", recipe, std::nullopt, variant, 0};
            if (const auto pof = try_make(file))
                made.push_back({name + "-" + variant_name(variant), recipe, primary_image_of(*pof)});
        }
    }
    return made;
}

// Layouts as the maker writes them under several page options.
void write_layout_seeds(Corpus &corpus) {
    for (const MadeImage &image : layout_images(fuzzing::kMaxLayoutLength)) {
        const uint32_t block = image.recipe.option_bits_offset;
        for (std::size_t k = 0; k < std::size(kFlagSets); ++k) {
            const Flags &f = kFlagSets[k];
            const fuzzing::LayoutCase c{f.auto_select_pages, f.write_page0, f.write_page1, f.write_option_bits,
                                        f.debug, block, block + mkimage::kOptionBitsSize,
                                        static_cast<uint32_t>(image.bytes.size()),
                                        {option_bits_patch(image.bytes, block)}};
            corpus.add("page_layout", fmt::format("{}-{}.seed", image.name, k), fuzzing::encode(c));
        }
    }
}

// Headers for every board model at its place, with and without debug; the
// ZEN5120 with a secondary image under both revisions, the ZEN5170 under a
// variant that fits and one that does not.
void write_check_seeds(Corpus &corpus) {
    constexpr std::size_t kHeadBytes = 16;
    for (const mkimage::BoardModel &board : mkimage::board_models()) {
        mkimage::ImageRecipe recipe = mkimage::default_recipe(board, 0x80000);
        recipe.header.word2 = board.kind == 29 ? 0x0003 : 0x0090;
        const Bytes image = mkimage::make_image(recipe, mkimage::Format::pof);
        const auto head = image.begin() + recipe.header_offset;
        fuzzing::CheckCase c;
        c.sector_mode = board.sector_mode;
        c.kind = board.kind;
        c.board_id = board.board_id;
        c.variant = 3;
        c.padding = recipe.header_offset;
        c.primary.assign(head, head + kHeadBytes);
        corpus.add("image_check", fmt::format("{}.seed", board.model), fuzzing::encode(c));
        c.debug = true;
        c.variant = 2;
        corpus.add("image_check", fmt::format("{}-debug.seed", board.model), fuzzing::encode(c));
        if (board.kind != 13) continue;

        const Bytes secondary = mkimage::make_image(mkimage::default_secondary(recipe), mkimage::Format::pof);
        c.debug = false;
        c.secondary.assign(secondary.begin(), secondary.begin() + kHeadBytes);
        for (const auto &[major, minor] : {std::pair{1, 2}, {1, 3}, {0, 15}, {2, 0}}) {
            c.revision_major = static_cast<uint8_t>(major);
            c.revision_minor = static_cast<uint8_t>(minor);
            corpus.add("image_check", fmt::format("{}-secondary-{}.{}.seed", board.model, major, minor),
                       fuzzing::encode(c));
        }
        c.revision_fails = true;
        corpus.add("image_check", fmt::format("{}-no-revision.seed", board.model), fuzzing::encode(c));
    }
}

// The pages of the image that hold data, as patches, up to a byte budget.
std::vector<fuzzing::Patch> data_patches(const Bytes &image, std::size_t budget) {
    std::vector<fuzzing::Patch> patches;
    constexpr std::size_t kPiece = 64;
    for (std::size_t at = 0; at + kPiece <= image.size() && budget >= kPiece; at += 0x4000) {
        const auto first = image.begin() + static_cast<std::ptrdiff_t>(at);
        if (std::all_of(first, first + kPiece, [](uint8_t b) { return b == 0xFF; })) continue;
        patches.push_back({static_cast<uint32_t>(at), Bytes(first, first + kPiece)});
        budget -= kPiece;
    }
    return patches;
}

void write_plan_seeds(Corpus &corpus) {
    for (const MadeImage &image : layout_images(fuzzing::kMaxPlanLength)) {
        const mkimage::ImageRecipe &r = image.recipe;
        std::vector<fuzzing::Patch> patches = data_patches(image.bytes, 1024);
        patches.push_back(option_bits_patch(image.bytes, r.option_bits_offset));
        for (std::size_t k = 0; k < std::size(kFlagSets); ++k) {
            const Flags &f = kFlagSets[k];
            fuzzing::PlanCase c;
            c.sector_mode = r.header_offset != 0;
            c.write_page0 = f.write_page0;
            c.write_page1 = f.write_page1;
            c.write_option_bits = f.write_option_bits;
            c.page1_present = r.page1.has_value();
            c.through_layout = k % 2 == 0;
            c.auto_select_pages = f.auto_select_pages;
            c.page0_start = r.page0.start;
            c.page0_end = r.page0.end;
            c.page1_start = r.page1 ? r.page1->start : 0;
            c.page1_end = r.page1 ? r.page1->end : 0;
            c.option_bits_start = r.option_bits_offset;
            c.option_bits_end = r.option_bits_offset + mkimage::kOptionBitsSize;
            c.length = static_cast<uint32_t>(image.bytes.size());
            c.patches = patches;
            corpus.add("planner", fmt::format("{}-{}.seed", image.name, k), fuzzing::encode(c));
        }
    }
}

} // namespace

// Small bundles: a manifest and files whose sizes and SHA-256 it gives, as
// bundle create writes them, with rules, stored and deflated files, and a
// minisign signature file's text.
std::string sha256_text(const Bytes &bytes) {
    const romwright::bundle::Sha256 hash = romwright::bundle::sha256(bytes.data(), bytes.size());
    return romwright::bundle::hex_text(hash.data(), hash.size());
}

std::string manifest_entry(const std::string &file, const std::string &models, const std::string &rules,
                           const Bytes &bytes) {
    return fmt::format(R"({{"file": "{}", "models": [{}], {}"size": {}, "sha256": "{}"}})", file, models, rules,
                       bytes.size(), sha256_text(bytes));
}

void write_bundle_seeds(Corpus &corpus) {
    Bytes blank(300, 0xFF), patterned(200);
    for (std::size_t i = 0; i < patterned.size(); ++i) patterned[i] = static_cast<uint8_t>(i * 37);
    const auto bundle = [&corpus](const std::string &name, const std::vector<std::pair<std::string, std::string>> &entries,
                                  const std::vector<romwright::bundle::ZipFile> &files) {
        std::string list;
        for (const auto &entry : entries) list += (list.empty() ? "" : ", ") + entry.second;
        const std::string manifest = fmt::format(
            R"({{"schema_version": 1, "name": "seed", "version": "1", "created": "2026-12-09T10:00:00Z", "files": [{}]}})",
            list);
        std::vector<romwright::bundle::ZipFile> all = {{"manifest.json", Bytes(manifest.begin(), manifest.end())}};
        all.insert(all.end(), files.begin(), files.end());
        corpus.add("bundle_reader", name + ".rwb", romwright::bundle::zip_archive(all, "2026-12-09T10:00:00Z"));
    };
    bundle("one", {{"fw-ZEN5160.pof", manifest_entry("fw-ZEN5160.pof", "\"ZEN5160\"", "", blank)}},
           {{"fw-ZEN5160.pof", blank}});
    bundle("rules",
           {{"a", manifest_entry("old-ZEN5120.pof", "\"ZEN5120\"", R"("revision": {"max": "1.2"}, )", patterned)},
            {"b", manifest_entry("new-ZEN5120.rpd", "\"ZEN5120\"", R"("revision": {"min": "1.3"}, )", blank)},
            {"c", manifest_entry("v3-ZEN5170.pof", "\"ZEN5170\"", R"("variant": [3], )", patterned)}},
           {{"old-ZEN5120.pof", patterned}, {"new-ZEN5120.rpd", blank}, {"v3-ZEN5170.pof", patterned}});
    const std::string signature =
        "untrusted comment: signature from minisign secret key\n"
        "RUQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=\n"
        "trusted comment: timestamp:1765274400\tfile:lab.rwb\n"
        "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA==\n";
    corpus.add("bundle_reader", "signature.minisig", Bytes(signature.begin(), signature.end()));
}

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: romwright-fuzz-seeds <corpus folder>\n");
        return 2;
    }
    try {
        Corpus corpus{fs::path(argv[1])};
        write_pof_seeds(corpus);
        write_raw_seeds(corpus);
        write_layout_seeds(corpus);
        write_check_seeds(corpus);
        write_plan_seeds(corpus);
        write_bundle_seeds(corpus);
        corpus.report();
    } catch (const std::exception &error) {
        std::fprintf(stderr, "romwright-fuzz-seeds: %s\n", error.what());
        return 1;
    }
    return 0;
}
