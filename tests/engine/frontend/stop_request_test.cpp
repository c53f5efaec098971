// Deferred stop requests in this process: a signal is recorded, not obeyed,
// and turns into a stop before the next board.
#include <csignal>
#include <string>

#include <gtest/gtest.h>

#include <romwright/frontend/stop_request.hpp>

#include "engine/platform/stop_requests.hpp"

namespace {

using romwright::frontend::stop_if_requested;
using romwright::frontend::stop_requested;

std::string stop_text(std::size_t next_board, std::size_t board_count) {
    try {
        stop_if_requested(next_board, board_count);
    } catch (const romwright::frontend::stop_requested_error &stop) {
        return stop.what();
    }
    return "(no stop)";
}

TEST(StopRequest, TheFirstSignalIsKeptAndStopsBeforeTheNextBoard) {
    romwright::frontend::defer_stop_requests("frontend_tests");
    romwright::platform::forget_stop_request();
    EXPECT_EQ(stop_requested(), nullptr);
    EXPECT_EQ(stop_text(0, 3), "(no stop)");

    ASSERT_EQ(std::raise(SIGHUP), 0);  // the test program lives on
    ASSERT_EQ(std::raise(SIGTERM), 0);
    ASSERT_NE(stop_requested(), nullptr);
    EXPECT_STREQ(stop_requested(), "SIGHUP");
    EXPECT_EQ(stop_text(0, 3), "Stopped by SIGHUP before board 1 of 3; no board was touched.");
    EXPECT_EQ(stop_text(2, 3), "Stopped by SIGHUP before board 3 of 3; the boards before it were updated.");

    romwright::platform::forget_stop_request();
    EXPECT_EQ(stop_text(2, 3), "(no stop)");
}

} // namespace
