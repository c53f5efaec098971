#include <romwright/frontend/board_update.hpp>


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
    update_board(path, board, callbacks, options, SectorWrites::all);
}

// The entry's return code 1 as front ends know it, with the engine's typed
// failure handed through rather than looked for in the log.
void update_board(const std::string &path, void *board, const UpdateCallbacks &callbacks,
                  const romwright::options &options, SectorWrites writes, UpdateReport *report) {
    const romwright::options private_copy(options);
    try {
        run_update(path.c_str(), board, forward_operation, forward_progress, forward_log, private_copy.record(),
                   const_cast<UpdateCallbacks *>(&callbacks), writes == SectorWrites::differing, report);
    } catch (const romwright::error &failure) {
        throw romwright::exception(ROMWRIGHT_RC_ERROR, failure);
    }
}

} // namespace romwright::frontend
