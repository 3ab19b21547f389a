/* Collection engine: deltas, windows, connections, sync errors, address
 * roles, SDN/UDID recovery on generated frames of every class. */
#include "osa_collection.h"
#include "osa_frame.h"
#include "osa_gen.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <cstring>
#include <vector>

namespace {

const uint8_t kUdid[6] = {0x02, 0xD7, 0xA5, 0x3C, 0x5A, 0x96};

class Collection : public ::testing::Test {
protected:
    void SetUp() override { osa_tap_reset(); }
    void TearDown() override { osa_tap_destroy(); }

    /* An SPDO as the dissector reports it when it knows the UDID. */
    static osa_frame_record spdo(uint16_t sender, uint32_t frame, uint16_t counter, bool valid = true) {
        osa_frame_record r;
        r.sender = sender;
        r.msg_type = osa_frame::type_spdo;
        r.msg_id = osa_frame::spdo_data_only;
        r.udid_valid = true;
        std::memcpy(r.scm_udid, kUdid, 6);
        r.sdn = 1;
        r.frame_number = frame;
        r.has_payload = true;
        r.spdo_counter16 = counter;
        r.spdo_conn_valid = valid;
        return r;
    }

    static osa_frame_record snmt(uint16_t sender, uint8_t ext, bool request) {
        osa_frame_record r;
        r.sender = sender;
        r.msg_type = osa_frame::type_snmt;
        r.is_request = request;
        r.has_payload = true;
        r.snmt_ext_id = ext;
        return r;
    }
};

/* Generated frame plus the record the dissector gives without a UDID. */
struct generated {
    std::vector<uint8_t> bytes;
    osa_frame_record rec;
};

generated make_frame(const osa_gen::frame_info &f, unsigned payload_len, uint16_t sdn, const uint8_t udid[6]) {
    generated g;
    std::vector<uint8_t> payload(payload_len);
    for (unsigned i = 0; i < payload_len; ++i) payload[i] = static_cast<uint8_t>(0x31 + 7 * i);
    g.bytes = osa_gen::build_frame(f, sdn, udid, payload);
    g.rec.frame = g.bytes.data();
    g.rec.frame_avail = static_cast<uint32_t>(g.bytes.size());
    g.rec.frame_len = static_cast<uint32_t>(g.bytes.size());
    g.rec.subframe2 = static_cast<uint16_t>(osa_frame::subframe2_offset(payload_len));
    g.rec.sender = f.adr;
    g.rec.msg_id = f.msg_id;
    g.rec.msg_type = f.msg_type;
    g.rec.frame_number = 1;
    return g;
}

osa_gen::frame_info spdo_info(uint16_t adr, uint64_t counter, bool counter40 = false) {
    osa_gen::frame_info f;
    f.msg_id = osa_frame::spdo_data_only;
    f.msg_type = osa_frame::type_spdo;
    f.adr = adr;
    f.counter = counter;
    f.conn_valid = true;
    f.counter40 = counter40;
    return f;
}

osa_gen::frame_info ssdo_info(uint16_t adr, uint8_t id = osa_frame::ssdo_request) {
    osa_gen::frame_info f;
    f.msg_id = id;
    f.msg_type = id >= osa_frame::slim_ssdo_request ? osa_frame::type_slim_ssdo : osa_frame::type_ssdo;
    f.adr = adr;
    f.tadr = 1;
    f.counter = 0x0123;
    return f;
}

}  // namespace

TEST(WrapDelta, Edges) {
    EXPECT_EQ(osa_wrap_delta(65530, 5, 0xFFFF), 10u);
    EXPECT_EQ(osa_wrap_delta(100, 100, 0xFFFF), 0u);
    EXPECT_EQ(osa_wrap_delta(100, 40000, 0xFFFF), 39900u);  // forward: no cap
    EXPECT_EQ(osa_wrap_delta(0xFFFFFFFFFULL - 5, 5, 0xFFFFFFFFFULL), 10u);
    EXPECT_EQ(osa_wrap_delta(60000, 3, 0xFFFF), 5538u);   // wraps within ten shifts
    EXPECT_EQ(osa_wrap_delta(50000, 3, 0xFFFF), 0u);      // needs more than ten: unexplained
    EXPECT_EQ(osa_wrap_delta(40000, 39000, 0xFFFF), 0u);  // backwards, same magnitude
    EXPECT_EQ(osa_wrap_delta(65000, 200, 0xFFFF), 735u);
    EXPECT_EQ(osa_wrap_delta(7, 3, 0), 0u);  // no modulus never loops
}

TEST(SampleWindow, RingKeepsNewestFive) {
    osa_sample_window w;
    w.init(5);
    for (int i = 1; i <= 7; ++i) w.push(static_cast<float>(i));
    EXPECT_EQ(w.count, 5);
    EXPECT_EQ(w.start, 2);
    for (uint16_t i = 0; i < 5; ++i) EXPECT_EQ(w.at(i), static_cast<float>(i + 3));
    EXPECT_EQ(w.at(5), 0.0f);
    w.clear();
    EXPECT_EQ(w.capacity, 0);
    EXPECT_EQ(w.at(0), 0.0f);
    w.push(1.0f);  // a cleared window ignores pushes instead of writing nowhere
    EXPECT_EQ(w.count, 0);
}

