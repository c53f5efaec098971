// Deferred stop requests in this process: a signal is recorded, not obeyed,
// and turns into a stop before the next board; a closed pipe fails a write
// instead of killing the program.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

#include <gtest/gtest.h>

#include "engine/frontend/stop_request.hpp"
#include "engine/platform.hpp"

namespace {

using romwright::frontend::stop_if_requested;
using romwright::frontend::stop_requested;

class StopRequest : public ::testing::Test {
protected:
    void SetUp() override {
        romwright::frontend::defer_stop_requests("frontend_tests");
        romwright::platform::forget_stop_request();
    }
    void TearDown() override { romwright::platform::forget_stop_request(); }

    static std::string stop_text(std::size_t next_board, std::size_t board_count) {
        try {
            stop_if_requested(next_board, board_count);
        } catch (const romwright::frontend::stop_requested_error &stop) {
            return stop.what();
        }
        return "(no stop)";
    }
};

struct SignalCase {
    int number;
    const char *name;
};

void PrintTo(const SignalCase &c, std::ostream *out) { *out << c.name; }

class DeferredSignal : public StopRequest, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(DeferredSignal, IsRecordedAndStopsBeforeTheNextBoard) {
    EXPECT_EQ(stop_text(0, 3), "(no stop)");
    ASSERT_EQ(std::raise(GetParam().number), 0);  // the test program lives on
    ASSERT_NE(stop_requested(), nullptr);
    EXPECT_STREQ(stop_requested(), GetParam().name);
    EXPECT_EQ(stop_text(0, 3), std::string("Stopped by ") + GetParam().name + " before board 1 of 3; no board was touched.");
    EXPECT_EQ(stop_text(2, 3),
              std::string("Stopped by ") + GetParam().name + " before board 3 of 3; the boards before it were updated.");
}

INSTANTIATE_TEST_SUITE_P(Signals, DeferredSignal,
                         ::testing::Values(SignalCase{SIGTERM, "SIGTERM"}, SignalCase{SIGINT, "SIGINT"},
                                           SignalCase{SIGHUP, "SIGHUP"}),
                         [](const ::testing::TestParamInfo<SignalCase> &info) { return std::string(info.param.name); });

TEST_F(StopRequest, TheFirstRequestIsTheOneReported) {
    ASSERT_EQ(std::raise(SIGHUP), 0);
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_STREQ(stop_requested(), "SIGHUP");
}

TEST_F(StopRequest, AClosedPipeFailsTheWriteInsteadOfEndingTheProgram) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    errno = 0;
    EXPECT_EQ(::write(fds[1], "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    ::close(fds[1]);
    EXPECT_EQ(stop_requested(), nullptr) << "a closed pipe is no request to stop";
}

} // namespace
