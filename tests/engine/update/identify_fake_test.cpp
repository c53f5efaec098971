// Opening and identifying boards against the scripted device library: every
// kind the engine knows, the kinds it refuses (including values the simulated
// machine cannot describe), the version gates, and what each failure says.
#include "engine/update/romwright_engine.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include <zenapi/Zenapi.h>

#include "tests/engine/callback_recorder.hpp"
#include "tests/support/fake_zenapi.hpp"
#include "tests/support/simulated_clock.hpp"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using Line = testsupport::CallbackRecorder::Line;

constexpr uint32_t kKsopc = 0x1000002C;
constexpr uint32_t kSerial = 0x10000024;

class Identify : public ::testing::Test {
protected:
    void SetUp() override { fakezen::library().reset(); }

    fakezen::Board &board(uint32_t kind, uint32_t signature = 0x0E080000) {
        fakezen::Board &b = fakezen::library().add_board(1);
        b.kind = kind;
        b.capabilities[kKsopc] = signature;
        b.capabilities[kSerial] = 1234567;
        b.registers[0] = 0x00001203;
        return b;
    }

    std::string identify_error(fakezen::Board &b) {
        try {
            engine.IdentifyBoard(&b);
        } catch (const std::runtime_error &error) {
            return error.what();
        }
        return "";
    }

    static std::string library_text(uint32_t code) { return KorvelErrorToText(code); }

    testsupport::SimulatedClock clock;
    testsupport::CallbackRecorder log;
    CRomwright engine{testsupport::CallbackRecorder::on_log, &log, clock};
};

struct KindRow {
    uint32_t kind;
    const char *model;
    uint16_t board_id;
    bool sector_mode;
};

void PrintTo(const KindRow &c, std::ostream *out) { *out << c.model; }

const KindRow kKinds[] = {
    {11, "ZEN5110", 0x5110, false}, {12, "ZEN5104", 0x5104, false}, {13, "ZEN5120", 0x5120, false},
    {14, "ZEN5130", 0x5130, false}, {15, "ZEN5131", 0x5131, false}, {16, "ZEN5140", 0x5140, false},
    {17, "ZEN5141", 0x5141, false}, {18, "ZEN5132", 0x5132, false}, {19, "ZEN5133", 0x5133, false},
    {20, "ZEN5111", 0x5111, false}, {21, "ZEN5121", 0x5121, false}, {22, "ZEN5150", 0x5150, false},
    {23, "ZEN5152", 0x5152, false}, {24, "ZEN5151", 0x5151, false}, {25, "ZEN5160", 0x5160, true},
    {29, "ZEN5170", 0x5170, true},  {30, "ZEN5142", 0x5142, true},  {32, "ZEN5180", 0x5180, false},
    {33, "ZEN5171", 0x5171, true},  {34, "ZEN5181", 0x5181, false},
};

class EveryKind : public Identify, public ::testing::WithParamInterface<KindRow> {};

TEST_P(EveryKind, IsIdentifiedWithItsModelIdAndMode) {
    const KindRow &row = GetParam();
    fakezen::Board &b = board(row.kind);
    ASSERT_EQ(identify_error(b), "");

    EXPECT_EQ(engine.identity().kind, row.kind);
    EXPECT_EQ(engine.identity().model, row.model);
    EXPECT_EQ(engine.identity().id, row.board_id);
    EXPECT_EQ(engine.identity().sector_mode, row.sector_mode);
    EXPECT_EQ(engine.identity().variant, row.kind == 29 ? 3u : 0u);
    EXPECT_EQ(engine.identity().ksopc_signature, 0x0E080000u);
    EXPECT_EQ(engine.board(), static_cast<void *>(&b));
    EXPECT_EQ(engine.controller_attached(), row.sector_mode);
    EXPECT_EQ(engine.flash().handle(), row.sector_mode ? static_cast<void *>(&b) : nullptr);
    EXPECT_EQ(engine.sector_buffer() != nullptr, row.sector_mode);
    // Page-mode boards get one scratch read of 8 words at byte 0x20000.
    const auto &calls = fakezen::library().calls();
    std::vector<uint64_t> scratch_reads;
    for (const auto &call : calls)
        if (call.name == "ZEN5110FlashSectorPageRead") scratch_reads.push_back(call.args.at(0));
    EXPECT_EQ(scratch_reads, row.sector_mode ? std::vector<uint64_t>{} : std::vector<uint64_t>{0x10000});

    EXPECT_THAT(log.lines, ElementsAre(Line{ROMWRIGHT_LOG_INFO, std::string("Board type = ") + row.model + " {1, 3}\n"},
                                       Line{ROMWRIGHT_LOG_INFO, "Serial number = 1234567 \n"},
                                       Line{ROMWRIGHT_LOG_INFO, "KSoPC signature = 0x0E080000\n"},
                                       Line{ROMWRIGHT_LOG_INFO, "Current firmware version = 8.14\n"}));
}