TEST(DeltaTracker, PopulationDeviationOverWindow) {
    osa_delta_tracker t;
    for (int i = 0; i < 4; ++i) t.push(i + 1, 10);
    const osa_delta_sample &s = t.push(5, 40);
    EXPECT_FLOAT_EQ(s.mean, 16.0f);
    EXPECT_FLOAT_EQ(s.deviation, 12.0f);
    ASSERT_EQ(t.series.size(), 5u);
    EXPECT_EQ(t.series.front().frame, 5u);  // newest first
    EXPECT_EQ(t.series.back().frame, 1u);
    /* After five more equal samples the outlier has left the window. */
    for (int i = 0; i < 5; ++i) t.push(6 + i, 10);
    EXPECT_FLOAT_EQ(t.series.front().deviation, 0.0f);
}

TEST_F(Collection, FirstSecondThirdSpdo) {
    auto a = spdo(2, 10, 1000);
    auto b = spdo(2, 11, 1010);
    auto c = spdo(2, 12, 4010);
    ASSERT_EQ(osa_tap_packet(&a), OSA_TAP_DONT_REDRAW);
    osa_connection *conn = osa_get_connection(osa_get_node(2));
    ASSERT_NE(conn, nullptr);
    EXPECT_TRUE(conn->frame_delta.series.empty());
    EXPECT_TRUE(conn->counter_delta.series.empty());

    osa_tap_packet(&b);
    ASSERT_EQ(conn->frame_delta.series.size(), 1u);
    ASSERT_EQ(conn->counter_delta.series.size(), 1u);
    EXPECT_EQ(conn->frame_delta.series.front().delta, 1u);
    EXPECT_EQ(conn->counter_delta.series.front().delta, 10u);
    EXPECT_TRUE(conn->sync_errors.series.empty());

    osa_tap_packet(&c);  // deviation jumps from 0 to 1495 within one frame
    EXPECT_EQ(conn->failure_count, 1u);
    EXPECT_EQ(conn->netsync_count, 0u);
    ASSERT_EQ(conn->sync_errors.series.size(), 1u);
    EXPECT_EQ(conn->sync_errors.series.front().delta, 3000u);
    ASSERT_FALSE(conn->log.empty());
    EXPECT_EQ(conn->log.front().kind, OSA_LOG_WILL_FAIL);
    EXPECT_EQ(conn->log.front().value, 299u);  // a step of 3000 where one cycle is 10
    EXPECT_EQ(osa_first_frame(), 10u);
    EXPECT_EQ(osa_last_frame(), 12u);
}

TEST_F(Collection, SyncErrorThresholds) {
    /* Second delta d after a first delta of 10 gives s = (d - 10) / 2 and
     * x = s * s / frame gap. */
    struct step {
        uint32_t gap;
        uint16_t second_delta;
        uint64_t netsync, failures;
    } steps[] = {
        {10, 210, 0, 0},  // x = 100 * 100 / 10 = 1000: not above the threshold
        {9, 210, 1, 0},   // x = 1111
        {10, 410, 1, 0},  // x = 4000: network may compensate
        {9, 410, 0, 1},   // x = 4444: network will fail
    };
    uint16_t sadr = 2;
    for (const step &s : steps) {
        auto a = spdo(sadr, 100, 1000);
        auto b = spdo(sadr, 101, 1010);
        auto c = spdo(sadr, 101 + s.gap, static_cast<uint16_t>(1010 + s.second_delta));
        osa_tap_packet(&a);
        osa_tap_packet(&b);
        osa_tap_packet(&c);
        const osa_connection *conn = osa_get_connection(osa_get_node(sadr));
        ASSERT_NE(conn, nullptr);
        EXPECT_EQ(conn->netsync_count, s.netsync) << "gap " << s.gap << " delta " << s.second_delta;
        EXPECT_EQ(conn->failure_count, s.failures) << "gap " << s.gap << " delta " << s.second_delta;
        ++sadr;
    }
}

