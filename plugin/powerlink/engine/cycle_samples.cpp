// Cycle samples: bounded lists of cycle, response and event points per
// network, merged pairwise (stride doubled) when a list reaches its cap, and
// exact per-CN response summaries. See cycle_samples.h for the scheme.
#include "cycle_samples.h"

#include <cstring>
#include <new>
#include <set>
#include <string>
#include <string_view>

namespace {

constexpr unsigned NODES = 256;
// First allocation of a list; it then doubles up to its cap.
constexpr size_t FIRST_RESERVE = 1024;
// Every CN that answered holds at least one response point, so the response
// list must have room for more than one point per node to shrink by merging.
constexpr size_t MIN_RESPONSE_CAP = 2 * NODES;
// Kept for informational texts once the pool is full.
constexpr char OVERFLOW_TEXT[] = "Informational message";

// The first SoC of a network has no cycle (0): it deviates from nothing.
uint64_t cycle_deviation(const flowlens_cycle_point &p) {
    if (p.nominal_us == 0 || p.cycle_time == 0) return p.cycle_time;
    uint64_t nominal = uint64_t(p.nominal_us) * 1000;
    return p.cycle_time > nominal ? p.cycle_time - nominal : nominal - p.cycle_time;
}

// Whether a sample should stand for its group instead of the current one.
bool more_telling(const flowlens_cycle_point &candidate, const flowlens_cycle_point &current) {
    return cycle_deviation(candidate) > cycle_deviation(current);
}
bool more_telling(const flowlens_response_point &candidate, const flowlens_response_point &current) {
    return candidate.response_time > current.response_time;
}
bool more_telling(const flowlens_event_point &candidate, const flowlens_event_point &current) {
    return candidate.severity > current.severity;
}

// Whether the sample with this index opens a group. Strides are powers of
// two (they start at 1 and double), so a mask replaces the division.
bool starts_group(uint64_t index, uint32_t stride) { return (index & (stride - 1)) == 0; }

// Room for one more point below the cap; false when the list is full (or
// memory ran out), so the caller merges instead.
template <typename T>
bool make_room(std::vector<T> &list, size_t cap) {
    if (list.size() >= cap) return false;
    if (list.size() < list.capacity()) return true;
    size_t want = list.capacity() < FIRST_RESERVE ? FIRST_RESERVE : list.capacity() * 2;
    if (want > cap) want = cap;
    try {
        list.reserve(want);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

// Merges neighbouring groups of a list whose groups are consecutive points
// (cycles, events): point 2i and 2i+1 become one.
template <typename T>
void merge_pairs(std::vector<T> &list) {
    size_t out = 0;
    for (size_t i = 0; i < list.size(); i += 2) {
        const T &first = list[i];
        list[out++] = (i + 1 < list.size() && more_telling(list[i + 1], first)) ? list[i + 1] : first;
    }
    list.resize(out);
}

// Appends a point as a new group, or lets it replace the open group's point.
// Counting (count) is the sample's index among all samples of the list.
template <typename T>
void add_grouped(std::vector<T> &list, uint32_t &stride, size_t cap, uint64_t index, const T &point) {
    if (!starts_group(index, stride)) {
        if (!list.empty() && more_telling(point, list.back())) list.back() = point;
        return;
    }
    while (!make_room(list, cap)) {
        if (list.size() < 2 || stride > UINT32_MAX / 2) return;  // nothing left to merge: the sample is lost
        merge_pairs(list);
        stride *= 2;
        // The groups are aligned to the sample index: after the merge this
        // sample may fall into the last kept group.
        if (!starts_group(index, stride)) {
            if (more_telling(point, list.back())) list.back() = point;
            return;
        }
    }
    list.push_back(point);
}

}  // namespace

struct flowlens_cycle_samples::network_samples {
    struct node_state {
        uint64_t count, sum, min, max, late;
        size_t last_index;  // position of the node's newest response point
    };
    std::vector<flowlens_cycle_point> cycles;
    std::vector<flowlens_response_point> responses;
    std::vector<flowlens_event_point> events;
    uint32_t cycle_stride = 1;
    uint32_t response_stride = 1;
    uint32_t event_stride = 1;
    uint64_t cycle_count = 0;
    uint64_t response_count = 0;
    uint64_t event_count = 0;
    node_state nodes[NODES];

    network_samples() { clear(); }

    void clear() {
        cycles.clear();
        responses.clear();
        events.clear();
        cycle_stride = response_stride = event_stride = 1;
        cycle_count = response_count = event_count = 0;
        std::memset(nodes, 0, sizeof nodes);
    }

    void merge_responses();
    void add_response(const flowlens_response_point &point, uint64_t response_time, size_t cap);
};

struct flowlens_cycle_samples::text_pool {
    std::set<std::string, std::less<>> texts;
};

// Per CN, the node's points 2i and 2i+1 (in list order) become one; the
// surviving point keeps its place, so each CN's points stay in frame order.
void flowlens_cycle_samples::network_samples::merge_responses() {
    static constexpr size_t NONE = SIZE_MAX;
    size_t pending[NODES];
    for (size_t &p : pending) p = NONE;
    std::vector<bool> drop;
    try {
        drop.assign(responses.size(), false);
    } catch (const std::bad_alloc &) {
        return;  // nothing merged: the caller drops the sample instead
    }
    for (size_t i = 0; i < responses.size(); ++i) {
        uint8_t node = responses[i].node;
        if (pending[node] == NONE) {
            pending[node] = i;
            continue;
        }
        size_t first = pending[node];
        // Ties keep the earlier answer.
        if (more_telling(responses[i], responses[first]))
            drop[first] = true;
        else
            drop[i] = true;
        pending[node] = NONE;
    }
    size_t out = 0;
    for (size_t i = 0; i < responses.size(); ++i) {
        if (drop[i]) continue;
        responses[out] = responses[i];
        nodes[responses[out].node].last_index = out;
        ++out;
    }
    responses.resize(out);
}

// response_time: the full value (the point holds it saturated).
void flowlens_cycle_samples::network_samples::add_response(const flowlens_response_point &point, uint64_t response_time,
                                                           size_t cap) {
    node_state &node = nodes[point.node];
    uint64_t index = node.count;  // the answer's index among this CN's answers
    node.count += 1;
    node.sum += response_time;
    if (index == 0 || response_time < node.min) node.min = response_time;
    if (response_time > node.max) node.max = response_time;
    response_count += 1;

    while (starts_group(index, response_stride)) {
        if (make_room(responses, cap)) {
            node.last_index = responses.size();
            responses.push_back(point);
            return;
        }
        size_t before = responses.size();
        if (response_stride > UINT32_MAX / 2) return;
        merge_responses();
        response_stride *= 2;
        if (responses.size() == before) return;  // nothing merged (no memory): the sample is lost
    }
    flowlens_response_point &kept = responses[node.last_index];
    if (more_telling(point, kept)) kept = point;
}

flowlens_cycle_samples::flowlens_cycle_samples()
    : networks_{std::make_unique<network_samples>(), std::make_unique<network_samples>()},
      texts_(std::make_unique<text_pool>()) {}

flowlens_cycle_samples::~flowlens_cycle_samples() = default;

void flowlens_cycle_samples::clear() {
    for (auto &n : networks_) n->clear();
    generation_ += 1;
}

flowlens_cycle_samples::network_samples *flowlens_cycle_samples::network(unsigned index) {
    return index < 2 ? networks_[index].get() : nullptr;
}

const flowlens_cycle_samples::network_samples *flowlens_cycle_samples::network(unsigned index) const {
    return index < 2 ? networks_[index].get() : nullptr;
}

namespace {
const flowlens_cycle_samples::network_samples &empty_network() {
    static const flowlens_cycle_samples::network_samples empty;
    return empty;
}
}  // namespace

const std::vector<flowlens_cycle_point> &flowlens_cycle_samples::cycles(unsigned n) const {
    const network_samples *s = network(n);
    return s ? s->cycles : empty_network().cycles;
}

const std::vector<flowlens_response_point> &flowlens_cycle_samples::responses(unsigned n) const {
    const network_samples *s = network(n);
    return s ? s->responses : empty_network().responses;
}

const std::vector<flowlens_event_point> &flowlens_cycle_samples::events(unsigned n) const {
    const network_samples *s = network(n);
    return s ? s->events : empty_network().events;
}

std::vector<flowlens_cn_response_summary> flowlens_cycle_samples::cn_summaries(unsigned n) const {
    std::vector<flowlens_cn_response_summary> out;
    const network_samples *s = network(n);
    if (s == nullptr) return out;
    for (unsigned id = 0; id < NODES; ++id) {
        const network_samples::node_state &node = s->nodes[id];
        if (node.count == 0 && node.late == 0) continue;
        out.push_back({uint8_t(id), node.count, node.sum, node.min, node.max, node.late});
    }
    return out;
}

namespace {
// A counter of a network; `fallback` for a network that does not exist.
template <typename T>
T field_of(const flowlens_cycle_samples::network_samples *s, T flowlens_cycle_samples::network_samples::*field,
           T fallback) {
    return s ? s->*field : fallback;
}
}  // namespace

uint32_t flowlens_cycle_samples::cycle_stride(unsigned n) const {
    return field_of(network(n), &network_samples::cycle_stride, 1u);
}
uint32_t flowlens_cycle_samples::response_stride(unsigned n) const {
    return field_of(network(n), &network_samples::response_stride, 1u);
}
uint32_t flowlens_cycle_samples::event_stride(unsigned n) const {
    return field_of(network(n), &network_samples::event_stride, 1u);
}
uint64_t flowlens_cycle_samples::cycle_count(unsigned n) const {
    return field_of<uint64_t>(network(n), &network_samples::cycle_count, 0);
}
uint64_t flowlens_cycle_samples::response_count(unsigned n) const {
    return field_of<uint64_t>(network(n), &network_samples::response_count, 0);
}
uint64_t flowlens_cycle_samples::event_count(unsigned n) const {
    return field_of<uint64_t>(network(n), &network_samples::event_count, 0);
}

uint64_t flowlens_cycle_samples::generation() const { return generation_; }

void flowlens_cycle_samples::set_caps(size_t cycle_cap, size_t response_cap, size_t event_cap) {
    // Even caps: a full list merges into exactly half, so the next sample
    // always starts a group of its own.
    auto even = [](size_t cap, size_t minimum) { return (cap < minimum ? minimum : cap) & ~size_t(1); };
    if (cycle_cap != 0) cycle_cap_ = even(cycle_cap, 2);
    if (response_cap != 0) response_cap_ = even(response_cap, MIN_RESPONSE_CAP);
    if (event_cap != 0) event_cap_ = even(event_cap, 2);
}

size_t flowlens_cycle_samples::cycle_cap() const { return cycle_cap_; }
size_t flowlens_cycle_samples::response_cap() const { return response_cap_; }
size_t flowlens_cycle_samples::event_cap() const { return event_cap_; }

size_t flowlens_cycle_samples::memory_bytes() const {
    size_t bytes = sizeof *this + sizeof(text_pool);
    for (const auto &n : networks_) {
        bytes += sizeof(network_samples);
        bytes += n->cycles.capacity() * sizeof(flowlens_cycle_point);
        bytes += n->responses.capacity() * sizeof(flowlens_response_point);
        bytes += n->events.capacity() * sizeof(flowlens_event_point);
    }
    // A set node: the string object, its text and the tree links.
    for (const std::string &text : texts_->texts) bytes += sizeof(std::string) + 4 * sizeof(void *) + text.capacity();
    return bytes;
}

void flowlens_cycle_samples::add_cycle(unsigned n, uint64_t soc_frame, uint64_t soc_time, uint64_t cycle_time,
                                       uint32_t nominal_us) {
    network_samples *s = network(n);
    if (s == nullptr) return;
    uint64_t index = s->cycle_count++;
    add_grouped(s->cycles, s->cycle_stride, cycle_cap_, index,
                flowlens_cycle_point{soc_frame, soc_time, cycle_time, nominal_us});
}

void flowlens_cycle_samples::add_response(unsigned n, uint8_t node, uint64_t preq_frame, uint64_t pres_frame,
                                          uint64_t pres_time, uint64_t response_time) {
    network_samples *s = network(n);
    if (s == nullptr) return;
    uint32_t kept = response_time > UINT32_MAX ? UINT32_MAX : uint32_t(response_time);
    s->add_response(flowlens_response_point{preq_frame, pres_frame, pres_time, kept, node}, response_time,
                    response_cap_);
}

void flowlens_cycle_samples::add_late(unsigned n, uint8_t node) {
    network_samples *s = network(n);
    if (s != nullptr) s->nodes[node].late += 1;
}

void flowlens_cycle_samples::add_event(unsigned n, uint64_t frame, uint8_t severity, const char *text) {
    network_samples *s = network(n);
    if (s == nullptr) return;
    uint64_t index = s->event_count++;
    add_grouped(s->events, s->event_stride, event_cap_, index, flowlens_event_point{frame, severity, text});
}

void flowlens_cycle_samples::add_message(unsigned n, uint64_t frame, uint8_t severity, const char *text) {
    if (network(n) == nullptr || text == nullptr) return;
    std::set<std::string, std::less<>> &texts = texts_->texts;
    auto found = texts.find(std::string_view(text));
    const char *kept = OVERFLOW_TEXT;
    if (found != texts.end()) {
        kept = found->c_str();
    } else if (texts.size() < MAX_TEXTS) {
        try {
            kept = texts.emplace(text).first->c_str();
        } catch (const std::bad_alloc &) {
        }
    }
    add_event(n, frame, severity, kept);
}
