// The engine instance itself: life cycle, options, time-mode detection,
// accessors, report formatting, and robustness against cut frames and time
// stamps that run backwards.
#include <gtest/gtest.h>

#include <cstring>

#include "plk_frame_builder.h"
#include "device_catalogue.h"
#include "sdo_tracking.h"

namespace {

constexpr uint64_t US = 1000;

TEST(Engine, CreateInitialisesEverything) {
    flowlens_instance *instance = nullptr;
    ASSERT_EQ(flowlens_create(&instance, nullptr, nullptr), 0);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->last_port, 0xFF);
    EXPECT_EQ(instance->first_soc_mac[0], 0xFF);
    EXPECT_EQ(instance->network_offset.min, INT64_MAX);
    EXPECT_EQ(instance->network_offset.max, INT64_MIN);
    EXPECT_EQ(instance->port_switch.min, UINT64_MAX);
    EXPECT_NE(instance->sdo.history, nullptr);
    EXPECT_NE(instance->sdo.connections, nullptr);
    for (const flowlens_network &n : instance->networks) {
        EXPECT_EQ(n.warm_up, 1);
        EXPECT_EQ(n.soc_mac[0], 0xFF);
        EXPECT_EQ(n.cycle_time.min, UINT64_MAX);
        EXPECT_EQ(n.nodes[17].pres_latency.min, UINT64_MAX);
        EXPECT_EQ(n.dumps[15].next_expected, 0xFFFF);
        EXPECT_STREQ(n.events[FLOWLENS_EV_LOSS_OF_SOA].text, "Loss of SoA");
        EXPECT_EQ(n.events[FLOWLENS_EV_ASYNC_EXPECTED].limit, 10);
    }
    // Analysis without a callback runs and counts.
    frame_bytes soc = plk::soc();
    flowlens_packet_info packet{};
    packet.frame_number = 1;
    packet.data = soc.data();
    packet.length = packet.captured_length = uint16_t(soc.size());
    flowlens_process_packet(instance, &packet);
    packet.frame_number = 2;
    flowlens_process_packet(instance, &packet);  // duplicate: counted without a callback
    EXPECT_EQ(instance->networks[0].events[FLOWLENS_EV_DUPLICATES].count, 1u);
    flowlens_destroy(instance);
}

TEST(Engine, NullArgumentsAreHarmless) {
    EXPECT_EQ(flowlens_create(nullptr, nullptr, nullptr), -1);
    flowlens_process_packet(nullptr, nullptr);
    flowlens_reset(nullptr);
    flowlens_start(nullptr);
    flowlens_destroy(nullptr);
    flowlens_set_timemode(nullptr, 2);
    flowlens_report(nullptr, nullptr, nullptr);
    EXPECT_EQ(flowlens_port_network(nullptr, 0), nullptr);
}

TEST(Engine, PerPortAccessors) {
    scenario s;
    flowlens_instance *e = s.engine();
    // Port 1 reads network record 1 whatever the network mode.
    EXPECT_EQ(flowlens_port_network(e, 0), &e->networks[0]);
    EXPECT_EQ(flowlens_port_network(e, 1), &e->networks[1]);
    EXPECT_EQ(&flowlens_port_network(e, 1)->counts, &e->networks[1].counts);
    EXPECT_EQ(flowlens_port_network(e, 0)->nodes, e->networks[0].nodes);
    for (unsigned port : {2u, 7u, 255u}) EXPECT_EQ(flowlens_port_network(e, port), nullptr);
    EXPECT_EQ(flowlens_port_network(nullptr, 1), nullptr);
}

TEST(Engine, HighResolutionDetection) {
    scenario coarse;
    for (int i = 0; i < 50; ++i) coarse.feed(plk::soc(), 1000 * US + 100);
    EXPECT_EQ(coarse.engine()->effective_timemode, FLOWLENS_TIMEMODE_DETECT);
    EXPECT_EQ(coarse.network(0).soa_to_soc.count, 0u);

    scenario fine;
    fine.feed(plk::soc(), 0);
    fine.feed(plk::soa(), 1000 * US + 1);  // not a multiple of 100 ns
    EXPECT_EQ(fine.engine()->effective_timemode, FLOWLENS_TIMEMODE_HIGH_RESOLUTION);
    fine.feed(plk::soc(), 1000 * US);
    EXPECT_EQ(fine.network(0).soa_to_soc.count, 1u);
    EXPECT_EQ(fine.network(0).soa_to_soc.sum, 1000 * US);
    EXPECT_EQ(fine.engine()->effective_timemode, FLOWLENS_TIMEMODE_HIGH_RESOLUTION) << "stays until reset";
    flowlens_reset(fine.engine());
    EXPECT_EQ(fine.engine()->effective_timemode, FLOWLENS_TIMEMODE_DETECT);

    scenario forced(FLOWLENS_TIMEMODE_HIGH_RESOLUTION);
    EXPECT_EQ(forced.engine()->effective_timemode, FLOWLENS_TIMEMODE_HIGH_RESOLUTION);
}

