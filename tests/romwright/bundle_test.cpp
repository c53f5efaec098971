// Firmware bundles as a user meets them, on the default simulated machine:
// romwright bundle create, minisign's keys and signatures (made by Debian's
// minisign on POSIX), romwright inspect, update and verify of a bundle, and the
// refusals of a damaged, untrusted or unsigned bundle before any device call.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "tests/romwright/tool_fixture.hpp"
#include "tests/support/minisign.hpp"

namespace tooltest {
namespace {

namespace fs = std::filesystem;

// The six models of the default machine, each file 1 MiB, made for the
// default machine's boards (its ZEN5120 is of revision 1.3, its ZEN5170 of
// variant 3).
struct ModelFile {
    const char *model;
    std::vector<std::string> extra;
};
const std::vector<ModelFile> kModels = {
    {"ZEN5110", {}},
    {"ZEN5120", {"--word2", "90"}},
    {"ZEN5160", {}},
    {"ZEN5170", {"--word2", "3"}},
    {"ZEN5190", {}},
    {"ZEN5191", {}},
};

class Bundles : public Tool {
public:
    void SetUp() override {
        use_machine("");  // the built-in machine: seven boards of six models
        extra_env_["TMPDIR"] = temp_.path();
    }

    // A key pair made by minisign without a password: <name>.pub, <name>.key.
    std::string make_key(const std::string &name) {
        const std::string pub = path(name + ".pub");
        testsupport::minisign::make_key(pub, path(name + ".key"));
        return pub;
    }
    void trust(const std::string &pub) {
        fs::create_directories(machine().trusted_keys_folder());
        fs::copy_file(pub, machine().trusted_keys_folder() + "/" + fs::path(pub).filename().string(),
                      fs::copy_options::overwrite_existing);
    }
    // minisign -S: <bundle>.minisig, pre-hashed unless legacy.
    void sign(const std::string &bundle, const std::string &key_name, const std::string &comment,
              bool legacy = false) {
        testsupport::minisign::sign(path(key_name + ".key"), bundle, comment, legacy);
    }
    // The key id as the public key file's comment gives it.
    std::string key_id(const std::string &pub) {
        const std::string text = testsupport::read_text(pub);
        const std::string marker = "minisign public key ";
        const std::size_t at = text.find(marker);
        return text.substr(at + marker.size(), text.find('\n') - at - marker.size());
    }

    std::vector<std::string> firmware_files() {
        std::vector<std::string> files;
        for (const ModelFile &m : kModels) {
            std::vector<std::string> extra = {"--size", "1M", "--seed", "7"};
            extra.insert(extra.end(), m.extra.begin(), m.extra.end());
            files.push_back(make_image(std::string("fw-") + m.model + ".pof", m.model, extra));
        }
        return files;
    }
    // romwright bundle create lab.rwb <the six files>.
    std::string make_bundle(const std::string &name = "lab.rwb") {
        std::vector<std::string> args = {"bundle", "create", path(name), "--name=lab firmware", "--version=2.1"};
        for (const std::string &file : firmware_files()) args.push_back(file);
        const auto made = run(args);
        EXPECT_EQ(made.exit_code, 0) << made.out << made.err;
        return path(name);
    }
    // A signed bundle whose key is trusted.
    std::string trusted_bundle() {
        const std::string bundle = make_bundle();
        trust(make_key("lab"));
        sign(bundle, "lab", "lab release 2.1");
        return bundle;
    }

    // What the run left in its temporary folder.
    std::vector<std::string> temporary_leftovers() const {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(temp_.path())) names.push_back(entry.path().filename().string());
        return names;
    }

    testsupport::TempDir temp_{"bundle-tmp"};
};

// "Skipped S of N ..." lines of the log, in order.
std::vector<std::string> skip_lines(const std::string &log) {
    const std::regex line(R"(Skipped (\d+) of (\d+) sectors)");
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator(); ++it)
        found.push_back(it->str());
    return found;
}

