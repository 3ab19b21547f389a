// Cycle samples: what the engine records per SoC, per CN answer and per
// event, the late answers, reset, two networks, and the bounded lists
// (decimation keeps the summaries exact and the plots spanning everything).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "cycle_report.h"
#include "cycle_samples.h"
#include "plk_frame_builder.h"

namespace {

constexpr uint64_t US = 1000;  // ns

const flowlens_cycle_samples &samples_of(const scenario &s) {
    const flowlens_cycle_samples *samples = flowlens_samples(s.engine());
    EXPECT_NE(samples, nullptr);
    return *samples;
}

// SoC (RelativeTime advancing 1000 us), PReq/PRes to CN 1 and 2, SoA; the
// answers take 3 and 5 us. Returns the SoC's frame number.
uint64_t cycle(scenario &s, uint32_t relative_time_us, uint64_t soc_gap) {
    uint64_t frame = s.feed(plk::soc(relative_time_us), soc_gap);
    s.feed(plk::preq(1), 10 * US);
    s.feed(plk::pres(1), 3 * US);
    s.feed(plk::preq(2), 10 * US);
    s.feed(plk::pres(2), 5 * US);
    s.feed(plk::soa(), 10 * US);
    return frame;
}

TEST(CycleSamples, CyclesAndAnswersOfRegularCycles) {
    scenario s;
    const uint64_t first = cycle(s, 1000, 0);
    const uint64_t first_time = s.time - 38 * US;
    cycle(s, 2000, 1000 * US - 38 * US);
    cycle(s, 3000, 1010 * US - 38 * US);  // 10 us late
    const flowlens_cycle_samples &c = samples_of(s);
    ASSERT_EQ(c.cycles(0).size(), 3u);
    EXPECT_EQ(c.cycle_count(0), 3u);
    EXPECT_EQ(c.cycles(0)[0].soc_frame, first);
    EXPECT_EQ(c.cycles(0)[0].soc_time, first_time);
    EXPECT_EQ(c.cycles(0)[0].cycle_time, 0u) << "no cycle before the first SoC";
    EXPECT_EQ(c.cycles(0)[1].soc_frame, first + 6);
    EXPECT_EQ(c.cycles(0)[1].cycle_time, 1000 * US);
    EXPECT_EQ(c.cycles(0)[2].cycle_time, 1010 * US);
    EXPECT_EQ(c.cycles(0)[2].nominal_us, 1000u) << "RelativeTime advanced 1000 us per SoC";
    EXPECT_TRUE(c.cycles(1).empty());

    ASSERT_EQ(c.responses(0).size(), 6u);
    const flowlens_response_point &r = c.responses(0)[3];
    EXPECT_EQ(r.node, 2);
    EXPECT_EQ(r.preq_frame, first + 9);
    EXPECT_EQ(r.pres_frame, first + 10);
    EXPECT_EQ(r.response_time, 5 * US);
    EXPECT_EQ(r.pres_time, first_time + 1000 * US + 38 * US - 10 * US);

    const std::vector<flowlens_cn_response_summary> cns = c.cn_summaries(0);
    ASSERT_EQ(cns.size(), 2u);
    EXPECT_EQ(cns[0].node, 1);
    EXPECT_EQ(cns[0].count, 3u);
    EXPECT_EQ(cns[0].sum, 9 * US);
    EXPECT_EQ(cns[1].min, 5 * US);
    EXPECT_EQ(cns[1].max, 5 * US);
    EXPECT_EQ(cns[0].late + cns[1].late, 0u);
    EXPECT_TRUE(c.events(0).empty()) << s.dump();
}

TEST(CycleSamples, LateAnswersAndEventsWithTheirTexts) {
    scenario s;
    cycle(s, 0, 0);
    cycle(s, 0, 1000 * US);
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::preq(1));
    uint64_t next_preq = s.feed(plk::preq(2));  // CN 1 gave no answer: late
    s.feed(plk::asnd(2, 240, 3));               // not a cycle frame: still waiting for CN 2
    uint64_t pres2 = s.feed(plk::pres(2), 7 * US);
    s.feed(plk::preq(1));
    s.feed(plk::pres(2));  // another node's PRes: CN 1 late again
    s.feed(plk::preq(2));
    s.feed(plk::soa());    // MN went on: CN 2 late
    s.feed(plk::preq(1));  // open at the end: not counted

    const flowlens_cycle_samples &c = samples_of(s);
    const std::vector<flowlens_cn_response_summary> cns = c.cn_summaries(0);
    ASSERT_EQ(cns.size(), 2u);
    EXPECT_EQ(cns[0].late, 2u);
    EXPECT_EQ(cns[1].late, 1u);
    EXPECT_EQ(cns[1].count, 3u) << "the answer after the ASnd counts";
    EXPECT_EQ(c.responses(0).back().pres_frame, pres2);
    EXPECT_EQ(c.responses(0).back().preq_frame, next_preq);
    EXPECT_EQ(c.responses(0).back().response_time, 10 * US + 7 * US);

