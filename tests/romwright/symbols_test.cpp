// romwright, like romwright-cli, reaches the device library only through the
// calls of its public interface (zenapi/include/zenapi/Zenapi.h).
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

// The calls the interface header declares, read from it.
std::set<std::string> declared_calls() {
    std::ifstream header(testsupport::source_dir() + "/zenapi/include/zenapi/Zenapi.h");
    std::stringstream text;
    text << header.rdbuf();
    const std::string body = text.str();
    std::set<std::string> calls;
    const std::regex declaration(R"(ZENAPI_EXPORT [^(]*?\b(\w+)\()");
    for (auto it = std::sregex_iterator(body.begin(), body.end(), declaration); it != std::sregex_iterator(); ++it)
        calls.insert((*it)[1]);
    return calls;
}

TEST(ToolSymbols, OnlyTheLibrarysPublicCalls) {
    const std::string nm = "/usr/bin/nm";
    if (!testsupport::file_exists(nm)) GTEST_SKIP() << "no nm";
    const std::set<std::string> declared = declared_calls();
    ASSERT_GT(declared.size(), 20u);
    const auto result = testsupport::run_process(nm, {"-D", "--undefined-only", testsupport::bin_path("romwright")});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    std::istringstream lines(result.out);
    std::set<std::string> used;
    for (std::string line; std::getline(lines, line);) {
        std::string name = line.substr(line.find_last_of(' ') + 1);
        name = name.substr(0, name.find('@'));
        for (const char *prefix : {"Korvel", "ZEN5", "Zen", "SetControlCommand"})
            if (name.rfind(prefix, 0) == 0) used.insert(name);
    }
    for (const std::string &name : used) EXPECT_EQ(declared.count(name), 1u) << name << " is not a library call";
    EXPECT_EQ(used.count("KorvelFlashSectorRead"), 1u);
    EXPECT_EQ(used.count("ZEN5110FlashSectorPageRead"), 1u);
}

} // namespace