TEST_F(Bundles, OneSignedBundleUpdatesEveryBoardOfTheMachineAndASecondRunSkipsThem) {
    const std::string bundle = trusted_bundle();
    const auto first = run({"update", "--quiet", bundle});
    ASSERT_EQ(first.exit_code, 0) << first.err;
    EXPECT_EQ(first.err, "");
    EXPECT_EQ(temporary_leftovers(), std::vector<std::string>{}) << "the bundle's files were left behind";
    // Every board that can be read back holds its file, and so do the
    // firmware-upgrade service's two, as their simulated flash shows.
    for (const auto &[system, board] : std::vector<std::pair<int, int>>{{2, 1}, {3, 1}, {3, 2}, {3, 3}, {3, 4}}) {
        const auto verified = run({"verify", bundle, fmt::format("--system={}", system), fmt::format("--board={}", board)});
        EXPECT_EQ(verified.exit_code, 0) << system << "/" << board << ": " << verified.out << verified.err;
    }
    const std::vector<uint8_t> upgrade_image = testsupport::read_file(path("fw-ZEN5190.pof"));
    for (const char *name : {"lab-5190-a", "lab-5190-b"}) {
        const std::vector<uint8_t> board = flash(name);
        ASSERT_GE(board.size(), upgrade_image.size());
        EXPECT_TRUE(std::equal(upgrade_image.begin(), upgrade_image.end(), board.begin())) << name;
    }

    const std::string before = testsupport::read_text(path("romwright.log"));
    const auto second = run({"update", "--json", bundle});
    ASSERT_EQ(second.exit_code, 0) << second.err;
    const std::string log = testsupport::read_text(path("romwright.log")).substr(before.size());
    // The four register boards and the flash-sector board leave every sector alone.
    const std::vector<std::string> skipped = skip_lines(log);
    ASSERT_EQ(skipped.size(), 5u) << log;
    for (const std::string &line : skipped) {
        const std::smatch counts = [&line] {
            std::smatch m;
            std::regex_search(line, m, std::regex(R"(Skipped (\d+) of (\d+))"));
            return m;
        }();
        EXPECT_EQ(counts[1], counts[2]) << line;
    }
    EXPECT_EQ(json_value(second.out, "[b['sectors_erased'] for b in d['boards']]"), "[null, null, 0, 0, 0, 0, 0]");
    EXPECT_EQ(json_value(second.out, "[b['bundle_file'] for b in d['boards']]"),
              R"(["fw-ZEN5190.pof", "fw-ZEN5190.pof", "fw-ZEN5191.pof", "fw-ZEN5120.pof", "fw-ZEN5110.pof", )"
              R"("fw-ZEN5160.pof", "fw-ZEN5170.pof"])");
    EXPECT_EQ(json_value(second.out, "[d['signature']['state'], d['signature']['trusted_comment']]"),
              R"(["trusted", "lab release 2.1"])");
    // The log and the history name the key and the trusted comment.
    const std::string id = key_id(path("lab.pub"));
    EXPECT_NE(log.find("signed by key " + id + " (trusted comment: lab release 2.1)"), std::string::npos) << log;
    const auto history = run({"history", "--json", "--limit=1"});
    EXPECT_EQ(json_value(history.out, "[d['records'][0][k] for k in ('bundle_file', 'signature_key_id', "
                                      "'signature_trusted_comment', 'result', 'file_size')]"),
              "[\"fw-ZEN5170.pof\", \"" + id + "\", \"lab release 2.1\", \"succeeded\", 1048704]");
    EXPECT_EQ(temporary_leftovers(), std::vector<std::string>{});
}

