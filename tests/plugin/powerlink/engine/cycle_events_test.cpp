// Scenario tests of the cycle analysis: short hand-made frame sequences, each
// checking that an event of the report table is raised on the frame where it
// belongs and nowhere else.
#include <gtest/gtest.h>

#include <cstring>

#include "plk_frame_builder.h"

namespace {

constexpr uint64_t US = 1000;  // ns

// A regular cycle: SoC, PReq/PRes for CN 1 and 2, SoA. 1 ms long.
void good_cycle(scenario &s, uint32_t relative_time_us = 0, uint64_t gap = 10 * US) {
    s.feed(plk::soc(relative_time_us), 1000 * US - 5 * gap);
    s.feed(plk::preq(1), gap);
    s.feed(plk::pres(1), gap);
    s.feed(plk::preq(2), gap);
    s.feed(plk::pres(2), gap);
    s.feed(plk::soa(), gap);
}

// The isochronous part of a regular cycle after its SoC.
void poll_both(scenario &s) {
    s.feed(plk::preq(1));
    s.feed(plk::pres(1));
    s.feed(plk::preq(2));
    s.feed(plk::pres(2));
}

// A cycle in which the MN also sends its own PRes (answering no PReq).
void cycle_with_mn_pres(scenario &s) {
    s.feed(plk::soc(), 1000 * US);
    poll_both(s);
    s.feed(plk::pres(240));
    s.feed(plk::soa());
}

bool frame_has(const scenario &s, uint64_t frame, const std::string &text) {
    for (const recorded_event &e : s.of_frame(frame))
        if (e.text.find(text) != std::string::npos) return true;
    return false;
}

std::string text_of(uint64_t frame, const char *message) {
    char buffer[200];
    std::snprintf(buffer, sizeof buffer, "Powerlink: Packet #%07llu - %s", static_cast<unsigned long long>(frame),
                  message);
    return buffer;
}

TEST(CycleEvents, RegularCyclesRaiseNothing) {
    scenario s;
    for (int i = 0; i < 5; ++i) good_cycle(s);
    EXPECT_EQ(s.errors(), 0) << s.dump();
    EXPECT_EQ(s.network(0).counts.soc, 5u);
    EXPECT_EQ(s.network(0).counts.pres, 10u);
    EXPECT_EQ(s.network(0).counts.powerlink, 30u);
    EXPECT_EQ(s.network(0).nodes[1].pres, 5u);
    EXPECT_EQ(s.network(0).nodes[240].frames, 20u);
    EXPECT_EQ(s.network(0).cycle_time.count, 4u);
    EXPECT_EQ(s.network(0).cycle_time.sum, 4 * 1000 * US);
}

TEST(CycleEvents, ReportTextSeverityAndTableRecord) {
    scenario s;
    s.feed(plk::soc());
    s.feed(plk::preq(3));
    s.feed(plk::pres(3));
    uint64_t f = s.feed(plk::soc());
    // No SoA since the last SoC: the SoC came in the isochronous phase.
    ASSERT_EQ(s.events.size(), 2u) << s.dump();
    EXPECT_EQ(s.events[0].text, text_of(f, "Unexpected SoC"));
    EXPECT_EQ(s.events[1].text, text_of(f, "Loss of SoA"));
    EXPECT_EQ(s.events[1].severity, 2);
    EXPECT_EQ(s.events[1].excess, 0u);
    const flowlens_event &e = s.network(0).events[FLOWLENS_EV_LOSS_OF_SOA];
    EXPECT_EQ(e.count, 1u);
    EXPECT_EQ(e.first_frame, f);
    EXPECT_EQ(e.last_frame, f);
    EXPECT_STREQ(e.text, "Loss of SoA");
    EXPECT_EQ(s.network(0).prev_class & FLOWLENS_CLASS_SOA_LOSS, FLOWLENS_CLASS_SOA_LOSS);
}

TEST(CycleEvents, ReportTableTextsAndLimits) {
    EXPECT_STREQ(flowlens_event_texts[FLOWLENS_EV_CAPTURE_DROPPED],
                 "Unknown number of packets dropped by capture engine (network performance of PC too low ?)");
    EXPECT_STREQ(flowlens_event_texts[FLOWLENS_EV_DEVIATION_10], "Deviation of nominal to measuerd cycle time > 10%");
    EXPECT_STREQ(flowlens_event_texts[FLOWLENS_EV_FRAMES_LOST], "Frames lost (by PC or by Q40TA5521)");
    for (int i = 0; i < FLOWLENS_EV_COUNT; ++i) {
        uint16_t expected = (i == FLOWLENS_EV_ASYNC_EXPECTED || i == FLOWLENS_EV_INVITE_WITHOUT_REQUEST) ? 10
                            : (i == FLOWLENS_EV_DEVIATION_5 || i == FLOWLENS_EV_DEVIATION_10)            ? 1
                                                                                                         : 0;
        EXPECT_EQ(flowlens_event_limits[i], expected) << i;
    }
    scenario s;
    EXPECT_STREQ(s.network(1).slots.sdo_abort.text, "SDO Abort");
    EXPECT_STREQ(s.network(1).slots.misplaced.text, "Misplaced Async Frame");
    EXPECT_STREQ(s.network(1).events[FLOWLENS_EV_SOC_MAC_CHANGED].text, "SoC MAC changed (Redundancy-Switchover ?)");
}

TEST(CycleEvents, DuplicatesReportedOncePerRun) {
    scenario s;
    frame_bytes soc = plk::soc();
    uint64_t first = s.feed(soc);
    uint64_t dup = s.feed(soc, 0);
    s.feed(soc, 0);  // third identical one: dropped silently
    EXPECT_EQ(s.count("One or more duplicated packets (capture problem)"), 1);
    EXPECT_TRUE(frame_has(s, dup, "duplicated"));
    EXPECT_EQ(s.engine()->duplicates, 2u);
    EXPECT_EQ(s.network(0).counts.soc, 1u) << "duplicates are not analysed";
    (void)first;
    // A different frame re-arms the test.
    frame_bytes preq = plk::preq(1);
    s.feed(preq);
    uint64_t again = s.feed(preq, 0);
    EXPECT_EQ(s.count("duplicated"), 2);
    EXPECT_TRUE(frame_has(s, again, "duplicated"));
    // Same bytes at another time are no duplicate.
    s.feed(preq, 1);
    EXPECT_EQ(s.count("duplicated"), 2);
    EXPECT_EQ(s.engine()->duplicates, 3u);
}

TEST(CycleEvents, RunOfSoasIsNotTakenForDuplicates) {
    // In the reduced cycle the MN sends nothing but SoAs; after five in a row
    // an identical SoA with the same time stamp is analysed, not dropped.
    scenario s;
    frame_bytes soa = plk::soa(0, 0, 0x1D);
    for (int i = 0; i < 5; ++i) s.feed(soa, 1000 * US);
    s.feed(soa, 0);
    EXPECT_EQ(s.count("duplicated"), 0) << s.dump();
    EXPECT_EQ(s.network(0).counts.soa, 6u);
    // After only two SoAs the same repetition is a capture duplicate.
    scenario t;
    t.feed(soa, 1000 * US);
    t.feed(soa, 1000 * US);
    t.feed(soa, 0);
    EXPECT_EQ(t.count("duplicated"), 1) << t.dump();
    EXPECT_EQ(t.network(0).counts.soa, 2u);
}

TEST(CycleEvents, LossOfSocAtSecondSoa) {
    scenario s;
    s.feed(plk::soc());
    s.feed(plk::soa());
    uint64_t second = s.feed(plk::soa());
    EXPECT_EQ(s.count("Loss of SoC"), 1) << s.dump();
    EXPECT_TRUE(frame_has(s, second, "Loss of SoC"));
    EXPECT_TRUE(frame_has(s, second, "Unexpected SoA"));
}

TEST(CycleEvents, LossOfSocWhenPreqInAsyncPhase) {
    scenario s;
    good_cycle(s);
    uint64_t preq = s.feed(plk::preq(1), 1000 * US);
    EXPECT_EQ(s.of_frame(preq).size(), 1u) << s.dump();
    EXPECT_TRUE(frame_has(s, preq, "Loss of SoC"));
    EXPECT_EQ(s.network(0).soc_lost, 1);
}

TEST(CycleEvents, LossOfSocOnUnexpectedChangeOfRelativeTime) {
    scenario s;
    good_cycle(s, 1000);
    good_cycle(s, 2000);
    good_cycle(s, 3000);
    EXPECT_EQ(s.errors(), 0) << s.dump();
    uint64_t jump = s.feed(plk::soc(5000), 1000 * US);
    ASSERT_TRUE(frame_has(s, jump, "Loss of SoC  (Unexpected change = 2000 us)")) << s.dump();
    EXPECT_EQ(s.network(0).nominal_cycle_time, 2000u);
}

TEST(CycleEvents, RelativeTimeGoingBackIsNoLossOfSoc) {
    // A gap in the capture (or a restart of the MN) sets RelativeTime back:
    // no loss of SoCs, no deviation, and the nominal cycle time stays.
    scenario s(FLOWLENS_TIMEMODE_HIGH_RESOLUTION);
    good_cycle(s, 20000000);
    good_cycle(s, 20001000);
    good_cycle(s, 20002000);
    uint64_t back = s.feed(plk::soc(5526237), 1000 * US);
    s.feed(plk::soa());
    uint64_t after = s.feed(plk::soc(5527237), 1000 * US);
    s.feed(plk::soa());
    EXPECT_EQ(s.errors(), 0) << s.dump();
    EXPECT_TRUE(s.of_frame(back).empty());
    EXPECT_TRUE(s.of_frame(after).empty());
    EXPECT_EQ(s.network(0).nominal_cycle_time, 1000u);
    // Forward again by two cycles: that is a loss, measured from the new time.
    uint64_t jump = s.feed(plk::soc(5529237), 1000 * US);
    EXPECT_TRUE(frame_has(s, jump, "Loss of SoC  (Unexpected change = 2000 us)")) << s.dump();
    // Across the 32-bit wrap of RelativeTime the time still runs forward.
    scenario w;
    good_cycle(w, 0xFFFFF448u);
    good_cycle(w, 0xFFFFF830u);
    good_cycle(w, 0xFFFFFC18u);
    uint64_t wrapped = w.feed(plk::soc(0x000003E8u), 1000 * US);
    EXPECT_TRUE(frame_has(w, wrapped, "Loss of SoC  (Unexpected change = 2000 us)")) << w.dump();
}

TEST(CycleEvents, LossOfPresWhenAPresDisappears) {
    // The MN's own PRes is answered to no PReq: when it is missing while the
    // CNs are polled as before, a PRes was lost.
    scenario s;
    for (int i = 0; i < 2; ++i) cycle_with_mn_pres(s);
    s.feed(plk::soc(), 1000 * US);
    poll_both(s);
    s.feed(plk::soa());
    EXPECT_EQ(s.errors(), 0) << s.dump();
    uint64_t next = s.feed(plk::soc(), 1000 * US);
    EXPECT_EQ(s.count("Loss of PRes (at least one PRes of last cycle lost)"), 1) << s.dump();
    EXPECT_TRUE(frame_has(s, next, "Loss of PRes"));
}

TEST(CycleEvents, FewerPollsAreNoLossOfPres) {
    // The MN polls CN 1 and 2, then only CN 1, then none: every PReq was
    // answered, nothing is lost.
    scenario s;
    good_cycle(s);
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::preq(1));
    s.feed(plk::pres(1));
    s.feed(plk::soa());
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::soa());
    s.feed(plk::soc(), 1000 * US);
    EXPECT_EQ(s.errors(), 0) << s.dump();
    // Multiplexed polls come and go: neither they nor their answers count.
    s.feed(plk::preq(3, 0x21));
    s.feed(plk::pres(3));
    s.feed(plk::soa());
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::soa());
    s.feed(plk::soc(), 1000 * US);
    EXPECT_EQ(s.errors(), 0) << s.dump();
}

