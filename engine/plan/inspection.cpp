// inspect_firmware: a firmware file read, checked and planned the way an
// update would, with no board: the board's identity comes from the board
// table's row of the model asked about, and the flash cost from the backend
// of that model's mode, which is never attached to a board.
#include <romwright/inspection.hpp>

#include <algorithm>
#include <cstring>
#include <exception>

#include <fmt/format.h>

#include <romwright/board_flash.hpp>
#include <romwright/board_table.hpp>
#include <romwright/error.hpp>

#include "engine/image/firmware_file.hpp"
#include "engine/image/image_check.hpp"
#include "engine/flash/page_flash.hpp"
#include "engine/plan/planner.hpp"
#include "engine/plan/update_plan.hpp"
#include "engine/image/pof_reader.hpp"
#include "engine/image/raw_image.hpp"
#include "engine/flash/sector_flash.hpp"

namespace romwright {
namespace {

constexpr std::size_t kMagicBytes = 12;
constexpr uint32_t kHeaderBytes = 6;

uint16_t header_word(const uint8_t *bytes) { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }

InspectedPof pof_of(const PofFacts &facts) {
    InspectedPof pof{facts.packet_count, facts.creator, facts.device, facts.comment, {},
                     facts.crc_read,     facts.crc_stored, facts.crc_computed};
    for (const PofFacts::Packet &packet : facts.unknown_packets)
        pof.unknown_packets.push_back(InspectedPacket{packet.index, packet.tag, packet.size});
    return pof;
}

// Loads the slots as an update would; a refusal becomes the load error.
void load(FirmwareSource &file, ImageSlot (&slots)[2], Inspection &result) {
    uint8_t first[kMagicBytes] = {};
    const auto probed = static_cast<std::size_t>(std::min<uint64_t>(file.size(), sizeof first));
    file.read(0, first, probed);
    result.format = has_pof_magic(first, probed) ? "pof" : "raw";
    try {
        if (result.format == "pof") {
            PofFacts facts;
            try {
                load_pof(file, slots, false, LogSink(), &facts);
            } catch (...) {
                result.pof = pof_of(facts);
                throw;
            }
            result.pof = pof_of(facts);
        } else {
            load_binary(file, slots[0], LogSink());
        }
    } catch (const std::exception &refusal) {
        result.load_error = refusal.what();
    }
}

InspectedSlot describe_slot(const ImageSlot &slot, int32_t index, uint32_t header_offset, bool page0, bool page1) {
    InspectedSlot out;
    out.index = index;
    out.size = slot.data.size();
    out.header_offset = header_offset;
    if (uint64_t{header_offset} + kHeaderBytes <= slot.data.size()) {
        const uint8_t *header = slot.data.data() + header_offset;
        out.header_present = true;
        out.board_id = header_word(header);
        out.signature = header_word(header + 2);
        out.word2 = header_word(header + 4);
    }
    out.option_bits_found = slot.option_bits_end != 0;
    out.option_bits = InspectedRange{slot.option_bits_start, slot.option_bits_end};
    if (out.option_bits_found && uint64_t{slot.option_bits_start} + kPageLayoutBytes <= slot.data.size())
        for (uint32_t i = 0; i < kPageLayoutBytes; ++i)
            out.option_bits_hex += fmt::format("{:02X}", slot.data[slot.option_bits_start + i]);
    PageSelection selection{!(page0 || page1), page0, page1, true};
    PageLayout layout;
    try {
        read_page_layout(slot, selection, layout, false, LogSink());
        out.layout_read = true;
    } catch (const std::exception &refusal) {
        out.layout_error = refusal.what();
    }
    out.page0 = InspectedRange{layout.page0_start, layout.page0_end};
    out.page1_present = layout.page1_present;
    out.page1 = InspectedRange{layout.page1_start, layout.page1_end};
    return out;
}

std::vector<PlannedRun> runs(const std::vector<PlanRun> &found) {
    std::vector<PlannedRun> out;
    for (const PlanRun &run : found) out.push_back(PlannedRun{run.units, InspectedRange{run.begin, run.end}});
    return out;
}

const BoardModel &model_named(const std::string &designation) {
    for (const BoardModel &model : board_models())
        if (designation == model.designation) return model;
    throw romwright::error(error_kind::usage, fmt::format("No board model is called \"{}\"", designation));
}

// A model whose image carries its board variant is judged for the variant
// asked about; with none given, the user is asked, as for the revision.
BoardIdentity identity_of(const BoardModel &model, const InspectRequest &request) {
    if (model.variant != VariantRule::none && !request.variant)
        throw romwright::error(error_kind::usage,
                               fmt::format("A {} takes only images made for its board variant: give --variant",
                                           model.designation));
    BoardIdentity board;
    board.kind = model.kind;
    board.id = model.board_id;
    board.variant = request.variant.value_or(0);
    board.sector_mode = model.path == UpdatePath::sector_mode;
    return board;
}

RevisionReader revision_of(const InspectRequest &request, const BoardModel &model) {
    return [&request, &model]() -> std::pair<int32_t, int32_t> {
        if (!request.revision)
            throw romwright::error(error_kind::usage,
                                   fmt::format("A {} takes its image by its board revision: give --revision",
                                               model.designation));
        return {static_cast<int32_t>(request.revision->first), static_cast<int32_t>(request.revision->second)};
    };
}

// The plan as the update makes it, and what it costs as the backend of the
// model's mode prices it.
InspectedPlan plan_for(const ImageSlot &slot, const BoardIdentity &board, const InspectRequest &request) {
    const PageSelection options{!(request.page0 || request.page1), request.page0, request.page1, true};
    PlannedUpdate planned;
    plan_update(slot, board.sector_mode, options, false, LogSink(), planned);
    const UpdatePlan &plan = planned.plan;
    InspectedPlan out;
    out.mode = board.sector_mode ? ProgrammingPath::sector_mode : ProgrammingPath::page_mode;
    out.sector_size = board.sector_mode ? kSectorModeSectorSize : kPageModeSectorSize;
    out.sectors_to_erase = plan.erase_count;
    out.erase_runs = runs(planned.erase_runs);
    out.pages_to_write = board.sector_mode ? plan.erase_count : plan.write_count;
    out.write_runs = runs(board.sector_mode ? planned.erase_runs : planned.write_runs);
    out.trailing_sector_checked = planned.trailing_sector.has_value();

    const FlashWork work{slot.data, plan};
    const FlashCost cost = board.sector_mode ? SectorFlash::Cost(work, true) : PageFlash::Cost(work, true);
    out.library_calls = cost.library_calls;
    out.device_commands = board.sector_mode ? cost.controller_commands : cost.library_calls;
    out.least_pause_ms = cost.pause_ms;
    out.pause_note = board.sector_mode
                         ? "30 ms before each controller command, 20 ms after the flash output is enabled"
                         : "the page calls return when the flash is done; the engine prescribes no pause";
    return out;
}

void judge(const ImageSlot (&slots)[2], const InspectRequest &request, Inspection &result) {
    const BoardModel &model = model_named(*request.model);
    result.model = model.designation;
    if (!result.load_error.empty()) {
        result.verdict = result.load_error;
        return;
    }
    if (model.path == UpdatePath::unsupported) {
        result.verdict = "Error: Unsupported board type";
        return;
    }
    if (model.path == UpdatePath::not_programmed) {
        result.verdict = "Unknown board type";
        return;
    }
    try {
        const BoardIdentity board = identity_of(model, request);
        result.slot = check_image(slots, board, false, revision_of(request, model), LogSink());
        result.plan = plan_for(slots[result.slot], board, request);
        result.accepted = true;
    } catch (const std::exception &refusal) {
        result.verdict = refusal.what();
    }
}

// The file's bytes from source: loaded, described and, with a model, judged.
Inspection inspect_source(const InspectRequest &request, FirmwareSource &source, Inspection result) {
    ImageSlot slots[2];
    load(source, slots, result);
    const bool sector_mode = request.model && model_named(*request.model).path == UpdatePath::sector_mode;
    for (int32_t index = 0; index < 2; ++index) {
        if (slots[index].data.empty()) continue;
        const uint32_t offset = index == 0 && sector_mode ? kSectorModeHeaderOffset : 0;
        result.slots.push_back(describe_slot(slots[index], index, offset, request.page0, request.page1));
    }
    if (request.model) judge(slots, request, result);
    return result;
}

} // namespace

Inspection inspect_firmware(const InspectRequest &request) {
    Inspection result;
    result.path = request.path;
    const FileFacts facts = file_facts(request.path);
    result.size = facts.size;
    result.adler32 = facts.adler;
    std::optional<FirmwareFile> file = FirmwareFile::open(request.path);
    if (!file) throw romwright::error(error_kind::file, "Could not open file");
    return inspect_source(request, *file, std::move(result));
}

Inspection inspect_firmware_bytes(const InspectRequest &request, const std::vector<uint8_t> &bytes) {
    Inspection result;
    result.path = request.path;
    result.size = bytes.size();
    result.adler32 = adler32_of(bytes);
    FirmwareBytes source(bytes.data(), bytes.size());
    return inspect_source(request, source, std::move(result));
}

} // namespace romwright
