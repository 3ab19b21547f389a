// The flowlens engine and its text over a sequence of frames carved from the
// input, with the capture engine's direction and error flags and time steps.
// Every frame text and every event text stays within its limit, and the
// frame counters never count more than the frames sent.
//
// Input: settings byte (port marking, time mode), then frames: flags byte,
// 16-bit time step in microseconds, 16-bit length + bytes.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "flowlens.h"
#include "frame_text.h"
#include "fuzz_input.h"

namespace {

// Flags the capture engine can set on a frame, picked by bits 1-7.
constexpr uint32_t kFlagChoices[] = {
    FLOWLENS_FLAG_CRC_ERROR, FLOWLENS_FLAG_RUNT,  FLOWLENS_FLAG_FRAME_CUT, FLOWLENS_FLAG_FRAMES_LOST,
    FLOWLENS_FLAG_OVERSIZE,  FLOWLENS_FLAG_NOISE, FLOWLENS_FLAG_TRIGGER,
};

void onEvent(void *context, uint64_t, uint8_t, const char *text, uint64_t) {
    FUZZ_CHECK(text != nullptr);
    FUZZ_CHECK(std::strlen(text) <= FLOWLENS_TEXT_LIMIT);
    if (context != nullptr) ++*static_cast<uint64_t *>(context);
}

// A timing that counted something has its minimum at or below its maximum.
void checkTiming(const flowlens_timing *t) {
    if (t == nullptr || t->count == 0) return;
    FUZZ_CHECK(t->min <= t->max);
}

void checkCounters(const flowlens_instance *instance, uint64_t sent) {
    for (unsigned port = 0; port < 2; ++port) {
        const flowlens_network *network = flowlens_port_network(instance, port);
        if (network == nullptr) continue;
        const flowlens_frame_counters *c = &network->counts;
        FUZZ_CHECK(c->powerlink <= sent);
        FUZZ_CHECK(c->soc + c->preq + c->pres + c->soa + c->asnd <= c->powerlink);
        checkTiming(&network->cycle_time);
        checkTiming(&network->soa_to_soc);
        checkTiming(&network->async_idle);
        checkTiming(&network->packet_interval);
        checkTiming(&network->pres_to_preq);
        const flowlens_node *nodes = network->nodes;
        uint64_t pres = 0;
        for (unsigned n = 0; n < FLOWLENS_NODES; ++n) pres += nodes[n].pres;
        FUZZ_CHECK(pres <= sent);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    // One engine for all inputs: its start forgets everything of the last one
    // (creating one allocates its 1M-entry SDO history).
    static flowlens_instance *instance = [] {
        flowlens_instance *made = nullptr;
        FUZZ_CHECK(flowlens_create(&made, onEvent, nullptr) == 0);
        std::atexit([] { flowlens_destroy(instance); });
        return made;
    }();
    uint64_t events = 0;
    flowlens_set_callback(instance, onEvent, &events);
    const uint8_t settings = in.u8();
    flowlens_set_portmarking(instance, settings & 1);
    flowlens_set_timemode(instance, static_cast<uint8_t>((settings >> 1) & 3));
    flowlens_start(instance);

    std::vector<char> text(FLOWLENS_TEXT_BUFFER_SIZE);
    std::vector<uint8_t> frame;
    uint64_t time = 1700000000ull * 1000000000ull;
    uint64_t number = 0;
    while (!in.empty()) {
        const uint8_t flags = in.u8();
        time += static_cast<uint64_t>(in.u16()) * 1000;
        size_t length = 0;
        const uint8_t *bytes = in.sizedChunk(&length);
        frame.assign(bytes, bytes + length);  // exact size, so reads past it are caught

        flowlens_packet_info p{};
        p.port = flags & 1;
        p.frame_number = ++number;
        p.time = time;
        p.packet_flags = p.port + 1u;
        for (unsigned bit = 0; bit < sizeof kFlagChoices / sizeof kFlagChoices[0]; ++bit)
            if (flags & (2u << bit)) p.packet_flags |= kFlagChoices[bit];
        p.data = frame.data();
        p.captured_length = static_cast<uint16_t>(frame.size());
        p.length = (flags & 0x80) ? static_cast<uint16_t>(frame.size() + 4) : p.captured_length;
        flowlens_process_packet(instance, &p);

        std::memset(text.data(), 0x55, text.size());
        text[0] = '\0';  // a frame without data gets no text
        flowlens_frame_text(instance, &p, text.data());
        FUZZ_CHECK(std::memchr(text.data(), '\0', FLOWLENS_TEXT_LIMIT + 1) != nullptr);
        checkCounters(instance, number);
    }
    return 0;
}