TEST_F(Collection, DeviationBeyond32BitsSaturates) {
    /* 40-bit counters far above 2^32: the counter steps back once (frame 13,
     * delta 0) and then jumps by 2^35 (frame 14), which pushes the 5-sample
     * deviation beyond 32 bits. Both are sync errors; while the deviation
     * stays beyond the range nothing grows, so no further entries may
     * appear, whatever the exact values. */
    const uint64_t high = 1ULL << 35;
    const uint64_t counters[] = {high + 100, high + 200,  high + 300,   50,
                                 high + 400, high + 7000, high + 90000, high + 1234567};
    uint32_t frame = 10;
    for (uint64_t c : counters) {
        auto r = spdo(2, frame++, 0);
        r.spdo_40bit = true;
        r.spdo_counter40 = c;
        osa_tap_packet(&r);
    }
    const osa_connection *conn = osa_find_connection(2);
    ASSERT_NE(conn, nullptr);
    ASSERT_EQ(conn->counter_delta.series.size(), 7u);
    std::vector<uint32_t> frames;
    for (const auto &entry : conn->sync_errors.series) frames.push_back(entry.frame);
    std::sort(frames.begin(), frames.end());
    EXPECT_EQ(frames, (std::vector<uint32_t>{13, 14}));
    EXPECT_EQ(conn->failure_count + conn->netsync_count, 2u);
    EXPECT_EQ(conn->last_sync_deviation, UINT32_MAX);
}

TEST_F(Collection, CounterZeroCountsAsNone) {
    auto a = spdo(2, 10, 0);
    auto b = spdo(2, 11, 100);
    auto c = spdo(2, 12, 200);
    osa_tap_packet(&a);
    osa_tap_packet(&b);
    const osa_connection *conn = osa_get_connection(osa_get_node(2));
    EXPECT_EQ(conn->frame_delta.series.size(), 1u);
    EXPECT_TRUE(conn->counter_delta.series.empty());
    osa_tap_packet(&c);
    ASSERT_EQ(conn->counter_delta.series.size(), 1u);
    EXPECT_EQ(conn->counter_delta.series.front().delta, 100u);
}

TEST_F(Collection, ValidityChangesAreLogged) {
    auto a = spdo(2, 10, 100, true);
    auto b = spdo(2, 11, 110, true);
    auto c = spdo(2, 12, 120, false);
    auto d = spdo(2, 0, 130, true);  // frame number 0: no log entry
    for (auto *r : {&a, &b, &c, &d}) osa_tap_packet(r);
    const osa_connection *conn = osa_get_connection(osa_get_node(2));
    ASSERT_EQ(conn->log.size(), 2u);
    EXPECT_EQ(conn->log.front().frame, 12u);
    EXPECT_EQ(conn->log.front().value, 0u);
    EXPECT_EQ(conn->log.back().frame, 10u);
    EXPECT_EQ(conn->log.back().kind, OSA_LOG_VALID_CHANGED);
    EXPECT_EQ(conn->log.back().value, 1u);
}

TEST_F(Collection, SdnZeroHasNoConnection) {
    auto a = spdo(9, 10, 100);
    a.udid_valid = false;  // nothing to learn the SDN from
    auto b = spdo(9, 11, 110);
    b.udid_valid = false;
    osa_tap_packet(&a);
    osa_tap_packet(&b);
    const osa_node *n = osa_get_node(9);
    EXPECT_EQ(n->spdo_count, 2u);
    EXPECT_EQ(n->operational, 1u);
    EXPECT_EQ(osa_get_connection(n), nullptr);
    osa_tap_draw();
    EXPECT_EQ(osa_get_connection(n), nullptr);
}

TEST_F(Collection, SameSadrOtherSdnSharesConnection) {
    osa_node *n = osa_get_node(4);
    n->sdn = 1;
    osa_connection *c1 = osa_get_connection(n);
    n->sdn = 2;
    EXPECT_EQ(osa_get_connection(n), c1);
}

TEST_F(Collection, DrawSkipsAddressesAbove766) {
    osa_get_node(767)->sdn = 1;
    osa_get_node(766)->sdn = 1;
    osa_get_node(3);  // no SDN: no connection either
    osa_tap_draw();
    EXPECT_EQ(osa_find_connection(767), nullptr);
    EXPECT_NE(osa_find_connection(766), nullptr);
    EXPECT_EQ(osa_find_connection(3), nullptr);
}

TEST_F(Collection, FailuresAndLifecycle) {
    osa_frame_record r = spdo(0, 1, 1);
    EXPECT_EQ(osa_tap_packet(&r), OSA_TAP_FAILED);
    EXPECT_EQ(osa_tap_packet(nullptr), OSA_TAP_FAILED);
    osa_tap_destroy();
    EXPECT_EQ(osa_node_table(), nullptr);
    EXPECT_EQ(osa_get_node(3), nullptr);
    // The first frame makes the collection when no reset came before it
    // (Wireshark's first live capture does not reset its taps).
    r.sender = 3;
    EXPECT_EQ(osa_tap_packet(&r), OSA_TAP_DONT_REDRAW);
    ASSERT_NE(osa_node_table(), nullptr);
    EXPECT_EQ(osa_node_table()->count(3), 1u);
    EXPECT_EQ(osa_first_frame(), 1u);
    r.frame_number = 2;
    EXPECT_EQ(osa_tap_packet(&r), OSA_TAP_DONT_REDRAW);
    EXPECT_EQ(osa_last_frame(), 2u);
    osa_tap_reset();
    EXPECT_TRUE(osa_node_table()->empty());
    EXPECT_EQ(osa_first_frame(), 0u);
}