TEST_F(Bundles, InspectShowsTheManifestEachFilesVerdictAndTheSignature) {
    const std::string bundle = trusted_bundle();
    const auto shown = run({"inspect", bundle});
    ASSERT_EQ(shown.exit_code, 0) << shown.out << shown.err;
    for (const std::string &line : std::vector<std::string>{"Name: lab firmware", "Version: 2.1", "Signature: valid, by trusted key " + key_id(path("lab.pub")),
          "  trusted comment: lab release 2.1", "    for ZEN5120 revision 1.3 or later",
          "    ZEN5120 revision 1.3: accepted, image 0 is programmed (page mode)",
          "    ZEN5170 variant 3: accepted, image 0 is programmed (sector mode)", "An update takes this bundle."})
        EXPECT_NE(shown.out.find(line), std::string::npos) << line << "\n" << shown.out;
    const auto json = run({"inspect", "--json", bundle});
    ASSERT_EQ(json.exit_code, 0) << json.err;
    EXPECT_EQ(json_value(json.out, "[f['file'] for f in d['files']]"),
              R"(["fw-ZEN5110.pof", "fw-ZEN5120.pof", "fw-ZEN5160.pof", "fw-ZEN5170.pof", "fw-ZEN5190.pof", )"
              R"("fw-ZEN5191.pof"])");
    EXPECT_EQ(json_value(json.out, "[d['files'][1]['revision'], d['files'][3]['variant'], d['signature']['state']]"),
              R"([{"min": "1.3", "max": null}, [3], "trusted"])");
    // Without the key the same bundle is shown, and refused.
    fs::remove_all(machine().trusted_keys_folder());
    const auto untrusted = run({"inspect", bundle});
    EXPECT_EQ(untrusted.exit_code, 1);
    EXPECT_NE(untrusted.out.find("Signature: untrusted"), std::string::npos) << untrusted.out;
}

TEST_F(Bundles, ALegacySignatureOfTheWholeFileIsRefusedSayingHowToSign) {
    if (!testsupport::minisign::signs_legacy()) GTEST_SKIP() << "no signer here signs a whole bundle (minisign -l)";
    const std::string bundle = make_bundle();
    trust(make_key("lab"));
    sign(bundle, "lab", "legacy", true);
    const auto result = run({"update", "--quiet", "--system=3", "--board=2", bundle});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.err.find("is a legacy signature of the whole file (minisign -l)"), std::string::npos)
        << result.err;
}

// ---------------------------------------------------------------------------
// Refusals: each before any device call, naming what failed.

// The offset of a file's data in the archive (its local header comes first,
// and the bundle maker writes no extra field).
std::size_t data_offset(const std::vector<uint8_t> &archive, const std::string &name) {
    const std::string bytes(archive.begin(), archive.end());
    const std::size_t at = bytes.find(name);
    return at + name.size();
}

void flip(const std::string &file, std::size_t offset) {
    std::vector<uint8_t> bytes = testsupport::read_file(file);
    bytes.at(offset) ^= 0x01;
    testsupport::write_file(file, bytes);
}

struct RefusalCase {
    const char *name;
    // Damages the signed, trusted bundle in the fixture's folder (lab.rwb).
    std::function<void(Bundles &fixture, const std::string &bundle)> damage;
    const char *expected;  // in the message
};