TEST(CycleEvents, LossOfPresBeyondTheFewerPolls) {
    // One PReq fewer but two PRes fewer (CN 2 left out, and the MN's own PRes
    // gone): one PRes was lost.
    scenario s;
    for (int i = 0; i < 2; ++i) cycle_with_mn_pres(s);
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::preq(1));
    s.feed(plk::pres(1));
    s.feed(plk::soa());
    uint64_t next = s.feed(plk::soc(), 1000 * US);
    EXPECT_EQ(s.count("Loss of PRes"), 1) << s.dump();
    EXPECT_TRUE(frame_has(s, next, "Loss of PRes"));
}

TEST(CycleEvents, LossOfPresWithoutPolls) {
    // A CN that answers without PReq: the plain PRes count decides.
    scenario s;
    for (int i = 0; i < 2; ++i) {
        s.feed(plk::soc(), 1000 * US);
        s.feed(plk::pres(1));
        s.feed(plk::soa());
    }
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::soa());
    uint64_t next = s.feed(plk::soc(), 1000 * US);
    EXPECT_EQ(s.count("Loss of PRes"), 1) << s.dump();
    EXPECT_TRUE(frame_has(s, next, "Loss of PRes"));
}

TEST(CycleEvents, MissingPresDetailSuppressesLossOfPres) {
    scenario s;
    good_cycle(s);
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::preq(1));
    uint64_t soa = s.feed(plk::soa());
    s.feed(plk::soc(), 1000 * US);
    ASSERT_EQ(s.errors(), 1) << s.dump();
    EXPECT_EQ(s.events[0].text, text_of(soa, "Unexpected SoA (PRes from CN 1 missing)"));
}