TEST_F(Collection, SnmtStatusSetsOperational) {
    auto op = snmt(5, osa_frame::snmt_ext_status_op, false);
    auto pre = snmt(5, osa_frame::snmt_ext_status_pre_op, false);
    auto req = snmt(5, osa_frame::snmt_ext_status_op, true);
    osa_tap_packet(&op);
    EXPECT_EQ(osa_get_node(5)->operational, 1u);
    osa_tap_packet(&pre);
    EXPECT_EQ(osa_get_node(5)->operational, 0u);
    osa_tap_packet(&req);  // requests do not report a state
    EXPECT_EQ(osa_get_node(5)->operational, 0u);
    EXPECT_EQ(osa_get_node(5)->snmt_count, 3u);
    EXPECT_EQ(osa_get_node(5)->sdn_known, 1u);
}

TEST_F(Collection, VirtualAddressRoles) {
    osa_link_nodes(5, 9);
    EXPECT_EQ(osa_get_node(9)->is_virtual, 1u);
    EXPECT_EQ(osa_get_node(5)->is_virtual, 0u);
    EXPECT_EQ(osa_get_node(5)->partner, osa_get_node(9));
    EXPECT_EQ(osa_get_node(9)->partner, osa_get_node(5));

    osa_get_node(19)->ssdo_count = 1;  // 19 is a node's main address
    osa_link_nodes(15, 19);
    EXPECT_EQ(osa_get_node(15)->is_virtual, 1u);
    EXPECT_EQ(osa_get_node(19)->is_virtual, 0u);

    osa_link_nodes(7, 1);  // SCM pairs mark nothing virtual
    EXPECT_EQ(osa_get_node(7)->is_virtual, 0u);
    EXPECT_EQ(osa_get_node(1)->is_virtual, 0u);
    EXPECT_EQ(osa_get_node(1)->partner, osa_get_node(7));

    osa_link_nodes(3, 3);
    osa_link_nodes(0, 3);
    EXPECT_EQ(osa_get_node(3)->partner, nullptr);
}

TEST_F(Collection, LinkCarriesIdentityToThePartner) {
    osa_node *main_node = osa_get_node(2);
    main_node->sdn = 37;
    main_node->sdn_known = 1;
    main_node->udid_valid = 1;
    std::memcpy(main_node->scm_udid, kUdid, 6);
    osa_link_nodes(12, 2);
    const osa_node *extra = osa_get_node(12);
    EXPECT_EQ(extra->udid_valid, 1u);
    EXPECT_EQ(extra->sdn, 37);
    EXPECT_EQ(0, std::memcmp(extra->scm_udid, kUdid, 6));
}

/* ---- recovery of UDID and SDN from generated frames ---- */

struct DetectCase {
    const char *name;
    bool ssdo;
    unsigned payload;
    bool counter40;
    uint16_t sdn;
};

class Detection : public Collection, public ::testing::WithParamInterface<DetectCase> {};

TEST_P(Detection, RecoversUdidAndSdn) {
    const DetectCase &c = GetParam();
    const uint16_t adr = 0x2A;
    osa_gen::frame_info f = c.ssdo ? ssdo_info(adr) : spdo_info(adr, c.counter40 ? 0x0B001234ULL : 0x0456, c.counter40);
    generated g = make_frame(f, c.payload, c.sdn, kUdid);
    ASSERT_EQ(g.rec.frame_len, 2 * c.payload + (c.payload > 8 ? 13u : 11u));

    osa_node *n = osa_get_node(adr);
    ASSERT_EQ(osa_detect_udid(n, &g.rec), 0);
    EXPECT_EQ(n->udid_valid, 1u);
    EXPECT_EQ(0, std::memcmp(n->scm_udid, kUdid, 6));
    EXPECT_EQ(n->sdn, c.sdn);
    ASSERT_EQ(osa_udid_candidates().size(), 1u);
    EXPECT_EQ(osa_udid_candidates()[0], 0x3C5A96u);
    if (!c.counter40) {  // 40-bit counters fill the address bytes of sub-frame 2
        EXPECT_EQ(osa_decode_address(&g.rec, n, 0), adr);
    }
    /* Through the tap: the node keeps its SADR, no stray record appears. */
    osa_tap_reset();
    g.rec.has_payload = true;
    osa_tap_packet(&g.rec);
    ASSERT_EQ(osa_node_table()->size(), 1u);
    EXPECT_EQ(osa_node_table()->begin()->first, adr);
    EXPECT_EQ(osa_node_table()->begin()->second->sdn, c.sdn);
}