INSTANTIATE_TEST_SUITE_P(Table, EveryKind, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<KindRow> &info) { return std::string(info.param.model); });

struct RefusedKind {
    uint32_t kind;
    const char *message;
};

void PrintTo(const RefusedKind &c, std::ostream *out) { *out << "kind " << c.kind; }

class RefusedKinds : public Identify, public ::testing::WithParamInterface<RefusedKind> {};

TEST_P(RefusedKinds, AreRefusedAfterTheScratchRead) {
    fakezen::Board &b = board(GetParam().kind);
    EXPECT_EQ(identify_error(b), GetParam().message);
    EXPECT_EQ(fakezen::library().call_count("ZEN5110FlashSectorPageRead"), 1u);
    EXPECT_FALSE(engine.controller_attached());
    EXPECT_EQ(engine.sector_buffer(), nullptr);
    EXPECT_EQ(engine.identity().model, "");
    EXPECT_TRUE(log.lines.empty());
}

std::vector<RefusedKind> refused_kinds() {
    std::vector<RefusedKind> kinds;
    for (uint32_t kind = 0; kind <= 10; ++kind) kinds.push_back({kind, "Error: Unsupported board type"});
    for (uint32_t kind : {26u, 27u, 28u, 31u, 35u, 36u, 57u, 58u, 1000u, 0x80000000u, 0xFFFFFFFFu})
        kinds.push_back({kind, "Unknown board type"});
    return kinds;
}

INSTANTIATE_TEST_SUITE_P(Kinds, RefusedKinds, ::testing::ValuesIn(refused_kinds()),
                         [](const ::testing::TestParamInfo<RefusedKind> &info) {
                             return "kind_" + std::to_string(info.param.kind);
                         });

struct GateCase {
    uint32_t kind;
    uint32_t signature;
    uint8_t cpld_major, cpld_minor;
    const char *message;
};

// "kind_25_signature_0E080000_cpld_9_14": the test's name and its printed parameter.
std::string gate_name(const GateCase &c) {
    return fmt::format("kind_{}_signature_{:08X}_cpld_{}_{}", c.kind, c.signature, c.cpld_major, c.cpld_minor);
}
void PrintTo(const GateCase &c, std::ostream *out) { *out << gate_name(c); }

class VersionGate : public Identify, public ::testing::WithParamInterface<GateCase> {};

