#include "plk_robot_samples.h"

#include "capture_frames.h"
#include "cycle_samples.h"
#include "flowlens.h"

struct analysed_capture::engine {
    flowlens_instance *instance = nullptr;
    ~engine() {
        if (instance) flowlens_destroy(instance);
    }
};

analysed_capture::analysed_capture(const std::string &name) : run(new engine) {
    const std::string dir = shared_captures_dir();
    if (dir.empty()) {
        skip = true;
        why = "the shared captures are not there";
        return;
    }
    const capture_file capture = read_capture(dir + "/" + name);
    if (!capture.error.empty()) {
        why = capture.error;
        return;
    }
    if (flowlens_create(&run->instance, nullptr, nullptr) != 0) {
        why = "no engine";
        return;
    }
    // As the plug-in runs it: the time resolution found from the stamps.
    flowlens_set_timemode(run->instance, FLOWLENS_TIMEMODE_DETECT);
    flowlens_start(run->instance);
    for (size_t i = 0; i < capture.frames.size(); ++i) {
        const flowlens_packet_info packet = packet_of(capture, i);
        flowlens_process_packet(run->instance, &packet);
    }
}

analysed_capture::~analysed_capture() = default;

const flowlens_cycle_samples *analysed_capture::samples() const {
    return run->instance ? flowlens_samples(run->instance) : nullptr;
}

const char *analysed_capture::deviation5Text() { return flowlens_event_texts[FLOWLENS_EV_DEVIATION_5]; }

const char *analysed_capture::deviation10Text() { return flowlens_event_texts[FLOWLENS_EV_DEVIATION_10]; }
