// romwright inspect: what a firmware file holds and, for a model, what its
// update would do. No device-library call.
#include <cstdio>
#include <string>

#include <fmt/format.h>

#include <romwright/bundle.hpp>
#include <romwright/error.hpp>
#include <romwright/frontend/bundle_source.hpp>
#include <romwright/inspection.hpp>

#include "commands.hpp"
#include "json_writer.hpp"

namespace romwright::tool {
namespace {

std::pair<uint32_t, uint32_t> revision_option(const std::string &value) {
    unsigned major = 0, minor = 0;
    char end = 0;
    if (std::sscanf(value.c_str(), "%u.%u%c", &major, &minor, &end) != 2)
        throw BadCommandLine(fmt::format("--revision must be <major.minor>, not \"{}\"", value));
    return {major, minor};
}

InspectRequest request_of(const Arguments &args) {
    InspectRequest request;
    request.path = args.at("<file>").asString();
    request.model = text(args, "--board");
    if (const auto revision = text(args, "--revision")) request.revision = revision_option(*revision);
    if (text(args, "--variant")) request.variant = static_cast<uint32_t>(id_option(args, "--variant", 0));
    request.page0 = flag(args, "--page0");
    request.page1 = flag(args, "--page1");
    return request;
}

std::string range(const InspectedRange &r) { return fmt::format("0x{:08X}..0x{:08X}", r.begin, r.end); }

void print_text(const Inspection &in) {
    std::string out;
    out += fmt::format("File: {}\nFormat: {}\nSize: {} bytes\nAdler-32: {:08x}\n", in.path,
                       in.format == "pof" ? "POF" : "raw", in.size, in.adler32);
    if (in.pof) {
        const InspectedPof &pof = *in.pof;
        out += fmt::format("POF packets: {}\n  creator: {}\n  device: {}\n  comment: {}\n", pof.packet_count,
                           pof.creator, pof.device, pof.comment);
        for (const InspectedPacket &p : pof.unknown_packets)
            out += fmt::format("  packet {}: unknown tag {} ({} bytes)\n", p.index, p.tag, p.size);
        if (pof.crc_read)
            out += fmt::format("  CRC stored 0x{:04X}, computed 0x{:04X}{}\n", pof.crc_stored, pof.crc_computed,
                               pof.crc_stored == pof.crc_computed ? "" : " (MISMATCH)");
    }
    if (!in.load_error.empty()) out += fmt::format("Not loadable: {}\n", in.load_error);
    for (const InspectedSlot &slot : in.slots) {
        out += fmt::format("Image {} ({}): {} bytes\n", slot.index, slot.index == 0 ? "primary" : "secondary",
                           slot.size);
        if (slot.header_present)
            out += fmt::format("  header at 0x{:X}: board id 0x{:04X}, signature 0x{:04X}, word 2 0x{:04X}\n",
                               slot.header_offset, slot.board_id, slot.signature, slot.word2);
        if (slot.option_bits_found)
            out += fmt::format("  option bits {} ({})\n", range(slot.option_bits), slot.option_bits_hex);
        if (slot.layout_read) {
            out += fmt::format("  page 0 {}\n", range(slot.page0));
            out += slot.page1_present ? fmt::format("  page 1 {}\n", range(slot.page1)) : "  page 1 absent\n";
        } else {
            out += fmt::format("  page layout: {}\n", slot.layout_error);
        }
    }
    if (in.model) {
        if (!in.accepted) {
            std::string verdict = in.verdict;
            while (!verdict.empty() && verdict.back() == '\n') verdict.pop_back();
            out += fmt::format("{}: refused: {}\n", *in.model, verdict);
        } else {
            const InspectedPlan &plan = *in.plan;
            out += fmt::format("{}: accepted, image {} is programmed ({})\n", *in.model, in.slot, path_name(plan.mode));
            out += fmt::format("  erase {} sectors of 0x{:X} bytes:\n", plan.sectors_to_erase, plan.sector_size);
            for (const PlannedRun &run : plan.erase_runs)
                out += fmt::format("    {} sectors {}\n", run.units, range(run.range));
            out += fmt::format("  write {} {}:\n", plan.pages_to_write,
                               plan.mode == ProgrammingPath::page_mode ? "pages of 32 bytes" : "sectors");
            for (const PlannedRun &run : plan.write_runs)
                out += fmt::format("    {} {}\n", run.units, range(run.range));
            if (plan.trailing_sector_checked) out += "  the sector the image ends in is read first\n";
            out += fmt::format("  device commands: {} ({} library calls)\n", plan.device_commands, plan.library_calls);
            out += fmt::format("  least pause time: {} ms ({})\n", plan.least_pause_ms, plan.pause_note);
        }
    }
    std::fputs(out.c_str(), stdout);
}

void json_range(JsonWriter &json, const char *key, const InspectedRange &r) {
    json.begin_object(key).field("begin", r.begin).field("end", r.end).end_object();
}

void json_runs(JsonWriter &json, const char *key, const std::vector<PlannedRun> &runs) {
    json.begin_array(key);
    for (const PlannedRun &run : runs)
        json.begin_object().field("count", run.units).field("begin", run.range.begin).field("end", run.range.end).end_object();
    json.end_array();
}

void print_json(const Inspection &in) {
    JsonWriter json;
    json.begin_object().field("schema_version", uint32_t{1}).field("command", "inspect");
    json.field("file", in.path).field("format", in.format).field("size", in.size);
    json.field("adler32", fmt::format("{:08x}", in.adler32));
    if (in.pof) {
        const InspectedPof &pof = *in.pof;
        json.begin_object("pof").field("packet_count", pof.packet_count).field("creator", pof.creator);
        json.field("device", pof.device).field("comment", pof.comment).begin_array("unknown_packets");
        for (const InspectedPacket &p : pof.unknown_packets)
            json.begin_object().field("index", p.index).field("tag", p.tag).field("size", p.size).end_object();
        json.end_array();
        if (pof.crc_read)
            json.field("crc_stored", pof.crc_stored).field("crc_computed", pof.crc_computed);
        else
            json.null_field("crc_stored").null_field("crc_computed");
        json.end_object();
    } else {
        json.null_field("pof");
    }
    if (in.load_error.empty()) json.null_field("load_error"); else json.field("load_error", in.load_error);
    json.begin_array("images");
    for (const InspectedSlot &slot : in.slots) {
        json.begin_object().field("index", slot.index).field("size", slot.size);
        if (slot.header_present)
            json.begin_object("header").field("offset", slot.header_offset).field("board_id", slot.board_id)
                .field("signature", slot.signature).field("word2", slot.word2).end_object();
        else
            json.null_field("header");
        if (slot.option_bits_found) {
            json_range(json, "option_bits", slot.option_bits);
            json.field("option_bits_layout_hex", slot.option_bits_hex);
        } else {
            json.null_field("option_bits");
        }
        if (slot.layout_read) {
            json.begin_object("page_layout");
            json_range(json, "page0", slot.page0);
            if (slot.page1_present) json_range(json, "page1", slot.page1); else json.null_field("page1");
            json.end_object();
        } else {
            json.null_field("page_layout").field("page_layout_error", slot.layout_error);
        }
        json.end_object();
    }
    json.end_array();
    if (in.model) {
        json.begin_object("check").field("model", *in.model).field("accepted", in.accepted);
        if (in.accepted) json.field("image", in.slot).null_field("message"); else json.null_field("image").field("message", in.verdict);
        json.end_object();
        if (in.plan) {
            const InspectedPlan &plan = *in.plan;
            json.begin_object("plan").field("mode", path_name(plan.mode)).field("sector_size", plan.sector_size);
            json.field("sectors_to_erase", plan.sectors_to_erase);
            json_runs(json, "erase_runs", plan.erase_runs);
            json.field("write_unit", plan.mode == ProgrammingPath::page_mode ? "page" : "sector");
            json.field("units_to_write", plan.pages_to_write);
            json_runs(json, "write_runs", plan.write_runs);
            json.field("reads_trailing_sector", plan.trailing_sector_checked);
            json.field("device_commands", plan.device_commands).field("library_calls", plan.library_calls);
            json.field("least_pause_ms", plan.least_pause_ms).field("pause_note", plan.pause_note).end_object();
        } else {
            json.null_field("plan");
        }
    }
    json.end_object();
    std::fputs(json.text().c_str(), stdout);
}

// ---------------------------------------------------------------------------
// A bundle: its manifest, each file's verdicts, its signature.

struct BundleInspection {
    std::string path;
    Bundle bundle;
    frontend::SignatureState signature;
    bool signature_accepted = false;
    std::vector<std::vector<ModelVerdict>> verdicts;  // of each file
    bool accepted = false;
};

std::string rules_of(const BundleFile &file) {
    std::string text;
    for (const std::string &model : file.models) text += (text.empty() ? "" : ", ") + model;
    if (file.revision_min) text += " revision " + version_text(*file.revision_min) + " or later";
    if (file.revision_max)
        text += (file.revision_min ? " up to " : " revision ") + version_text(*file.revision_max) +
                (file.revision_min ? "" : " or earlier");
    for (std::size_t i = 0; i < file.variants.size(); ++i)
        text += fmt::format("{}{}", i == 0 ? (file.variants.size() == 1 ? " variant " : " variants ") : ", ",
                            file.variants[i]);
    return text;
}

std::string verdict_line(const ModelVerdict &v) {
    std::string board = v.model;
    if (v.revision) board += " revision " + version_text(*v.revision);
    if (v.variant) board += fmt::format(" variant {}", *v.variant);
    if (!v.accepted) return fmt::format("{}: refused: {}", board, v.message);
    if (v.image < 0) return fmt::format("{}: accepted ({}): {}", board, v.path, v.message);
    return fmt::format("{}: accepted, image {} is programmed ({})", board, v.image, v.path);
}

void print_bundle_text(const BundleInspection &in) {
    const BundleManifest &m = in.bundle.manifest();
    std::string out = fmt::format("Bundle: {}\nName: {}\nVersion: {}\nCreated: {}\nSize: {} bytes\n", in.path, m.name,
                                  m.version, m.created, in.bundle.bytes().size());
    const frontend::SignatureState &sig = in.signature;
    switch (sig.kind) {
    case frontend::SignatureState::Kind::trusted:
        out += fmt::format("Signature: valid, by trusted key {} ({}){}\n  trusted comment: {}\n", sig.key_id,
                           sig.key_file, sig.prehashed ? ", pre-hashed" : "", sig.trusted_comment);
        break;
    case frontend::SignatureState::Kind::unsigned_bundle:
        out += fmt::format("Signature: none{}\n  {}\n", in.signature_accepted ? " (taken: --allow-unsigned)" : "",
                           sig.problem);
        break;
    case frontend::SignatureState::Kind::untrusted:
    case frontend::SignatureState::Kind::invalid:
        out += fmt::format("Signature: {}\n  {}\n", frontend::kind_name(sig.kind), sig.problem);
        if (!sig.trusted_comment.empty()) out += fmt::format("  trusted comment (not verified): {}\n", sig.trusted_comment);
        break;
    }
    out += fmt::format("Files: {}\n", m.files.size());
    for (std::size_t i = 0; i < m.files.size(); ++i) {
        const BundleFile &file = m.files[i];
        out += fmt::format("  {}: {} bytes, SHA-256 {}\n    for {}\n", file.file, file.size, file.sha256, rules_of(file));
        for (const ModelVerdict &v : in.verdicts[i]) out += "    " + verdict_line(v) + "\n";
    }
    out += in.accepted ? "An update takes this bundle.\n" : "An update refuses this bundle.\n";
    std::fputs(out.c_str(), stdout);
}

void print_bundle_json(const BundleInspection &in) {
    const BundleManifest &m = in.bundle.manifest();
    JsonWriter json;
    json.begin_object().field("schema_version", uint32_t{1}).field("command", "inspect");
    json.field("bundle", in.path).field("size", uint64_t{in.bundle.bytes().size()});
    json.field("name", m.name).field("version", m.version).field("created", m.created);
    const frontend::SignatureState &sig = in.signature;
    json.begin_object("signature").field("state", frontend::kind_name(sig.kind)).field("accepted", in.signature_accepted);
    const auto optional_text = [&json](const char *key, const std::string &value) {
        if (value.empty()) json.null_field(key); else json.field(key, value);
    };
    optional_text("key_id", sig.key_id);
    optional_text("trusted_comment", sig.key_id.empty() ? std::string() : sig.trusted_comment);
    if (sig.key_id.empty()) json.null_field("prehashed"); else json.field("prehashed", sig.prehashed);
    optional_text("key_file", sig.key_file);
    optional_text("problem", sig.problem);
    json.end_object().begin_array("files");
    for (std::size_t i = 0; i < m.files.size(); ++i) {
        const BundleFile &file = m.files[i];
        json.begin_object().field("file", file.file).field("size", file.size).field("sha256", file.sha256);
        json.begin_array("models");
        for (const std::string &model : file.models) json.field(nullptr, model);
        json.end_array();
        if (file.has_revision_rule()) {
            json.begin_object("revision");
            if (file.revision_min) json.field("min", version_text(*file.revision_min)); else json.null_field("min");
            if (file.revision_max) json.field("max", version_text(*file.revision_max)); else json.null_field("max");
            json.end_object();
        } else {
            json.null_field("revision");
        }
        if (file.variants.empty()) {
            json.null_field("variant");
        } else {
            json.begin_array("variant");
            for (const uint32_t variant : file.variants) json.field(nullptr, uint64_t{variant});
            json.end_array();
        }
        json.begin_array("verdicts");
        for (const ModelVerdict &v : in.verdicts[i]) {
            json.begin_object().field("model", v.model);
            if (v.revision) json.field("revision", version_text(*v.revision)); else json.null_field("revision");
            json.field("variant", v.variant).field("accepted", v.accepted);
            if (v.image >= 0) json.field("image", v.image); else json.null_field("image");
            optional_text("path", v.path);
            optional_text("message", v.message);
            json.end_object();
        }
        json.end_array().end_object();
    }
    json.end_array().field("accepted", in.accepted).end_object();
    std::fputs(json.text().c_str(), stdout);
}

int inspect_bundle(const Arguments &args) {
    for (const char *option : {"--board", "--revision", "--variant"})
        if (text(args, option))
            throw BadCommandLine(fmt::format("{} judges a firmware file for one model; a bundle's files are judged for "
                                             "the models its manifest names",
                                             option));
    if (flag(args, "--page0") || flag(args, "--page1"))
        throw BadCommandLine("--page0 and --page1 apply to a firmware file, not to a bundle");
    const frontend::BundlePolicy policy = bundle_policy(args);
    BundleInspection in;
    in.path = args.at("<file>").asString();
    in.bundle = frontend::read_bundle_file(in.path);
    in.signature = frontend::signature_state(in.path, in.bundle.bytes(), frontend::load_trusted_keys(policy, kProgram));
    in.signature_accepted = in.signature.kind == frontend::SignatureState::Kind::trusted ||
                            (in.signature.kind == frontend::SignatureState::Kind::unsigned_bundle && policy.allow_unsigned);
    in.accepted = in.signature_accepted;
    for (const BundleFile &file : in.bundle.manifest().files) {
        in.verdicts.push_back(judge_bundle_file(file, in.bundle.file_bytes(file)));
        for (const ModelVerdict &v : in.verdicts.back()) in.accepted = in.accepted && v.accepted;
    }
    if (flag(args, "--json"))
        print_bundle_json(in);
    else
        print_bundle_text(in);
    return in.accepted ? kExitSuccess : kExitFailure;
}

} // namespace

int run_inspect(const Arguments &args) {
    if (frontend::is_bundle_path(args.at("<file>").asString())) return inspect_bundle(args);
    const Inspection inspection = inspect_firmware(request_of(args));
    if (flag(args, "--json"))
        print_json(inspection);
    else
        print_text(inspection);
    if (inspection.model) return inspection.accepted ? kExitSuccess : kExitFailure;
    return inspection.load_error.empty() ? kExitSuccess : kExitFailure;
}

} // namespace romwright::tool
