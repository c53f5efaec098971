#include "zenapi/sim/machine_config.hpp"

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <fmt/format.h>

#include "zenapi/sim/config_error.hpp"
#include "zenapi/sim/sector_controller.hpp"

namespace zenapi_sim {
namespace {

constexpr uint64_t kMaxU32 = 0xFFFFFFFFu;
// Every erase unit the boards use (64 KB upgrade blocks, 128 KB page-mode
// sectors, 256 KB controller blocks) divides this.
constexpr uint64_t kFlashGranule = 0x40000;
constexpr uint64_t kMaxFlashSize = 0x10000000;   // 256 MiB, so a typo cannot fill the disk
constexpr uint32_t kMaxPolls = 1000000;
constexpr uint32_t kMaxBusyMs = 60000;

// One table of the description: typed reads that remember which keys were
// used, so that whatever is left over can be reported as unknown.
class Section {
public:
    Section(const toml::table &table, std::string path, const std::string &file)
        : table_(table), path_(std::move(path)), file_(file) {}

    const toml::table &table() const { return table_; }
    int line() const { return static_cast<int>(table_.source().begin.line); }

    const toml::node *take(std::string_view key) {
        used_.emplace(key);
        return table_.get(key);
    }

    [[noreturn]] void fail(const toml::node *at, std::string_view key, const std::string &problem) const {
        const auto line = at ? at->source().begin.line : table_.source().begin.line;
        throw ConfigError(fmt::format("{}:{}: {}: {}", file_, line, qualified(key), problem));
    }

    std::string qualified(std::string_view key) const {
        return path_.empty() ? std::string(key) : path_ + "." + std::string(key);
    }

    const std::string &path() const { return path_; }
    const std::string &file() const { return file_; }

    std::optional<uint64_t> integer(std::string_view key, uint64_t lowest, uint64_t highest, const char *range) {
        const toml::node *node = take(key);
        if (!node) return std::nullopt;
        const auto *value = node->as_integer();
        if (!value || value->get() < 0 || static_cast<uint64_t>(value->get()) < lowest ||
            static_cast<uint64_t>(value->get()) > highest)
            fail(node, key, fmt::format("must be an integer {}", range));
        return static_cast<uint64_t>(value->get());
    }

    uint64_t required_integer(std::string_view key, uint64_t lowest, uint64_t highest, const char *range) {
        if (!table_.contains(key)) fail(nullptr, key, fmt::format("is missing (an integer {})", range));
        return *integer(key, lowest, highest, range);
    }

    uint32_t u32(std::string_view key, uint32_t fallback) {
        return static_cast<uint32_t>(integer(key, 0, kMaxU32, "0..0xFFFFFFFF").value_or(fallback));
    }

    std::optional<std::string> text(std::string_view key) {
        const toml::node *node = take(key);
        if (!node) return std::nullopt;
        const auto *value = node->as_string();
        if (!value) fail(node, key, "must be a text in double quotes");
        return value->get();
    }

    // Key present but of the wrong kind is an error; an absent key is not.
    const toml::table *subtable(std::string_view key) {
        const toml::node *node = take(key);
        if (!node) return nullptr;
        if (!node->is_table()) fail(node, key, "must be a table");
        return node->as_table();
    }

    const toml::array *array_of_tables(std::string_view key) {
        const toml::node *node = take(key);
        if (!node) return nullptr;
        if (!node->is_array_of_tables()) fail(node, key, fmt::format("must be an array of tables ([[{}]])", qualified(key)));
        return node->as_array();
    }