TEST(CycleEvents, MissingPresDetailSuspectsTimeoutBelowFastestAnswer) {
    scenario s(FLOWLENS_TIMEMODE_HIGH_RESOLUTION);
    good_cycle(s, 0, 10 * US);  // CN 1 answers after 10 us
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::preq(1));
    uint64_t soa = s.feed(plk::soa(), 2 * US);  // gave up after 2 us
    ASSERT_EQ(s.errors(), 1) << s.dump();
    EXPECT_EQ(s.events[0].text, text_of(soa, "Unexpected SoA (Response Timeout for CN 1 too low ?)"));
}

TEST(CycleEvents, UnexpectedSoc) {
    scenario s;
    good_cycle(s);
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::preq(1));
    uint64_t soc = s.feed(plk::soc(), 1000 * US);
    EXPECT_EQ(s.count("Unexpected SoC"), 1) << s.dump();
    EXPECT_TRUE(frame_has(s, soc, "Unexpected SoC (PRes from CN 1 missing)"));
    EXPECT_TRUE(frame_has(s, soc, "Loss of SoA"));
}

TEST(CycleEvents, UnexpectedPollRequest) {
    scenario s;
    good_cycle(s);
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::preq(1));
    uint64_t second = s.feed(plk::preq(2));
    EXPECT_EQ(s.errors(), 1) << s.dump();
    EXPECT_TRUE(frame_has(s, second, "Unexpected Poll Request (PRes from CN 1 missing)"));
}

TEST(CycleEvents, UnexpectedPollResponseWithAndWithoutDetail) {
    scenario s;
    good_cycle(s);
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::preq(1));
    uint64_t wrong = s.feed(plk::pres(2));
    EXPECT_TRUE(frame_has(s, wrong, "Unexpected Poll Response (PRes from CN 1 missing)")) << s.dump();
    s.feed(plk::soa());
    uint64_t late = s.feed(plk::pres(1));
    auto events = s.of_frame(late);
    ASSERT_EQ(events.size(), 1u) << s.dump();
    EXPECT_EQ(events[0].text, text_of(late, "Unexpected Poll Response"));
}

TEST(CycleEvents, UnexpectedAinv) {
    scenario s;
    good_cycle(s);
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::preq(1));
    uint64_t waiting = s.feed(plk::ainv(0, 0));
    EXPECT_EQ(s.of_frame(waiting).at(0).text, text_of(waiting, "Unexpected AInv (PRes from CN 1 missing)"));
    s.feed(plk::soc(), 1000 * US);
    uint64_t iso = s.feed(plk::ainv(0, 0));
    EXPECT_EQ(s.of_frame(iso).at(0).text, text_of(iso, "Unexpected AInv"));
    // In the asynchronous phase an AInv is regular.
    s.feed(plk::soa());
    uint64_t regular = s.feed(plk::ainv(0, 0));
    EXPECT_TRUE(s.of_frame(regular).empty()) << s.dump();
    EXPECT_EQ(s.network(0).counts.ainv, 3u);
    EXPECT_EQ(s.network(0).slots.ainv_slots, 3u);
}

TEST(CycleEvents, MisplacedAsyncFrameDetails) {
    scenario s;
    good_cycle(s);
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::preq(1));
    s.feed(plk::pres(1));
    uint64_t asnd = s.feed(plk::asnd(1, 240, 3));
    EXPECT_EQ(s.of_frame(asnd).at(0).text,
              text_of(asnd, "Misplaced Async Frame from Node 001 (MAC 02:00:00:00:01:01)"));
    const uint8_t pc[6] = {0xBC, 0x5F, 0xF4, 0x00, 0x00, 0x01};
    uint64_t ip = s.feed(plk::ip_udp(pc, 0x0A010203));
    EXPECT_EQ(s.of_frame(ip).at(0).text, text_of(ip, "Misplaced Async Frame (IP 10.1.2.3) (MAC BC:5F:F4:00:00:01)"));
    frame_bytes short_frame = plk::ip_udp(pc, 0x0A010203);
    short_frame.resize(34);  // not more than 34 bytes: no IP address
    s.feed(plk::preq(2));
    uint64_t cut = s.feed(short_frame);
    EXPECT_EQ(s.of_frame(cut).at(0).text, text_of(cut, "Misplaced Async Frame (MAC BC:5F:F4:00:00:01)"));
    EXPECT_EQ(s.network(0).slots.misplaced.count, 3u);
    EXPECT_TRUE(s.network(0).prev_class & FLOWLENS_CLASS_MISPLACED);
}