TEST(Engine, HighResolutionMeasurements) {
    scenario s(FLOWLENS_TIMEMODE_HIGH_RESOLUTION);
    for (int i = 0; i < 3; ++i) {
        s.feed(plk::soc(), 1000 * US - 50 * US);
        s.feed(plk::preq(1), 5 * US);
        s.feed(plk::pres(1), 7 * US);
        s.feed(plk::pres(240), 3 * US);
        s.feed(plk::soa(1, 1), 10 * US);
        s.feed(plk::asnd(1, 240, 1), 25 * US);
    }
    const flowlens_network &n = s.network(0);
    EXPECT_EQ(n.nodes[1].preq_position.count, 3u);
    EXPECT_EQ(n.nodes[1].preq_position.min, 5 * US);
    EXPECT_EQ(n.nodes[1].pres_latency.max, 7 * US);
    EXPECT_EQ(n.nodes[0].preq_position.min, 15 * US) << "the MN's own PRes";
    EXPECT_EQ(n.nodes[1].asnd_latency.count, 3u);
    EXPECT_EQ(n.nodes[1].asnd_latency.min, 25 * US);
    EXPECT_EQ(n.soa_to_soc.count, 2u);
    EXPECT_EQ(n.soa_to_soc.min, 1000 * US - 25 * US);
    // Idle before the SoC: gap minus the 60-byte ASnd on the wire and the IFG.
    EXPECT_EQ(n.async_idle.min, 950 * US - 60 * 80 - 960);
    EXPECT_EQ(n.packet_interval.count, 17u);
    EXPECT_EQ(n.nodes[1].ident_response, 3u);
    EXPECT_EQ(s.errors(), 0) << s.dump();
}

TEST(Engine, ResetForgetsEverythingAndStartRewarms) {
    scenario s;
    for (int i = 0; i < 3; ++i) {
        s.feed(plk::soc(), 1000 * US);
        s.feed(plk::preq(3));
    }
    ASSERT_GT(s.errors(), 0);
    flowlens_instance *e = s.engine();
    flowlens_start(e);
    for (const flowlens_network &n : e->networks) {
        EXPECT_EQ(n.counts.soc, 0u);
        EXPECT_EQ(n.counts.powerlink, 0u);
        EXPECT_EQ(n.events[FLOWLENS_EV_UNEXPECTED_PREQ].count, 0u);
        EXPECT_EQ(n.nodes[3].frames, 0u);
        EXPECT_EQ(n.warm_up, 1);
        EXPECT_EQ(n.phase, FLOWLENS_PHASE_UNKNOWN);
    }
    EXPECT_EQ(sdo_connection_count(&e->sdo), 0u);
    EXPECT_EQ(e->sdo.history_count, 0u);
    // After the reset the first SoC is a fresh start: no events.
    size_t before = s.events.size();
    s.feed(plk::soc(), 1000 * US);
    EXPECT_EQ(s.events.size(), before);
}

TEST(Engine, FrameNumberZeroAfterAnalysedFrameIsADuplicate) {
    flowlens_instance *e = nullptr;
    ASSERT_EQ(flowlens_create(&e, nullptr, nullptr), 0);
    frame_bytes soc = plk::soc();
    flowlens_packet_info p{};
    p.data = soc.data();
    p.length = p.captured_length = uint16_t(soc.size());
    p.frame_number = 0;
    p.time = 100;
    flowlens_process_packet(e, &p);  // the very first frame may be number 0
    EXPECT_EQ(e->networks[0].counts.soc, 1u);
    p.frame_number = 0;
    p.time = 200;
    flowlens_process_packet(e, &p);
    EXPECT_EQ(e->duplicates, 1u);
    EXPECT_EQ(e->networks[0].counts.soc, 1u);
    flowlens_destroy(e);
}

TEST(Engine, ReportTextIsBoundedAndTerminated) {
    std::vector<std::string> texts;
    auto keep = [](void *context, uint64_t, uint8_t, const char *text, uint64_t) {
        static_cast<std::vector<std::string> *>(context)->push_back(text);
    };
    flowlens_instance *e = nullptr;
    ASSERT_EQ(flowlens_create(&e, keep, &texts), 0);
    e->current_frame_number = 1234567;
    std::string long_detail(2000, 'x');
    flowlens_report(e, &e->networks[0].events[FLOWLENS_EV_CRC], " %s", long_detail.c_str());
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].size(), 499u);
    EXPECT_EQ(texts[0].rfind("Powerlink: Packet #1234567 - Error : CRC xxx", 0), 0u);
    e->current_frame_number = 12345678;  // more than seven digits are written in full
    flowlens_inform(e, "Initialization Request Retry (1 -> 240)");
    EXPECT_EQ(texts[1], "Powerlink: Packet #12345678 - Initialization Request Retry (1 -> 240) ");
    flowlens_destroy(e);
}