    void reject_unknown() const {
        for (auto &&[key, node] : table_)
            if (!used_.count(std::string(key.str())))
                throw ConfigError(fmt::format("{}:{}: {}: unknown key", file_, key.source().begin.line,
                                              qualified(key.str())));
    }

private:
    const toml::table &table_;
    std::string path_;
    const std::string &file_;
    std::set<std::string, std::less<>> used_;
};

// "a.b" or "a.b.c" with numbers 0..255.
template <std::size_t N>
std::optional<std::array<uint8_t, N>> parse_dotted(const std::string &text) {
    std::array<uint8_t, N> parts{};
    std::size_t at = 0;
    for (std::size_t i = 0; i < N; ++i) {
        std::size_t digits = 0;
        unsigned value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || value > 255) return std::nullopt;
        parts[i] = static_cast<uint8_t>(value);
        if (i + 1 < N) {
            if (at >= text.size() || text[at] != '.') return std::nullopt;
            ++at;
        }
    }
    if (at != text.size()) return std::nullopt;
    return parts;
}

Version3 read_version3(Section &section, std::string_view key, Version3 fallback) {
    const auto text = section.text(key);
    if (!text) return fallback;
    const auto parts = parse_dotted<3>(*text);
    if (!parts) section.fail(section.table().get(key), key, "must be a version \"major.minor.revision\", each 0..255");
    return {(*parts)[0], (*parts)[1], (*parts)[2]};
}

Version2 read_version2(Section &section, std::string_view key, Version2 fallback) {
    const auto text = section.text(key);
    if (!text) return fallback;
    const auto parts = parse_dotted<2>(*text);
    if (!parts) section.fail(section.table().get(key), key, "must be a version \"major.minor\", each 0..255");
    return {(*parts)[0], (*parts)[1]};
}

bool valid_board_name(const std::string &name) {
    if (name.empty() || name.size() > 64 || name[0] == '.') return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '_' || c == '.';
        if (!ok) return false;
    }
    return true;
}

// ---- faults -------------------------------------------------------------

using FaultReader = void (*)(Section &fault, BoardConfig &board);

uint32_t read_sector_of(Section &fault, const BoardConfig &board, uint64_t unit) {
    const uint64_t sectors = board.flash_size / unit;
    const auto range = fmt::format("0..{}", sectors - 1);
    return static_cast<uint32_t>(fault.required_integer("sector", 0, sectors - 1, range.c_str()));
}

uint64_t read_address(Section &fault, const BoardConfig &board) {
    const auto range = fmt::format("0..0x{:X} (inside the flash)", board.flash_size - 1);
    return fault.required_integer("address", 0, board.flash_size - 1, range.c_str());
}

uint32_t read_times(Section &fault) {
    return static_cast<uint32_t>(fault.required_integer("times", 0, kMaxU32, "0..0xFFFFFFFF"));
}

void read_call_fault(Section &fault, BoardConfig &board) {
    const auto name = fault.text("call");
    if (!name) fault.fail(nullptr, "call", "is missing (the name of a device-library call)");
    const CallInfo *info = find_call(*name);
    if (!info || !info->on_board)
        fault.fail(fault.table().get("call"), "call",
                   fmt::format("\"{}\" is not a device-library call that takes a board", *name));
    CallFault call{info->call, 0, 0, std::nullopt};
    call.code = static_cast<uint32_t>(fault.required_integer("code", 0, kMaxU32, "0..0xFFFFFFFF"));
    call.nth = static_cast<uint32_t>(fault.integer("nth", 1, kMaxU32, "1..0xFFFFFFFF").value_or(0));
    if (auto status = fault.integer("status", 0, kMaxU32, "0..0xFFFFFFFF")) {
        // A status on a call that reports none would be dropped without a word.
        if (!info->flash_status)
            fault.fail(fault.table().get("status"), "status",
                       fmt::format("{} reports no flash status (only the flash-sector service calls do)", *name));
        call.status = static_cast<uint32_t>(*status);
    }
    board.faults.calls.push_back(call);
}

SectorStatusFault read_sector_status_fault(Section &fault, const BoardConfig &board) {
    SectorStatusFault f{};
    f.sector = read_sector_of(fault, board, board.sector_size);
    f.status = static_cast<uint32_t>(fault.required_integer("status", 0, kMaxU32, "0..0xFFFFFFFF"));
    f.code = fault.u32("code", 513);
    return f;
}

void read_flash_write_status(Section &fault, BoardConfig &board) {
    board.faults.flash_write_status.push_back(read_sector_status_fault(fault, board));
}

void read_flash_read_status(Section &fault, BoardConfig &board) {
    board.faults.flash_read_status.push_back(read_sector_status_fault(fault, board));
}

void read_readback(Section &fault, BoardConfig &board) {
    board.faults.readback_addresses.push_back(read_address(fault, board));
}

void read_zero_sector_size(Section &, BoardConfig &board) { board.faults.zero_sector_size = true; }