TEST(CycleEvents, MisplacedFrameNamesAnIpAddressOnlyForIpv4) {
    const uint8_t pc[6] = {0xBC, 0x5F, 0xF4, 0x00, 0x00, 0x01};
    // ARP request: bytes 26-29 are the end of the sender MAC and half of its
    // IP address, no IPv4 source.
    frame_bytes arp = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xBC, 0x5F, 0xF4, 0x00, 0x00, 0x01, 0x08, 0x06,
                       0x00, 0x01, 0x08, 0x00, 0x06, 0x04, 0x00, 0x01, 0xBC, 0x5F, 0xF4, 0x00, 0x00, 0x01,
                       0xC0, 0xA8, 0x64, 0x63, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xA8, 0x64, 0x01};
    arp.resize(60, 0);
    // IPv6 (EtherType 0x86DD) with the rest of an IPv4 frame's bytes.
    frame_bytes ipv6 = plk::ip_udp(pc, 0x0A010203);
    ipv6[12] = 0x86;
    ipv6[13] = 0xDD;
    scenario s;
    good_cycle(s);
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::preq(1));
    uint64_t arp_frame = s.feed(arp);
    s.feed(plk::preq(2));
    uint64_t ipv6_frame = s.feed(ipv6);
    s.feed(plk::preq(1));
    uint64_t ipv4_frame = s.feed(plk::ip_udp(pc, 0xC0A86463));
    EXPECT_EQ(s.of_frame(arp_frame).back().text, text_of(arp_frame, "Misplaced Async Frame (MAC BC:5F:F4:00:00:01)"))
        << s.dump();
    EXPECT_EQ(s.of_frame(ipv6_frame).back().text, text_of(ipv6_frame, "Misplaced Async Frame (MAC BC:5F:F4:00:00:01)"));
    EXPECT_EQ(s.of_frame(ipv4_frame).back().text,
              text_of(ipv4_frame, "Misplaced Async Frame (IP 192.168.100.99) (MAC BC:5F:F4:00:00:01)"));
    EXPECT_EQ(s.network(0).slots.misplaced.count, 3u);
}

TEST(CycleEvents, AsyncFramesInTheSlotAreCounted) {
    scenario s;
    good_cycle(s);
    s.feed(plk::soc(), 1000 * US);
    poll_both(s);
    s.feed(plk::soa(255, 5));
    s.feed(plk::asnd(5, 240, 3));
    const uint8_t pc[6] = {0xBC, 0x5F, 0xF4, 0x00, 0x00, 0x01};
    s.feed(plk::ip_udp(pc, 0x0A010203));
    s.feed(plk::ip_udp(test_mn_mac, 0x0A010204));
    s.feed(plk::asnd(240, 1, 3));
    uint64_t soc = s.feed(plk::soc(), 1000 * US);
    EXPECT_EQ(s.network(0).slots.misplaced.count, 0u) << s.dump();
    EXPECT_EQ(s.network(0).slots.asnd_from_cn, 1u);
    EXPECT_EQ(s.network(0).slots.asnd_from_mn, 1u);
    EXPECT_EQ(s.network(0).slots.other_from_cn, 1u);
    EXPECT_EQ(s.network(0).slots.other_from_mn, 1u);
    EXPECT_EQ(s.network(0).async_in_slot_max, 4);
    auto events = s.of_frame(soc);
    ASSERT_EQ(events.size(), 1u) << s.dump();
    EXPECT_EQ(events[0].severity, 0);
    EXPECT_EQ(events[0].text, text_of(soc, "Multiple ASnd (4 Slots)"));
    // The first slot was empty, the second not: one free slot.
    EXPECT_EQ(s.network(0).slots.free_slots, 1u);
    EXPECT_EQ(s.network(0).slots.soa_slots, 2u);
}

TEST(CycleEvents, FramesOfTheCycleDoNotFillTheSlot) {
    // The MN polls identities in SoA after SoA; one ASnd answers the last.
    scenario s;
    good_cycle(s);
    s.feed(plk::soc(), 1000 * US);
    poll_both(s);
    s.feed(plk::soa(1, 32));
    s.feed(plk::soa(1, 1), 1000 * US);
    s.feed(plk::asnd(1, 255, 1));
    uint64_t soc = s.feed(plk::soc(), 1000 * US);
    EXPECT_EQ(s.network(0).async_in_slot_max, 1);
    EXPECT_TRUE(s.of_frame(soc).empty()) << s.dump();
    // A SoC right behind a SoA closes an empty slot.
    poll_both(s);
    s.feed(plk::soa());
    s.feed(plk::soc(), 1000 * US);
    EXPECT_EQ(s.network(0).slots.free_slots, 2u);  // the first cycle's and this one
    EXPECT_EQ(s.count("Multiple ASnd"), 0);
}

TEST(CycleEvents, AsyncPacketExpectedWithLimitAndExcess) {
    scenario s;
    good_cycle(s);
    std::vector<uint64_t> frames;
    for (int i = 0; i < 11; ++i) {
        s.feed(plk::soc(), 1000 * US);
        s.feed(plk::preq(1));
        s.feed(plk::pres(1));
        s.feed(plk::preq(2));
        s.feed(plk::pres(2));
        s.feed(plk::soa(3, 5));  // NMT_REQUEST_INVITE to node 5, which stays silent
    }
    frames.push_back(s.feed(plk::soc(), 1000 * US));
    ASSERT_EQ(s.count("Async packet expected"), 11) << s.dump();
    std::vector<uint64_t> excess;
    for (const recorded_event &e : s.events) {
        EXPECT_NE(e.text.find("Async packet expected from Node   5"), std::string::npos) << e.text;
        excess.push_back(e.excess);
    }
    EXPECT_EQ(excess[9], 0u);
    EXPECT_EQ(excess[10], 1u);
    EXPECT_TRUE(frame_has(s, frames.back(), "Async packet expected"));
    // The MN inviting itself is noted only once.
    s.feed(plk::soa(255, 240), 10 * US);
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::soa(255, 240), 10 * US);
    s.feed(plk::soc(), 1000 * US);
    EXPECT_EQ(s.count("Async packet expected from Node 240"), 1) << s.dump();
}

TEST(CycleEvents, AnsweredInvitationIsFine) {
    scenario s;
    good_cycle(s);
    s.feed(plk::soc(), 1000 * US);
    poll_both(s);
    s.feed(plk::soa(3, 5));
    s.feed(plk::asnd(5, 240, 3));
    s.feed(plk::soc(), 1000 * US);
    EXPECT_EQ(s.errors(), 0) << s.dump();
}

