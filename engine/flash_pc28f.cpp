// Scaffolding: replaced by the flash controller driver.
#include "engine/flash_pc28f.hpp"

CFlashPC28F::CFlashPC28F(ROMWRIGHT_LOG_CALLBACK log_callback, void *user_data, romwright::Clock &clock)
    : log_(log_callback, user_data), clock_(clock) {}
void CFlashPC28F::Detach() { handle_ = nullptr; }
