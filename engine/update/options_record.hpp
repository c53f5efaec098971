// The layout of the options record, private to the engine: the seven update
// options with their defaults.
#pragma once

#include <romwright/romwright.h>

#include "engine/update/update_options.hpp"

struct romwright_options_record : romwright::UpdateOptions {};
