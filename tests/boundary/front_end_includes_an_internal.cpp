// Built as a front end is built, this file must not compile: the flash
// controller driver is an engine internal, and only include/romwright/ is
// in a front end's reach. The public headers it includes first do compile.
#include <romwright/frontend/board_update.hpp>
#include <romwright/options.hpp>
#include <romwright/romwright.h>
#include <zenapi/Zenapi.h>

#include "engine/flash/flash_pc28f.hpp"

int main() { return 0; }