    // Every severity-2 event of the callback is a sample with its table text.
    int reported = 0;
    for (const recorded_event &e : s.events) reported += e.severity == 2;
    ASSERT_EQ(int(c.events(0).size()), reported) << s.dump();
    const flowlens_event_point &unexpected = c.events(0)[0];
    EXPECT_EQ(unexpected.frame, next_preq);
    EXPECT_EQ(unexpected.severity, 2);
    EXPECT_EQ(unexpected.text, flowlens_event_texts[FLOWLENS_EV_UNEXPECTED_PREQ]);
}

TEST(CycleSamples, InformationalMessagesAreKeptOnce) {
    scenario s;
    cycle(s, 0, 0);
    s.feed(plk::soc(), 1000 * US);
    s.feed(plk::soa());
    s.feed(plk::asnd(1, 240, 3));
    s.feed(plk::asnd(2, 240, 3));
    uint64_t soc = s.feed(plk::soc(), 1000 * US);  // closes a slot with two ASnd
    const flowlens_cycle_samples &c = samples_of(s);
    ASSERT_FALSE(c.events(0).empty()) << s.dump();
    const flowlens_event_point &e = c.events(0).back();
    EXPECT_EQ(e.frame, soc);
    EXPECT_EQ(e.severity, 0);
    EXPECT_STREQ(e.text, "Multiple ASnd (2 Slots)");

    // A message's text is kept by the collector, once per different text.
    flowlens_cycle_samples own;
    char text[32];
    std::strcpy(text, "NMT state changed");
    own.add_message(0, 5, 0, text);
    std::strcpy(text, "overwritten");
    own.add_message(0, 6, 0, "NMT state changed");
    ASSERT_EQ(own.events(0).size(), 2u);
    EXPECT_STREQ(own.events(0)[0].text, "NMT state changed");
    EXPECT_EQ(own.events(0)[0].text, own.events(0)[1].text);
}

TEST(CycleSamples, ResetClearsAndAdvancesTheGeneration) {
    scenario s;
    cycle(s, 0, 0);
    cycle(s, 0, 1000 * US);
    s.feed(plk::preq(1));
    s.feed(plk::soa());
    const flowlens_cycle_samples &c = samples_of(s);
    ASSERT_FALSE(c.cycles(0).empty());
    ASSERT_FALSE(c.events(0).empty());
    const uint64_t generation = c.generation();
    flowlens_reset(s.engine());
    EXPECT_GT(c.generation(), generation);
    EXPECT_TRUE(c.cycles(0).empty());
    EXPECT_TRUE(c.responses(0).empty());
    EXPECT_TRUE(c.events(0).empty());
    EXPECT_TRUE(c.cn_summaries(0).empty());
    EXPECT_EQ(c.cycle_count(0), 0u);
    uint64_t soc = s.feed(plk::soc(), 1000 * US);
    ASSERT_EQ(c.cycles(0).size(), 1u);
    EXPECT_EQ(c.cycles(0)[0].soc_frame, soc);
    EXPECT_EQ(c.cycles(0)[0].cycle_time, 0u) << "the first SoC after a reset has no cycle";
}

TEST(CycleSamples, TwoNetworksKeptApart) {
    scenario s(FLOWLENS_TIMEMODE_HIGH_RESOLUTION);
    const uint8_t second_mn[6] = {0x02, 0x00, 0x00, 0x00, 0x10, 0xF0};
    s.feed(plk::soc(), 0, 0, 0);
    s.feed(plk::soc(0, second_mn), 20 * US, 0, 1);  // second network found: reset
    const uint64_t t = s.time;
    const flowlens_cycle_samples &c = samples_of(s);
    ASSERT_EQ(s.engine()->network_mode, FLOWLENS_NETWORK_MODE_DIFFERENT);
    ASSERT_EQ(c.events(0).size(), 1u) << "the detection itself, after the reset";
    EXPECT_EQ(c.events(0)[0].text, flowlens_event_texts[FLOWLENS_EV_TWO_NETWORKS_DIFFERENT]);
    for (int i = 1; i <= 3; ++i) {
        s.feed_at(plk::soc(), t + i * 1000 * US, 0, 0);
        s.feed_at(plk::soc(0, second_mn), t + i * 1000 * US + 20 * US, 0, 1);
        s.feed_at(plk::preq(7), t + i * 1000 * US + 30 * US, 0, 1);
        s.feed_at(plk::pres(7), t + i * 1000 * US + 34 * US, 0, 1);
        s.feed_at(plk::soa(), t + i * 1000 * US + 40 * US, 0, 1);
        s.feed_at(plk::soa(), t + i * 1000 * US + 50 * US, 0, 0);
    }
    ASSERT_EQ(c.cycles(0).size(), 3u);
    ASSERT_EQ(c.cycles(1).size(), 3u);
    for (unsigned n = 0; n < 2; ++n) {
        EXPECT_EQ(c.cycles(n)[0].cycle_time, 0u);
        EXPECT_EQ(c.cycles(n)[1].cycle_time, 1000 * US) << "network " << n;
        EXPECT_EQ(c.cycles(n)[2].cycle_time, 1000 * US) << "network " << n;
    }
    EXPECT_EQ(c.cycles(1)[0].soc_time, t + 1020 * US);
    EXPECT_TRUE(c.responses(0).empty());
    ASSERT_EQ(c.responses(1).size(), 3u);
    EXPECT_EQ(c.responses(1)[0].response_time, 4 * US);
    EXPECT_EQ(c.cn_summaries(1).size(), 1u);
    EXPECT_TRUE(c.cn_summaries(0).empty());
    EXPECT_TRUE(c.cycles(2).empty()) << "no third network";
}