void read_capability(Section &fault, BoardConfig &board) {
    CapabilityFault f{};
    f.capability = static_cast<uint32_t>(fault.required_integer("capability", 0, kMaxU32, "0..0xFFFFFFFF"));
    f.code = static_cast<uint32_t>(fault.required_integer("code", 0, kMaxU32, "0..0xFFFFFFFF"));
    board.faults.capabilities.push_back(f);
}

constexpr uint64_t kPageSectorSize = 0x20000;

void read_page_erase_residue(Section &fault, BoardConfig &board) {
    EraseResidueFault f{};
    f.sector = read_sector_of(fault, board, kPageSectorSize);
    const uint64_t first = f.sector * kPageSectorSize;
    const auto range = fmt::format("0x{:X}..0x{:X} (an even address in the sector)", first, first + kPageSectorSize - 2);
    f.address = fault.required_integer("address", first, first + kPageSectorSize - 2, range.c_str());
    if (f.address % 2) fault.fail(fault.table().get("address"), "address", "must be even (a 16-bit word)");
    f.value = static_cast<uint16_t>(fault.required_integer("value", 0, 0xFFFF, "0..0xFFFF"));
    f.times = read_times(fault);
    board.faults.page_erase_residues.push_back(f);
}

void read_page_program_error(Section &fault, BoardConfig &board) {
    ProgramErrorFault f{};
    f.address = read_address(fault, board);
    f.times = read_times(fault);
    board.faults.page_program_errors.push_back(f);
}

// What a fault acts on. A fault on a board without it could never fire, and
// a test relying on it would pass or fail for the wrong reason.
enum class FaultTarget { any_board, flash_service, page_flash };

struct FaultType {
    const char *name;
    FaultReader read;
    FaultTarget target;
};

constexpr FaultType kFaultTypes[] = {
    {"call", read_call_fault, FaultTarget::any_board},
    {"flash_write_status", read_flash_write_status, FaultTarget::flash_service},
    {"flash_read_status", read_flash_read_status, FaultTarget::flash_service},
    {"readback", read_readback, FaultTarget::flash_service},
    {"zero_sector_size", read_zero_sector_size, FaultTarget::flash_service},
    {"capability", read_capability, FaultTarget::any_board},
    {"page_erase_residue", read_page_erase_residue, FaultTarget::page_flash},
    {"page_program_error", read_page_program_error, FaultTarget::page_flash},
};

void check_fault_target(Section &fault, const FaultType &type, const BoardConfig &board) {
    constexpr uint32_t kFlashServiceFeature = 2;
    switch (type.target) {
    case FaultTarget::any_board: return;
    case FaultTarget::flash_service:
        if (board.features & (1u << kFlashServiceFeature)) return;
        fault.fail(fault.table().get("type"), "type",
                   fmt::format("\"{}\" acts on the flash-sector service, which needs driver feature 2 "
                               "(features = [2]) on this board",
                               type.name));
    case FaultTarget::page_flash:
        if (board.kind->access == FlashAccess::page) return;
        fault.fail(fault.table().get("type"), "type",
                   fmt::format("\"{}\" acts on page-mode flash (kinds 11..24, 32, 34); kind {} is not page mode",
                               type.name, board.kind->kind));
    }
}

std::string fault_type_list() {
    std::string list;
    for (const FaultType &type : kFaultTypes) list += std::string(list.empty() ? "" : ", ") + type.name;
    return list;
}

void read_fault(const toml::table &table, const std::string &file, BoardConfig &board) {
    Section fault(table, "system.board.fault", file);
    const auto type = fault.text("type");
    if (!type) fault.fail(nullptr, "type", "is missing (one of " + fault_type_list() + ")");
    for (const FaultType &known : kFaultTypes) {
        if (*type == known.name) {
            check_fault_target(fault, known, board);
            known.read(fault, board);
            fault.reject_unknown();
            return;
        }
    }
    fault.fail(table.get("type"), "type", fmt::format("\"{}\" is not one of {}", *type, fault_type_list()));
}

// ---- boards ---------------------------------------------------------------

