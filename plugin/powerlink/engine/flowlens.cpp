// flowlens instance: creation, start and reset, options, event reporting and
// the per-port network record the statistics read.
#include "flowlens.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <new>

#include "cycle_samples.h"
#include "device_catalogue.h"
#include "sdo_tracking.h"

const char *const flowlens_event_texts[FLOWLENS_EV_COUNT] = {
    "Loss of SoA",
    "Loss of SoC",
    "Loss of PRes (at least one PRes of last cycle lost)",
    "Unexpected Poll Request",
    "Unexpected Poll Response",
    "Unexpected SoA",
    "Unexpected SoC",
    "Unexpected AInv",
    "One or more duplicated packets (capture problem)",
    "Unknown number of packets dropped by capture engine (network performance of PC too low ?)",
    "Async packet expected",
    "Fallback to Reduced Cycle",
    "Frame too short",
    "Error : CRC",
    "Error : Frame Format",
    "Error : Runt",
    "Error : Oversize",
    "2 Networks detected - Equal",
    "2 Networks detected - Different",
    "SoC MAC changed (Redundancy-Switchover ?)",
    "StatusResponse too short",
    "Invalid NMT state",
    "Change of FLS or SLS (Cable Redundancy)",
    "Invite without request",
    "Frames lost (by PC or by Q40TA5521)",
    "Source-MAC changed",
    "Destination-MAC invalid",
    "Deviation of nominal to measuerd cycle time > 5%",
    "Deviation of nominal to measuerd cycle time > 10%",
};

const uint16_t flowlens_event_limits[FLOWLENS_EV_COUNT] = {
    0,  0, 0, 0, 0, 0, 0, 0, 0, 0,
    10,  // Async packet expected
    0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    10,  // Invite without request
    0,  0, 0,
    1,  // > 5%
    1,  // > 10%
};

const char *const flowlens_sdo_abort_text = "SDO Abort";
const char *const flowlens_misplaced_text = "Misplaced Async Frame";

