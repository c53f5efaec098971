#include "engine/platform/stop_requests.hpp"

#include <atomic>
#include <cstring>

#include "engine/platform/stop_record.hpp"

namespace romwright::platform {
namespace {

// 0 while no request has arrived; else the code of the first one: the signal
// number on POSIX, the console control event plus one on Windows.
std::atomic<int> stop_code{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler may only touch a lock-free flag");

} // namespace

namespace stop_record {

const char *notice = nullptr;
std::size_t notice_length = 0;

void record(int code) noexcept {
    int none = 0;
    stop_code.compare_exchange_strong(none, code);
}

} // namespace stop_record

void defer_stop_requests(const char *notice) noexcept {
    stop_record::notice = notice;
    stop_record::notice_length = notice ? std::strlen(notice) : 0;
    stop_record::install_handlers();
}

const char *stop_request() noexcept { return stop_record::name(stop_code.load()); }

void forget_stop_request() noexcept { stop_code.store(0); }

} // namespace romwright::platform
