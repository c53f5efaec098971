// romwright restore reads a backup and its description as hostile input:
// anything that is not what read writes is refused before any device call,
// and the board keeps what it holds.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <regex>

#include <gtest/gtest.h>

#include "tests/romwright/tool_fixture.hpp"

namespace tooltest {
namespace {

constexpr uint32_t kServiceFlash = 0x100000;  // board 1/3, the flash-sector service

// Adler-32 as zlib computes it, in eight lower-case hex digits.
std::string adler32_hex(const std::vector<uint8_t> &bytes) {
    uint32_t a = 1, b = 0;
    for (const uint8_t byte : bytes) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return fmt::format("{:08x}", (b << 16) | a);
}

std::vector<uint8_t> pattern(uint32_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * seed + (i >> 10));
    return bytes;
}

// A backup of board 1/3 in backup.bin and backup.bin.json; the board has
// changed since, so a restore that went ahead would write it.
class RestoreInputs : public Tool {
protected:
    void SetUp() override {
        Tool::SetUp();
        machine().preset_flash("service", kServiceFlash, 0, pattern(kServiceFlash, 7));
        const auto saved = run({"read", "--system=1", "--board=3", backup_});
        ASSERT_EQ(saved.exit_code, 0) << saved.err;
        description_ = testsupport::read_text(sidecar_);
        changed_ = pattern(kServiceFlash, 13);
        machine().preset_flash("service", kServiceFlash, 0, changed_);
    }

    // Runs the restore, which must be refused before any device call, and
    // returns its standard error.
    std::string refused_restore() {
        extra_env_["ZENAPI_SIM_TRACE"] = path("trace.log");
        const auto result = run({"restore", backup_, "--system=1", "--board=3"}, 20000);
        EXPECT_EQ(result.exit_code, 1) << result.err;
        EXPECT_EQ(result.out, "");
        const std::string trace = testsupport::read_text(path("trace.log"));
        EXPECT_TRUE(trace.empty()) << "a device call was made: " << trace.substr(0, trace.find('\n'));
        EXPECT_TRUE(flash("service") == changed_) << "the board was written";
        return result.err;
    }

