// choose_path: the order in which the engine takes a board's programming
// paths, written once. The driver's services come first, in the order of the
// table below; a board without either is programmed through its registers,
// in the mode its kind's row of the board table gives.
#include <romwright/programming_path.hpp>

#include <algorithm>
#include <vector>

#include <romwright/board_table.hpp>
#include <zenapi/Zenapi.h>

#include "engine/devlib/zen.hpp"

namespace romwright {
namespace {

struct ServiceRow {
    zen::driver_feature feature;
    ProgrammingPath path;
};

// A board that offers both services takes the first.
constexpr ServiceRow kServices[] = {
    {zen::driver_feature::firmware_upgrade_service, ProgrammingPath::firmware_upgrade_service},
    {zen::driver_feature::flash_sector_service, ProgrammingPath::flash_sector_service},
};

struct NameRow {
    ProgrammingPath path;
    const char *name;
};

constexpr NameRow kNames[] = {
    {ProgrammingPath::firmware_upgrade_service, "firmware-upgrade service"},
    {ProgrammingPath::flash_sector_service, "flash-sector service"},
    {ProgrammingPath::page_mode, "page mode"},
    {ProgrammingPath::sector_mode, "sector mode"},
    {ProgrammingPath::none, "none"},
};

bool offers(const std::vector<zen::driver_feature> &features, zen::driver_feature feature) {
    return std::find(features.begin(), features.end(), feature) != features.end();
}

ProgrammingPath register_path_of(void *board) {
    const BoardModel *model = find_board_model(KorvelGetBoardKind(board));
    if (!model) return ProgrammingPath::none;
    switch (model->path) {
    case UpdatePath::page_mode:
        return ProgrammingPath::page_mode;
    case UpdatePath::sector_mode:
        return ProgrammingPath::sector_mode;
    case UpdatePath::unsupported:
    case UpdatePath::not_programmed:
        break;
    }
    return ProgrammingPath::none;
}

ProgrammingPath service_of(const std::vector<zen::driver_feature> &features) {
    for (const ServiceRow &row : kServices)
        if (offers(features, row.feature)) return row.path;
    return ProgrammingPath::none;
}

ProgrammingPath writing_path(const std::vector<zen::driver_feature> &features, void *board) {
    const ProgrammingPath service = service_of(features);
    return service != ProgrammingPath::none ? service : register_path_of(board);
}

} // namespace

const char *path_name(ProgrammingPath path) noexcept {
    for (const NameRow &row : kNames)
        if (row.path == path) return row.name;
    return "none";
}

bool through_registers(ProgrammingPath path) noexcept {
    return path != ProgrammingPath::firmware_upgrade_service && path != ProgrammingPath::flash_sector_service;
}

ProgrammingPath choose_path(void *board) { return writing_path(zen::get_supported_driver_features(board), board); }

ProgrammingPath service_path(void *board) { return service_of(zen::get_supported_driver_features(board)); }

ProgrammingPath choose_read_path(void *board) {
    const std::vector<zen::driver_feature> features = zen::get_supported_driver_features(board);
    const ProgrammingPath writes = writing_path(features, board);
    if (writes == ProgrammingPath::firmware_upgrade_service &&
        offers(features, zen::driver_feature::flash_sector_service))
        return ProgrammingPath::flash_sector_service;
    return writes;
}

} // namespace romwright