TEST(CycleEvents, InviteWithoutRequest) {
    scenario s;
    good_cycle(s);  // CN 1 sent PRes with an empty request field
    s.feed(plk::soc(), 1000 * US);
    uint64_t invite = s.feed(plk::soa(255, 1));
    s.feed(plk::asnd(1, 240, 3));
    EXPECT_EQ(s.count("Invite without request"), 1) << s.dump();
    EXPECT_TRUE(frame_has(s, invite, "Invite without request"));
    // With a pending request (RS = 2) the invitation is expected.
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::preq(2));
    s.feed(plk::pres(2, 0xFD, 0x0200));
    s.feed(plk::soa(255, 2));
    s.feed(plk::asnd(2, 240, 3));
    // Status and ident requests are the MN's own polling.
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::soa(2, 1));
    s.feed(plk::status_response(1));
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::soa(1, 1));
    EXPECT_EQ(s.count("Invite without request"), 1) << s.dump();
}

// Cycles with SoC time values delta_us apart, each measured_ns long.
void timed_cycles(scenario &s, uint32_t &value, uint32_t delta_us, uint64_t measured_ns, int count) {
    for (int i = 0; i < count; ++i) {
        value += delta_us;
        s.feed(plk::soc(value), measured_ns - 20 * US);
        s.feed(plk::soa(), 20 * US);
    }
}

TEST(CycleEvents, CycleDeviationInHighResolutionOnly) {
    scenario s;  // detects high resolution from the time stamps
    uint32_t value = 0;
    timed_cycles(s, value, 1000, 1000 * US + 37, 4);
    EXPECT_EQ(s.engine()->effective_timemode, FLOWLENS_TIMEMODE_HIGH_RESOLUTION);
    EXPECT_EQ(s.errors(), 0) << s.dump();
    timed_cycles(s, value, 1000, 1060 * US, 1);  // 60 per mille
    EXPECT_EQ(s.count("> 5%"), 1) << s.dump();
    EXPECT_EQ(s.count("> 10%"), 0);
    timed_cycles(s, value, 1000, 1000 * US + 37, 1);
    timed_cycles(s, value, 1000, 1120 * US, 1);  // 120 per mille: both
    EXPECT_EQ(s.count("Deviation of nominal to measuerd cycle time > 5%"), 2) << s.dump();
    EXPECT_EQ(s.count("Deviation of nominal to measuerd cycle time > 10%"), 1);
    // Limited to one report: the second 5 % event comes with excess 1.
    std::vector<uint64_t> excess;
    for (const recorded_event &e : s.events)
        if (e.text.find("> 5%") != std::string::npos) excess.push_back(e.excess);
    EXPECT_EQ(excess, (std::vector<uint64_t>{0, 1}));

    scenario coarse;  // 100 ns time stamps: no deviation check
    value = 0;
    timed_cycles(coarse, value, 1000, 1000 * US, 4);
    timed_cycles(coarse, value, 1000, 1120 * US, 1);
    EXPECT_EQ(coarse.engine()->effective_timemode, FLOWLENS_TIMEMODE_DETECT);
    EXPECT_EQ(coarse.errors(), 0) << coarse.dump();
}

TEST(CycleEvents, OutlierLeavesAverageUntouched) {
    scenario s;
    uint32_t value = 0;
    timed_cycles(s, value, 1000, 1000 * US, 6);
    const flowlens_timing &cycle = s.network(0).cycle_time;
    ASSERT_EQ(cycle.count, 5u);
    timed_cycles(s, value, 1000, 2000 * US, 1);
    EXPECT_EQ(cycle.count, 5u);
    EXPECT_EQ(cycle.sum, 5000 * US);
    EXPECT_EQ(cycle.max, 1000 * US);
    EXPECT_EQ(s.network(0).cycle_outliers, 1u);
    EXPECT_EQ(s.network(0).cycle_outlier_frame, s.engine()->current_frame_number - 1) << "the outlier SoC";
    timed_cycles(s, value, 1000, 1700 * US, 1);  // 1.7 x average: a regular cycle
    EXPECT_EQ(cycle.count, 6u);
}

TEST(CycleEvents, FallbackToReducedCycle) {
    scenario s;
    good_cycle(s);
    good_cycle(s);
    uint64_t fallback = s.feed(plk::soa(0, 0, 0x1D), 1000 * US);
    for (int i = 0; i < 4; ++i) s.feed(plk::soa(0, 0, 0x1D), 1000 * US);
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::soa(), 100 * US);
    ASSERT_EQ(s.errors(), 1) << s.dump();
    EXPECT_EQ(s.events[0].text, text_of(fallback, "Fallback to Reduced Cycle"));
    EXPECT_EQ(s.network(0).relative_time_established, 0);
}

TEST(CycleEvents, FrameTooShortOncePerLatch) {
    scenario s;
    good_cycle(s);
    // 60-byte frames leave 36 bytes for a payload that claims 100.
    uint64_t first = s.feed(plk::pres(1, 0xFD, 0, 100));
    s.feed(plk::pres(1, 0xFD, 0, 100));
    s.feed(plk::pres(1, 0xFD, 0, 36));  // fits: clears the latch
    uint64_t again = s.feed(plk::pres(1, 0xFD, 0, 100));
    EXPECT_EQ(s.count("Frame too short"), 2) << s.dump();
    EXPECT_TRUE(frame_has(s, first, "Frame too short"));
    EXPECT_TRUE(frame_has(s, again, "Frame too short"));
}

TEST(CycleEvents, InvalidNmtStateFromCnButNotFromMn) {
    scenario s;
    good_cycle(s);
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::preq(12));
    uint64_t cn = s.feed(plk::pres(12, 0x1D));
    s.feed(plk::pres(240, 0x1D));
    s.feed(plk::pres(240, 0x5D));
    EXPECT_EQ(s.count("Invalid NMT state"), 1) << s.dump();
    EXPECT_TRUE(frame_has(s, cn, "Invalid NMT state"));
    EXPECT_EQ(s.network(0).nodes[12].nmt_state, 0x1D);
}

TEST(CycleEvents, StatusResponseTooShort) {
    scenario s;
    good_cycle(s);
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::soa(2, 1));
    frame_bytes cut = plk::status_response(1);
    cut.resize(64);
    uint64_t shorter = s.feed(cut);
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::soa(2, 1));
    s.feed(plk::status_response(1));
    EXPECT_EQ(s.count("StatusResponse too short"), 1) << s.dump();
    EXPECT_TRUE(frame_has(s, shorter, "StatusResponse too short"));
    EXPECT_EQ(s.network(0).nodes[1].status_response, 2u);
}

