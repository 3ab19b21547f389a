// Hand-made POWERLINK frames and a recording harness around one engine
// instance, for short scenario tests of the cycle analysis.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flowlens.h"

using frame_bytes = std::vector<uint8_t>;

// MAC addresses used by the builders: the MN's, and one per CN node id.
extern const uint8_t test_mn_mac[6];
void test_cn_mac(uint8_t node, uint8_t out[6]);

namespace plk {
// POWERLINK V2 frames, padded to the Ethernet minimum of 60 bytes.
frame_bytes soc(uint32_t relative_time_us = 0, const uint8_t *source_mac = test_mn_mac);
frame_bytes preq(uint8_t node, uint8_t flags = 0x01, uint16_t size = 0);
frame_bytes pres(uint8_t node, uint8_t nmt_state = 0xFD, uint16_t flags = 0, uint16_t size = 0);
frame_bytes soa(uint8_t requested_service = 0, uint8_t target = 0, uint8_t nmt_state = 0xFD);
frame_bytes ainv(uint8_t requested_service, uint8_t target);
// ASnd from a node (its CN MAC, or the MN's for 240) with the given service
// and bytes from EPL offset 4 on.
frame_bytes asnd(uint8_t source, uint8_t destination, uint8_t service, const frame_bytes &payload = {});
frame_bytes status_response(uint8_t node, uint16_t flags = 0, uint8_t nmt_state = 0xFD);
// An IPv4/UDP frame from the given MAC and IP address.
frame_bytes ip_udp(const uint8_t mac[6], uint32_t ip_source, uint16_t dport = 5001, size_t payload = 32);
// A POWERLINK ASnd over UDP port 3819 (EPL bytes from the message type on).
frame_bytes udp_asnd(uint32_t ip_source, uint32_t ip_destination, const frame_bytes &epl);
// Analyzer dump (ASnd 163) over UDP from analyzer HW node `hw_node`.
frame_bytes analyzer_dump(uint8_t hw_node, uint16_t dump_total, uint8_t dump_count, uint16_t dump_lost = 0);
}  // namespace plk

struct recorded_event {
    uint64_t value;
    uint8_t severity;
    std::string text;
    uint64_t excess;
};

// One engine instance fed with frames one after the other; records every
// callback.
class scenario {
public:
    explicit scenario(uint8_t timemode = 0);
    ~scenario();
    scenario(const scenario &) = delete;
    scenario &operator=(const scenario &) = delete;

    // Feeds a frame dt_ns after the previous one (the first at the base time,
    // a multiple of 100 ns). Returns its frame number.
    uint64_t feed(const frame_bytes &frame, uint64_t dt_ns = 10000, uint32_t flags = 0, uint8_t port = 0,
                  int length = -1);
    // Feeds at an absolute time.
    uint64_t feed_at(const frame_bytes &frame, uint64_t time_ns, uint32_t flags = 0, uint8_t port = 0, int length = -1);

    // Number of recorded messages whose text contains `needle`.
    int count(const std::string &needle) const;
    // Recorded messages of one frame.
    std::vector<recorded_event> of_frame(uint64_t frame_number) const;
    // Severity-2 events recorded (all of them).
    int errors() const;
    std::string dump() const;  // for failure messages

    flowlens_instance *engine() const { return instance_; }
    flowlens_network &network(int i) const { return instance_->networks[i]; }
    std::vector<recorded_event> events;
    uint64_t time = 0;

private:
    flowlens_instance *instance_ = nullptr;
    uint64_t frame_number_ = 0;
    std::vector<frame_bytes> keep_;  // frames stay alive for the engine's pointers
};

// Base time of every scenario: a multiple of 100 ns.
constexpr uint64_t SCENARIO_BASE_TIME = 1500000000000000000ull;