class BundleRefusals : public Bundles, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(BundleRefusals, AreRefusedBeforeAnyDeviceCall) {
    machine().with_trace();
    const std::string bundle = trusted_bundle();
    GetParam().damage(*this, bundle);
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"update", "--quiet", bundle},
          std::vector<std::string>{"verify", bundle, "--system=3", "--board=3"}}) {
        const auto result = run(args);
        EXPECT_EQ(result.exit_code, 1) << args[0] << ": " << result.out << result.err;
        EXPECT_NE(result.err.find(GetParam().expected), std::string::npos) << args[0] << ": " << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(testsupport::read_lines(machine().trace_path()).empty())
            << args[0] << ": the library was called";
    }
    EXPECT_EQ(temporary_leftovers(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Damaged, BundleRefusals,
    ::testing::Values(
        RefusalCase{"AByteOfAFirmwareFile",
                    [](Bundles &, const std::string &bundle) {
                        flip(bundle, data_offset(testsupport::read_file(bundle), "fw-ZEN5160.pof") + 5000);
                    },
                    "fw-ZEN5160.pof"},
        RefusalCase{"AByteOfTheManifest",
                    [](Bundles &, const std::string &bundle) {
                        flip(bundle, data_offset(testsupport::read_file(bundle), "manifest.json") + 40);
                    },
                    "manifest.json"},
        RefusalCase{"AByteOfTheSignature",
                    [](Bundles &, const std::string &bundle) {
                        std::string text = testsupport::read_text(bundle + ".minisig");
                        const std::size_t second_line = text.find('\n') + 1;
                        text[second_line + 30] = text[second_line + 30] == 'A' ? 'B' : 'A';
                        testsupport::write_text(bundle + ".minisig", text);
                    },
                    "does not match"},
        RefusalCase{"TheTrustedComment",
                    [](Bundles &, const std::string &bundle) {
                        std::string text = testsupport::read_text(bundle + ".minisig");
                        text.replace(text.find("lab release 2.1"), 15, "lab release 9.9");
                        testsupport::write_text(bundle + ".minisig", text);
                    },
                    "trusted comment"},
        RefusalCase{"ASignatureByAKeyNotTrusted",
                    [](Bundles &fixture, const std::string &bundle) {
                        fixture.make_key("other");
                        fixture.sign(bundle, "other", "made elsewhere");
                    },
                    "which is not among the 1 trusted key"},
        RefusalCase{"NoSignature", [](Bundles &, const std::string &bundle) { fs::remove(bundle + ".minisig"); },
                    "is not signed"},
        RefusalCase{"NotASignatureFile",
                    [](Bundles &, const std::string &bundle) {
                        testsupport::write_text(bundle + ".minisig", "hello\n");
                    },
                    "is not a minisign signature"},
        RefusalCase{"NotAZipArchive",
                    [](Bundles &, const std::string &bundle) {
                        testsupport::write_text(bundle, std::string(4096, 'x'));
                    },
                    "it is not a ZIP archive"}),
    [](const ::testing::TestParamInfo<RefusalCase> &info) { return std::string(info.param.name); });

TEST_F(Bundles, AnUnsignedBundleIsTakenWithAllowUnsignedAfterAWarning) {
    const std::string bundle = make_bundle();
    const auto refused = run({"update", "--quiet", "--system=3", "--board=2", bundle});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_NE(refused.err.find("is not signed"), std::string::npos) << refused.err;
    const auto taken = run({"update", "--quiet", "--allow-unsigned", "--system=3", "--board=2", bundle});
    EXPECT_EQ(taken.exit_code, 0) << taken.err;
    EXPECT_NE(taken.err.find("romwright: warning: " + bundle + " is not signed"), std::string::npos) << taken.err;
    // A bad signature is never taken, whatever --allow-unsigned says.
    testsupport::write_text(bundle + ".minisig", "hello\n");
    const auto bad = run({"update", "--quiet", "--allow-unsigned", "--system=3", "--board=2", bundle});
    EXPECT_EQ(bad.exit_code, 1);
    EXPECT_NE(bad.err.find("is not a minisign signature"), std::string::npos) << bad.err;
}

TEST_F(Bundles, AKeyGivenOnTheCommandLineIsTrusted) {
    const std::string bundle = make_bundle();
    const std::string pub = make_key("lab");
    sign(bundle, "lab", "lab release 2.1");
    EXPECT_EQ(run({"update", "--quiet", "--system=3", "--board=2", bundle}).exit_code, 1);
    const auto result = run({"update", "--quiet", "--system=3", "--board=2", "--trusted-key=" + pub, bundle});
    EXPECT_EQ(result.exit_code, 0) << result.err;
}

// ---------------------------------------------------------------------------
// Boards the bundle has no file for.

TEST_F(Bundles, ABoardTheBundleDoesNotCoverIsANoticeUnlessNamed) {
    // A bundle of the ZEN5110 and ZEN5160 files only.
    const std::vector<std::string> files = firmware_files();
    const auto made = run({"bundle", "create", path("two.rwb"), files[0], files[2]});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    trust(make_key("lab"));
    sign(path("two.rwb"), "lab", "two");
    const auto system = run({"update", "--quiet", "--system=3", path("two.rwb")});
    EXPECT_EQ(system.exit_code, 0) << system.err;
    EXPECT_NE(system.err.find("romwright: Board 3/1 (ZEN5120) is not covered by " + path("two.rwb") +
                              ": it has no file for a ZEN5120; it is left alone."),
              std::string::npos)
        << system.err;
    EXPECT_NE(system.err.find("Board 3/4 (ZEN5170)"), std::string::npos) << system.err;
    const auto named = run({"update", "--quiet", "--system=3", "--board=1", path("two.rwb")});
    EXPECT_EQ(named.exit_code, 1);
    EXPECT_NE(named.err.find("Board 3/1 (ZEN5120) is not covered"), std::string::npos) << named.err;
    const auto verified = run({"verify", path("two.rwb"), "--system=3", "--board=4"});
    EXPECT_EQ(verified.exit_code, 1);
    EXPECT_NE(verified.err.find("Board 3/4 (ZEN5170) is not covered"), std::string::npos) << verified.err;
    const auto none = run({"update", "--quiet", "--system=1", path("two.rwb")});
    EXPECT_EQ(none.exit_code, 1);
    EXPECT_NE(none.err.find("has a file for none of the 2 selected boards"), std::string::npos) << none.err;
}

// ---------------------------------------------------------------------------
// romwright bundle create.

TEST_F(Bundles, CreateRefusesAFileNoModelAcceptsNamingIt) {
    const std::string wrong = make_image("fw-ZEN5160.pof", "ZEN5110", {"--size", "1M"});
    const std::string good = make_image("fw-ZEN5110.pof", "ZEN5110", {"--size", "1M"});
    const auto refused = run({"bundle", "create", path("x.rwb"), good, wrong});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_NE(refused.err.find(wrong + ": refused: fw-ZEN5160.pof: no model its name carries accepts it"),
              std::string::npos)
        << refused.err;
    EXPECT_FALSE(fs::exists(path("x.rwb")));
    const std::string unnamed = make_image("firmware.pof", "ZEN5110", {"--size", "1M"});
    const auto no_model = run({"bundle", "create", path("x.rwb"), unnamed});
    EXPECT_EQ(no_model.exit_code, 1);
    EXPECT_NE(no_model.err.find("carries no model designation"), std::string::npos) << no_model.err;
    // Two files for one board.
    const std::string again = make_image("fw2-ZEN5110.pof", "ZEN5110", {"--size", "1M", "--seed", "2"});
    const auto twice = run({"bundle", "create", path("x.rwb"), good, again});
    EXPECT_EQ(twice.exit_code, 1);
    EXPECT_NE(twice.err.find("both fw-ZEN5110.pof and fw2-ZEN5110.pof are for ZEN5110 boards"), std::string::npos)
        << twice.err;
    // An existing bundle is replaced only when asked.
    ASSERT_EQ(run({"bundle", "create", path("x.rwb"), good}).exit_code, 0);
    const auto exists = run({"bundle", "create", path("x.rwb"), good});
    EXPECT_EQ(exists.exit_code, 1);
    EXPECT_NE(exists.err.find("already exists; --overwrite replaces it"), std::string::npos) << exists.err;
    EXPECT_EQ(run({"bundle", "create", path("x.rwb"), good, "--overwrite"}).exit_code, 0);
    EXPECT_EQ(run({"bundle", "create", path("x.zip"), good}).exit_code, 255);
}

TEST_F(Bundles, CreateGivesEachRevisionOfAZen5120ItsOwnFile) {
    const std::string old_boards = make_image("old-ZEN5120.pof", "ZEN5120", {"--size", "1M"});
    const std::string new_boards = make_image("new-ZEN5120.pof", "ZEN5120", {"--size", "1M", "--word2", "90"});
    const auto made = run({"bundle", "create", path("r.rwb"), old_boards, new_boards});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    EXPECT_NE(made.out.find("old-ZEN5120.pof  1048704 bytes  for ZEN5120 revision 1.2 or earlier"), std::string::npos)
        << made.out;
    EXPECT_NE(made.out.find("new-ZEN5120.pof  1048704 bytes  for ZEN5120 revision 1.3 or later"), std::string::npos);
    // The default machine's ZEN5120 is of revision 1.3.
    const auto result = run({"update", "--json", "--allow-unsigned", "--system=3", "--board=1", path("r.rwb")});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(json_value(result.out, "d['boards'][0]['bundle_file']"), "\"new-ZEN5120.pof\"");
}

} // namespace
} // namespace tooltest