TEST(CycleEvents, ChangeOfFlsOrSls) {
    scenario s;
    s.feed(plk::pres(1, 0xFD, 0x4000));  // first PRes of the node: nothing to compare
    s.feed(plk::pres(1, 0xFD, 0x4000));
    uint64_t change = s.feed(plk::pres(1, 0xFD, 0x8000));
    EXPECT_EQ(s.count("Change of FLS or SLS (Cable Redundancy)"), 1) << s.dump();
    EXPECT_TRUE(frame_has(s, change, "Change of FLS"));
}

TEST(CycleEvents, MacChecks) {
    scenario s;
    good_cycle(s);
    // CN 1 answers from another MAC address.
    frame_bytes moved = plk::pres(1);
    moved[11] = 0x99;
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::preq(1));
    uint64_t source = s.feed(moved);
    EXPECT_TRUE(frame_has(s, source, "Source-MAC changed")) << s.dump();
    // A PReq to the address CN 1 no longer uses.
    uint64_t destination = s.feed(plk::preq(1));
    ASSERT_EQ(s.of_frame(destination).size(), 1u) << s.dump();
    EXPECT_EQ(s.of_frame(destination)[0].text, text_of(destination, "Destination-MAC invalid"));
    // A SoC to a wrong multicast address.
    frame_bytes soc = plk::soc();
    soc[5] = 0x09;
    s.feed(plk::pres(1));
    s.feed(plk::soa());
    uint64_t wrong = s.feed(soc, 1000 * US);
    EXPECT_TRUE(frame_has(s, wrong, "Destination-MAC invalid"));
    EXPECT_EQ(s.count("Destination-MAC invalid"), 2);
    EXPECT_EQ(s.count("Source-MAC changed"), 2);  // the PRes back from the old address
}

TEST(CycleEvents, SocMacChangedOnSamePort) {
    scenario s;
    good_cycle(s);
    const uint8_t other_mn[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0xF1};
    uint64_t soc = s.feed(plk::soc(0, other_mn), 1000 * US);
    EXPECT_TRUE(frame_has(s, soc, "SoC MAC changed (Redundancy-Switchover ?)")) << s.dump();
    EXPECT_TRUE(s.network(0).prev_class & FLOWLENS_CLASS_SOC_MAC_CHANGED);
    EXPECT_EQ(s.engine()->network_mode, FLOWLENS_NETWORK_MODE_SINGLE);
}

TEST(CycleEvents, TwoNetworksEqualResetsAndSplitsPorts) {
    scenario s(FLOWLENS_TIMEMODE_HIGH_RESOLUTION);
    good_cycle(s);
    frame_bytes soc = plk::soc();
    s.feed(soc, 1000 * US, 0, 0);
    uint64_t mirror = s.feed(soc, 3, 0, 1);  // the same frame on port 1
    ASSERT_EQ(s.count("2 Networks detected - Equal"), 1) << s.dump();
    EXPECT_TRUE(frame_has(s, mirror, "2 Networks detected - Equal"));
    EXPECT_EQ(s.engine()->network_mode, FLOWLENS_NETWORK_MODE_EQUAL);
    EXPECT_EQ(s.network(0).events[FLOWLENS_EV_TWO_NETWORKS_EQUAL].count, 1u);
    EXPECT_EQ(s.network(0).counts.soc, 1u) << "counters were reset, the mirrored SoC counted on network 0";
    s.feed(plk::soa(), 10 * US, 0, 1);
    s.feed(plk::soa(), 3, 0, 0);
    EXPECT_EQ(s.network(1).counts.soa, 1u);
    EXPECT_EQ(s.network(0).counts.soa, 1u);
    s.feed(plk::asnd(1, 240, 3), 5, 0, 1);  // port 0 -> port 1
    EXPECT_EQ(s.engine()->port_switch.count, 1u);
    EXPECT_EQ(s.engine()->port_switch.sum, 5u);
}

TEST(CycleEvents, TwoNetworksDifferentResetsAndMovesFrame) {
    scenario s(FLOWLENS_TIMEMODE_HIGH_RESOLUTION);
    const uint8_t second_mn[6] = {0x02, 0x00, 0x00, 0x00, 0x10, 0xF0};
    s.feed(plk::soc(), 0, 0, 0);
    s.feed(plk::soa(), 20 * US, 0, 0);
    uint64_t other = s.feed(plk::soc(0, second_mn), 20 * US, 0, 1);
    ASSERT_EQ(s.count("2 Networks detected - Different"), 1) << s.dump();
    EXPECT_TRUE(frame_has(s, other, "2 Networks detected - Different"));
    EXPECT_EQ(s.engine()->network_mode, FLOWLENS_NETWORK_MODE_DIFFERENT);
    EXPECT_EQ(s.network(0).events[FLOWLENS_EV_TWO_NETWORKS_DIFFERENT].count, 1u);
    EXPECT_TRUE(s.network(1).prev_class & FLOWLENS_CLASS_CYCLIC) << "the frame went on on network 1";
    s.feed(plk::soc(), 900 * US, 0, 0);
    s.feed(plk::soc(0, second_mn), 20 * US, 0, 7);  // port byte 7 is port 1
    EXPECT_EQ(s.network(0).counts.soc, 1u);
    EXPECT_EQ(s.network(1).counts.soc, 1u);
    EXPECT_EQ(s.engine()->last_port, 1);
    EXPECT_EQ(s.count("2 Networks detected"), 1);
}