INSTANTIATE_TEST_SUITE_P(
    FrameClasses, Detection,
    ::testing::Values(DetectCase{"spdo_crc8", false, 2, false, 1}, DetectCase{"spdo_crc8_full", false, 8, false, 5},
                      DetectCase{"spdo_crc16", false, 12, false, 1},
                      DetectCase{"spdo_sdn_above_255", false, 3, false, 300},
                      DetectCase{"spdo_40bit", false, 4, true, 1}, DetectCase{"spdo_40bit_crc16", false, 10, true, 7},
                      DetectCase{"ssdo_crc8", true, 4, false, 1}, DetectCase{"ssdo_crc16", true, 16, false, 42}),
    [](const ::testing::TestParamInfo<DetectCase> &i) { return std::string(i.param.name); });

TEST_F(Collection, ElevenByteFramesUseLearnedTails) {
    generated shortf = make_frame(spdo_info(5, 0x0321), 0, 1, kUdid);
    ASSERT_EQ(shortf.rec.frame_len, 11u);
    osa_node *n5 = osa_get_node(5);
    EXPECT_EQ(osa_detect_udid(n5, &shortf.rec), -1);  // nothing learned yet
    EXPECT_EQ(n5->udid_valid, 0u);

    /* Another SCM's tail first: it must not match. */
    uint8_t other[6] = {0x02, 0xD7, 0xA5, 0x11, 0x22, 0x33};
    generated foreign = make_frame(spdo_info(6, 0x0100), 2, 1, other);
    ASSERT_EQ(osa_detect_udid(osa_get_node(6), &foreign.rec), 0);
    EXPECT_EQ(osa_detect_udid(n5, &shortf.rec), -1);

    generated longf = make_frame(spdo_info(2, 0x0400), 2, 1, kUdid);
    ASSERT_EQ(osa_detect_udid(osa_get_node(2), &longf.rec), 0);
    ASSERT_EQ(osa_udid_candidates().size(), 2u);
    ASSERT_EQ(osa_detect_udid(n5, &shortf.rec), 0);
    EXPECT_EQ(0, std::memcmp(n5->scm_udid, kUdid, 6));
    EXPECT_EQ(n5->sdn, 1);
    EXPECT_EQ(osa_udid_candidates().size(), 2u);  // no duplicates
}

TEST_F(Collection, LearnedTailsAreCapped) {
    /* Every longer frame with a new UDID teaches a tail: crafted traffic must
     * not grow the list (each tail is one more chance for a short frame to
     * match by accident). The first tails learned stay. */
    for (unsigned i = 0; i < 200; ++i) {
        const uint8_t udid[6] = {0x02, 0xD7, 0xA5, static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 0x5C};
        generated g = make_frame(spdo_info(static_cast<uint16_t>(2 + i), 0x0100), 2, 1, udid);
        g.rec.frame_number = i + 1;
        osa_tap_packet(&g.rec);
    }
    const auto &tails = osa_udid_candidates();
    ASSERT_EQ(tails.size(), osa_max_udid_tails);
    for (unsigned i = 0; i < tails.size(); ++i) EXPECT_EQ(tails[i], (i << 16) | 0x5Cu) << i;
}

TEST_F(Collection, TailMatchMovesFramesOnlyToNodesHoldingTheUdid) {
    /* Node 2's longer frame teaches the tail. */
    generated teach = make_frame(spdo_info(2, 0x0400), 2, 1, kUdid);
    osa_tap_packet(&teach.rec);
    ASSERT_EQ(osa_udid_candidates().size(), 1u);

    /* An 11-byte frame of node 5 that the dissector names 9: the tail fits,
     * but node 5 never showed this UDID itself, so nothing moves. */
    generated shortf = make_frame(spdo_info(5, 0x0321), 0, 1, kUdid);
    shortf.rec.sender = 9;
    osa_tap_packet(&shortf.rec);
    const osa_node_map *t = osa_node_table();
    EXPECT_EQ(t->count(5), 0u);
    ASSERT_EQ(t->count(9), 1u);
    EXPECT_EQ(t->at(9)->udid_valid, 0u);
    EXPECT_EQ(t->at(9)->spdo_count, 1u);

    /* Once node 5's own longer frame proved the UDID, the same frame goes to 5. */
    generated own = make_frame(spdo_info(5, 0x0330), 2, 1, kUdid);
    osa_tap_packet(&own.rec);
    ASSERT_EQ(t->at(5)->udid_valid, 1u);
    generated again = make_frame(spdo_info(5, 0x0340), 0, 1, kUdid);
    again.rec.sender = 10;
    osa_tap_packet(&again.rec);
    EXPECT_EQ(t->count(10), 0u);
    EXPECT_EQ(t->at(5)->spdo_count, 2u);
}