    const std::string backup_ = path("backup.bin");
    const std::string sidecar_ = path("backup.bin.json");
    std::string description_;
    std::vector<uint8_t> changed_;
};

// A restore that goes ahead puts the backup back: the refusals below are
// refusals of their input alone.
TEST_F(RestoreInputs, AnUntouchedBackupIsRestored) {
    const auto result = run({"restore", backup_, "--system=1", "--board=3", "--quiet"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(flash("service") == pattern(kServiceFlash, 7));
}

TEST_F(RestoreInputs, ABackupWithAByteChangedSaysBothChecksums) {
    std::vector<uint8_t> bytes = testsupport::read_file(backup_);
    bytes[0x12345] ^= 0x40;
    testsupport::write_file(backup_, bytes);
    const std::string err = refused_restore();
    EXPECT_NE(err.find("backup.bin has Adler-32 " + adler32_hex(bytes)), std::string::npos) << err;
    EXPECT_NE(err.find("backup.bin.json says adler32 " + adler32_hex(pattern(kServiceFlash, 7))), std::string::npos)
        << err;
}

struct SizeCase {
    const char *name;
    int64_t change;  // bytes added to (or cut from) the backup's end
};

class RestoreSize : public RestoreInputs, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(RestoreSize, ABackupOfAnotherSizeThanItsDescriptionSaysBothSizes) {
    std::vector<uint8_t> bytes = testsupport::read_file(backup_);
    bytes.resize(static_cast<std::size_t>(static_cast<int64_t>(bytes.size()) + GetParam().change), 0xFF);
    testsupport::write_file(backup_, bytes);
    const std::string err = refused_restore();
    EXPECT_NE(err.find(fmt::format("backup.bin holds {} bytes", bytes.size())), std::string::npos) << err;
    EXPECT_NE(err.find(fmt::format("backup.bin.json says flash_size {}", kServiceFlash)), std::string::npos) << err;
}

INSTANTIATE_TEST_SUITE_P(Backups, RestoreSize,
                         ::testing::Values(SizeCase{"OneByteShort", -1}, SizeCase{"OneByteLonger", 1},
                                           SizeCase{"HalfAsLong", -int64_t{kServiceFlash / 2}}),
                         [](const ::testing::TestParamInfo<SizeCase> &info) { return std::string(info.param.name); });

// One change to the description read wrote, and the words that must name it.
struct DescriptionCase {
    const char *name;
    std::function<std::string(const std::string &)> change;
    const char *says;
};

void PrintTo(const DescriptionCase &c, std::ostream *out) { *out << c.name; }

// text with its one `from` replaced by `to`.
std::function<std::string(const std::string &)> swap(const std::string &from, const std::string &to) {
    return [from, to](const std::string &text) {
        const std::size_t at = text.find(from);
        if (at == std::string::npos) {
            ADD_FAILURE() << from << " is not in " << text;
            return text;
        }
        return text.substr(0, at) + to + text.substr(at + from.size());
    };
}

std::function<std::string(const std::string &)> edit(const std::string &pattern, const std::string &replacement) {
    return [pattern, replacement](const std::string &text) {
        return std::regex_replace(text, std::regex(pattern), replacement);
    };
}

class RestoreDescription : public RestoreInputs, public ::testing::WithParamInterface<DescriptionCase> {};

TEST_P(RestoreDescription, OutsideItsSchemaIsRefusedNamingWhat) {
    const std::string changed = GetParam().change(description_);
    ASSERT_NE(changed, description_);
    testsupport::write_text(sidecar_, changed);
    const std::string err = refused_restore();
    EXPECT_NE(err.find("backup.bin.json"), std::string::npos) << err;
    EXPECT_NE(err.find(GetParam().says), std::string::npos) << err;
}

// The service board is of kind 36 with serial 1000103; 2^32 + 36 and
// -(2^32) + 36 wrap to 36 in 32 bits.
INSTANTIATE_TEST_SUITE_P(
    Changes, RestoreDescription,
    ::testing::Values(
        DescriptionCase{"KindBeyond32Bits", swap("\"kind\":36", "\"kind\":4294967332"), "\"kind\" is 4294967332"},
        DescriptionCase{"KindNegative", swap("\"kind\":36", "\"kind\":-4294967260"), "\"kind\" is -4294967260"},
        DescriptionCase{"SerialBeyond32Bits", swap("\"serial\":1000103", "\"serial\":4295967399"),
                        "\"serial\" is 4295967399"},
        DescriptionCase{"KindAsText", swap("\"kind\":36", "\"kind\":\"36\""), "\"kind\" is \"36\""},
        DescriptionCase{"KindAsFraction", swap("\"kind\":36", "\"kind\":36.0"), "\"kind\" is 36.0"},
        DescriptionCase{"CutShort", edit(".{12}\n?$", ""), "is not a JSON document"},
        DescriptionCase{"TextBeforeTheObject", edit("^", "saved: "), "is not a JSON document"},
        DescriptionCase{"TwoObjects", [](const std::string &text) { return text + text; }, "is not a JSON document"},
        DescriptionCase{"DuplicateKey", swap("{", "{\"kind\":36,"), "has \"kind\" twice"},
        DescriptionCase{"UnknownKey", swap("{", "{\"extra\":1,"), "has \"extra\", which a backup description does not"},
        DescriptionCase{"MissingKey", edit(",\"time\":\"[^\"]*\"", ""), "has no \"time\""},
        DescriptionCase{"NotAnObject", [](const std::string &text) { return "[" + text + "]"; },
                        "is not a JSON object"},
        DescriptionCase{"SchemaVersion2", swap("\"schema_version\":1", "\"schema_version\":2"),
                        "\"schema_version\" is 2"},
        DescriptionCase{"CommandOtherThanRead", swap("\"command\":\"read\"", "\"command\":\"restore\""),
                        "\"command\" is \"restore\""},
        DescriptionCase{"RevisionNotMajorMinor", swap("\"revision\":\"1.0\"", "\"revision\":\"1.0.0\""),
                        "\"revision\" is \"1.0.0\""},
        DescriptionCase{"FlashSizeBeyond256MiB", swap("\"flash_size\":1048576", "\"flash_size\":536870912"),
                        "\"flash_size\" is 536870912"},
        DescriptionCase{"FlashSizeZero", swap("\"flash_size\":1048576", "\"flash_size\":0"), "\"flash_size\" is 0"},
        DescriptionCase{"Adler32InCapitals", edit("\"adler32\":\"[0-9a-f]{8}\"", "\"adler32\":\"DEADBEEF\""),
                        "\"adler32\" is \"DEADBEEF\""},
        DescriptionCase{"ReadThroughNoPath", swap("\"flash-sector service\"", "\"telepathy\""),
                        "\"read_through\" is \"telepathy\""},
        DescriptionCase{"TimeNotAText", edit("\"time\":\"[^\"]*\"", "\"time\":0"), "\"time\" is 0"}),
    [](const ::testing::TestParamInfo<DescriptionCase> &info) { return std::string(info.param.name); });

#ifndef _WIN32

// A backup or description that is not a regular file is refused at once,
// whatever it is: nothing waits on a FIFO or reads a device to its end.
struct FileKindCase {
    const char *name;
    const char *which;  // "backup.bin" or "backup.bin.json"
    std::function<void(const std::string &)> make;
};

void PrintTo(const FileKindCase &c, std::ostream *out) { *out << c.name; }

class RestoreFileKind : public RestoreInputs, public ::testing::WithParamInterface<FileKindCase> {};

TEST_P(RestoreFileKind, IsRefusedAsNotARegularFile) {
    const std::string target = path(GetParam().which);
    std::filesystem::remove(target);
    GetParam().make(target);
    const std::string err = refused_restore();
    EXPECT_NE(err.find(std::string(GetParam().which) + " is not a regular file"), std::string::npos) << err;
}

void fifo(const std::string &at) { ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0); }
void zeros(const std::string &at) { std::filesystem::create_symlink("/dev/zero", at); }
void folder(const std::string &at) { std::filesystem::create_directory(at); }
void empty(const std::string &at) { testsupport::write_file(at, {}); }

INSTANTIATE_TEST_SUITE_P(Kinds, RestoreFileKind,
                         ::testing::Values(FileKindCase{"BackupIsAFifo", "backup.bin", fifo},
                                           FileKindCase{"DescriptionIsAFifo", "backup.bin.json", fifo},
                                           FileKindCase{"BackupIsALinkToDevZero", "backup.bin", zeros},
                                           FileKindCase{"DescriptionIsALinkToDevZero", "backup.bin.json", zeros},
                                           FileKindCase{"BackupIsAFolder", "backup.bin", folder},
                                           FileKindCase{"DescriptionIsAFolder", "backup.bin.json", folder},
                                           FileKindCase{"BackupIsEmpty", "backup.bin", empty}),
                         [](const ::testing::TestParamInfo<FileKindCase> &info) {
                             return std::string(info.param.name);
                         });

#endif

} // namespace
} // namespace tooltest
