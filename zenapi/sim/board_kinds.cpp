#include "zenapi/sim/board_kinds.hpp"

#include <array>
#include <cstddef>

namespace zenapi_sim {
namespace {

constexpr FlashAccess P = FlashAccess::page;
constexpr FlashAccess S = FlashAccess::sector;
constexpr FlashAccess D = FlashAccess::service_only;

constexpr std::array<BoardKind, kLastBoardKind> kBoardKinds{{
    {1, "ZEN5100", D},  {2, "ZEN5101", D},  {3, "ZEN5102", D},  {4, "ZEN5103", D},
    {5, "ZEN5105", D},  {6, "ZEN5106", D},  {7, "ZEN5107", D},  {8, "ZEN5108", D},
    {9, "ZEN5109", D},  {10, "ZEN5112", D}, {11, "ZEN5110", P}, {12, "ZEN5104", P},
    {13, "ZEN5120", P}, {14, "ZEN5130", P}, {15, "ZEN5131", P}, {16, "ZEN5140", P},
    {17, "ZEN5141", P}, {18, "ZEN5132", P}, {19, "ZEN5133", P}, {20, "ZEN5111", P},
    {21, "ZEN5121", P}, {22, "ZEN5150", P}, {23, "ZEN5152", P}, {24, "ZEN5151", P},
    {25, "ZEN5160", S}, {26, "ZEN5161", D}, {27, "ZEN5162", D}, {28, "ZEN5123", D},
    {29, "ZEN5170", S}, {30, "ZEN5142", S}, {31, "ZEN5172", D}, {32, "ZEN5180", P},
    {33, "ZEN5171", S}, {34, "ZEN5181", P}, {35, "ZEN5190", D}, {36, "ZEN5191", D},
    {37, "ZEN5192", D}, {38, "ZEN5193", D}, {39, "ZEN5173", D}, {40, "ZEN5174", D},
    {41, "ZEN5182", D}, {42, "ZEN5183", D}, {43, "ZEN5143", D}, {44, "ZEN5144", D},
    {45, "ZEN5153", D}, {46, "ZEN5154", D}, {47, "ZEN5163", D}, {48, "ZEN5164", D},
    {49, "ZEN5165", D}, {50, "ZEN5175", D}, {51, "ZEN5184", D}, {52, "ZEN5185", D},
    {53, "ZEN5194", D}, {54, "ZEN5195", D}, {55, "ZEN5196", D}, {56, "ZEN5197", D},
    {57, "ZEN5198", D},
}};

constexpr bool rows_follow_kind_numbers() {
    for (std::size_t i = 0; i < kBoardKinds.size(); ++i)
        if (kBoardKinds[i].kind != kFirstBoardKind + i) return false;
    return true;
}
static_assert(rows_follow_kind_numbers(), "find_board_kind indexes the table by kind number");

} // namespace

const BoardKind *find_board_kind(uint32_t kind) {
    if (kind < kFirstBoardKind || kind > kLastBoardKind) return nullptr;
    return &kBoardKinds[kind - kFirstBoardKind];
}

} // namespace zenapi_sim
