// Placeholder entry point; replaced by the registration subsystem.
#include "kep_export.h"

extern "C" KEP_EXPORT int kep_register_callbacks(void) { return 0; }