TEST_P(VersionGate, DecidesWhetherTheFlashMayBeUpdated) {
    const GateCase &c = GetParam();
    fakezen::Board &b = board(c.kind, c.signature);
    b.cpld_major = c.cpld_major;
    b.cpld_minor = c.cpld_minor;
    EXPECT_EQ(identify_error(b), c.message);
    const bool passed = std::string(c.message).empty();
    EXPECT_EQ(engine.controller_attached(), passed);
    EXPECT_EQ(engine.flash().handle(), passed ? static_cast<void *>(&b) : nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, VersionGate,
    ::testing::Values(
        GateCase{25, 0x0E080000, 9, 14, ""},
        GateCase{25, 0x0D080000, 9, 14, "Error: ZEN51x0 FPGA version 8.13 does not support flash updates."},
        GateCase{25, 0x00090000, 9, 14, ""},
        GateCase{25, 0x0F070000, 9, 14, "Error: ZEN51x0 FPGA version 7.15 does not support flash updates."},
        GateCase{25, 0xF0080000, 9, 14, "Error: ZEN51x0 FPGA version 8.0 does not support flash updates."},
        GateCase{29, 0x0D080000, 9, 14, "Error: ZEN51x0 FPGA version 8.13 does not support flash updates."},
        GateCase{29, 0x0E080000, 9, 13, "Error: ZEN51x0 CPLD version 9.13 does not support flash updates."},
        GateCase{29, 0x0E080000, 9, 14, ""}, GateCase{29, 0x0E080000, 10, 0, ""},
        GateCase{25, 0x0E080000, 8, 200, "Error: ZEN51x0 CPLD version 8.200 does not support flash updates."},
        // The other sector-mode kinds are not gated.
        GateCase{30, 0x00010000, 1, 0, ""}, GateCase{33, 0x00010000, 1, 0, ""}),
    [](const ::testing::TestParamInfo<GateCase> &info) { return gate_name(info.param); });

TEST_F(Identify, FpgaGateComesBeforeTheCpldQuery) {
    fakezen::Board &b = board(25, 0x0D080000);
    EXPECT_NE(identify_error(b), "");
    EXPECT_EQ(fakezen::library().call_count("KorvelGetCPLDVersion"), 0u);
}

TEST_F(Identify, FailedCpldQueryNamesOpenBoard) {
    fakezen::Board &b = board(29);
    fakezen::library().fail_call("KorvelGetCPLDVersion", 513);
    EXPECT_EQ(identify_error(b), "Error in CRomwright::OpenBoard: " + library_text(513));
}

TEST_F(Identify, FailedSignatureQueryNamesGetKsopcSignature) {
    fakezen::Board &b = board(11);
    b.capabilities.erase(kKsopc);
    EXPECT_EQ(identify_error(b), "Error in CRomwright::GetKsopcSignature: " + library_text(fakezen::kUnsupported));
    // The kind was known, but a board that fails identification is not identified.
    EXPECT_EQ(engine.identity().kind, 0u);
    EXPECT_EQ(engine.identity().model, "");
    EXPECT_EQ(engine.identity().id, 0u);
    fakezen::Board &gated = board(25);
    gated.capabilities.erase(kKsopc);
    CRomwright other(nullptr, nullptr, clock);
    EXPECT_THROW(other.IdentifyBoard(&gated), std::runtime_error);
    EXPECT_FALSE(other.controller_attached());
}

TEST_F(Identify, Zen5170VariantIsTheLowByteOfRegister0) {
    fakezen::Board &b = board(29);
    b.registers[0] = 0xABCD12F7;
    ASSERT_EQ(identify_error(b), "");
    EXPECT_EQ(engine.identity().variant, 0xF7u);
}

TEST_F(Identify, FailedRegister0ReadNamesGetFPGAType) {
    fakezen::Board &b = board(29);
    b.result_hook = [](const fakezen::RegisterAccess &access) {
        return access.offset == 0 ? fakezen::kFailed : fakezen::kSuccess;
    };
    EXPECT_EQ(identify_error(b), "Error in CRomwright::GetFPGAType: " + library_text(fakezen::kFailed));
}

TEST_F(Identify, RevisionMinor15IsShownAs0) {
    fakezen::Board &b = board(13);
    b.revision_minor = 15;
    ASSERT_EQ(identify_error(b), "");
    EXPECT_EQ(log.lines.at(0), (Line{ROMWRIGHT_LOG_INFO, "Board type = ZEN5120 {1, 0}\n"}));
    EXPECT_EQ(engine.ReadBoardRevision(), (std::pair<int32_t, int32_t>{1, 0}));
    b.revision_major = 2;
    b.revision_minor = 14;
    EXPECT_EQ(engine.ReadBoardRevision(), (std::pair<int32_t, int32_t>{2, 14}));
}

TEST_F(Identify, FailedRevisionQueryHasItsOwnMessage) {
    fakezen::Board &b = board(13);
    fakezen::library().fail_call("KorvelGetBoardRevision", 513);
    EXPECT_EQ(identify_error(b), "Error: reading board revision failed");
    EXPECT_EQ(engine.identity().kind, 0u);
    EXPECT_EQ(engine.identity().ksopc_signature, 0u);
    fakezen::Board &sector_board = board(30);
    CRomwright other(nullptr, nullptr, clock);
    EXPECT_THROW(other.IdentifyBoard(&sector_board), std::runtime_error);
    EXPECT_FALSE(other.identity().sector_mode);
    EXPECT_EQ(other.sector_buffer(), nullptr);
}

TEST_F(Identify, UnavailableSerialIsLoggedAndIdentificationGoesOn) {
    fakezen::Board &b = board(25);
    b.capabilities.erase(kSerial);
    ASSERT_EQ(identify_error(b), "");
    EXPECT_THAT(log.lines, ElementsAre(Line{ROMWRIGHT_LOG_INFO, "Board type = ZEN5160 {1, 3}\n"},
                                       Line{ROMWRIGHT_LOG_ERROR, "Serial number unavailable\n"},
                                       Line{ROMWRIGHT_LOG_INFO, "KSoPC signature = 0x0E080000\n"},
                                       Line{ROMWRIGHT_LOG_INFO, "Current firmware version = 8.14\n"}));
}

TEST_F(Identify, SerialIsShownUnsigned) {
    fakezen::Board &b = board(11);
    b.capabilities[kSerial] = 0xFFFFFFFF;
    ASSERT_EQ(identify_error(b), "");
    EXPECT_THAT(log.all_texts(), Contains("Serial number = 4294967295 \n"));
}

TEST_F(Identify, NullBoardIsRefused) {
    EXPECT_THROW(
        {
            try {
                engine.IdentifyBoard(nullptr);
            } catch (const std::runtime_error &error) {
                EXPECT_STREQ(error.what(), "Error: Null board");
                throw;
            }
        },
        std::runtime_error);
}

TEST_F(Identify, WithoutALogCallbackIdentificationRunsTheSame) {
    fakezen::Board &b = board(29);
    b.capabilities.erase(kSerial);
    CRomwright quiet(nullptr, nullptr, clock);
    quiet.IdentifyBoard(&b);
    EXPECT_EQ(quiet.identity().model, "ZEN5170");
    EXPECT_EQ(quiet.identity().variant, 3u);
    EXPECT_TRUE(quiet.controller_attached());
}

TEST_F(Identify, SectorBufferIsAlignedToTheAllocationGranularity) {
    fakezen::Board &b = board(30);
    ASSERT_EQ(identify_error(b), "");
    const auto address = reinterpret_cast<uintptr_t>(engine.sector_buffer());
    EXPECT_EQ(address % romwright::platform::allocation_granularity(), 0u);
}

TEST_F(Identify, DebugMakesTheFlashDriverVerbose) {
    fakezen::Board &b = board(33);
    engine.SetOptions(true, false, false, true, true, 15, true);
    ASSERT_EQ(identify_error(b), "");
    EXPECT_TRUE(engine.flash().verbose());
}

TEST_F(Identify, SetOptionsCopiesEveryOption) {
    engine.SetOptions(false, true, true, false, false, -3, true);
    EXPECT_FALSE(engine.options().auto_select_pages);
    EXPECT_TRUE(engine.options().write_page0);
    EXPECT_TRUE(engine.options().write_page1);
    EXPECT_FALSE(engine.options().write_option_bits);
    EXPECT_FALSE(engine.options().verify_pages);
    EXPECT_EQ(engine.options().max_retries, -3);
    EXPECT_TRUE(engine.options().debug);
}

TEST_F(Identify, ConstructionValues) {
    EXPECT_TRUE(engine.options().auto_select_pages);
    EXPECT_TRUE(engine.options().write_page0);
    EXPECT_FALSE(engine.options().write_page1);
    EXPECT_TRUE(engine.options().write_option_bits);
    EXPECT_TRUE(engine.options().verify_pages);
    EXPECT_EQ(engine.options().max_retries, 15);
    EXPECT_FALSE(engine.options().debug);
    EXPECT_EQ(engine.image_index(), 0);
    EXPECT_EQ(engine.board(), nullptr);
    EXPECT_FALSE(engine.controller_attached());
    EXPECT_EQ(engine.sector_buffer(), nullptr);
}

TEST_F(Identify, EnableFlashTogglesBit3AndKeepsTheRest) {
    fakezen::Board &b = board(11);
    ASSERT_EQ(identify_error(b), "");
    b.registers[0x80000000u] = 0xA0000001;
    fakezen::library().clear_log();
    engine.EnableFlash(true);
    engine.EnableFlash(false);
    EXPECT_EQ(fakezen::library().writes_to(0x80000000u), (std::vector<uint32_t>{0xA0000009, 0xA0000001}));
    for (const auto &access : fakezen::library().register_log())
        EXPECT_EQ(access.access_code, ZENAPI_REGISTER_ACCESS_CODE);
}

TEST_F(Identify, EnableFlashFailureNamesItself) {
    fakezen::Board &b = board(11);
    ASSERT_EQ(identify_error(b), "");
    int accesses = 0;
    b.result_hook = [&accesses](const fakezen::RegisterAccess &) {
        return ++accesses == 2 ? fakezen::kAccessDenied : fakezen::kSuccess;  // the write
    };
    try {
        engine.EnableFlash(true);
        FAIL() << "no error";
    } catch (const std::runtime_error &error) {
        EXPECT_EQ(std::string(error.what()), "Error in CRomwright::EnableFlash: " + library_text(fakezen::kAccessDenied));
    }
}

// Destruction switches off the flash output the driver turned on, even when
// the update stopped on an error.
TEST_F(Identify, DestructionDetachesTheFlashDriver) {
    fakezen::Board &b = board(25);
    {
        CRomwright scoped(nullptr, nullptr, clock);
        scoped.IdentifyBoard(&b);
        scoped.flash().ExecCommand(READ_ARRAY, 0, 1, true);  // turns the output enable on
        ASSERT_TRUE(scoped.flash().output_enabled());
        fakezen::library().clear_log();
    }
    const auto writes = fakezen::library().writes_to(0x80000000u);
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back() & 0x8u, 0u);
}

