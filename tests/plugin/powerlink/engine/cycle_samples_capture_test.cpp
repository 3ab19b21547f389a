// The robot capture (many CNs, 1728 SoCs) through an engine whose sample
// lists are capped far below its size: the summaries equal those of an
// uncapped run, and the plots still span the whole capture.
#include <gtest/gtest.h>

#include "capture_frames.h"
#include "cycle_samples.h"
#include "flowlens.h"

namespace {

struct robot_run {
    flowlens_instance *instance = nullptr;
    ~robot_run() { flowlens_destroy(instance); }
};

void analyse(const capture_file &capture, robot_run &run, size_t cycle_cap, size_t response_cap, size_t event_cap) {
    ASSERT_EQ(flowlens_create(&run.instance, nullptr, nullptr), 0);
    flowlens_samples_of(run.instance)->set_caps(cycle_cap, response_cap, event_cap);
    for (size_t i = 0; i < capture.frames.size(); ++i) {
        const flowlens_packet_info packet = packet_of(capture, i);
        flowlens_process_packet(run.instance, &packet);
    }
}

TEST(CycleSamplesCapture, CappedRunKeepsExactSummariesAndSpansTheCapture) {
    const std::string dir = shared_captures_dir();
    if (dir.empty()) GTEST_SKIP() << "shared captures not found";
    const capture_file capture = read_capture(dir + "/powerlink_robot_with_iperf.pcapng.gz");
    ASSERT_TRUE(capture.error.empty()) << capture.error;
    robot_run full, capped;
    analyse(capture, full, 0, 0, 0);
    analyse(capture, capped, 100, 512, 8);
    const flowlens_cycle_samples &f = *flowlens_samples(full.instance);
    const flowlens_cycle_samples &c = *flowlens_samples(capped.instance);
    ASSERT_EQ(f.cycle_stride(0), 1u);
    ASSERT_GT(f.cycles(0).size(), 1000u);
    ASSERT_GT(f.responses(0).size(), 5000u);

    EXPECT_GE(c.cycle_stride(0), 16u);
    EXPECT_LE(c.cycles(0).size(), 100u);
    EXPECT_LE(c.responses(0).size(), 512u);
    EXPECT_LE(c.events(0).size(), 8u);
    EXPECT_EQ(c.cycle_count(0), f.cycle_count(0));
    EXPECT_EQ(c.response_count(0), f.response_count(0));
    EXPECT_EQ(c.event_count(0), f.event_count(0));

    // Same summaries, to the ns and the late answer.
    const auto fs = f.cn_summaries(0), cs = c.cn_summaries(0);
    ASSERT_EQ(cs.size(), fs.size());
    for (size_t i = 0; i < fs.size(); ++i) {
        EXPECT_EQ(cs[i].node, fs[i].node);
        EXPECT_EQ(cs[i].count, fs[i].count);
        EXPECT_EQ(cs[i].sum, fs[i].sum);
        EXPECT_EQ(cs[i].min, fs[i].min);
        EXPECT_EQ(cs[i].max, fs[i].max);
        EXPECT_EQ(cs[i].late, fs[i].late);
    }

    // The plot runs from the first group to the last one, and the longest
    // cycle of the capture (the lost SoC) is still in it.
    const uint32_t stride = c.cycle_stride(0);
    const auto &all = f.cycles(0);
    EXPECT_LE(c.cycles(0).front().soc_frame, all[stride - 1].soc_frame);
    EXPECT_GE(c.cycles(0).back().soc_frame, all[(all.size() - 1) / stride * stride].soc_frame);
    uint64_t longest = 0;
    for (const flowlens_cycle_point &p : all) longest = std::max(longest, p.cycle_time);
    bool kept = false;
    for (const flowlens_cycle_point &p : c.cycles(0)) kept = kept || p.cycle_time == longest;
    EXPECT_TRUE(kept);
    // Every kept point is a real SoC with its real values.
    for (const flowlens_cycle_point &p : c.cycles(0)) {
        bool found = false;
        for (const flowlens_cycle_point &q : all)
            found = found || (q.soc_frame == p.soc_frame && q.soc_time == p.soc_time && q.cycle_time == p.cycle_time);
        EXPECT_TRUE(found) << p.soc_frame;
    }
    // Each CN's slowest answer survives.
    for (const flowlens_cn_response_summary &cn : fs) {
        bool slowest = false;
        for (const flowlens_response_point &p : c.responses(0))
            slowest = slowest || (p.node == cn.node && p.response_time == cn.max);
        EXPECT_TRUE(slowest) << "CN " << int(cn.node);
    }
}

}  // namespace