// --- the bounded lists -----------------------------------------------------

uint64_t deviation(uint64_t cycle, uint32_t nominal_us) {
    const uint64_t nominal = uint64_t(nominal_us) * 1000;
    return cycle > nominal ? cycle - nominal : nominal - cycle;
}

TEST(CycleSamplesDecimation, CyclesKeepTheMostDeviatingOfEachGroupAndSpanEverything) {
    flowlens_cycle_samples c;
    c.set_caps(16, 0, 0);
    const uint64_t count = 1000;
    std::vector<flowlens_cycle_point> all;
    for (uint64_t i = 0; i < count; ++i) {
        // Jitter of a few us, one spike of +700 us and one short cycle.
        uint64_t cycle = 1000 * US + (i * 7919) % 5000;
        if (i == 333) cycle = 1700 * US;
        if (i == 777) cycle = 400 * US;
        all.push_back({i + 1, i * 1000 * US, cycle, 1000});
        c.add_cycle(0, i + 1, i * 1000 * US, cycle, 1000);
    }
    const std::vector<flowlens_cycle_point> &kept = c.cycles(0);
    const uint32_t stride = c.cycle_stride(0);
    EXPECT_EQ(c.cycle_count(0), count);
    EXPECT_GT(stride, 1u);
    EXPECT_EQ(stride & (stride - 1), 0u) << "the stride doubles";
    EXPECT_LE(kept.size(), 16u);
    ASSERT_EQ(kept.size(), (count + stride - 1) / stride) << "one point per group";
    for (size_t g = 0; g < kept.size(); ++g) {
        // The group's most deviating SoC, the earlier one on a tie.
        size_t best = g * stride;
        for (size_t i = g * stride; i < std::min<size_t>(count, (g + 1) * stride); ++i)
            if (deviation(all[i].cycle_time, 1000) > deviation(all[best].cycle_time, 1000)) best = i;
        EXPECT_EQ(kept[g].soc_frame, all[best].soc_frame) << "group " << g;
        EXPECT_EQ(kept[g].cycle_time, all[best].cycle_time);
        EXPECT_EQ(kept[g].soc_time, all[best].soc_time);
    }
    EXPECT_LE(kept.front().soc_frame, stride) << "the plot starts with the capture";
    EXPECT_GT(kept.back().soc_frame, count - stride) << "and ends with it";
    auto has_frame = [&](uint64_t frame) {
        return std::any_of(kept.begin(), kept.end(),
                           [&](const flowlens_cycle_point &p) { return p.soc_frame == frame; });
    };
    EXPECT_TRUE(has_frame(334)) << "the spike survives";
    EXPECT_TRUE(has_frame(778)) << "the short cycle survives";
}

