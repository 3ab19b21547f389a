/* The collection fed by Wireshark's real openSAFETY dissector: generated
 * captures are read and dissected by libwireshark in this process. */
#include "osa_collection.h"
#include "osa_frame.h"
#include "osa_gen.h"
#include "ws_harness.h"

#include <glib.h>
#include <wsutil/crc16.h>
#include <wsutil/crc8.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <unistd.h>

namespace {

const uint8_t kUdid[6] = {0x02, 0xD7, 0xA5, 0x3C, 0x5A, 0x96};

struct expected_counts {
    uint32_t snmt = 0, ssdo = 0, spdo = 0;
};

/* Per-SADR counts as the dissector attributes frames: SPDOs to their
 * producer; SNMT and SSDO to the address in sub-frame 2 when the dissector
 * can read it (always for SNMT, with a known UDID for SSDO), else SSDO
 * requests to sub-frame 1's address and responses to nobody. */
std::map<uint16_t, expected_counts> expected(const osa_gen::capture &cap, bool udid_known) {
    std::map<uint16_t, expected_counts> m;
    for (const auto &f : cap.frames) {
        if (f.msg_type == osa_frame::type_spdo)
            m[f.adr].spdo++;
        else if (f.msg_type == osa_frame::type_snmt)
            m[f.tadr].snmt++;
        else if (udid_known)
            m[f.tadr].ssdo++;
        else if (!f.response)
            m[f.adr].ssdo++;
    }
    return m;
}

class WiresharkLoop : public ::testing::Test {
protected:
    std::string path;

    void SetUp() override {
        char tmpl[] = "/tmp/osa_loop_XXXXXX";
        const int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        close(fd);
        path = tmpl;
    }
    void TearDown() override { std::remove(path.c_str()); }

    osa_gen::capture run(const osa_gen::config &cfg, bool pcapng = false) {
        osa_gen::capture cap = osa_gen::generate(cfg);
        std::string err;
        EXPECT_TRUE(osa_gen::write_pcap(cap, path, pcapng, &err)) << err;
        EXPECT_TRUE(osa_ws_dissect_file(path, &err)) << err;
        return cap;
    }

    static void expect_counts(const osa_gen::capture &cap, bool udid_known) {
        const osa_node_map *t = osa_node_table();
        ASSERT_NE(t, nullptr);
        const auto want = expected(cap, udid_known);
        std::set<uint32_t> want_nodes, got_nodes;
        for (const auto &e : want) want_nodes.insert(e.first);
        for (const auto &e : *t) got_nodes.insert(e.first);
        EXPECT_EQ(got_nodes, want_nodes);
        for (const auto &e : want) {
            auto it = t->find(e.first);
            if (it == t->end()) continue;
            EXPECT_EQ(it->second->spdo_count, e.second.spdo) << "SADR " << e.first;
            EXPECT_EQ(it->second->ssdo_count, e.second.ssdo) << "SADR " << e.first;
            EXPECT_EQ(it->second->snmt_count, e.second.snmt) << "SADR " << e.first;
        }
    }
};

const osa_node &node(uint32_t sadr) {
    static osa_node none;
    const osa_node_map *t = osa_node_table();
    if (!t || !t->count(sadr)) return none;
    return *t->at(sadr);
}

}  // namespace

TEST(WsutilCrc, SameAsCollection) {
    uint8_t buf[64];
    for (unsigned i = 0; i < sizeof buf; ++i) buf[i] = static_cast<uint8_t>(i * 37 + 11);
    for (unsigned n = 0; n <= sizeof buf; ++n) {
        EXPECT_EQ(osa_frame::crc8_0x2f(buf, n), crc8_0x2F(buf, n, 0)) << n;
        EXPECT_EQ(osa_frame::crc16_0x755b(buf, n), crc16_0x755B(buf, n, 0)) << n;
    }
}

