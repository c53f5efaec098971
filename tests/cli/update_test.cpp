// Whole updates through romwright-cli: what reaches the console, the log file
// and the boards' flash.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/cli/cli_fixture.hpp"
#include "tests/support/reference.hpp"

namespace {

using clitest::Cli;
using clitest::contains;
using clitest::screen_lines;

std::string header(const std::string &path, std::size_t size, const std::string &checksum) {
    const std::string dashes = "-------------------------------------\n";
    return dashes + "Korvel Firmware Updater Version 3.5.3\n" + dashes + "Firmware file = " + path + "\n" +
           fmt::format("File size = {}\n", size) + "File checksum = " + checksum + "\n";
}

std::vector<uint8_t> pattern(std::size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + seed) ^ (i >> 9));
    return bytes;
}

TEST_F(Cli, FirmwareUpgradeSucceeds) {
    machine("[[system]]\n" + clitest::upgrade_board("u1", 2, 100, 20));
    const std::string path = make_image("fw-ZEN5190.rpd", "ZEN5190", 300000);
    const auto result = run({"update", path});
    ASSERT_EQ(result.exit_code, 0) << result.out;
    EXPECT_EQ(screen_lines(result.out), (std::vector<std::string>{
                                            "Writing board 0 of 1 [==============================]  100%",
                                            "Update of 1 board successful",
                                        }));
    // Adler-32 of the file by another implementation than the updater's.
    const std::string checksum = testsupport::reference::adler32(path);
    ASSERT_EQ(checksum.size(), 8u) << "no checksum computed independently";
    const std::string text = log();
    EXPECT_EQ(text.rfind(header(path, 300000, checksum), 0), 0u) << text;
    EXPECT_TRUE(contains(text, "\nBoard update time = 0s\nUpdate succeeded.\n") ||
                contains(text, "\nBoard update time = 1s\nUpdate succeeded.\n"))
        << text;
    const std::vector<uint8_t> image = testsupport::read_file(path);
    const std::vector<uint8_t> now = flash("u1");
    ASSERT_GE(now.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), now.begin()));
}

TEST_F(Cli, FirmwareUpgradeEndingWithStatusThreeFails) {
    machine("[[system]]\n" + clitest::upgrade_board("u1", 3, 40, 4));
    const std::string path = make_image("fw-ZEN5190.rpd", "ZEN5190", 0x30000);
    const auto result = run({"update", path});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_TRUE(contains(result.out, "  40%\nError: Firmware updater error. Code 1\n\n")) << result.out;
    EXPECT_FALSE(contains(result.out, "successful"));
    const std::string text = log();
    EXPECT_TRUE(contains(text, "File checksum = "));
    // The entry's last text has no line break of its own; the log gives it one.
    const std::string tail = "Firmware upgrade failed\nUpgrade firmware failed\nUpgrade firmware failed\n";
    EXPECT_EQ(text.substr(text.size() - std::min(text.size(), tail.size())), tail) << text;
}

