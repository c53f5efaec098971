// Identification against the simulated machine: every kind the engine
// programs, the kinds it refuses, the version gates and the identification
// log, with the board described in the machine's TOML.
#include "engine/update/romwright_engine.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>

#include <zenapi/Zenapi.h>
#include <zenapi/zenapi_sim.h>

#include "engine/devlib/zen.hpp"
#include "tests/engine/callback_recorder.hpp"
#include "tests/support/sim_machine.hpp"
#include "tests/support/simulated_clock.hpp"

namespace {


struct Board {
    uint32_t kind = 13;
    std::string revision = "1.3";
    std::string cpld = "9.14";
    uint32_t signature = 0x0E080000;
    std::string serial = "777";
    uint32_t register0 = 0x00001203;

    std::string toml() const {
        return fmt::format(R"(
[[system]]
[[system.board]]
name = "dut"
kind = {}
revision = "{}"
cpld = "{}"
ksopc_signature = 0x{:08X}
serial = {}
register0 = 0x{:08X}
features = []
)",
                           kind, revision, cpld, signature, serial, register0);
    }
};

class Identify : public ::testing::Test {
protected:
    // Identifies the board; "" or the refusal's text.
    std::string identify(const Board &board) {
        machine = std::make_unique<testsupport::SimMachine>(board.toml());
        machine->activate();
        handle = KorvelGetBoardBySystemID(1, 1);
        if (!handle) return "no board";
        try {
            engine.IdentifyBoard(handle);
        } catch (const std::runtime_error &error) {
            return error.what();
        }
        return "";
    }

    std::unique_ptr<testsupport::SimMachine> machine;
    void *handle = nullptr;
    testsupport::SimulatedClock clock;
    testsupport::CallbackRecorder log;
    CRomwright engine{testsupport::CallbackRecorder::on_log, &log, clock};
};

struct Kind {
    uint32_t kind;
    const char *model;
    uint16_t board_id;
    bool sector_mode;
};

void PrintTo(const Kind &c, std::ostream *out) { *out << c.model; }

class EveryKind : public Identify, public ::testing::WithParamInterface<Kind> {};

