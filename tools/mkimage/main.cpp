// romwright-mkimage: writes firmware files for Korvel digitizer boards, valid
// or damaged on purpose, for the demo and the tests.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "image_maker.hpp"

namespace {

constexpr const char *kUsage = R"(Usage: romwright-mkimage --board MODEL --out FILE [options]

Writes a firmware image for a Korvel digitizer board: a raw ".rpd" picture of
the flash from address 0, or a ".pof" packet file carrying that picture.

  --board MODEL             board model, ZEN5100 to ZEN5198 (e.g. ZEN5160); gives the
                            header's board id and place (sector-mode boards ZEN5160,
                            ZEN5170, ZEN5142, ZEN5171: offset 0x40000; others: 0)
  --out FILE                file to write
  --format pof|rpd          file format (default: from FILE's extension)
  --size BYTES              image length (default 4M)
  --page0 START:END         page_0 byte range, END exclusive, multiples of 0x2000
                            (default 0x20000:0x200000, sector mode 0x20000:0x300000,
                            cut short where the option bits begin)
  --page1 START:END         page_1 byte range (default: no page_1)
  --option-bits OFFSET      offset of the 128-byte option-bits block (default SIZE-0x2000;
                            raw files need it in the last 128 KB at an offset of the
                            size's parity, and page_0 starting at 0x20000)
  --board-id HEX            header word 0 (default: the board's id, e.g. 5160; 0 = any)
  --signature HEX           header word 1 (default 5731)
  --word2 HEX               header word 2 (default 0; ZEN5170: the board variant in the
                            low byte; ZEN5120: 90 for boards of revision 1.3 or later)
  --secondary               add a secondary image (POF only; its header at offset 0,
                            word 2 90 unless the primary's is 90, then 10)
  --secondary-board-id HEX  secondary header word 0 (implies --secondary)
  --secondary-signature HEX secondary header word 1 (implies --secondary)
  --secondary-word2 HEX     secondary header word 2 (implies --secondary)
  --seed N                  payload seed (default 1); the same seed gives the same image
  --blank-fraction F        share of blank (0xFF) 32-byte pages inside the pages (default 0.25)
  --device-name TEXT        device-name packet text of a POF file (default CFG_FLASH)
  --broken VARIANT          write a damaged file (variants below)
  --help                    show this text

Numbers take decimal or 0x hex with an optional K (1024) or M (1048576) suffix;
HEX values are hexadecimal with or without 0x.

Broken variants:
)";

struct Arguments {
    std::map<std::string, std::string> values;
    bool secondary = false;
    bool help = false;

    std::optional<std::string> get(const std::string &name) const {
        const auto found = values.find(name);
        if (found == values.end()) return std::nullopt;
        return found->second;
    }
};

const std::vector<std::string> kValueOptions = {
    "--board",      "--out",          "--format",       "--size",     "--page0",
    "--page1",      "--option-bits",  "--board-id",     "--signature", "--word2",
    "--secondary-board-id", "--secondary-signature", "--secondary-word2", "--seed",
    "--blank-fraction", "--device-name", "--broken",
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

Arguments parse_arguments(int argc, char **argv) {
    Arguments arguments;
    for (int k = 1; k < argc; ++k) {
        std::string name = argv[k];
        std::optional<std::string> inline_value;
        if (const auto equals = name.find('='); name.rfind("--", 0) == 0 && equals != std::string::npos) {
            inline_value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        if (name == "--help" || name == "-h") {
            arguments.help = true;
        } else if (name == "--secondary") {
            arguments.secondary = true;
        } else if (std::find(kValueOptions.begin(), kValueOptions.end(), name) != kValueOptions.end()) {
            if (!inline_value && k + 1 >= argc) throw UsageError(fmt::format("{} needs a value", name));
            arguments.values[name] = inline_value ? *inline_value : argv[++k];
        } else {
            throw UsageError(fmt::format("unknown option \"{}\"", name));
        }
    }
    return arguments;
}

uint16_t parse_hex_word(const std::string &text, const std::string &what) {
    const bool prefixed = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const uint64_t value = mkimage::parse_number(prefixed ? text : "0x" + text, what);
    if (value > 0xFFFF) throw mkimage::MakerError(fmt::format("{}: \"{}\" does not fit 16 bits", what, text));
    return static_cast<uint16_t>(value);
}

uint32_t parse_u32(const std::string &text, const std::string &what) {
    const uint64_t value = mkimage::parse_number(text, what);
    if (value > 0xFFFFFFFFull) throw mkimage::MakerError(fmt::format("{}: \"{}\" does not fit 32 bits", what, text));
    return static_cast<uint32_t>(value);
}

mkimage::Format parse_format(const Arguments &arguments, const std::string &out) {
    std::string name = arguments.get("--format").value_or("");
    if (name.empty()) {
        const auto dot = out.rfind('.');
        name = dot == std::string::npos ? "" : out.substr(dot + 1);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    }
    if (name == "pof") return mkimage::Format::pof;
    if (name == "rpd") return mkimage::Format::rpd;
    throw UsageError(fmt::format("unknown format \"{}\": give --format pof or --format rpd", name));
}

void apply_header(const Arguments &arguments, const std::string &prefix, mkimage::HeaderWords &header) {
    const struct {
        const char *name;
        uint16_t mkimage::HeaderWords::*word;
    } kWords[] = {{"board-id", &mkimage::HeaderWords::board_id},
                  {"signature", &mkimage::HeaderWords::signature},
                  {"word2", &mkimage::HeaderWords::word2}};
    for (const auto &entry : kWords) {
        const std::string option = prefix + entry.name;
        if (auto value = arguments.get(option)) header.*entry.word = parse_hex_word(*value, option);
    }
}

mkimage::ImageRecipe primary_recipe(const Arguments &arguments, const mkimage::BoardModel &board) {
    const uint32_t size = arguments.get("--size") ? parse_u32(*arguments.get("--size"), "--size") : 0;
    if (arguments.get("--size") && size == 0) throw mkimage::MakerError("--size: the image size must not be 0");
    mkimage::ImageRecipe recipe = mkimage::default_recipe(board, size);
    if (auto value = arguments.get("--option-bits")) {
        recipe.option_bits_offset = parse_u32(*value, "--option-bits");
        const uint32_t below_block = recipe.option_bits_offset - recipe.option_bits_offset % mkimage::kPageAlignment;
        recipe.page0.end = std::max(recipe.page0.start, std::min(recipe.page0.end, below_block));
    }
    if (auto value = arguments.get("--page0")) recipe.page0 = mkimage::parse_range(*value, "--page0");
    if (auto value = arguments.get("--page1")) recipe.page1 = mkimage::parse_range(*value, "--page1");
    if (auto value = arguments.get("--seed")) recipe.seed = mkimage::parse_number(*value, "--seed");
    if (auto value = arguments.get("--blank-fraction")) {
        try {
            std::size_t used = 0;
            recipe.blank_fraction = std::stod(*value, &used);
            if (used != value->size()) throw std::invalid_argument(*value);
        } catch (const std::exception &) {
            throw mkimage::MakerError(fmt::format("--blank-fraction: \"{}\" is not a number", *value));
        }
    }
    apply_header(arguments, "--", recipe.header);
    return recipe;
}

mkimage::FileRecipe file_recipe(const Arguments &arguments) {
    const auto model = arguments.get("--board");
    const auto out = arguments.get("--out");
    if (!model) throw UsageError("--board is required");
    if (!out) throw UsageError("--out is required");
    const mkimage::BoardModel &board = mkimage::find_board_model(*model);

    mkimage::FileRecipe recipe;
    recipe.format = parse_format(arguments, *out);
    recipe.device_name = arguments.get("--device-name").value_or("");
    recipe.primary = primary_recipe(arguments, board);
    const bool secondary = arguments.secondary || arguments.get("--secondary-board-id") ||
                           arguments.get("--secondary-signature") || arguments.get("--secondary-word2");
    if (secondary) {
        recipe.secondary = mkimage::default_secondary(recipe.primary);
        apply_header(arguments, "--secondary-", recipe.secondary->header);
    }
    if (auto value = arguments.get("--broken")) {
        recipe.broken = mkimage::parse_broken(*value);
        if (recipe.broken == mkimage::Broken::truncate) {
            const auto colon = value->find(':');
            if (colon == std::string::npos) throw UsageError("--broken truncate needs a length: truncate:N");
            recipe.broken_arg = mkimage::parse_number(value->substr(colon + 1), "--broken truncate");
        }
    }
    return recipe;
}

void print_usage(std::FILE *stream) {
    fmt::print(stream, "{}", kUsage);
    for (const auto &variant : mkimage::broken_variants()) {
        const char *formats = variant.for_pof && variant.for_rpd ? "pof, rpd" : variant.for_pof ? "pof" : "rpd";
        fmt::print(stream, "  {:<22}{} ({})\n", variant.name, variant.meaning, formats);
    }
    fmt::print(stream, "\nExit status: 0 written, 1 refused, 2 bad command line.\n");
}

} // namespace

int main(int argc, char **argv) {
    try {
        const Arguments arguments = parse_arguments(argc, argv);
        if (arguments.help) {
            print_usage(stdout);
            return 0;
        }
        const mkimage::FileRecipe recipe = file_recipe(arguments);
        const std::string out = *arguments.get("--out");
        const std::vector<uint8_t> bytes = mkimage::make_file(recipe);
        mkimage::write_file(out, bytes);
        fmt::print("romwright-mkimage: wrote {} ({} bytes, {} {} file)\n", out, bytes.size(), *arguments.get("--board"),
                   recipe.format == mkimage::Format::pof ? "POF" : "raw");
        return 0;
    } catch (const UsageError &error) {
        fmt::print(stderr, "romwright-mkimage: {}\n\n", error.what());
        print_usage(stderr);
        return 2;
    } catch (const std::exception &error) {
        fmt::print(stderr, "romwright-mkimage: {}\n", error.what());
        return 1;
    }
}
