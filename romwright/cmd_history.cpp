// romwright history: the update history's records, newest first, as a table
// or as one JSON document.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include <romwright/frontend/history.hpp>

#include "commands.hpp"
#include "json_writer.hpp"

namespace romwright::tool {
namespace {

namespace frontend = romwright::frontend;

// A whole number from 0 to most for key; BadCommandLine naming it otherwise.
uint64_t whole_number(const std::string &key, const std::string &value, uint64_t most) {
    bool digits = !value.empty() && value.size() <= 20;
    for (const char c : value) digits = digits && c >= '0' && c <= '9';
    if (!digits) throw BadCommandLine(fmt::format("{} must be a whole number, not \"{}\"", key, value));
    const unsigned long long number = std::stoull(value);
    if (number > most) throw BadCommandLine(fmt::format("{} {} is out of range", key, value));
    return number;
}

// --system and --board as update takes them: 0 is any.
std::optional<uint32_t> id_filter(const Arguments &args, const std::string &key) {
    const int32_t id = id_option(args, key, 0);
    if (id < 0) throw BadCommandLine(fmt::format("{} {} is out of range", key, id));
    if (id == 0) return std::nullopt;
    return static_cast<uint32_t>(id);
}

frontend::HistoryQuery query_of(const Arguments &args) {
    frontend::HistoryQuery query;
    query.system_id = id_filter(args, "--system");
    query.board_id = id_filter(args, "--board");
    if (const auto serial = text(args, "--serial"))
        query.serial = static_cast<uint32_t>(whole_number("--serial", *serial, std::numeric_limits<uint32_t>::max()));
    if (const auto limit = text(args, "--limit")) {
        query.limit = whole_number("--limit", *limit, std::numeric_limits<int64_t>::max());
        if (*query.limit == 0) throw BadCommandLine("--limit must be 1 or more");
    }
    return query;
}

template <typename T> std::string shown(const std::optional<T> &value) {
    return value ? fmt::format("{}", *value) : "-";
}

std::string board_shown(const frontend::HistoryRecord &r) {
    if (!r.system_id && !r.board_id) return "-";
    return fmt::format("{}/{}", shown(r.system_id), shown(r.board_id));
}

std::string sectors_shown(const frontend::HistoryRecord &r) {
    if (!r.sectors_erased && !r.sectors_written && !r.sectors_skipped) return "-";
    return fmt::format("{}/{}/{}", shown(r.sectors_erased), shown(r.sectors_written), shown(r.sectors_skipped));
}

std::string file_name(const std::optional<std::string> &path) {
    if (!path) return "-";
    return std::filesystem::u8path(*path).filename().u8string();
}

void print_table(const std::string &where, const std::vector<frontend::HistoryRecord> &records) {
    constexpr const char *kRow = "{:<20}  {:<13}  {:<5}  {:<7}  {:<9}  {:<6}  {:<24}  {:<9}  {:<9}  {:>8}  {}\n";
    std::string out = fmt::format("History: {}\n", where);
    out += fmt::format(kRow, "time (UTC)", "program", "board", "model", "serial", "before", "path", "sectors",
                       "result", "seconds", "file");
    for (const frontend::HistoryRecord &r : records) {
        out += fmt::format(kRow, r.time, r.program, board_shown(r), r.model.value_or("-"), shown(r.serial),
                           r.version_before.value_or("-"), r.path.value_or("-"), sectors_shown(r), r.result,
                           r.duration_s ? fmt::format("{:.1f}", *r.duration_s) : "-",
                           file_name(r.file) + (r.bundle_file ? " (" + *r.bundle_file + ")" : ""));
        if (r.signature_key_id)
            out += fmt::format("  signed by key {}: {}\n", *r.signature_key_id, r.signature_trusted_comment.value_or(""));
        if (r.error) out += fmt::format("  {}\n", *r.error);
    }
    if (records.empty()) out += "(no records)\n";
    out += "sectors: erased/written/left alone because they already held the image\n";
    std::fputs(out.c_str(), stdout);
}

void print_json(const std::vector<frontend::HistoryRecord> &records) {
    JsonWriter json;
    json.begin_object().field("schema_version", uint32_t{1}).field("command", "history").begin_array("records");
    for (const frontend::HistoryRecord &r : records) {
        json.begin_object()
            .field("time", r.time)
            .field("host", r.host)
            .field("program", r.program)
            .field("program_version", r.program_version)
            .field("system", r.system_id)
            .field("board", r.board_id)
            .field("model", r.model)
            .field("serial", r.serial)
            .field("version_before", r.version_before)
            .field("version_after", r.version_after)
            .field("file", r.file)
            .field("file_size", r.file_size);
        if (r.adler32)
            json.field("adler32", fmt::format("{:08x}", *r.adler32));
        else
            json.null_field("adler32");
        json.field("path", r.path)
            .field("sectors_erased", r.sectors_erased)
            .field("sectors_written", r.sectors_written)
            .field("sectors_skipped", r.sectors_skipped)
            .field("duration_s", r.duration_s)
            .field("result", r.result)
            .field("error", r.error)
            .field("bundle_file", r.bundle_file)
            .field("signature_key_id", r.signature_key_id)
            .field("signature_trusted_comment", r.signature_trusted_comment)
            .end_object();
    }
    json.end_array().end_object();
    std::fputs(json.text().c_str(), stdout);
}

} // namespace

int run_history(const Arguments &args) {
    const frontend::HistoryQuery query = query_of(args);
    const std::string where = frontend::history_path();
    const std::vector<frontend::HistoryRecord> records = frontend::read_history(where, query);
    if (flag(args, "--json"))
        print_json(records);
    else
        print_table(where, records);
    return kExitSuccess;
}

} // namespace romwright::tool