TEST_F(Cli, FlashSectorUpdateLeavesTheFilePaddedWithZeros) {
    machine("[[system]]\n" + clitest::sector_board("s1"));
    const std::vector<uint8_t> before = pattern(0x100000, 3);
    machine_->preset_flash("s1", before.size(), 0, before);
    const std::string path = make_image("fw-ZEN5191.rpd", "ZEN5191", 300000);  // 4.6 sectors of 64 KiB
    const auto result = run({"update", path});
    ASSERT_EQ(result.exit_code, 0) << result.out;

    const std::vector<uint8_t> image = testsupport::read_file(path);
    const std::vector<uint8_t> after = flash("s1");
    ASSERT_EQ(after.size(), before.size());
    const std::size_t padded = 5 * 0x10000;
    EXPECT_TRUE(std::equal(image.begin(), image.end(), after.begin()));
    EXPECT_TRUE(std::all_of(after.begin() + 300000, after.begin() + padded, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::equal(after.begin() + padded, after.end(), before.begin() + padded));  // nothing else changed

    EXPECT_EQ(trace_of("KorvelFlashSectorWrite").size(), 5u);
    EXPECT_EQ(trace_of("KorvelFlashSectorRead").size(), 6u);  // the last sector before writing, then all five
    EXPECT_EQ(trace_of("KorvelFlashClose").size(), 1u);
    EXPECT_EQ(screen_lines(result.out), (std::vector<std::string>{
                                            "Writing board 0 of 1 [==============================]  100%",
                                            "Verifying board 0 of 1 [============================]  100%",
                                            "Update of 1 board successful",
                                        }));
}

TEST_F(Cli, FlashSectorReadbackFaultFailsVerification) {
    machine("[[system]]\n" +
            clitest::sector_board("s1", "[[system.board.fault]]\ntype = \"readback\"\naddress = 0x2A123\n"));
    const std::string path = make_image("fw-ZEN5191.rpd", "ZEN5191", 300000);
    const auto result = run({"update", path});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_TRUE(contains(result.out, "\nError: Firmware updater error. Code 1\n\n")) << result.out;
    EXPECT_TRUE(contains(log(), "Verify image failed\nUpdate Flash image failed")) << log();
    // The last sector before writing, then sectors 0 to 2; the comparison stopped at sector 2.
    EXPECT_EQ(trace_of("KorvelFlashSectorRead").size(), 4u);
    EXPECT_EQ(trace_of("KorvelFlashClose").size(), 1u);
}

TEST_F(Cli, ErrorAtTheSecondOfThreeBoardsLeavesTheThirdUntouched) {
    machine("[[system]]\n" + clitest::upgrade_board("first") + clitest::upgrade_board("second", 3, 10) +
            clitest::upgrade_board("third"));
    const std::vector<uint8_t> third_before = pattern(0x800000, 9);
    machine_->preset_flash("third", third_before.size(), 0, third_before);
    const std::string path = make_image("fw-ZEN5190.rpd", "ZEN5190", 0x30000);
    const auto result = run({"update", path});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_FALSE(contains(result.out, "successful"));

    const std::vector<uint8_t> image = testsupport::read_file(path);
    const std::vector<uint8_t> first = flash("first");
    EXPECT_TRUE(std::equal(image.begin(), image.end(), first.begin()));
    EXPECT_EQ(flash("third"), third_before);
    for (const std::string &line : trace())
        EXPECT_FALSE(contains(line, "board=third")) << line;
}

TEST_F(Cli, QuietShowsNothingOnSuccess) {
    machine("[[system]]\n" + clitest::upgrade_board("u1") + clitest::sector_board("s1"));
    const std::string path = make_image("fw-ZEN5190.rpd", "ZEN5190", 0x30000);
    const auto result = run({"--quiet", "update", "--board=1", "--system=1", path});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(contains(log(), "Update succeeded.\n"));
}

TEST_F(Cli, QuietShowsOnlyTheError) {
    machine("[[system]]\n" + clitest::upgrade_board("u1", 0, 55));
    const auto result = run({"update", "--quiet", make_image("fw-ZEN5190.rpd", "ZEN5190", 0x30000)});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "\nError: Firmware updater error. Code 1\n\n");
}

TEST_F(Cli, LogFileGrowsAcrossRuns) {
    machine("[[system]]\n" + clitest::upgrade_board("u1"));
    const std::string path = make_image("fw-ZEN5190.rpd", "ZEN5190", 0x30000);
    testsupport::write_text(work_.file("romwright-cli.log"), "kept from before\n");
    ASSERT_EQ(run({"update", path}).exit_code, 0);
    ASSERT_EQ(run({"update", path}).exit_code, 0);
    const std::string text = log();
    EXPECT_EQ(text.rfind("kept from before\n-----", 0), 0u);
    std::size_t headers = 0;
    for (std::size_t at = text.find("Korvel Firmware Updater Version"); at != std::string::npos;
         at = text.find("Korvel Firmware Updater Version", at + 1))
        ++headers;
    EXPECT_EQ(headers, 2u);
}

// A page-mode board reports progress for every 32-byte page: tens of
// thousands of reports that must not each become a redraw.
TEST_F(Cli, PageModeUpdateRedrawsOnlyWhatChanges) {
    machine("[[system]]\n" + clitest::board_toml("p1", 13, "[]",
                                                  "revision = \"1.3\"\ncpld = \"3.1\"\nksopc_signature = 0x04050000\n"
                                                  "serial = 512001\n[system.board.timing]\npage_erase_ms = 0\n"));
    const std::string path = make_image("fw-ZEN5120.rpd", "ZEN5120", 0x400000, {"--word2", "90"});
    const auto result = run({"update", path});
    ASSERT_EQ(result.exit_code, 0) << result.out.substr(result.out.size() - std::min<std::size_t>(result.out.size(), 400))
                                   << log();
    const auto lines = screen_lines(result.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Update of 1 board successful");
    // Three bars of at most 101 percent steps and 60 half cells each; 62 bytes a picture.
    EXPECT_LT(result.out.size(), 3u * 161u * 62u) << "bytes written: " << result.out.size();
}

} // namespace
