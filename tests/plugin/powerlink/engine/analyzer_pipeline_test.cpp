// The engine behind the real capture path: the analyzer simulator packs the
// 1-CN boot capture into Q40TA5521 dump frames (with injected faults),
// sentra_extcap replays them into a pcapng file with its packet flags, and
// the engine reads that file back the way the plug-in does (flags from the
// epb_flags option, port from the direction bits). tshark's reading of the
// same file's flags is the reference for the flag events.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture_frames.h"
#include "flowlens.h"

namespace {

#if defined(FLOWLENS_TA5521_SIM) && defined(FLOWLENS_SENTRA_EXTCAP)

class temp_dir {
public:
    temp_dir() {
        char name[] = "/tmp/flowlens_pipeline_XXXXXX";
        if (mkdtemp(name) != nullptr) path_ = name;
    }
    ~temp_dir() {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    bool ok() const { return !path_.empty(); }

private:
    std::string path_;
};

int run(const std::string &command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::string output_of(const std::string &command) {
    std::string out;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
    pclose(pipe);
    return out;
}

// Packs the boot capture with the simulator options and replays it through
// sentra_extcap into a pcapng file; returns its path or "".
std::string replayed_boot(const temp_dir &dir, const std::string &sim_options, std::string *raw_out = nullptr) {
    std::string captures = shared_captures_dir();
    if (captures.empty()) return "";
    std::string raw = dir.file("raw.pcapng"), out = dir.file("out.pcapng");
    if (run(std::string(FLOWLENS_TA5521_SIM) + " " + sim_options + " " + captures + "/powerlink_1cn_boot.pcapng " +
            raw) != 0)
        return "";
    if (run(std::string(FLOWLENS_SENTRA_EXTCAP) +
            " --capture --extcap-interface sentra_ta5521_file --capturemode livecapture --fifo " + out +
            " --extcap-control-in " + dir.file("in.txt") + " --extcap-control-out " + dir.file("ctl.bin") +
            " --ta5521capturefile " + raw) != 0)
        return "";
    if (raw_out) *raw_out = raw;
    return out;
}

struct analysed {
    flowlens_instance *engine = nullptr;
    capture_file capture;
    ~analysed() { flowlens_destroy(engine); }
};

void analyse(const std::string &path, analysed *a) {
    a->capture = read_capture(path);
    ASSERT_TRUE(a->capture.error.empty()) << a->capture.error;
    ASSERT_EQ(flowlens_create(&a->engine, nullptr, nullptr), 0);
    flowlens_start(a->engine);
    for (size_t i = 0; i < a->capture.frames.size(); ++i) {
        flowlens_packet_info packet = packet_of(a->capture, i);
        flowlens_process_packet(a->engine, &packet);
    }
}

bool have_tshark() { return run("tshark -v") == 0; }

TEST(AnalyzerPipeline, CaptureEngineFlagsBecomeEvents) {
    temp_dir dir;
    ASSERT_TRUE(dir.ok());
    std::string out = replayed_boot(dir,
                                    "--ports=port01 --records=4 --drop-dump=20,40 --dump-lost=60:3 "
                                    "--error=100:crc --error=120:noise --error=140:oversize --error=170:crc+oversize");
    if (out.empty()) GTEST_SKIP() << "shared captures, simulator or replay not available";
    analysed a;
    analyse(out, &a);
    ASSERT_FALSE(a.capture.frames.empty());

    // Reference: the flags as tshark reads them from the same file. (Frames
    // 157-160 travel in dump 40, which is dropped, so the errors sit outside it.)
    if (!have_tshark()) GTEST_SKIP() << "tshark not found";
    std::string flags_text = output_of("tshark -r " + out + " -T fields -e frame.packet_flags 2>/dev/null");
    std::vector<uint32_t> flags;
    for (size_t at = 0; at < flags_text.size();) {
        size_t end = flags_text.find('\n', at);
        if (end == std::string::npos) end = flags_text.size();
        flags.push_back(uint32_t(std::strtoul(flags_text.substr(at, end - at).c_str(), nullptr, 16)));
        at = end + 1;
    }
    ASSERT_EQ(flags.size(), a.capture.frames.size());
    auto frames_with = [&](uint32_t bit) {
        uint64_t n = 0;
        for (uint32_t f : flags)
            if (f & bit) ++n;
        return n;
    };
    for (size_t i = 0; i < flags.size(); ++i) ASSERT_EQ(a.capture.frames[i].packet_flags, flags[i]) << i;

    const flowlens_network &n = a.engine->networks[0];
    EXPECT_GE(frames_with(FLOWLENS_FLAG_FRAMES_LOST), 3u) << "two dropped dumps and one with lost frames";
    EXPECT_EQ(n.events[FLOWLENS_EV_CAPTURE_DROPPED].count, frames_with(FLOWLENS_FLAG_FRAMES_LOST));
    EXPECT_EQ(frames_with(FLOWLENS_FLAG_CRC_ERROR), 2u);
    EXPECT_EQ(n.events[FLOWLENS_EV_CRC].count, 2u);
    EXPECT_EQ(frames_with(FLOWLENS_FLAG_NOISE), 1u);
    EXPECT_EQ(n.events[FLOWLENS_EV_FRAME_FORMAT].count, 1u);
    EXPECT_EQ(n.events[FLOWLENS_EV_OVERSIZE].count, frames_with(FLOWLENS_FLAG_OVERSIZE));
    EXPECT_EQ(frames_with(FLOWLENS_FLAG_OVERSIZE), 2u);
    EXPECT_EQ(n.events[FLOWLENS_EV_RUNT].count, frames_with(FLOWLENS_FLAG_RUNT));
    EXPECT_EQ(n.counts.powerlink, a.capture.frames.size()) << "every replayed frame is POWERLINK";
    EXPECT_EQ(a.engine->network_mode, FLOWLENS_NETWORK_MODE_SINGLE);
    EXPECT_EQ(a.engine->effective_timemode, FLOWLENS_TIMEMODE_HIGH_RESOLUTION) << "20 ns analyzer ticks";
    EXPECT_EQ(a.engine->networks[1].counts.powerlink, 0u);
}

TEST(AnalyzerPipeline, BothPortsCarryingOneNetworkAreDetected) {
    temp_dir dir;
    ASSERT_TRUE(dir.ok());
    std::string out = replayed_boot(dir, "--ports=both --records=8");
    if (out.empty()) GTEST_SKIP() << "shared captures, simulator or replay not available";
    analysed a;
    analyse(out, &a);
    ASSERT_EQ(a.capture.frames.size(), 2 * 834u);
    EXPECT_EQ(a.engine->network_mode, FLOWLENS_NETWORK_MODE_EQUAL);
    EXPECT_EQ(a.engine->networks[0].events[FLOWLENS_EV_TWO_NETWORKS_EQUAL].count, 1u);
    EXPECT_EQ(a.engine->networks[0].events[FLOWLENS_EV_DUPLICATES].count, 0u);
    // After the detection each port feeds its own network with the same cycle.
    const flowlens_network &n0 = a.engine->networks[0], &n1 = a.engine->networks[1];
    EXPECT_GT(n1.counts.soc, 190u);
    EXPECT_LE(n0.counts.soc - n1.counts.soc, 1u);
    EXPECT_EQ(n0.counts.pres, n1.counts.pres);
    EXPECT_GT(a.engine->port_switch.count, 0u);
    EXPECT_GT(n1.packet_interval.count, 0u);
}

TEST(AnalyzerPipeline, DumpFramesWithGapsRaiseFramesLost) {
    temp_dir dir;
    ASSERT_TRUE(dir.ok());
    std::string raw;
    std::string out =
        replayed_boot(dir, "--ports=port01 --records=4 --node=3 --drop-dump=20,40 --dump-lost=60:3", &raw);
    if (out.empty()) GTEST_SKIP() << "shared captures, simulator or replay not available";
    // The raw dump frames themselves, as a capture of the analyzer's traffic.
    analysed a;
    analyse(raw, &a);
    const flowlens_network &n = a.engine->networks[0];
    EXPECT_EQ(n.events[FLOWLENS_EV_FRAMES_LOST].count, 3u) << "two gaps in the dump count, one dump reporting losses";
    EXPECT_EQ(n.dumps[3].count, a.capture.frames.size());
    EXPECT_EQ(n.counts.powerlink, 0u) << "dump frames travel over UDP";
}

#endif

}  // namespace
