// Stands in for the window module: a module of its own, built with hidden
// symbols and without the flowlens library, that reads the plug-in's cycle
// samples through plk_samples.h. It loads only where the plug-in module's
// symbols are global, and then uses the plug-in's one collector.
#include "plk_samples.h"

extern "C" __attribute__((visibility("default"))) long reader_live_points(unsigned network) {
    const flowlens_cycle_samples *samples = plk_cycle_samples();
    if (samples == nullptr) return -1;
    return long(samples->cycles(network).size() + samples->responses(network).size() + samples->events(network).size() +
                samples->cn_summaries(network).size() + samples->cycle_stride(network) +
                samples->response_stride(network) + samples->generation());
}
