// romwright-mkimage as a user runs it: its files, its refusals, its help.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/image/pof_reader.hpp"
#include "engine/image/raw_image.hpp"
#include "engine/update/romwright_engine.hpp"
#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"
#include "tools/mkimage/image_maker.hpp"

namespace {

using mkimage::Broken;
using mkimage::FileRecipe;
using mkimage::Format;

testsupport::ProcessResult mkimage_run(const std::vector<std::string> &args) {
    return testsupport::run_process(testsupport::bin_path("romwright-mkimage"), args);
}

class MkimageProgram : public testing::Test {
protected:
    testsupport::TempDir dir{"mkimage-program"};
};

TEST_F(MkimageProgram, HelpDocumentsOptionsAndVariants) {
    const auto result = mkimage_run({"--help"});
    EXPECT_EQ(result.exit_code, 0);
    for (const char *text : {"--board MODEL", "--format pof|rpd", "--page0 START:END", "--option-bits OFFSET",
                             "--secondary-word2", "--blank-fraction", "--broken VARIANT", "truncate:N", "page0-blank",
                             "bad-crc", "Exit status"})
        EXPECT_NE(result.out.find(text), std::string::npos) << text;
}

TEST_F(MkimageProgram, DefaultFilesAreTheLibrarysDefaults) {
    struct Case {
        const char *model;
        const char *file;
        Format format;
    };
    for (const Case &test : {Case{"ZEN5160", "board_ZEN5160.pof", Format::pof},
                             Case{"ZEN5110", "board_ZEN5110.rpd", Format::rpd}}) {
        const std::string out = dir.file(test.file);
        const auto result = mkimage_run({"--board", test.model, "--out", out});
        ASSERT_EQ(result.exit_code, 0) << result.err;
        EXPECT_NE(result.out.find("wrote " + out), std::string::npos);
        const FileRecipe recipe{test.format, "", mkimage::default_recipe(test.model), std::nullopt, Broken::none, 0};
        EXPECT_EQ(testsupport::read_file(out), mkimage::make_file(recipe)) << test.model;
    }
}

TEST_F(MkimageProgram, EveryLayoutAndHeaderFlagReachesTheFile) {
    const std::string out = dir.file("custom.img");
    const auto result = mkimage_run({"--board", "ZEN5131", "--format", "rpd", "--out", out, "--size", "2M", "--page0",
                                     "128K:0x100000", "--page1", "0x100000:0x180000", "--option-bits=0x1FE000",
                                     "--board-id", "5130", "--signature", "0x1C0B", "--word2", "7", "--seed", "7",
                                     "--blank-fraction", "0.5"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    mkimage::ImageRecipe recipe = mkimage::default_recipe("ZEN5131", 0x200000);
    recipe.page0 = {0x20000, 0x100000};
    recipe.page1 = mkimage::PageRange{0x100000, 0x180000};
    recipe.option_bits_offset = 0x1FE000;
    recipe.header = {0x5130, 0x1C0B, 0x0007};
    recipe.seed = 7;
    recipe.blank_fraction = 0.5;
    EXPECT_EQ(testsupport::read_file(out), mkimage::make_image(recipe, Format::rpd));
}

TEST_F(MkimageProgram, OptionBitsOffsetAloneKeepsPage0BelowIt) {
    const std::string out = dir.file("low.pof");
    const auto result = mkimage_run({"--board", "ZEN5110", "--out", out, "--option-bits", "0x180000"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    ImageSlot slots[2];
    romwright::load_pof_file(out, slots, false, romwright::LogSink());
    romwright::PageSelection selection;
    romwright::PageLayout layout;
    romwright::read_page_layout(slots[0], selection, layout, false, romwright::LogSink());
    EXPECT_EQ(slots[0].option_bits_start, 0x180000u);
    EXPECT_EQ(layout.page0_start, 0x20000u);
    EXPECT_EQ(layout.page0_end, 0x180000u);
}

TEST_F(MkimageProgram, SecondaryImageForAZen5120) {
    const std::string out = dir.file("ZEN5120_dual.pof");
    const auto result = mkimage_run({"--board", "ZEN5120", "--out", out, "--word2", "90", "--secondary-word2", "10",
                                     "--secondary-signature", "1C0B"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    CRomwright engine(nullptr, nullptr);
    engine.LoadPofFile(out);
    ASSERT_GE(engine.images()[1].data.size(), 6u);
    EXPECT_EQ(engine.images()[0].data[0x4], 0x90);
    EXPECT_EQ(engine.images()[1].data[0], 0x20);  // board id 0x5120 at offset 0
    EXPECT_EQ(engine.images()[1].data[1], 0x51);
    EXPECT_EQ(engine.images()[1].data[2], 0x0B);  // signature 0x1C0B
    EXPECT_EQ(engine.images()[1].data[3], 0x1C);
    EXPECT_EQ(engine.images()[1].data[4], 0x10);
    engine.set_image_index(1);
    engine.ReadPageLayout();
    EXPECT_EQ(engine.layout().page0_start, 0x20000u);
}

TEST_F(MkimageProgram, BrokenVariantsAreWritten) {
    const std::string cut = dir.file("cut.pof");
    ASSERT_EQ(mkimage_run({"--board", "ZEN5110", "--out", cut, "--broken", "truncate:0x100"}).exit_code, 0);
    EXPECT_EQ(testsupport::read_file(cut).size(), 0x100u);

    const std::string crc = dir.file("crc.pof");
    ASSERT_EQ(mkimage_run({"--board", "ZEN5110", "--out", crc, "--broken", "bad-crc"}).exit_code, 0);
    ImageSlot slots[2];
    try {
        romwright::load_pof_file(crc, slots, false, romwright::LogSink());
        FAIL() << "a spoilt CRC loaded";
    } catch (const std::runtime_error &error) {
        EXPECT_NE(std::string(error.what()).find("CRC mismatch"), std::string::npos) << error.what();
    }
}

TEST_F(MkimageProgram, RefusalsExplainThemselves) {
    struct Case {
        std::vector<std::string> args;
        int exit_code;
        const char *message;
    };
    const std::string out = dir.file("x.rpd");
    const Case cases[] = {
        {{"--out", out}, 2, "--board is required"},
        {{"--board", "ZEN5110"}, 2, "--out is required"},
        {{"--board", "ZEN5110", "--out", out, "--frobnicate"}, 2, "unknown option \"--frobnicate\""},
        {{"--board", "ZEN5110", "--out", out, "--size"}, 2, "--size needs a value"},
        {{"--board", "ZEN5110", "--out", dir.file("x.bin")}, 2, "unknown format \"bin\""},
        {{"--board", "ZEN9999", "--out", out}, 1, "unknown board model \"ZEN9999\""},
        {{"--board", "ZEN5110", "--out", out, "--size", "lots"}, 1, "--size: \"lots\" is not a number"},
        {{"--board", "ZEN5110", "--out", out, "--page0", "0x40000:0x200000"}, 1,
         "a raw image needs page_0 to start at 0x00020000"},
        {{"--board", "ZEN5110", "--out", out, "--board-id", "12345"}, 1, "does not fit 16 bits"},
        {{"--board", "ZEN5110", "--out", out, "--blank-fraction", "half"}, 1, "is not a number"},
        {{"--board", "ZEN5110", "--out", out, "--broken", "bad-crc"}, 1, "cannot be made as a raw file"},
        {{"--board", "ZEN5110", "--out", out, "--broken", "melted"}, 1, "unknown broken variant \"melted\""},
        {{"--board", "ZEN5110", "--out", dir.file("no/such/folder/x.rpd")}, 1, "cannot write"},
    };
    for (const Case &test : cases) {
        const auto result = mkimage_run(test.args);
        EXPECT_EQ(result.exit_code, test.exit_code) << test.message;
        EXPECT_NE(result.err.find(test.message), std::string::npos) << result.err;
    }
    EXPECT_FALSE(testsupport::file_exists(out));
}

} // namespace