TEST_P(EveryKind, GetsItsModelIdAndMode) {
    const Kind &k = GetParam();
    Board board;
    board.kind = k.kind;
    ASSERT_EQ(identify(board), "");
    EXPECT_EQ(engine.identity().model, k.model);
    EXPECT_EQ(engine.identity().id, k.board_id);
    EXPECT_EQ(engine.identity().sector_mode, k.sector_mode);
    EXPECT_EQ(engine.identity().kind, k.kind);
    EXPECT_EQ(engine.controller_attached(), k.sector_mode);
    EXPECT_EQ(engine.sector_buffer() != nullptr, k.sector_mode);
    EXPECT_EQ(engine.identity().variant, k.kind == 29 ? 3u : 0u);
    // The binding's name table, used by the front ends' file-name check, agrees.
    EXPECT_STREQ(zen::model_name(static_cast<zen::board_kind>(k.kind)), k.model);
    EXPECT_EQ(ZenSimCallCount(1, 1, "ZEN5110FlashSectorPageRead"), k.sector_mode ? 0u : 1u);
    EXPECT_EQ(log.all_texts(), (std::vector<std::string>{fmt::format("Board type = {} {{1, 3}}\n", k.model),
                                                     "Serial number = 777 \n", "KSoPC signature = 0x0E080000\n",
                                                     "Current firmware version = 8.14\n"}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, EveryKind,
    ::testing::Values(Kind{11, "ZEN5110", 0x5110, false}, Kind{12, "ZEN5104", 0x5104, false},
                      Kind{13, "ZEN5120", 0x5120, false}, Kind{14, "ZEN5130", 0x5130, false},
                      Kind{15, "ZEN5131", 0x5131, false}, Kind{16, "ZEN5140", 0x5140, false},
                      Kind{17, "ZEN5141", 0x5141, false}, Kind{18, "ZEN5132", 0x5132, false},
                      Kind{19, "ZEN5133", 0x5133, false}, Kind{20, "ZEN5111", 0x5111, false},
                      Kind{21, "ZEN5121", 0x5121, false}, Kind{22, "ZEN5150", 0x5150, false},
                      Kind{23, "ZEN5152", 0x5152, false}, Kind{24, "ZEN5151", 0x5151, false},
                      Kind{25, "ZEN5160", 0x5160, true}, Kind{29, "ZEN5170", 0x5170, true},
                      Kind{30, "ZEN5142", 0x5142, true}, Kind{32, "ZEN5180", 0x5180, false},
                      Kind{33, "ZEN5171", 0x5171, true}, Kind{34, "ZEN5181", 0x5181, false}),
    [](const ::testing::TestParamInfo<Kind> &info) { return std::string(info.param.model); });

class RefusedKind : public Identify, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(RefusedKind, IsRefusedAfterTheScratchRead) {
    Board board;
    board.kind = GetParam();
    const std::string message = GetParam() <= 10 ? "Error: Unsupported board type" : "Unknown board type";
    EXPECT_EQ(identify(board), message);
    EXPECT_EQ(ZenSimCallCount(1, 1, "ZEN5110FlashSectorPageRead"), 1u);
    EXPECT_TRUE(log.lines.empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, RefusedKind,
                         ::testing::Values(1u, 5u, 10u, 26u, 27u, 28u, 31u, 35u, 36u, 40u, 57u),
                         [](const ::testing::TestParamInfo<uint32_t> &info) {
                             return "kind_" + std::to_string(info.param);
                         });

struct Gate {
    const char *name;
    uint32_t kind;
    uint32_t signature;
    const char *cpld;
    const char *message;
};

void PrintTo(const Gate &c, std::ostream *out) { *out << c.name; }

class VersionGate : public Identify, public ::testing::WithParamInterface<Gate> {};

TEST_P(VersionGate, AtItsEdges) {
    Board board;
    board.kind = GetParam().kind;
    board.signature = GetParam().signature;
    board.cpld = GetParam().cpld;
    EXPECT_EQ(identify(board), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, VersionGate,
    ::testing::Values(
        Gate{"fpga_8_14", 25, 0x0E080000, "9.14", ""},
        Gate{"fpga_8_13", 25, 0x0D080000, "9.14",
             "Error: ZEN51x0 FPGA version 8.13 does not support flash updates."},
        Gate{"fpga_9_0", 25, 0x00090000, "9.14", ""},
        Gate{"cpld_9_13", 29, 0x0E080000, "9.13",
             "Error: ZEN51x0 CPLD version 9.13 does not support flash updates."},
        Gate{"cpld_9_14", 29, 0x0E080000, "9.14", ""}, Gate{"cpld_10_0", 29, 0x0E080000, "10.0", ""},
        Gate{"kind30_ungated", 30, 0x00010000, "1.0", ""}, Gate{"kind33_ungated", 33, 0x00010000, "1.0", ""}),
    [](const ::testing::TestParamInfo<Gate> &info) { return std::string(info.param.name); });

TEST_F(Identify, RevisionMinor15IsShownAs0) {
    Board board;
    board.revision = "1.15";
    ASSERT_EQ(identify(board), "");
    EXPECT_EQ(log.all_texts().at(0), "Board type = ZEN5120 {1, 0}\n");
}

TEST_F(Identify, Zen5120Revision13Line) {
    ASSERT_EQ(identify(Board{}), "");
    EXPECT_EQ(log.lines.at(0), (testsupport::CallbackRecorder::Line{ROMWRIGHT_LOG_INFO,
                                                                           "Board type = ZEN5120 {1, 3}\n"}));
}

TEST_F(Identify, UnavailableSerialIsAnErrorLineOnly) {
    Board board;
    board.serial = "\"unavailable\"";
    ASSERT_EQ(identify(board), "");
    EXPECT_EQ(log.lines.at(1),
              (testsupport::CallbackRecorder::Line{ROMWRIGHT_LOG_ERROR, "Serial number unavailable\n"}));
    EXPECT_EQ(log.all_texts().at(2), "KSoPC signature = 0x0E080000\n");
    EXPECT_EQ(log.all_texts().at(3), "Current firmware version = 8.14\n");
}

TEST_F(Identify, Zen5170VariantComesFromRegister0) {
    Board board;
    board.kind = 29;
    board.register0 = 0x00001207;
    ASSERT_EQ(identify(board), "");
    EXPECT_EQ(engine.identity().variant, 7u);
}

} // namespace
