#include "tests/support/minisign.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/process.hpp"

namespace testsupport::minisign {
namespace {

constexpr const char *kMinisign = "/usr/bin/minisign";

void run(const std::vector<std::string> &args) {
    const auto ran = run_process(kMinisign, args);
    EXPECT_EQ(ran.exit_code, 0) << "minisign (scripts/lib/packages.sh installs it): " << ran.out << ran.err;
}

} // namespace

void make_key(const std::string &pub, const std::string &key) { run({"-G", "-W", "-p", pub, "-s", key}); }

void sign(const std::string &key, const std::string &file, const std::string &comment, bool legacy) {
    std::vector<std::string> args = {"-S", "-s", key, "-m", file, "-t", comment};
    if (legacy) args.push_back("-l");
    run(args);
}

bool signs_legacy() { return true; }

} // namespace testsupport::minisign