TEST(CycleSamplesDecimation, ResponsesPerCnKeepTheSlowestAndSummariesStayExact) {
    flowlens_cycle_samples c;
    c.set_caps(0, 600, 0);  // read as 600: above the 512 minimum
    EXPECT_EQ(c.response_cap(), 600u);
    std::map<uint8_t, std::vector<flowlens_response_point>> all;
    std::map<uint8_t, flowlens_cn_response_summary> want;
    uint64_t frame = 1;
    for (uint64_t cycle = 0; cycle < 4000; ++cycle) {
        for (uint8_t node : {1, 2, 3, 200}) {
            if (node == 200 && cycle % 500 != 0) continue;  // rarely polled (multiplexed)
            const uint64_t response = 1000 + (cycle * 31 + node * 17) % 4000 + (cycle == 1234 ? 900000 : 0);
            const flowlens_response_point p{frame, frame + 1, frame * 100, uint32_t(response), node};
            c.add_response(0, node, p.preq_frame, p.pres_frame, p.pres_time, response);
            all[node].push_back(p);
            flowlens_cn_response_summary &w = want[node];
            w.node = node;
            w.min = w.count == 0 ? response : std::min(w.min, response);
            w.count += 1;
            w.sum += response;
            w.max = std::max(w.max, response);
            frame += 2;
        }
    }
    c.add_late(0, 3);
    const uint32_t stride = c.response_stride(0);
    EXPECT_GT(stride, 1u);
    EXPECT_LE(c.responses(0).size(), 600u);
    std::map<uint8_t, std::vector<flowlens_response_point>> kept;
    for (const flowlens_response_point &p : c.responses(0)) kept[p.node].push_back(p);
    ASSERT_EQ(kept.size(), 4u) << "every CN keeps points, the rare one too";
    for (auto &[node, points] : kept) {
        SCOPED_TRACE("CN " + std::to_string(node));
        const std::vector<flowlens_response_point> &every = all[node];
        ASSERT_EQ(points.size(), (every.size() + stride - 1) / stride);
        for (size_t g = 0; g < points.size(); ++g) {
            size_t best = g * stride;
            for (size_t i = g * stride; i < std::min<size_t>(every.size(), (g + 1) * stride); ++i)
                if (every[i].response_time > every[best].response_time) best = i;
            EXPECT_EQ(points[g].pres_frame, every[best].pres_frame) << "group " << g;
            EXPECT_EQ(points[g].preq_frame, every[best].preq_frame);
            EXPECT_EQ(points[g].response_time, every[best].response_time);
        }
    }
    const std::vector<flowlens_cn_response_summary> cns = c.cn_summaries(0);
    ASSERT_EQ(cns.size(), 4u);
    for (const flowlens_cn_response_summary &cn : cns) {
        const flowlens_cn_response_summary &w = want[cn.node];
        EXPECT_EQ(cn.count, w.count);
        EXPECT_EQ(cn.sum, w.sum);
        EXPECT_EQ(cn.min, w.min);
        EXPECT_EQ(cn.max, w.max);
        EXPECT_EQ(cn.late, cn.node == 3 ? 1u : 0u);
    }
    EXPECT_EQ(c.response_count(0), frame / 2);
}

TEST(CycleSamplesDecimation, EventsKeepTheMostSevereAndTheSummaryNeverSaturates) {
    flowlens_cycle_samples c;
    c.set_caps(0, 0, 4);
    for (uint64_t i = 0; i < 100; ++i)
        c.add_event(0, i + 1, i == 50 ? 2 : 0, i == 50 ? flowlens_event_texts[FLOWLENS_EV_CRC] : "info");
    EXPECT_EQ(c.event_count(0), 100u);
    EXPECT_LE(c.events(0).size(), 4u);
    EXPECT_GT(c.event_stride(0), 1u);
    EXPECT_TRUE(std::any_of(c.events(0).begin(), c.events(0).end(),
                            [](const flowlens_event_point &e) { return e.frame == 51 && e.severity == 2; }));
    EXPECT_EQ(c.events(0).front().frame, 1u);

    // A response beyond the 32-bit point saturates there; the summary keeps it.
    c.add_response(1, 9, 1, 2, 3, 5000000000ull);
    EXPECT_EQ(c.responses(1)[0].response_time, UINT32_MAX);
    EXPECT_EQ(c.cn_summaries(1)[0].max, 5000000000ull);
    EXPECT_EQ(c.cn_summaries(1)[0].sum, 5000000000ull);
}

TEST(CycleSamplesDecimation, CsvNamesTheStride) {
    flowlens_cycle_samples c;
    c.set_caps(4, 0, 0);
    for (uint64_t i = 0; i < 10; ++i) c.add_cycle(1, i + 1, i * 1000, i == 0 ? 0 : 1000 * US + i, 1000);
    char *text = nullptr;
    size_t size = 0;
    std::FILE *out = open_memstream(&text, &size);
    ASSERT_NE(out, nullptr);
    flowlens_write_cycles_csv(out, &c);
    std::fclose(out);
    const std::string csv(text, size);
    std::free(text);
    // 10 SoCs into at most 4 points: stride 4, groups 1-4, 5-8, 9-10.
    EXPECT_EQ(c.cycle_stride(1), 4u);
    EXPECT_NE(csv.find("\ncycle,2,4,4,3000,1000003,1000,3,,,,,,\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find("\ncycle,2,4,8,7000,1000007,1000,7,,,,,,\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find("\ncycle,2,4,10,9000,1000009,1000,9,,,,,,\n"), std::string::npos) << csv;
}

}  // namespace
