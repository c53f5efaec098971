// Placeholder until the simulated machine lands: every call fails.
#include "zenapi/Zenapi.h"