TEST_F(Collection, DetectionRefusesWhatItCannotSolve) {
    osa_node *n = osa_get_node(3);
    osa_gen::frame_info treq = spdo_info(3, 0x0100);
    treq.msg_id = osa_frame::spdo_time_request;
    treq.tadr = 1;
    auto detect = [n](generated g) { return osa_detect_udid(n, &g.rec); };
    EXPECT_EQ(detect(make_frame(treq, 2, 1, kUdid)), -1);
    osa_gen::frame_info tres = treq;
    tres.msg_id = osa_frame::spdo_time_response;
    EXPECT_EQ(detect(make_frame(tres, 2, 1, kUdid)), -1);
    EXPECT_EQ(detect(make_frame(ssdo_info(3, osa_frame::slim_ssdo_request), 4, 1, kUdid)), -1);

    /* Another vendor's prefix that leaves the ID bits of sub-frame 2 wrong. */
    uint8_t foreign[6] = {0x02, 0xD7 ^ 0x04, 0xA5, 0x01, 0x02, 0x03};
    EXPECT_EQ(detect(make_frame(spdo_info(3, 0x0100), 2, 1, foreign)), -1);
    EXPECT_EQ(detect(make_frame(ssdo_info(3), 4, 1, foreign)), -1);

    generated cut = make_frame(spdo_info(3, 0x0100), 2, 1, kUdid);
    cut.rec.frame_avail -= 1;  // captured short of its length
    EXPECT_EQ(osa_detect_udid(n, &cut.rec), -1);
    generated bad_offset = make_frame(spdo_info(3, 0x0100), 2, 1, kUdid);
    bad_offset.rec.subframe2 = 40;
    EXPECT_EQ(osa_detect_udid(n, &bad_offset.rec), -1);
    generated tiny = make_frame(spdo_info(3, 0x0100), 0, 1, kUdid);
    tiny.rec.frame_len = 10;
    EXPECT_EQ(osa_detect_udid(n, &tiny.rec), -1);
    EXPECT_EQ(n->udid_valid, 0u);
    EXPECT_TRUE(osa_udid_candidates().empty());
}

TEST_F(Collection, MalformedFramesAreNotUsedForDetection) {
    generated g = make_frame(spdo_info(3, 0x0100), 2, 1, kUdid);
    g.rec.kind = 1;
    osa_tap_packet(&g.rec);
    EXPECT_EQ(osa_get_node(3)->udid_valid, 0u);
    g.rec.kind = 0;
    osa_tap_packet(&g.rec);
    EXPECT_EQ(osa_get_node(3)->udid_valid, 1u);
    EXPECT_EQ(osa_get_node(3)->sdn, 1);
}

TEST_F(Collection, RekeyKeepsOneRecordPerSadr) {
    /* The dissector names SADR 9 as sender, the frame itself says 4. */
    generated g = make_frame(ssdo_info(4), 4, 1, kUdid);
    g.rec.sender = 9;
    osa_get_node(4)->snmt_count = 2;  // node 4 is known already
    ASSERT_EQ(osa_tap_packet(&g.rec), OSA_TAP_DONT_REDRAW);
    const osa_node_map *t = osa_node_table();
    EXPECT_EQ(t->count(9), 0u);  // created for this frame only, then dropped
    ASSERT_EQ(t->count(4), 1u);
    const osa_node *n4 = t->at(4).get();
    EXPECT_EQ(n4->ssdo_count, 1u);
    EXPECT_EQ(n4->udid_valid, 1u);
    EXPECT_EQ(0, std::memcmp(n4->scm_udid, kUdid, 6));

    /* A sender record with history stays in place. */
    generated h = make_frame(ssdo_info(6), 4, 1, kUdid);
    h.rec.sender = 8;
    osa_get_node(8)->spdo_count = 3;
    osa_tap_packet(&h.rec);
    EXPECT_EQ(t->count(8), 1u);
    EXPECT_EQ(t->at(6)->ssdo_count, 1u);
    EXPECT_EQ(t->at(8)->ssdo_count, 0u);
}

TEST_F(Collection, CounterHighByteUsesRecoveredUdid) {
    /* Counter crosses 0x00FF -> 0x0100 and later 0x01FF -> 0x0200: the high
     * byte only reads right when unscrambled with the recovered UDID. */
    uint64_t ctr = 0x00C0;
    for (uint32_t frame = 1; frame <= 8; ++frame, ctr += 0x40) {
        generated g = make_frame(spdo_info(2, ctr), 2, 1, kUdid);
        g.rec.frame_number = frame;
        g.rec.spdo_counter16 = static_cast<uint16_t>(ctr & 0xFF);  // what the dissector knew
        g.rec.has_payload = true;
        osa_tap_packet(&g.rec);
    }
    const osa_connection *conn = osa_get_connection(osa_get_node(2));
    ASSERT_NE(conn, nullptr);
    ASSERT_EQ(conn->counter_delta.series.size(), 7u);
    for (const auto &s : conn->counter_delta.series) EXPECT_EQ(s.delta, 0x40u) << "frame " << s.frame;
}

