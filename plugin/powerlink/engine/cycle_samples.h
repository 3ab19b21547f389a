// Cycle samples of the flowlens engine: what the analysis measured, kept per
// network so plots and exports can show the POWERLINK cycle over a capture.
//
// The engine records while it analyses (no second pass):
//   - every SoC of a network: its frame, its time, the time since the
//     network's previous SoC and the nominal cycle time known then;
//   - every answer of a CN: a PRes from node 1..239 that arrives while the
//     network waits for the PRes of a PReq to that node; the response time is
//     PReq -> PRes;
//   - every event the analysis raises (report-table events with severity 2,
//     informational messages with severity 0).
//
// "Late" answers (flowlens_cn_response_summary::late): a PReq to a CN that
// the CN did not answer before the MN went on with its cycle, i.e. the next
// cycle frame of the network after the PReq is a SoC, PReq, SoA, AInv or a
// PRes of another node instead of that CN's PRes. The MN only moves on once
// its response timeout for the CN expired, so such an answer came too late
// for the MN (or never). A PReq left open by the end of the capture or by a
// capture gap (frames lost) is not counted.
//
// Memory: each network keeps at most cycle_cap() cycle points (2^18, 8 MB),
// response_cap() response points (2^19, 16 MB) and event_cap() event points
// (2^16, 1.5 MB), about 51 MB for both networks whatever the capture's size
// (lists grow by doubling from 1024 points, so for a moment while the
// largest list doubles the old half is held too, 8 MB more at most);
// informational texts are kept once each (at most 4096 different texts,
// later new texts are kept as "Informational message"). A 1 M-frame capture
// of one network (SoC, PReq/PRes per CN, SoA, ASnd) stays below the caps up
// to a few CNs and is kept whole.
//
// Decimation: when a list reaches its cap, neighbouring kept samples are
// merged pairwise and the stride doubles, so a list always spans the whole
// capture. With stride n each kept sample stands for a group of n
// consecutive samples (cycles: n consecutive SoCs of the network; responses:
// n consecutive answers of the same CN; events: n consecutive events of the
// network) and it is the group's most telling member, so spikes survive:
//   - cycles: the SoC whose cycle time deviates most (absolute difference)
//     from its nominal cycle time; without a nominal time, the longest cycle;
//   - responses: the slowest answer of the CN in the group;
//   - events: the first event of the group with the highest severity.
// Ties keep the earlier sample. The values of a kept sample are always those
// of one real frame. Cycles and events stay in frame order; responses are in
// frame order per CN (a group's sample is replaced in place). The per-CN
// summaries (count, sum, min, max, late) and the counts are updated with
// every sample, so they stay exact whatever was decimated.
//
// Reset: flowlens_reset (a tap reset, a new capture, the engine's own restart
// when it finds a second network) clears the samples and advances
// generation(); readers compare generation() to know their copy is stale.
//
// Window module access: the Qt windows live in their own module and reach the
// plug-in's running instance through plk_cycle_samples() (declared in
// plugin/powerlink/wireshark/plk_samples.h, defined in plk_analyzer.cpp).
// The loader promotes the plug-in module to global binding before it opens
// the window module, so that call and this class's member functions resolve
// to the plug-in's one collector (like osa_node_table() for openSAFETY); the
// window module must not link the flowlens library itself. The pointer is
// NULL before the first tap reset and stays valid afterwards (the plug-in
// never destroys its instance). Read it on the GUI thread (the tap runs
// there); re-read after a retap (generation() changed). A test program that
// has no plug-in module (offscreen page tests) links the flowlens library and
// fills its own flowlens_cycle_samples instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// The engine library is built with hidden symbols; the collector's interface
// is exported from the plug-in module for the window module.
#if defined(__GNUC__)
#define FLOWLENS_SAMPLES_API __attribute__((visibility("default")))
#else
#define FLOWLENS_SAMPLES_API
#endif

struct flowlens_instance;

struct flowlens_cycle_point {  // one SoC of a network
    uint64_t soc_frame;        // frame number of the SoC
    uint64_t soc_time;         // capture time, ns since 1970
    uint64_t cycle_time;       // ns since the previous SoC of that network; 0 for the first SoC
                               // (and when the time stamps ran backwards)
    uint32_t nominal_us;       // the network's nominal cycle time (us) when this SoC came, 0 = unknown
};

