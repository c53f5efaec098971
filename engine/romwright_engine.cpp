// Scaffolding: replaced by the engine object's implementation.
#include "engine/romwright_engine.hpp"

#include <stdexcept>

CRomwright::CRomwright(ROMWRIGHT_LOG_CALLBACK log_callback_, void *user_data_, romwright::Clock &clock)
    : user_data(user_data_), log_callback(log_callback_), flash(log_callback_, user_data_, clock), clock_(clock) {}
CRomwright::~CRomwright() = default;
void CRomwright::SetOptions(bool, bool, bool, bool, bool, int32_t, bool) {}
void CRomwright::UpdateBoard(const std::string &, void *, ROMWRIGHT_OPERATION_CALLBACK, ROMWRIGHT_PROGRESS_CALLBACK) {
    throw std::logic_error("register path not built yet");
}
