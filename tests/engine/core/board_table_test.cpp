// The engine's board table: the properties every row must have, and the
// table held against the two that are kept apart from it on purpose, the
// simulated library's (zenapi/sim/board_kinds.cpp) and the image maker's
// (tools/mkimage). A typo in any of the three shows here.
#include <romwright/board_table.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

#include "tools/mkimage/image_maker.hpp"
#include "zenapi/sim/board_kinds.hpp"

namespace {

using romwright::BoardModel;
using romwright::UpdatePath;

TEST(BoardTable, EveryKindOneToFiftySevenHasItsRowInOrder) {
    ASSERT_EQ(romwright::board_models().size(), 57u);
    uint32_t expected = 1;
    for (const BoardModel &model : romwright::board_models()) {
        EXPECT_EQ(model.kind, expected);
        EXPECT_EQ(romwright::find_board_model(expected), &model);
        ++expected;
    }
    for (uint32_t outside : {0u, 58u, 0x80000000u, 0xFFFFFFFFu})
        EXPECT_EQ(romwright::find_board_model(outside), nullptr) << outside;
}

// Image headers name boards by the designation's digits read as hex.
TEST(BoardTable, BoardIdIsTheDesignationsDigits) {
    std::set<uint16_t> ids;
    for (const BoardModel &model : romwright::board_models()) {
        const std::string designation = model.designation;
        ASSERT_EQ(designation.size(), 7u) << designation;
        EXPECT_EQ(designation.substr(0, 3), "ZEN");
        EXPECT_EQ(model.board_id, std::stoul(designation.substr(3), nullptr, 16)) << designation;
        EXPECT_TRUE(ids.insert(model.board_id).second) << designation;
        EXPECT_EQ(romwright::find_board_model_by_id(model.board_id), &model);
    }
    EXPECT_EQ(romwright::find_board_model_by_id(0x5199), nullptr);
}

// An accepted image is made for another board the table knows, once.
TEST(BoardTable, AcceptedImagesAreMadeForOtherBoardsOfTheTable) {
    for (const BoardModel &model : romwright::board_models()) {
        ASSERT_LE(model.accepted_count, romwright::kMostAcceptedImages) << model.designation;
        std::set<uint16_t> seen;
        for (std::size_t i = 0; i < model.accepted_count; ++i) {
            const uint16_t image_id = model.accepted[i].image_id;
            EXPECT_NE(image_id, model.board_id) << model.designation;
            EXPECT_NE(romwright::find_board_model_by_id(image_id), nullptr) << model.designation;
            EXPECT_TRUE(seen.insert(image_id).second) << model.designation;
        }
    }
}

// The rules that need the flash controller sit on sector-mode rows, the
// revision rule on a page-mode one.
TEST(BoardTable, RulesSitOnModelsTheEngineProgramsInTheirMode) {
    for (const BoardModel &model : romwright::board_models()) {
        if (model.floor) {
            EXPECT_EQ(model.path, UpdatePath::sector_mode) << model.designation;
        }
        if (model.variant != romwright::VariantRule::none) {
            EXPECT_EQ(model.path, UpdatePath::sector_mode) << model.designation;
        }
        if (model.revision != romwright::RevisionRule::none) {
            EXPECT_EQ(model.path, UpdatePath::page_mode) << model.designation;
        }
    }
}

const char *path_name(UpdatePath path) {
    switch (path) {
    case UpdatePath::unsupported: return "unsupported";
    case UpdatePath::not_programmed: return "not programmed";
    case UpdatePath::page_mode: return "page mode";
    case UpdatePath::sector_mode: return "sector mode";
    }
    return "?";
}

UpdatePath as_path(zenapi_sim::FlashAccess access) {
    switch (access) {
    case zenapi_sim::FlashAccess::page: return UpdatePath::page_mode;
    case zenapi_sim::FlashAccess::sector: return UpdatePath::sector_mode;
    case zenapi_sim::FlashAccess::service_only: break;
    }
    return UpdatePath::not_programmed;
}

// The simulator reaches a board's flash the way the engine programs it:
// page calls, the flash controller, or only the driver's services.
TEST(BoardTable, AgreesWithTheSimulatedLibrary) {
    for (const BoardModel &model : romwright::board_models()) {
        const zenapi_sim::BoardKind *simulated = zenapi_sim::find_board_kind(model.kind);
        ASSERT_NE(simulated, nullptr) << model.designation;
        EXPECT_STREQ(simulated->model, model.designation) << "kind " << model.kind;
        const UpdatePath path = model.path == UpdatePath::unsupported ? UpdatePath::not_programmed : model.path;
        const UpdatePath simulated_path = as_path(simulated->access);
        EXPECT_STREQ(path_name(simulated_path), path_name(path)) << model.designation;
    }
    EXPECT_EQ(zenapi_sim::find_board_kind(0), nullptr);
    EXPECT_EQ(zenapi_sim::find_board_kind(58), nullptr);
}

// The image maker writes the header where the engine reads it.
TEST(BoardTable, AgreesWithTheImageMaker) {
    ASSERT_EQ(mkimage::board_models().size(), romwright::board_models().size());
    for (const mkimage::BoardModel &made : mkimage::board_models()) {
        const BoardModel *model = romwright::find_board_model(made.kind);
        ASSERT_NE(model, nullptr) << made.model;
        EXPECT_STREQ(made.model, model->designation) << "kind " << made.kind;
        EXPECT_EQ(made.board_id, model->board_id) << made.model;
        EXPECT_EQ(made.sector_mode, model->path == UpdatePath::sector_mode) << made.model;
        EXPECT_EQ(mkimage::default_recipe(made).header_offset, romwright::header_offset(*model)) << made.model;
    }
}

} // namespace