struct flowlens_response_point {  // one PReq -> PRes answer of a CN
    uint64_t preq_frame;
    uint64_t pres_frame;
    uint64_t pres_time;      // ns since 1970
    uint32_t response_time;  // ns, PReq -> PRes (saturates at UINT32_MAX, about 4.3 s)
    uint8_t node;            // CN node id
};

struct flowlens_event_point {  // one event the analysis raised
    uint64_t frame;
    uint8_t severity;  // as the engine's event callback: 2 report-table event, 0 informational
    const char *text;  // static text of the event (report table: flowlens_event_texts[...],
                       // informational: kept by the collector until it is destroyed); never freed
};

struct flowlens_cn_response_summary {
    uint8_t node;
    uint64_t count, sum, min, max;  // ns over ALL answers (exact, whatever was decimated); min 0 when count is 0
    uint64_t late;                  // PReqs to this CN not answered before the MN went on (see above)
};

class FLOWLENS_SAMPLES_API flowlens_cycle_samples {
public:
    static constexpr size_t DEFAULT_CYCLE_CAP = size_t(1) << 18;
    static constexpr size_t DEFAULT_RESPONSE_CAP = size_t(1) << 19;
    static constexpr size_t DEFAULT_EVENT_CAP = size_t(1) << 16;
    static constexpr size_t MAX_TEXTS = 4096;

    flowlens_cycle_samples();
    ~flowlens_cycle_samples();
    flowlens_cycle_samples(const flowlens_cycle_samples &) = delete;
    flowlens_cycle_samples &operator=(const flowlens_cycle_samples &) = delete;

    // Forgets every sample and summary, strides back to 1, advances generation().
    void clear();

    // Reading. network 0 or 1; a larger value reads as an empty network.
    const std::vector<flowlens_cycle_point> &cycles(unsigned network) const;
    const std::vector<flowlens_response_point> &responses(unsigned network) const;
    const std::vector<flowlens_event_point> &events(unsigned network) const;
    std::vector<flowlens_cn_response_summary> cn_summaries(
        unsigned network) const;                    // nodes that answered or were late, by id
    uint32_t cycle_stride(unsigned network) const;  // 1 = every sample kept; n (a power of two) = one of every n kept
    uint32_t response_stride(unsigned network) const;  // per CN: one of every n answers of a CN kept
    uint32_t event_stride(unsigned network) const;
    uint64_t cycle_count(unsigned network) const;     // SoCs recorded (exact)
    uint64_t response_count(unsigned network) const;  // answers recorded (exact)
    uint64_t event_count(unsigned network) const;     // events recorded (exact)
    uint64_t generation() const;                      // advanced by every clear()

    // Caps (tests and benchmarks lower them; 0 keeps the current cap). A cap
    // below 2 reads as 2. Takes effect for the next samples.
    void set_caps(size_t cycle_cap, size_t response_cap, size_t event_cap);
    size_t cycle_cap() const;
    size_t response_cap() const;
    size_t event_cap() const;
    // Bytes held by the sample lists and texts (capacity, not size).
    size_t memory_bytes() const;

    // Recording, called by the engine while it analyses a frame.
    void add_cycle(unsigned network, uint64_t soc_frame, uint64_t soc_time, uint64_t cycle_time, uint32_t nominal_us);
    void add_response(unsigned network, uint8_t node, uint64_t preq_frame, uint64_t pres_frame, uint64_t pres_time,
                      uint64_t response_time);
    void add_late(unsigned network, uint8_t node);
    // text must stay valid (a static text); see add_message for others.
    void add_event(unsigned network, uint64_t frame, uint8_t severity, const char *text);
    // An event whose text is only valid during the call: the collector keeps its own copy.
    void add_message(unsigned network, uint64_t frame, uint8_t severity, const char *text);

    struct network_samples;  // cycle_samples.cpp
    struct text_pool;

private:
    network_samples *network(unsigned index);
    const network_samples *network(unsigned index) const;

    std::unique_ptr<network_samples> networks_[2];
    std::unique_ptr<text_pool> texts_;
    size_t cycle_cap_ = DEFAULT_CYCLE_CAP;
    size_t response_cap_ = DEFAULT_RESPONSE_CAP;
    size_t event_cap_ = DEFAULT_EVENT_CAP;
    uint64_t generation_ = 0;
};

// The collector of an instance; NULL without an instance (or when it could
// not be allocated: the analysis then runs without samples).
FLOWLENS_SAMPLES_API const flowlens_cycle_samples *flowlens_samples(const flowlens_instance *instance);
// The same, writable, for the engine itself.
flowlens_cycle_samples *flowlens_samples_of(flowlens_instance *instance);
