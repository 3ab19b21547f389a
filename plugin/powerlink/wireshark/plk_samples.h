// The running analysis's cycle samples, for the plug-in's windows. Free of
// Wireshark headers: the window module includes it with cycle_samples.h.
#pragma once

#include "cycle_samples.h"

// The samples of the plug-in's flowlens instance (the one the tap feeds);
// NULL before the first tap reset. Exported from the plug-in module; the
// window module resolves it from there at load time (see cycle_samples.h).
FLOWLENS_SAMPLES_API const flowlens_cycle_samples *plk_cycle_samples(void);