TEST_F(Collection, MissingCyclesAreCounted) {
    /* Steps of 100 per cycle, then 7 cycles lost (a step of 800), later 25
     * (2600); a step near the regular one counts no cycle. */
    struct gap {
        uint32_t after;
        uint64_t step;
        uint64_t missing;
    } gaps[] = {{6, 800, 7}, {14, 2600, 25}};
    uint64_t ctr = 1000;
    uint32_t frame = 1;
    for (const gap &g : gaps) {
        for (; frame <= g.after; ++frame, ctr += 100) {
            auto r = spdo(2, frame, static_cast<uint16_t>(ctr));
            osa_tap_packet(&r);
        }
        ctr += g.step - 100;
        auto r = spdo(2, frame++, static_cast<uint16_t>(ctr));
        osa_tap_packet(&r);
        ctr += 100;
        const osa_connection *conn = osa_find_connection(2);
        ASSERT_NE(conn, nullptr);
        ASSERT_FALSE(conn->log.empty());
        EXPECT_EQ(conn->log.front().frame, frame - 1);
        EXPECT_EQ(conn->log.front().value, g.missing);
    }
    osa_sample_window w;
    w.init(5);
    EXPECT_EQ(osa_cycles_missing(w, 800), 0u);  // no regular step known
    w.push(100.0f);
    EXPECT_EQ(osa_cycles_missing(w, 130), 0u);  // a late SPDO, no cycle lost
    EXPECT_EQ(osa_cycles_missing(w, 160), 1u);
}

TEST_F(Collection, FortyBitCountersAbove2To32KeepTheirStep) {
    /* A 40-bit counter beyond 2^32: the delta is the counter's step, not
     * the step plus 2^32 from a value cut to 32 bits. */
    uint64_t ctr = 0x1FFFFFF00ULL;
    for (uint32_t frame = 1; frame <= 6; ++frame, ctr += 100) {
        auto r = spdo(2, frame, 0);
        r.spdo_40bit = true;
        r.spdo_counter40 = ctr;
        osa_tap_packet(&r);
    }
    const osa_connection *conn = osa_find_connection(2);
    ASSERT_NE(conn, nullptr);
    ASSERT_EQ(conn->counter_delta.series.size(), 5u);
    for (const auto &s : conn->counter_delta.series) EXPECT_EQ(s.delta, 100u) << "frame " << s.frame;
    EXPECT_EQ(conn->failure_count + conn->netsync_count, 0u);
}

TEST_F(Collection, CounterWidthComesFromTheFrame) {
    /* UDID byte 4 with bits 0xC0 set: a dissector that does not know the
     * UDID reads the TR byte scrambled and gets the 40-bit flags of a 16-bit
     * SPDO wrong, and those of a 40-bit SPDO as well. */
    const uint8_t udid[6] = {0x02, 0xD7, 0xA5, 0xAB, 0xCD, 0xEF};
    osa_node *node = osa_get_node(2);
    std::memcpy(node->scm_udid, udid, 6);
    node->udid_valid = 1;
    node->sdn = 1;
    node->sdn_known = 1;
    osa_node *node40 = osa_get_node(7);
    std::memcpy(node40->scm_udid, udid, 6);
    node40->udid_valid = 1;
    node40->sdn = 1;
    node40->sdn_known = 1;
    uint64_t ctr = 0x00C0, ctr40 = 0x0B00FFC0ULL;
    for (uint32_t frame = 1; frame <= 12; frame += 2, ctr = (ctr + 0x40) & 0xFFFF, ctr40 += 0x40) {
        generated g = make_frame(spdo_info(2, ctr), 2, 1, udid);
        g.rec.frame_number = frame;
        g.rec.has_payload = true;
        g.rec.spdo_counter16 = static_cast<uint16_t>(ctr & 0xFF);
        g.rec.spdo_40bit = true;  // what the dissector made of the scrambled TR byte
        g.rec.spdo_counter40 = 0x3300000000ULL + frame;
        osa_tap_packet(&g.rec);
        generated g40 = make_frame(spdo_info(7, ctr40, true), 4, 1, udid);
        g40.rec.frame_number = frame + 1;
        g40.rec.has_payload = true;
        g40.rec.spdo_counter16 = static_cast<uint16_t>(ctr40 & 0xFF);
        g40.rec.spdo_40bit = false;
        osa_tap_packet(&g40.rec);
    }
    for (uint32_t sadr : {2u, 7u}) {
        const osa_connection *conn = osa_find_connection(sadr);
        ASSERT_NE(conn, nullptr) << sadr;
        ASSERT_EQ(conn->counter_delta.series.size(), 5u) << sadr;
        for (const auto &s : conn->counter_delta.series)
            EXPECT_EQ(s.delta, 0x40u) << "SADR " << sadr << " frame " << s.frame;
        EXPECT_EQ(conn->failure_count + conn->netsync_count, 0u) << sadr;
    }
    EXPECT_EQ(osa_find_connection(7)->counter_delta.last, ctr40 - 0x40);
}

