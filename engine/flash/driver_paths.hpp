// Programming through the board driver's own services: the firmware-upgrade
// service, which takes the whole file, and the flash-sector service, which
// takes the file sector by sector. Neither parses the file. Each runs its
// path's backend (upgrade_service.hpp, service_flash.hpp) with the log lines
// of an update.
#pragma once

#include <cstdint>
#include <string>

#include <romwright/romwright.h>
#include <romwright/update_report.hpp>

#include "engine/core/clock.hpp"
#include "engine/flash/service_flash.hpp"

namespace romwright {

void UpgradeThroughDriver(const std::string &path, void *board, ROMWRIGHT_OPERATION_CALLBACK operation,
                          ROMWRIGHT_PROGRESS_CALLBACK progress, ROMWRIGHT_LOG_CALLBACK log, void *user_data,
                          Clock &clock = system_clock());

// report, when given, gets the sectors written (each erased by the service
// first) once the update has succeeded. With skip_matching, each sector is
// read first and one that already holds what the update would write is
// left alone (that comparison is its verification), as romwright update
// does on the register paths.
void UpdateThroughFlashService(const std::string &path, void *board, ROMWRIGHT_OPERATION_CALLBACK operation,
                               ROMWRIGHT_PROGRESS_CALLBACK progress, ROMWRIGHT_LOG_CALLBACK log, void *user_data,
                               Clock &clock = system_clock(), UpdateReport *report = nullptr,
                               bool skip_matching = false);

// Reads sectors [first, first + count) of size bytes through the open
// flash-sector service and compares them with expected, stopping at the
// first that differs ("Verify image failed").
void VerifyFlashSectors(void *board, const uint8_t *expected, uint32_t first, uint32_t count, uint32_t size,
                        ROMWRIGHT_PROGRESS_CALLBACK progress, void *user_data);

} // namespace romwright