TEST(CycleEvents, CaptureErrorFlags) {
    scenario s;
    good_cycle(s);
    const uint8_t pc[6] = {0xBC, 0x5F, 0xF4, 0x00, 0x00, 0x01};
    frame_bytes frame = plk::ip_udp(pc, 0x0A010203);
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::soa());
    uint64_t lost = s.feed(frame, 10 * US, FLOWLENS_FLAG_FRAMES_LOST);
    EXPECT_EQ(s.network(0).phase, FLOWLENS_PHASE_UNKNOWN);
    uint64_t crc = s.feed(frame, 10 * US, FLOWLENS_FLAG_CRC_ERROR);
    uint64_t noise = s.feed(frame, 10 * US, FLOWLENS_FLAG_NOISE);
    uint64_t runt = s.feed(frame, 10 * US, FLOWLENS_FLAG_RUNT);
    uint64_t oversize = s.feed(frame, 10 * US, FLOWLENS_FLAG_OVERSIZE);
    // Alignment, preamble, cut, trigger and digital inputs raise nothing.
    s.feed(frame, 10 * US,
           FLOWLENS_FLAG_ALIGNMENT | FLOWLENS_FLAG_PREAMBLE | FLOWLENS_FLAG_FRAME_CUT | FLOWLENS_FLAG_TRIGGER |
               0x000F0002);
    EXPECT_EQ(
        s.of_frame(lost).at(0).text,
        text_of(lost, "Unknown number of packets dropped by capture engine (network performance of PC too low ?)"));
    EXPECT_EQ(s.of_frame(crc).at(0).text, text_of(crc, "Error : CRC"));
    EXPECT_EQ(s.of_frame(noise).at(0).text, text_of(noise, "Error : Frame Format"));
    EXPECT_EQ(s.of_frame(runt).at(0).text, text_of(runt, "Error : Runt"));
    EXPECT_EQ(s.of_frame(oversize).at(0).text, text_of(oversize, "Error : Oversize"));
    // (After the lost frames the phase is unknown, so the IP frames also
    // count as misplaced; only the flag events are checked here.)
    EXPECT_EQ(s.count("Error : ") + s.count("dropped by capture engine"), 5) << s.dump();
    // All flags at once, in the order of the flag table.
    uint64_t all = s.feed(frame, 10 * US, 0xFFFFFFFFu);
    auto events = s.of_frame(all);
    ASSERT_EQ(events.size(), 5u);
    EXPECT_NE(events[0].text.find("dropped"), std::string::npos);
    EXPECT_NE(events[1].text.find("CRC"), std::string::npos);
    EXPECT_NE(events[2].text.find("Frame Format"), std::string::npos);
    EXPECT_NE(events[3].text.find("Runt"), std::string::npos);
    EXPECT_NE(events[4].text.find("Oversize"), std::string::npos);
}

TEST(CycleEvents, CrcErrorFrameIsNotKeptAsPreviousFrame) {
    scenario s;
    frame_bytes soc = plk::soc();
    s.feed(soc);
    uint64_t bad = s.feed(soc, 0, FLOWLENS_FLAG_CRC_ERROR);  // differs in its flags: no duplicate
    EXPECT_TRUE(frame_has(s, bad, "Error : CRC"));
    EXPECT_EQ(s.network(0).prev_flags, 0u);
    EXPECT_TRUE(s.network(0).prev_class & FLOWLENS_CLASS_CRC_ERROR);
}

TEST(CycleEvents, AnalyzerDumpContinuity) {
    scenario s;
    s.feed(plk::analyzer_dump(3, 100, 2));  // first dump sets the expectation
    s.feed(plk::analyzer_dump(3, 102, 2));
    s.feed(plk::analyzer_dump(4, 7, 1));  // another analyzer has its own count
    EXPECT_EQ(s.errors(), 0) << s.dump();
    uint64_t gap = s.feed(plk::analyzer_dump(3, 110, 2));
    uint64_t lost = s.feed(plk::analyzer_dump(3, 112, 1, 5));
    s.feed(plk::analyzer_dump(3, 113, 1));
    s.feed(plk::analyzer_dump(20, 0, 1));  // sources from 16 on are not followed
    s.feed(plk::analyzer_dump(20, 50, 1));
    EXPECT_EQ(s.count("Frames lost (by PC or by Q40TA5521)"), 2) << s.dump();
    EXPECT_TRUE(frame_has(s, gap, "Frames lost"));
    EXPECT_TRUE(frame_has(s, lost, "Frames lost"));
    EXPECT_EQ(s.network(0).dumps[3].count, 5u);
    EXPECT_EQ(s.network(0).dumps[3].next_expected, 114);
    // Counter wrap: 0xFFFF + 1 continues at 0.
    s.feed(plk::analyzer_dump(5, 0xFFFE, 1));
    s.feed(plk::analyzer_dump(5, 0xFFFF, 1));
    s.feed(plk::analyzer_dump(5, 0x0000, 1));
    EXPECT_EQ(s.count("Frames lost"), 2) << s.dump();
}

frame_bytes sdo_payload(uint8_t receive, uint8_t send, uint8_t flags, uint8_t command, uint16_t size, uint32_t data) {
    frame_bytes p = {receive, send, 0, 0, 0, 0x01, flags, command, uint8_t(size), uint8_t(size >> 8), 0, 0};
    for (int i = 0; i < 4; ++i) p.push_back(uint8_t(data >> (8 * i)));
    return p;
}

TEST(CycleEvents, SdoAbortNamesTheCode) {
    scenario s;
    s.feed(plk::asnd(240, 1, 5, sdo_payload(0x02, 0x06, 0x00, 0x02, 4, 0x00011018)));  // opens the connection
    uint64_t abort = s.feed(plk::asnd(1, 240, 5, sdo_payload(0x06, 0x0A, 0xC0, 0x02, 4, 0x06020000)));
    auto events = s.of_frame(abort);
    ASSERT_EQ(events.size(), 1u) << s.dump();
    EXPECT_EQ(events[0].text,
              text_of(abort, "SDO Abort Code 0x06020000 'Object does not exist in the object dictionary'"));
    EXPECT_EQ(s.network(0).slots.sdo_abort.count, 1u);
    EXPECT_TRUE(s.network(0).prev_class & FLOWLENS_CLASS_SDO_ABORT);
}

TEST(CycleEvents, InformationalMessagesEndInABlank) {
    scenario s;
    frame_bytes preq = plk::preq(1);
    preq[14 + 6] = 3;  // mapping version
    uint64_t f = s.feed(preq);
    ASSERT_EQ(s.events.size(), 1u) << s.dump();
    EXPECT_EQ(s.events[0].severity, 0);
    EXPECT_EQ(s.events[0].value, 0u);
    EXPECT_EQ(s.events[0].text, text_of(f, "PReq Mapping Version changed (0 -> 3) "));
    frame_bytes pres = plk::pres(1);
    pres[14 + 6] = 2;
    uint64_t g = s.feed(pres);
    s.feed(pres);
    EXPECT_EQ(s.count("PRes Mapping Version changed (0 -> 2) "), 1);
    EXPECT_TRUE(frame_has(s, g, "PRes Mapping Version"));
}