// Every prefix of every kind of frame: reads stay within the captured bytes
// (the sanitizer build turns any overread into a failure).
TEST(Engine, CutFramesNeverReadPastTheirEnd) {
    const uint8_t pc[6] = {0xBC, 0x5F, 0xF4, 0x00, 0x00, 0x01};
    frame_bytes ident = plk::asnd(1, 240, 1, frame_bytes(60, 0x5A));
    std::vector<frame_bytes> kinds = {plk::soc(77),
                                      plk::preq(1),
                                      plk::pres(1, 0x1D, 0xC300, 900),
                                      plk::soa(6, 1),
                                      plk::soa(255, 1),
                                      plk::ainv(3, 2),
                                      plk::status_response(1),
                                      ident,
                                      plk::ip_udp(pc, 0x0A000001),
                                      plk::analyzer_dump(2, 10, 3, 1),
                                      plk::asnd(240, 1, 5, frame_bytes(40, 0x11))};
    // V1 frames share the cycle steps.
    frame_bytes v1 = plk::soc(5);
    v1[12] = 0x3E;
    v1[13] = 0x3F;
    kinds.push_back(v1);
    scenario s;
    for (int round = 0; round < 2; ++round) {
        for (const frame_bytes &kind : kinds) {
            for (size_t cut = 0; cut <= kind.size(); ++cut) {
                // An exact-size heap copy so any overread hits the redzone.
                frame_bytes piece(kind.begin(), kind.begin() + long(cut));
                piece.shrink_to_fit();
                uint32_t flags = cut % 3 == 0 ? uint32_t(FLOWLENS_FLAG_CRC_ERROR) : 0u;
                s.feed(piece, 1000 + 7 * cut, flags, uint8_t(cut & 1), 1500);
            }
        }
    }
    flowlens_packet_info empty{};
    empty.frame_number = 999999;
    empty.captured_length = 100;  // no data at all
    flowlens_process_packet(s.engine(), &empty);
    SUCCEED();
}

TEST(Engine, TimeRunningBackwardsAddsNoWrappedValues) {
    scenario s(FLOWLENS_TIMEMODE_HIGH_RESOLUTION);
    s.feed(plk::soc(), 0);
    s.feed(plk::preq(1), 5 * US);
    s.feed(plk::pres(1), 5 * US);
    s.feed(plk::soa(), 5 * US);
    s.feed(plk::asnd(1, 240, 3), 5 * US);
    uint64_t t = s.time;
    // A merged capture steps 3 ms back in time.
    s.feed_at(plk::soc(), t - 3000 * US);
    s.feed_at(plk::preq(1), t - 2999 * US);
    s.feed_at(plk::pres(1), t - 2998 * US);
    s.feed_at(plk::soa(), t - 2997 * US);
    s.feed_at(plk::soc(), t - 2000 * US);
    const uint64_t ceiling = 10ull * 1000 * 1000 * 1000;  // 10 s
    const flowlens_network &n = s.network(0);
    for (const flowlens_timing *acc : {&n.cycle_time, &n.soa_to_soc, &n.async_idle, &n.packet_interval, &n.pres_to_preq,
                                       &n.nodes[1].preq_position, &n.nodes[1].pres_latency, &n.nodes[1].asnd_latency}) {
        if (acc->count != 0) {
            EXPECT_LT(acc->max, ceiling);
            EXPECT_GT(acc->min, 0u) << "no zero sample for a step back";
        }
        EXPECT_LT(acc->sum, ceiling);
    }
    EXPECT_LT(s.engine()->port_switch.sum, ceiling);
}

TEST(Engine, IdentityFromIdentResponseAndCatalogue) {
    scenario s;
    frame_bytes payload(60, 0);
    // EPL offset 30: vendor id, 34: product code (payload starts at EPL 4).
    uint32_t vendor = 0x5A454C4D;
    for (int i = 0; i < 4; ++i) payload[26 + i] = uint8_t(vendor >> (8 * i));
    const device_catalogue_row *row = &device_catalogue[0];
    for (size_t i = 0; i < device_catalogue_size(); ++i)
        if (device_catalogue[i].capabilities & DEVICE_CAPABILITY_BUS_CONTROLLER) row = &device_catalogue[i];
    payload[30] = uint8_t(row->product_code);
    payload[31] = uint8_t(row->product_code >> 8);
    payload[34] = 0x34;  // EPL 38: revision word
    payload[35] = 0x12;
    payload[42] = 0x78;  // EPL 46: extension word
    payload[43] = 0x56;
    payload[2] = 0x5D;  // EPL 6: NMT state
    s.feed(plk::asnd(9, 240, 1, payload));
    const flowlens_node &node = s.network(0).nodes[9];
    EXPECT_EQ(node.ident_response, 1u);
    EXPECT_EQ(node.vendor_id, vendor);
    EXPECT_EQ(node.product_code, row->product_code);
    EXPECT_STREQ(node.device_name, row->model_name);
    EXPECT_EQ(node.object_names_maker, 1);
    EXPECT_EQ(node.revision_word, 0x1234);
    EXPECT_EQ(node.extension_word, 0x5678);
    EXPECT_EQ(node.nmt_state, 0x5D);
    // An unknown product clears the name and the flags.
    payload[30] = 0xEE;
    payload[31] = 0xEE;
    s.feed(plk::asnd(9, 240, 1, payload));
    EXPECT_EQ(node.device_name, nullptr);
    EXPECT_EQ(node.object_names_maker, 0);
}

}  // namespace