TEST_F(Collection, TimeSyncPairFromFrames) {
    /* Node 12 asks node 2 for the time; the dissector had no UDID. */
    generated learn = make_frame(spdo_info(12, 0x0200), 2, 1, kUdid);
    osa_tap_packet(&learn.rec);
    osa_gen::frame_info treq = spdo_info(12, 0x0210);
    treq.msg_id = osa_frame::spdo_time_request;
    treq.tadr = 2;
    generated g = make_frame(treq, 2, 1, kUdid);
    g.rec.has_payload = true;
    g.rec.spdo_partner = 0x155;  // garbage: the dissector decoded it without UDID
    g.rec.frame_number = 2;
    osa_tap_packet(&g.rec);
    EXPECT_EQ(osa_get_node(12)->partner, osa_get_node(2));
    EXPECT_EQ(osa_get_node(12)->is_virtual, 1u);
    EXPECT_EQ(osa_get_node(2)->is_virtual, 0u);
    /* A recovered SDN is not a known one: nothing is handed over. */
    EXPECT_EQ(osa_get_node(2)->udid_valid, 0u);
}

TEST_F(Collection, AllZeroUdidIsNotValid) {
    /* The dissector without a configured UDID may still flag it valid. */
    generated g = make_frame(spdo_info(2, 0x0456), 2, 1, kUdid);
    g.rec.udid_valid = true;  // scm_udid stays all zero
    g.rec.has_payload = true;
    osa_tap_packet(&g.rec);
    const osa_node &n = *osa_node_table()->at(2);
    EXPECT_EQ(0, std::memcmp(n.scm_udid, kUdid, 6));  // recovered from the frame instead
    EXPECT_EQ(n.sdn, 1);
}

TEST_F(Collection, SpdoWithoutSdnKeepsTheKnownSdn) {
    /* SNMT tells the domain; the first SPDO after it has the UDID but no SDN. */
    std::vector<uint8_t> snmt_frame = osa_gen::build_frame(
        [] {
            osa_gen::frame_info f;
            f.msg_id = osa_frame::snmt_service_response;
            f.msg_type = osa_frame::type_snmt;
            f.adr = 1;
            f.tadr = 4;
            return f;
        }(),
        9, kUdid, {osa_frame::snmt_ext_status_op});
    osa_frame_record s = snmt(4, osa_frame::snmt_ext_status_op, false);
    s.frame = snmt_frame.data();
    s.frame_avail = s.frame_len = static_cast<uint32_t>(snmt_frame.size());
    s.subframe2 = static_cast<uint16_t>(osa_frame::subframe2_offset(1));
    osa_tap_packet(&s);
    EXPECT_EQ(osa_get_node(4)->sdn, 9);

    auto a = spdo(4, 20, 100);
    a.sdn = 0;
    auto b = spdo(4, 21, 110);
    b.sdn = 0;
    osa_tap_packet(&a);
    osa_tap_packet(&b);
    EXPECT_EQ(osa_get_node(4)->sdn, 9);
    const osa_connection *c = osa_find_connection(4);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->counter_delta.series.size(), 1u);
}

TEST_F(Collection, RandomRecordsKeepTheTablesConsistent) {
    /* Garbage as a dissector might report it from a broken capture. */
    std::mt19937 rng(1234);
    std::vector<uint8_t> buf(600);
    const uint8_t types[] = {osa_frame::type_snmt, osa_frame::type_spdo, osa_frame::type_ssdo,
                             osa_frame::type_slim_ssdo, 0x80};
    for (int i = 0; i < 20000; ++i) {
        for (auto &b : buf) b = static_cast<uint8_t>(rng());
        osa_frame_record r;
        r.frame = buf.data();
        r.frame_avail = rng() % buf.size();
        r.frame_len = rng() % 700;
        r.subframe2 = static_cast<uint16_t>(rng() % 300);
        r.sender = static_cast<uint16_t>(rng() % 1024);
        r.sdn = static_cast<uint16_t>(rng() % 3);
        r.msg_type = types[rng() % 5];
        r.msg_id = static_cast<uint8_t>(r.msg_type | (rng() & 0x1C));
        r.udid_valid = rng() % 4 == 0;
        if (r.udid_valid) std::memcpy(r.scm_udid, kUdid, 6);
        r.is_request = rng() & 1;
        r.has_payload = rng() & 1;
        r.snmt_ext_id = static_cast<uint8_t>(rng() % 4);
        r.spdo_partner = static_cast<uint16_t>(rng() % 1024);
        r.spdo_40bit = rng() % 8 == 0;
        r.spdo_counter16 = static_cast<uint16_t>(rng());
        r.spdo_counter40 = rng();
        r.spdo_conn_valid = rng() & 1;
        r.frame_number = static_cast<uint32_t>(i + 1);
        osa_tap_packet(&r);
        if (i % 1000 == 0) osa_tap_draw();
    }
    for (const auto &e : *osa_node_table()) {
        EXPECT_EQ(e.first, e.second->sadr);
        EXPECT_NE(e.first, 0u);
        if (e.second->partner) {
            EXPECT_EQ(osa_node_table()->count(e.second->partner->sadr), 1u);
        }
    }
}