namespace {

// Event texts are formatted into a buffer of this size (truncated, terminated).
constexpr size_t REPORT_TEXT_SIZE = 500;

void init_event(flowlens_event *event, const char *text, uint16_t limit) {
    std::memset(event, 0, sizeof *event);
    event->text = text;
    event->limit = limit;
}

void reset_network(flowlens_network *network) {
    std::memset(network, 0, sizeof *network);
    for (int i = 0; i < FLOWLENS_EV_COUNT; ++i)
        init_event(&network->events[i], flowlens_event_texts[i], flowlens_event_limits[i]);
    init_event(&network->slots.sdo_abort, flowlens_sdo_abort_text, 0);
    init_event(&network->slots.misplaced, flowlens_misplaced_text, 0);
    network->warm_up = 1;
    for (flowlens_node &node : network->nodes) {
        node.preq_position.min = UINT64_MAX;
        node.pres_latency.min = UINT64_MAX;
        node.asnd_latency.min = UINT64_MAX;
    }
    flowlens_timing_clear(&network->cycle_time);
    flowlens_timing_clear(&network->soa_to_soc);
    flowlens_timing_clear(&network->async_idle);
    flowlens_timing_clear(&network->packet_interval);
    flowlens_timing_clear(&network->pres_to_preq);
    network->soc_mac[0] = 0xFF;
    for (flowlens_dump_source &dump : network->dumps) dump.next_expected = 0xFFFF;
}

// Without samples the engine still analyses; only plots and exports are empty.
flowlens_cycle_samples *new_samples() {
    try {
        return new flowlens_cycle_samples();
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

// The network whose report table (or slot counters) holds an event; the
// network of the frame being analysed for events outside both.
unsigned network_index_of(const flowlens_instance *instance, const flowlens_event *event) {
    auto at = reinterpret_cast<uintptr_t>(event);
    for (unsigned i = 0; i < 2; ++i) {
        auto begin = reinterpret_cast<uintptr_t>(&instance->networks[i]);
        if (at >= begin && at < begin + sizeof(flowlens_network)) return i;
    }
    return flowlens_current_network_index(instance);
}

}  // namespace

void flowlens_timing_clear(flowlens_timing *t) {
    std::memset(t, 0, sizeof *t);
    t->min = UINT64_MAX;
}

void flowlens_timing_add(flowlens_timing *t, uint64_t value, uint64_t frame_number) {
    t->count += 1;
    t->sum += value;
    if (value < t->min) {
        t->min = value;
        t->min_frame = frame_number;
    }
    if (value > t->max) {
        t->max = value;
        t->max_frame = frame_number;
    }
}

int flowlens_create(flowlens_instance **out, flowlens_event_callback callback, void *context) {
    if (out == nullptr) return -1;
    *out = nullptr;
    auto *instance = static_cast<flowlens_instance *>(std::calloc(1, sizeof(flowlens_instance)));
    if (instance == nullptr) return -1;
    // Without history and table the engine still analyses the cycle; only SDO
    // tracking is off.
    (void)flowlens_sdo_alloc(&instance->sdo);
    instance->samples = new_samples();
    flowlens_set_callback(instance, callback, context);
    flowlens_reset(instance);
    *out = instance;
    return 0;
}

void flowlens_destroy(flowlens_instance *instance) {
    if (instance == nullptr) return;
    flowlens_sdo_release(&instance->sdo);
    delete instance->samples;
    std::free(instance);
}

void flowlens_set_callback(flowlens_instance *instance, flowlens_event_callback callback, void *context) {
    if (instance == nullptr) return;
    instance->callback = callback;
    instance->callback_context = context;
}

void flowlens_set_portmarking(flowlens_instance *instance, uint8_t portmarking) {
    if (instance != nullptr) instance->portmarking = portmarking;
}

void flowlens_set_timemode(flowlens_instance *instance, uint8_t timemode) {
    if (instance != nullptr) instance->timemode = timemode;
}

void flowlens_start(flowlens_instance *instance) {
    if (instance == nullptr) return;
    for (flowlens_network &network : instance->networks) {
        network.warm_up = 1;
        network.pres_previous_cycle = 0;
        network.pres_this_cycle = 0;
        network.preq_previous_cycle = 0;
        network.preq_this_cycle = 0;
    }
    flowlens_reset(instance);
}

void flowlens_reset(flowlens_instance *instance) {
    if (instance == nullptr) return;
    instance->network_mode = FLOWLENS_NETWORK_MODE_SINGLE;
    instance->text.v1_nettime_valid = 0;
    instance->effective_timemode = instance->timemode;
    flowlens_timing_clear(&instance->port_switch);
    std::memset(&instance->network_offset, 0, sizeof instance->network_offset);
    instance->network_offset.min = INT64_MAX;
    instance->network_offset.max = INT64_MIN;
    std::memset(instance->first_soc_mac, 0, sizeof instance->first_soc_mac);
    instance->first_soc_mac[0] = 0xFF;
    instance->last_port = 0xFF;
    instance->last_analysed_frame = UINT64_MAX;
    for (flowlens_network &network : instance->networks) reset_network(&network);
    flowlens_sdo_clear(&instance->sdo);
    if (instance->samples != nullptr) instance->samples->clear();
}

void flowlens_report(flowlens_instance *instance, flowlens_event *event, const char *detail_format, ...) {
    if (instance == nullptr || event == nullptr) return;
    if (event->count == 0) event->first_frame = instance->current_frame_number;
    event->last_frame = instance->current_frame_number;
    event->count += 1;
    if (instance->samples != nullptr)
        instance->samples->add_event(network_index_of(instance, event), instance->current_frame_number, 2, event->text);
    if (instance->callback == nullptr) return;

    uint64_t excess = 0;
    if (event->limit != 0 && event->count > event->limit) excess = event->count - event->limit;

    char text[REPORT_TEXT_SIZE];
    int written =
        std::snprintf(text, sizeof text, "Powerlink: Packet #%07llu - %s",
                      static_cast<unsigned long long>(instance->current_frame_number), event->text ? event->text : "");
    if (detail_format != nullptr && written >= 0 && size_t(written) < sizeof text - 1) {
        va_list args;
        va_start(args, detail_format);
        std::vsnprintf(text + written, sizeof text - size_t(written), detail_format, args);
        va_end(args);
    }
    // The value handed along is the time of the frame that raised the event.
    instance->callback(instance->callback_context, instance->current_time, 2, text, excess);
}

void flowlens_inform(flowlens_instance *instance, const char *message) {
    if (instance == nullptr || message == nullptr) return;
    if (instance->samples != nullptr)
        instance->samples->add_message(flowlens_current_network_index(instance), instance->current_frame_number, 0,
                                       message);
    if (instance->callback == nullptr) return;
    char text[REPORT_TEXT_SIZE];
    std::snprintf(text, sizeof text, "Powerlink: Packet #%07llu - %s ",
                  static_cast<unsigned long long>(instance->current_frame_number), message);
    instance->callback(instance->callback_context, 0, 0, text, 0);
}

unsigned flowlens_current_network_index(const flowlens_instance *instance) {
    uint8_t port = instance->last_port == 0xFF ? 0 : instance->last_port;
    return instance->network_mode != FLOWLENS_NETWORK_MODE_SINGLE && port >= 1 ? 1 : 0;
}

flowlens_network *flowlens_network_of_port(flowlens_instance *instance, uint8_t port) {
    if (instance->network_mode != FLOWLENS_NETWORK_MODE_SINGLE && port >= 1) return &instance->networks[1];
    return &instance->networks[0];
}

void flowlens_node_set_identity(flowlens_node *node, uint32_t vendor_id, uint32_t product_code) {
    if (node == nullptr) return;
    if (node->vendor_id == vendor_id && node->product_code == product_code) return;
    node->vendor_id = vendor_id;
    node->product_code = product_code;
    node->device_name = nullptr;
    node->object_names_maker = 0;
    node->object_names_slots = 0;
    const device_catalogue_row *row = device_catalogue_find(vendor_id, product_code);
    if (row == nullptr) return;
    node->device_name = row->model_name;
    node->object_names_maker = (row->capabilities & DEVICE_CAPABILITY_BUS_CONTROLLER) ? 1 : 0;
    node->object_names_slots = (row->capabilities & DEVICE_CAPABILITY_INTERFACE_SLOTS) ? 1 : 0;
}

const flowlens_cycle_samples *flowlens_samples(const flowlens_instance *instance) {
    return instance ? instance->samples : nullptr;
}

flowlens_cycle_samples *flowlens_samples_of(flowlens_instance *instance) {
    return instance ? instance->samples : nullptr;
}

const flowlens_network *flowlens_port_network(const flowlens_instance *instance, unsigned port) {
    if (instance == nullptr || port > 1) return nullptr;
    return &instance->networks[port];
}