TEST_F(WiresharkLoop, AnnouncedUdidOverUdp) {
    const osa_gen::config cfg = osa_gen::default_config();
    const osa_gen::capture cap = run(cfg);
    expect_counts(cap, true);

    for (uint32_t sadr : {1, 2, 3, 4, 5, 6, 7, 12}) {
        const osa_node &n = node(sadr);
        EXPECT_EQ(n.udid_valid, 1u) << sadr;
        EXPECT_EQ(0, std::memcmp(n.scm_udid, kUdid, 6)) << sadr;
        EXPECT_EQ(n.sdn, cfg.sdn) << sadr;
    }
    /* Time-sync pairs and the additional address. */
    EXPECT_EQ(node(3).partner, &node(1));
    EXPECT_EQ(node(1).partner, &node(3));
    EXPECT_EQ(node(12).partner, &node(2));
    EXPECT_EQ(node(12).is_virtual, 1u);
    EXPECT_EQ(node(2).is_virtual, 0u);
    EXPECT_EQ(node(3).is_virtual + node(1).is_virtual, 0u);
    EXPECT_EQ(node(2).operational, 1u);

    /* Steady producers: one SPDO per cycle, counter step 100. */
    const osa_connection *c2 = osa_find_connection(2);
    ASSERT_NE(c2, nullptr);
    EXPECT_EQ(c2->counter_delta.series.size(), cfg.cycles - 1);
    for (const auto &s : c2->counter_delta.series) EXPECT_EQ(s.delta, 100u) << "frame " << s.frame;

    /* Node 3 loses 7 cycles: one counter delta of 800. */
    const osa_connection *c3 = osa_find_connection(3);
    ASSERT_NE(c3, nullptr);
    unsigned jumps = 0;
    for (const auto &s : c3->counter_delta.series) jumps += s.delta == 800u;
    EXPECT_EQ(jumps, 1u);

    /* Node 4 wraps its 16-bit counter once (the modulus is 65535). */
    const osa_connection *c4 = osa_find_connection(4);
    ASSERT_NE(c4, nullptr);
    unsigned wraps = 0;
    for (const auto &s : c4->counter_delta.series) {
        EXPECT_TRUE(s.delta == 100u || s.delta == 99u) << s.delta;
        wraps += s.delta == 99u;
    }
    EXPECT_EQ(wraps, 1u);

    /* Node 7 counts 40 bits. */
    const osa_connection *c7 = osa_find_connection(7);
    ASSERT_NE(c7, nullptr);
    ASSERT_FALSE(c7->counter_delta.series.empty());
    for (const auto &s : c7->counter_delta.series) EXPECT_EQ(s.delta, 100u);

    /* Connection validity: node 6 becomes valid at cycle 3, node 2 drops
     * out for five cycles. */
    const osa_connection *c6 = osa_find_connection(6);
    ASSERT_NE(c6, nullptr);
    ASSERT_FALSE(c6->log.empty());
    const osa_log_entry &first6 = c6->log.back();
    EXPECT_EQ(first6.kind, OSA_LOG_VALID_CHANGED);
    EXPECT_EQ(first6.value, 1u);
    unsigned changes2 = 0;
    for (const auto &e : c2->log) changes2 += e.kind == OSA_LOG_VALID_CHANGED;
    EXPECT_EQ(changes2, 3u);  // invalid -> valid, valid -> invalid, back

    /* Outages show up as network-synchronisation errors: 7 lost cycles the
     * network may compensate, 25 it will not. */
    EXPECT_EQ(c3->netsync_count, 1u);
    EXPECT_EQ(c3->failure_count, 0u);
    ASSERT_EQ(c3->log.size(), 2u);
    EXPECT_EQ(c3->log.front().kind, OSA_LOG_MAY_COMPENSATE);
    EXPECT_EQ(c3->log.front().value, 7u);
    EXPECT_EQ(c3->sync_errors.series.size(), 1u);
    EXPECT_EQ(c6->failure_count, 1u);
    EXPECT_EQ(c6->netsync_count, 0u);
    EXPECT_EQ(c6->log.front().kind, OSA_LOG_WILL_FAIL);
    EXPECT_EQ(c6->sync_errors.series.front().delta, 2600u);  // 26 cycles of 100
    EXPECT_EQ(c2->netsync_count + c2->failure_count, 0u);

    /* SPDO frame range. */
    uint32_t first = 0, last = 0;
    for (const auto &f : cap.frames)
        if (f.msg_type == osa_frame::type_spdo && osa_find_connection(f.adr)) {
            if (!first) first = f.packet;
            last = f.packet;
        }
    EXPECT_EQ(osa_first_frame(), first);
    EXPECT_EQ(osa_last_frame(), last);
}

TEST_F(WiresharkLoop, RecoveredUdidWithoutAnnouncement) {
    /* The dissector remembers a detected UDID for the file; start clean. */
    ASSERT_TRUE(osa_ws_set_pref("opensafety.scm_udid_autoset", "FALSE"));
    osa_gen::config cfg = osa_gen::default_config();
    cfg.announce_udid = false;
    cfg.sdn = 37;
    const osa_gen::capture cap = run(cfg, true);
    ASSERT_TRUE(osa_ws_set_pref("opensafety.scm_udid_autoset", "TRUE"));
    expect_counts(cap, false);

    for (uint32_t sadr : {2, 3, 4, 5, 6, 7, 12, 1}) {
        const osa_node &n = node(sadr);
        EXPECT_EQ(n.udid_valid, 1u) << sadr;
        EXPECT_EQ(0, std::memcmp(n.scm_udid, kUdid, 6)) << sadr;
        EXPECT_EQ(n.sdn, cfg.sdn) << sadr;
    }
    ASSERT_FALSE(osa_udid_candidates().empty());
    EXPECT_EQ(osa_udid_candidates()[0], 0x3C5A96u);
    EXPECT_EQ(node(12).partner, &node(2));
    EXPECT_EQ(node(12).is_virtual, 1u);
    EXPECT_EQ(node(3).partner, &node(1));

    /* Counters are complete although the dissector only knew their low byte. */
    const osa_connection *c2 = osa_find_connection(2);
    ASSERT_NE(c2, nullptr);
    for (const auto &s : c2->counter_delta.series) EXPECT_EQ(s.delta, 100u) << "frame " << s.frame;
}

