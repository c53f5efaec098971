// The fake library's process-wide state: boards, scripted failures and the
// records that tests read back.
#include <algorithm>

#include "tests/support/fake_zenapi/internal.hpp"

namespace fakezen {

std::vector<uint8_t> &Board::flash_bytes() {
    if (flash.size() != flash_size) flash.assign(flash_size, 0xFF);
    return flash;
}

void Library::reset() {
    std::lock_guard<std::recursive_mutex> guard(detail::lock());
    boards_.clear();
    systems_.clear();
    failures_.clear();
    counts_.clear();
    calls_.clear();
    register_log_.clear();
    recording = true;
    const uint8_t version[3] = {7, 4, 0};
    std::copy(version, version + 3, sdk_version);
    std::copy(version, version + 3, driver_version);
}

Board &Library::add_board(uint32_t system_id) {
    std::lock_guard<std::recursive_mutex> guard(detail::lock());
    const std::size_t index = system_id == 0 ? 0 : system_id - 1;
    if (systems_.size() <= index) systems_.resize(index + 1);
    boards_.push_back(std::make_unique<Board>());
    systems_[index].push_back(boards_.back().get());
    return *boards_.back();
}

Board *Library::find(void *handle) {
    for (const auto &board : boards_)
        if (board.get() == handle) return board.get();
    return nullptr;
}

void Library::fail_call(const std::string &name, uint32_t code, uint32_t nth) {
    std::lock_guard<std::recursive_mutex> guard(detail::lock());
    failures_.push_back({name, code, nth});
}

uint32_t Library::call_count(const std::string &name) const {
    std::lock_guard<std::recursive_mutex> guard(detail::lock());
    const auto found = counts_.find(name);
    return found == counts_.end() ? 0 : found->second;
}

void Library::clear_log() {
    std::lock_guard<std::recursive_mutex> guard(detail::lock());
    calls_.clear();
    register_log_.clear();
}

std::vector<uint32_t> Library::writes_to(uint32_t offset) const {
    std::vector<uint32_t> values;
    for (const auto &access : register_log_)
        if (access.kind == RegisterAccess::Kind::write && access.offset == offset) values.push_back(access.value);
    return values;
}

std::vector<uint32_t> Library::reads_of(uint32_t offset) const {
    std::vector<uint32_t> values;
    for (const auto &access : register_log_)
        if (access.kind == RegisterAccess::Kind::read && access.offset == offset) values.push_back(access.value);
    return values;
}

// Counts the call, then says whether a scripted failure takes it.
std::optional<uint32_t> Library::scripted_failure(const std::string &name) {
    const uint32_t n = ++counts_[name];
    for (const auto &failure : failures_)
        if (failure.name == name && (failure.nth == 0 || failure.nth == n)) return failure.code;
    return std::nullopt;
}

void Library::record_call(const std::string &name, void *board, std::vector<uint64_t> args, uint32_t result) {
    if (recording) calls_.push_back({name, board, std::move(args), result});
}

void Library::record_register(const RegisterAccess &access) {
    if (recording) register_log_.push_back(access);
}

uint32_t Library::boards_in(uint32_t system_id) const {
    if (system_id == 0 || system_id > systems_.size()) return 0;
    return static_cast<uint32_t>(systems_[system_id - 1].size());
}

void *Library::board_at(uint32_t system_id, uint32_t board_id) const {
    if (board_id == 0 || board_id > boards_in(system_id)) return nullptr;
    return systems_[system_id - 1][board_id - 1];
}

Library &library() {
    static Library instance;
    return instance;
}

namespace detail {
std::recursive_mutex &lock() {
    static std::recursive_mutex mutex;
    return mutex;
}
} // namespace detail

} // namespace fakezen