void read_upgrade(Section &board_section, BoardConfig &board) {
    const toml::table *table = board_section.subtable("upgrade");
    if (!table) return;
    Section upgrade(*table, "system.board.upgrade", board_section.file());
    board.upgrade.polls = static_cast<uint32_t>(upgrade.integer("polls", 0, kMaxPolls, "0..1000000").value_or(board.upgrade.polls));
    if (const auto status = upgrade.integer("end_status", 0, 3, "0, 2 or 3")) {
        if (*status == 1) upgrade.fail(table->get("end_status"), "end_status", "must be an integer 0, 2 or 3 (1 means still running)");
        board.upgrade.end_status = static_cast<uint32_t>(*status);
    }
    board.upgrade.end_percent = static_cast<uint32_t>(upgrade.integer("end_percent", 0, 100, "0..100").value_or(board.upgrade.end_percent));
    upgrade.reject_unknown();
}

void read_timing(Section &board_section, BoardConfig &board) {
    const toml::table *table = board_section.subtable("timing");
    if (!table) return;
    Section timing(*table, "system.board.timing", board_section.file());
    board.timing.page_erase_ms = static_cast<uint32_t>(timing.integer("page_erase_ms", 0, kMaxBusyMs, "0..60000").value_or(0));
    timing.reject_unknown();
}

// The controller's keys belong to the controller model, which reads them
// again when the board is built. They are checked here as well, so that a
// bad description is refused before any flash file is created.
void read_controller(Section &board_section, const BoardConfig &board) {
    const toml::table *table = board_section.subtable("controller");
    if (table && board.kind->access != FlashAccess::sector)
        board_section.fail(table, "controller",
                           fmt::format("only sector-mode boards (kinds 25, 29, 30, 33) have a flash controller; kind {} has none",
                                       board.kind->kind));
    if (table) parse_sector_controller_config(&board_section.table(), board_section.file(), board.flash_size);
}

void read_identity(Section &section, BoardConfig &board) {
    const uint64_t kind = section.required_integer("kind", kFirstBoardKind, kLastBoardKind, "1..57");
    board.kind = find_board_kind(static_cast<uint32_t>(kind));
    board.revision = read_version2(section, "revision", board.revision);
    board.cpld = read_version2(section, "cpld", board.cpld);
    board.ksopc_signature = section.u32("ksopc_signature", board.ksopc_signature);
    board.register0 = section.u32("register0", board.register0);

    board.serial = 1000000 + board.system_id * 100 + board.board_id;
    if (const toml::node *serial = section.take("serial")) {
        if (const auto *text = serial->as_string(); text && text->get() == "unavailable") {
            board.serial.reset();
        } else if (const auto *number = serial->as_integer(); number && number->get() >= 0 && number->get() <= int64_t(kMaxU32)) {
            board.serial = static_cast<uint32_t>(number->get());
        } else {
            section.fail(serial, "serial", "must be an integer 0..0xFFFFFFFF or \"unavailable\"");
        }
    }
}

void read_features(Section &section, BoardConfig &board) {
    const toml::node *node = section.take("features");
    if (!node) return;
    const toml::array *list = node->as_array();
    if (!list) section.fail(node, "features", "must be a list of driver features 0..5, e.g. [2, 5]");
    for (const toml::node &item : *list) {
        const auto *feature = item.as_integer();
        if (!feature || feature->get() < 0 || feature->get() > 5)
            section.fail(&item, "features", "must be a list of driver features 0..5, e.g. [2, 5]");
        board.features = static_cast<uint8_t>(board.features | (1u << feature->get()));
    }
}

void read_geometry(Section &section, BoardConfig &board) {
    board.flash_size = section.integer("flash_size", kFlashGranule, kMaxFlashSize, "0x40000..0x10000000")
                           .value_or(board.flash_size);
    if (board.flash_size % kFlashGranule)
        section.fail(section.table().get("flash_size"), "flash_size", "must be a multiple of 0x40000 (256 KB)");
    board.sector_size = static_cast<uint32_t>(
        section.integer("sector_size", 1, board.flash_size, "1..flash_size").value_or(board.sector_size));
    if (board.sector_size > board.flash_size || board.flash_size % board.sector_size)
        section.fail(section.table().get("sector_size"), "sector_size",
                     fmt::format("must divide the flash size 0x{:X}", board.flash_size));
}

