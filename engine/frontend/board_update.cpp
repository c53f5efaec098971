#include <romwright/frontend/board_update.hpp>

#include <memory>

#include "engine/update/update_entry.hpp"

namespace romwright::frontend {
namespace {

const UpdateCallbacks &callbacks_of(void *user_data) { return *static_cast<const UpdateCallbacks *>(user_data); }

} // namespace

void forward_operation(ROMWRIGHT_OPERATION operation, void *user_data) {
    callbacks_of(user_data).on_operation(operation);
}

void forward_progress(float progress, void *user_data) { callbacks_of(user_data).on_progress(progress); }

void forward_log(ROMWRIGHT_LOG_LEVEL level, const char *text, void *user_data) {
    callbacks_of(user_data).on_log(level, text ? std::string(text) : std::string());
}

void update_board(const std::string &path, void *board, const UpdateCallbacks &callbacks,
                  const romwright::options &options) {
    auto private_copy = std::make_unique<romwright::options>(options);
    const ROMWRIGHT_RC rc =
        romwright_update_firmware(path.c_str(), board, forward_operation, forward_progress, forward_log,
                                  private_copy->record(), const_cast<UpdateCallbacks *>(&callbacks));
    private_copy.reset();
    if (rc != ROMWRIGHT_RC_SUCCESS) throw romwright::exception(rc);
}

void update_board(const std::string &path, void *board, const UpdateCallbacks &callbacks,
                  const romwright::options &options, SectorWrites writes) {
    auto private_copy = std::make_unique<romwright::options>(options);
    const ROMWRIGHT_RC rc = romwright::update_firmware(
        path.c_str(), board, forward_operation, forward_progress, forward_log, private_copy->record(),
        const_cast<UpdateCallbacks *>(&callbacks), writes == SectorWrites::differing);
    private_copy.reset();
    if (rc != ROMWRIGHT_RC_SUCCESS) throw romwright::exception(rc);
}

} // namespace romwright::frontend
