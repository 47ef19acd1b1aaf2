// Placeholder; replaced by the logging core.
#include "kep_support.h"