TEST(CycleEvents, PreqMappingVersionIsFollowedPerPolledNode) {
    scenario s;
    for (int cycle = 0; cycle < 3; ++cycle) {
        s.feed(plk::soc(), 1000 * US);
        frame_bytes first = plk::preq(1);
        first[14 + 6] = 0x10;  // CN 1 runs mapping version 1.0
        s.feed(first);
        s.feed(plk::pres(1));
        frame_bytes second = plk::preq(2);
        second[14 + 6] = 0x20;  // CN 2 runs 2.0
        s.feed(second);
        s.feed(plk::pres(2));
        s.feed(plk::soa());
    }
    // One message per node when its version is first seen, none per cycle.
    EXPECT_EQ(s.count("PReq Mapping Version changed (0 -> 16) "), 1) << s.dump();
    EXPECT_EQ(s.count("PReq Mapping Version changed (0 -> 32) "), 1);
    EXPECT_EQ(s.count("PReq Mapping Version"), 2);
    EXPECT_EQ(s.network(0).nodes[2].preq_mapping_version, 0x20);
}

TEST(CycleEvents, LanyxAnalyzerFrameSwitchesToTwoNetworks) {
    scenario s;
    s.feed(plk::soc());
    s.feed(plk::asnd(1, 255, 161), 10 * US, 0, 1);
    EXPECT_EQ(s.engine()->network_mode, FLOWLENS_NETWORK_MODE_DIFFERENT);
    EXPECT_EQ(s.network(0).counts.soc, 0u) << "the switch resets the engine";
    EXPECT_EQ(s.network(1).counts.asnd, 1u) << "the port-1 frame moved to network 1";
}

}  // namespace

namespace {

// POWERLINK V1 frame of a message type (EtherType 0x3E3F, same header bytes).
frame_bytes v1(frame_bytes frame) {
    frame[12] = 0x3E;
    frame[13] = 0x3F;
    return frame;
}

TEST(CycleEventsV1, CycleWithEndCyclicAndAsyncInvite) {
    scenario s;
    for (int i = 0; i < 3; ++i) {
        frame_bytes soc = v1(plk::soc());
        soc[14 + 6] = uint8_t(i * 10);  // NetTime
        s.feed(soc, 1000 * US);
        s.feed(v1(plk::preq(1)));
        s.feed(v1(plk::pres(1)));
        frame_bytes end_cyclic = v1(plk::soa());
        end_cyclic[14] = 0x02;
        s.feed(end_cyclic);
        s.feed(v1(plk::soa()));  // V1 AsyncInvite: counted, no async checks
    }
    EXPECT_EQ(s.network(0).counts.soa, 6u);
    EXPECT_EQ(s.network(0).counts.soc, 3u);
    EXPECT_EQ(s.network(0).counts.powerlink, 15u);
    EXPECT_TRUE(s.network(0).all_classes & FLOWLENS_CLASS_V1);
    EXPECT_FALSE(s.network(0).all_classes & FLOWLENS_CLASS_V2);
    EXPECT_EQ(s.network(0).last_soc_time_value, 20u);
    // V1 frames are not checked against the V2 multicast addresses.
    EXPECT_EQ(s.count("Destination-MAC invalid"), 0) << s.dump();
    EXPECT_EQ(s.errors(), 0) << s.dump();
}

TEST(CycleEventsMore, AnalyzerDumpWithTriggerRecordIsMarked) {
    scenario s;
    frame_bytes dump = plk::analyzer_dump(2, 0, 2);
    // Record status word of the second record (EPL 22 + 68 + 6 inside the UDP payload).
    const size_t epl = 14 + 20 + 8;
    dump[epl + 22 + 68 + 6] = 0x40;
    s.feed(dump);
    EXPECT_TRUE(s.network(0).prev_class & FLOWLENS_CLASS_DUMP_FORMAT);
    s.feed(plk::analyzer_dump(2, 2, 2));
    EXPECT_FALSE(s.network(0).prev_class & FLOWLENS_CLASS_DUMP_FORMAT);
    EXPECT_EQ(s.errors(), 0) << s.dump();
}

TEST(CycleEventsMore, SyncRequestWithoutSyncControlIsAnInvitation) {
    scenario s;
    good_cycle(s);
    s.feed(plk::soc(), 1000 * US);
    poll_both(s);
    frame_bytes sync = plk::soa(6, 1);
    s.feed(sync);
    EXPECT_TRUE(s.network(0).prev_class & FLOWLENS_CLASS_INVITATION);
    uint64_t next = s.feed(plk::soc(), 1000 * US);
    EXPECT_TRUE(frame_has(s, next, "Async packet expected from Node   1")) << s.dump();
    s.feed(plk::preq(1));
    s.feed(plk::pres(1));
    s.feed(plk::preq(2));
    s.feed(plk::pres(2));
    sync[14 + 13] = 0x40;  // sync control says the request is served
    s.feed(sync);
    EXPECT_FALSE(s.network(0).prev_class & FLOWLENS_CLASS_INVITATION);
}

TEST(CycleEventsMore, OffsetBetweenTwoNetworks) {
    scenario s(FLOWLENS_TIMEMODE_HIGH_RESOLUTION);
    const uint8_t second_mn[6] = {0x02, 0x00, 0x00, 0x00, 0x10, 0xF0};
    s.feed(plk::soc(), 0, 0, 0);
    s.feed(plk::soc(0, second_mn), 20 * US, 0, 1);  // second network found
    ASSERT_EQ(s.engine()->network_mode, FLOWLENS_NETWORK_MODE_DIFFERENT);
    uint64_t t = s.time;
    s.feed_at(plk::soc(), t + 1000 * US, 0, 0);
    s.feed_at(plk::soc(0, second_mn), t + 1020 * US, 0, 1);
    s.feed_at(plk::soc(), t + 2000 * US, 0, 0);
    s.feed_at(plk::soc(0, second_mn), t + 2020 * US, 0, 1);
    const flowlens_signed_timing &offset = s.engine()->network_offset;
    // Network 1's SoC follows network 0's by 20 us each cycle; measured from
    // network 1's second SoC on (the one that revealed it was not counted).
    EXPECT_EQ(offset.count, 1u);
    EXPECT_EQ(offset.sum, int64_t(20 * US));
    EXPECT_EQ(offset.min, int64_t(20 * US));
    EXPECT_EQ(offset.max, int64_t(20 * US));
}

}  // namespace