// The entry lets go of the engine while a failure unwinds; a log callback
// that throws as well must not turn that into termination.
TEST_F(Identify, DestructionSurvivesALogCallbackThatThrows) {
    struct Throwing {
        bool armed = false;
        int calls = 0;
        static void log(ROMWRIGHT_LOG_LEVEL, const char *, void *self) {
            auto *t = static_cast<Throwing *>(self);
            if (!t->armed) return;
            ++t->calls;
            throw std::runtime_error("log sink gone");
        }
    } throwing;
    fakezen::Board &b = board(25);
    {
        CRomwright scoped(&Throwing::log, &throwing, clock);
        scoped.SetOptions(true, true, false, true, true, 15, true);  // verbose driver: Detach logs
        scoped.IdentifyBoard(&b);
        scoped.flash().ExecCommand(READ_ARRAY, 0, 1, true);
        ASSERT_TRUE(scoped.flash().output_enabled());
        throwing.armed = true;
    }
    EXPECT_EQ(throwing.calls, 2);  // the driver's line, then the warning
}

TEST_F(Identify, DestructionAfterAFailedIdentificationWritesNothing) {
    fakezen::Board &b = board(29);
    b.cpld_minor = 13;
    {
        CRomwright scoped(nullptr, nullptr, clock);
        EXPECT_THROW(scoped.IdentifyBoard(&b), std::runtime_error);
        fakezen::library().clear_log();
    }
    EXPECT_TRUE(fakezen::library().register_log().empty());
}

} // namespace