BoardConfig read_board(const toml::table &table, const std::string &file, uint32_t system_id, uint32_t board_id) {
    Section section(table, "system.board", file);
    BoardConfig board;
    board.system_id = system_id;
    board.board_id = board_id;
    board.table = &table;
    board.line = section.line();
    board.name = section.text("name").value_or(fmt::format("system{}-board{}", system_id, board_id));
    if (!valid_board_name(board.name))
        section.fail(table.get("name"), "name", "must be 1..64 letters, digits, '-', '_' or '.', not starting with '.'");
    read_identity(section, board);
    read_features(section, board);
    read_geometry(section, board);
    read_upgrade(section, board);
    read_timing(section, board);
    read_controller(section, board);
    if (const toml::array *faults = section.array_of_tables("fault"))
        for (const toml::node &fault : *faults) read_fault(*fault.as_table(), file, board);
    section.reject_unknown();
    return board;
}

// Only the version queries answer a return code among the calls that take
// no board; the counting calls and KorvelErrorToText have none to give.
bool answers_library_fault(Call call) { return call == Call::GetSDKVersion || call == Call::GetDriverVersion; }

CallFault read_library_fault(const toml::table &table, const std::string &file) {
    Section fault(table, "library.fault", file);
    const auto name = fault.text("call");
    if (!name) fault.fail(nullptr, "call", "is missing (KorvelGetSDKVersion or KorvelGetDriverVersion)");
    const CallInfo *info = find_call(*name);
    if (!info || !answers_library_fault(info->call)) {
        const char *why = !info            ? "is not a device-library call"
                          : info->on_board ? "takes a board: its faults go in [[system.board.fault]]"
                                           : "answers no return code that could fail";
        fault.fail(fault.table().get("call"), "call",
                   fmt::format("\"{}\" {}; a library fault is one of KorvelGetSDKVersion, KorvelGetDriverVersion",
                               *name, why));
    }
    CallFault call{info->call, 0, 0, std::nullopt};
    call.code = static_cast<uint32_t>(fault.required_integer("code", 0, kMaxU32, "0..0xFFFFFFFF"));
    call.nth = static_cast<uint32_t>(fault.integer("nth", 1, kMaxU32, "1..0xFFFFFFFF").value_or(0));
    fault.reject_unknown();
    return call;
}

void read_library(Section &root, MachineConfig &machine) {
    const toml::table *table = root.subtable("library");
    if (!table) return;
    Section library(*table, "library", root.file());
    machine.library_version = read_version3(library, "version", machine.library_version);
    machine.driver_version = read_version3(library, "driver_version", machine.driver_version);
    if (const toml::array *faults = library.array_of_tables("fault"))
        for (const toml::node &fault : *faults)
            machine.library_faults.push_back(read_library_fault(*fault.as_table(), root.file()));
    library.reject_unknown();
}

void read_systems(Section &root, MachineConfig &machine) {
    const toml::array *systems = root.array_of_tables("system");
    if (!systems) return;
    std::set<std::string> names;
    for (const toml::node &system_node : *systems) {
        Section system(*system_node.as_table(), "system", root.file());
        const auto system_id = static_cast<uint32_t>(machine.systems.size() + 1);
        std::vector<BoardConfig> &boards = machine.systems.emplace_back();
        if (const toml::array *board_tables = system.array_of_tables("board")) {
            for (const toml::node &board_node : *board_tables) {
                const auto board_id = static_cast<uint32_t>(boards.size() + 1);
                BoardConfig board = read_board(*board_node.as_table(), root.file(), system_id, board_id);
                if (!names.insert(board.name).second)
                    throw ConfigError(fmt::format("{}:{}: system.board.name: \"{}\" names another board already",
                                                  root.file(), board.line, board.name));
                boards.push_back(std::move(board));
            }
        }
        system.reject_unknown();
    }
}

} // namespace

MachineConfig parse_machine_config(std::string_view text, const std::string &file) {
    MachineConfig machine;
    machine.file = file;
    try {
        machine.document = std::make_shared<const toml::table>(toml::parse(text, file));
    } catch (const toml::parse_error &error) {
        throw ConfigError(fmt::format("{}:{}: {}", file, error.source().begin.line, error.description()));
    }
    Section root(*machine.document, "", machine.file);
    read_library(root, machine);
    read_systems(root, machine);
    root.reject_unknown();
    return machine;
}

MachineConfig load_machine_config_file(const std::string &path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) throw ConfigError(fmt::format("{}: cannot read the machine description: {}", path, std::strerror(errno)));
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw ConfigError(fmt::format("{}: cannot read the machine description", path));
    return parse_machine_config(text.str(), path);
}

} // namespace zenapi_sim