TEST_F(WiresharkLoop, UnknownUdidWithHighFlagBitsInByte4) {
    /* UDID byte 4 has bits 0xC0 set and nobody announces the UDID: the
     * dissector reads sub-frame 2's TR byte scrambled, so its 40-bit flag is
     * wrong for 16-bit and 40-bit SPDOs alike. The counters still step by
     * the cycle, and only the real outages count as sync errors. */
    for (const uint8_t byte4 : {0xCD, 0x40, 0x80, 0xC0}) {
        SCOPED_TRACE(int(byte4));
        ASSERT_TRUE(osa_ws_set_pref("opensafety.scm_udid_autoset", "FALSE"));
        osa_gen::config cfg = osa_gen::default_config();
        cfg.announce_udid = false;
        const uint8_t udid[6] = {0x02, 0xD7, 0xA5, 0xAB, byte4, 0xEF};
        std::memcpy(cfg.udid, udid, 6);
        run(cfg, true);
        ASSERT_TRUE(osa_ws_set_pref("opensafety.scm_udid_autoset", "TRUE"));
        for (uint32_t sadr : {2, 4, 5, 7}) {
            const osa_connection *c = osa_find_connection(sadr);
            ASSERT_NE(c, nullptr) << sadr;
            EXPECT_EQ(c->failure_count + c->netsync_count, 0u) << sadr;
            for (const auto &s : c->counter_delta.series)
                EXPECT_TRUE(s.delta == 100u || (sadr == 4 && s.delta == 99u)) << sadr << ": " << s.delta;
        }
        const osa_connection *c3 = osa_find_connection(3);
        ASSERT_NE(c3, nullptr);
        EXPECT_EQ(c3->netsync_count, 1u);
        EXPECT_EQ(c3->failure_count, 0u);
        const osa_connection *c6 = osa_find_connection(6);
        ASSERT_NE(c6, nullptr);
        EXPECT_EQ(c6->failure_count, 1u);
    }
}

TEST_F(WiresharkLoop, PowerlinkCarriesTheSameNetwork) {
    osa_gen::config cfg = osa_gen::default_config();
    cfg.via = osa_gen::transport::powerlink;
    cfg.pre_op_at_end = true;
    const osa_gen::capture cap = run(cfg, true);
    expect_counts(cap, true);
    for (uint32_t sadr : {2, 3, 4, 5, 6, 7})
        EXPECT_EQ(node(sadr).operational, 0u) << sadr;  // status responses: pre-operational
    EXPECT_EQ(node(12).is_virtual, 1u);
    ASSERT_NE(osa_find_connection(5), nullptr);
    EXPECT_EQ(osa_find_connection(5)->counter_delta.series.size(), cfg.cycles - 1);
}

TEST_F(WiresharkLoop, RealPowerlinkCapturesRunClean) {
    /* Real POWERLINK traffic: the openSAFETY heuristics see every payload;
     * whatever they report must leave a consistent table. */
    const std::string dir = SENTRA_SHARED_CAPTURES;
    const char *names[] = {"powerlink_robot_with_iperf.pcapng.gz", "powerlink_1cn_boot.pcapng",
                           "powerlink_example.pcap"};
    unsigned seen = 0;
    for (const char *name : names) {
        const std::string file = dir + "/" + name;
        if (access(file.c_str(), R_OK) != 0) continue;
        ++seen;
        std::string err;
        ASSERT_TRUE(osa_ws_dissect_file(file, &err)) << name << ": " << err;
        const osa_node_map *t = osa_node_table();
        ASSERT_NE(t, nullptr);
        for (const auto &e : *t) {
            EXPECT_EQ(e.first, e.second->sadr);
            EXPECT_NE(e.first, 0u);
            if (e.second->partner) {
                EXPECT_EQ(t->count(e.second->partner->sadr), 1u);
            }
        }
    }
    if (seen == 0) GTEST_SKIP() << "shared captures not found in " << dir;
}
