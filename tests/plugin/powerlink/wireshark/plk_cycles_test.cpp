// The cycle samples against Wireshark's own reading of real captures.
//
// The reference is computed here from tshark's POWERLINK dissector alone
// (tshark run without the plug-in: `-T fields -e frame.number -e
// frame.time_epoch -e epl.mtyp -e epl.src -e epl.dest`), with the cycle
// model the samples document:
//   - cycle: every SoC; its cycle time is its time minus the previous SoC's
//     (0 for the first);
//   - answer: a PRes from CN n whose last cycle frame before it (SoC, PReq,
//     PRes, SoA, AInv) is a PReq to n; response time = PRes time - PReq time;
//   - late: a PReq to CN n followed by a SoC, PReq, SoA, AInv or another
//     node's PRes before n's PRes.
// The engine (fed from libpcap) and `tshark -z zel_epl,cycles,csv` (with the
// plug-in) must give exactly the same frames and nanoseconds.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "capture_frames.h"
#include "cycle_samples.h"
#include "flowlens.h"
#include "tshark_runner.h"

namespace {

constexpr int MTYP_SOC = 1, MTYP_PREQ = 3, MTYP_PRES = 4, MTYP_SOA = 5, MTYP_AINV = 13;

std::string captures_dir() {
    const std::string dir = SENTRA_SHARED_CAPTURES;
    struct stat st;
    return stat(dir.c_str(), &st) == 0 ? dir : "";
}

// "1291307455.123456789" (any number of decimals) -> ns since 1970.
uint64_t epoch_ns(const std::string &text) {
    const size_t dot = text.find('.');
    uint64_t ns = std::stoull(text.substr(0, dot)) * 1000000000ull;
    if (dot == std::string::npos) return ns;
    std::string fraction = text.substr(dot + 1, 9);
    fraction.resize(9, '0');
    return ns + std::stoull(fraction);
}

struct cycle_row {
    uint64_t frame, time, cycle;
    bool operator==(const cycle_row &o) const { return frame == o.frame && time == o.time && cycle == o.cycle; }
};
struct response_row {
    uint64_t preq_frame, pres_frame, pres_time, response;
    unsigned node;
    bool operator==(const response_row &o) const {
        return preq_frame == o.preq_frame && pres_frame == o.pres_frame && pres_time == o.pres_time &&
               response == o.response && node == o.node;
    }
};
struct cn_row {
    uint64_t count = 0, sum = 0, min = UINT64_MAX, max = 0, late = 0;
};

std::ostream &operator<<(std::ostream &os, const cycle_row &r) {
    return os << "{SoC " << r.frame << " @" << r.time << " cycle " << r.cycle << "}";
}
std::ostream &operator<<(std::ostream &os, const response_row &r) {
    return os << "{CN " << r.node << " PReq " << r.preq_frame << " PRes " << r.pres_frame << " @" << r.pres_time << " "
              << r.response << " ns}";
}

struct reference {
    std::vector<cycle_row> cycles;
    std::vector<response_row> responses;
    std::map<unsigned, cn_row> cns;
};

bool is_cn(unsigned node) { return node >= 1 && node < 240; }

// The cycle model above over tshark's own fields (one network: the shared
// captures carry no port marks).
reference reference_of(const std::string &capture) {
    zeltest::Tshark &tshark = zeltest::shared_tshark();
    const std::string no_plugins = tshark.folder() + "/no_plugins";
    mkdir(no_plugins.c_str(), 0755);
    const zeltest::Result r =
        tshark.run_program("env", {"WIRESHARK_PLUGIN_DIR=" + no_plugins, "tshark", "-r", capture, "-Y",
                                   "eth.type == 0x88ab", "-T", "fields", "-e", "frame.number", "-e", "frame.time_epoch",
                                   "-e", "epl.mtyp", "-e", "epl.src", "-e", "epl.dest"});
    EXPECT_EQ(r.status, 0) << r.err;
    reference ref;
    bool have_soc = false, waiting = false;
    uint64_t last_soc = 0, preq_frame = 0, preq_time = 0;
    unsigned target = 0;
    for (const std::string &line : zeltest::lines(r.out)) {
        const std::vector<std::string> f = zeltest::split(line, '\t');
        if (f.size() < 5 || f[2].empty()) continue;
        const uint64_t frame = std::stoull(f[0]);
        const uint64_t time = epoch_ns(f[1]);
        const int mtyp = std::stoi(f[2], nullptr, 0);
        const unsigned src = f[3].empty() ? 0 : unsigned(std::stoul(f[3]));
        const unsigned dest = f[4].empty() ? 0 : unsigned(std::stoul(f[4]));
        const bool cycle_frame =
            mtyp == MTYP_SOC || mtyp == MTYP_PREQ || mtyp == MTYP_PRES || mtyp == MTYP_SOA || mtyp == MTYP_AINV;
        if (!cycle_frame) continue;
        if (waiting) {
            if (mtyp == MTYP_PRES && src == target) {
                if (time < preq_time) {  // stamps ran backwards: no sample
                    waiting = false;
                    continue;
                }
                ref.responses.push_back({preq_frame, frame, time, time - preq_time, target});
                cn_row &cn = ref.cns[target];
                cn.count += 1;
                cn.sum += time - preq_time;
                cn.min = std::min(cn.min, time - preq_time);
                cn.max = std::max(cn.max, time - preq_time);
            } else {
                ref.cns[target].late += 1;
            }
            waiting = false;
        }
        if (mtyp == MTYP_SOC) {
            ref.cycles.push_back({frame, time, have_soc && time >= last_soc ? time - last_soc : 0});
            have_soc = true;
            last_soc = time;
        } else if (mtyp == MTYP_PREQ && is_cn(dest)) {
            waiting = true;
            target = dest;
            preq_frame = frame;
            preq_time = time;
        }
    }
    return ref;
}

struct engine_run {
    flowlens_instance *instance = nullptr;
    ~engine_run() { flowlens_destroy(instance); }
};

// The captures the model covers: real networks, one with many CNs, one
// openPOWERLINK boot, AInv, a CN answering without PReq, µs time stamps.
const std::vector<std::string> kCaptures = {
    "powerlink_robot_with_iperf.pcapng.gz",   "powerlink_1cn_boot.pcapng",        "powerlink_ainv.pcap.gz",
    "powerlink_1cn_pres_without_preq.pcapng", "powerlink_1cn_sdo_mapping.pcapng", "powerlink_example.pcap"};

TEST(PlkCycles, EngineSamplesEqualTsharksOwnTimes) {
    const std::string dir = captures_dir();
    if (dir.empty()) GTEST_SKIP() << "shared captures not found";
    zeltest::Tshark &tshark = zeltest::shared_tshark();
    for (const std::string &name : kCaptures) {
        SCOPED_TRACE(name);
        const reference ref = reference_of(tshark.copy_in(dir + "/" + name, name));
        ASSERT_FALSE(ref.cycles.empty());

        const capture_file capture = read_capture(dir + "/" + name);
        ASSERT_TRUE(capture.error.empty()) << capture.error;
        engine_run run;
        ASSERT_EQ(flowlens_create(&run.instance, nullptr, nullptr), 0);
        for (size_t i = 0; i < capture.frames.size(); ++i) {
            const flowlens_packet_info packet = packet_of(capture, i);
            flowlens_process_packet(run.instance, &packet);
        }
        const flowlens_cycle_samples *samples = flowlens_samples(run.instance);
        ASSERT_NE(samples, nullptr);
        EXPECT_EQ(samples->cycle_stride(0), 1u);
        EXPECT_EQ(samples->response_stride(0), 1u);
        EXPECT_TRUE(samples->cycles(1).empty());

        std::vector<cycle_row> cycles;
        for (const flowlens_cycle_point &p : samples->cycles(0))
            cycles.push_back({p.soc_frame, p.soc_time, p.cycle_time});
        EXPECT_EQ(cycles, ref.cycles);
        std::vector<response_row> responses;
        for (const flowlens_response_point &p : samples->responses(0))
            responses.push_back({p.preq_frame, p.pres_frame, p.pres_time, p.response_time, p.node});
        EXPECT_EQ(responses, ref.responses);

        const std::vector<flowlens_cn_response_summary> cns = samples->cn_summaries(0);
        ASSERT_EQ(cns.size(), ref.cns.size());
        for (const flowlens_cn_response_summary &cn : cns) {
            SCOPED_TRACE("CN " + std::to_string(cn.node));
            ASSERT_EQ(ref.cns.count(cn.node), 1u);
            const cn_row &want = ref.cns.at(cn.node);
            EXPECT_EQ(cn.count, want.count);
            EXPECT_EQ(cn.sum, want.sum);
            if (want.count != 0) {
                EXPECT_EQ(cn.min, want.min);
                EXPECT_EQ(cn.max, want.max);
            }
            EXPECT_EQ(cn.late, want.late);
        }
    }
}

// Rows of the CSV form, by record type; checks the header and that every
// row has all fields.
struct csv_output {
    std::vector<std::vector<std::string>> cycles, cns;
};

csv_output parse_csv(const std::string &text) {
    csv_output out;
    const std::vector<std::string> rows = zeltest::lines(text);
    EXPECT_FALSE(rows.empty());
    if (rows.empty()) return out;
    EXPECT_EQ(rows[0],
              "record,network,stride,frame,time_ns,cycle_time_ns,nominal_us,deviation_ns,node,count,min_ns,avg_ns,"
              "max_ns,late");
    for (size_t i = 1; i < rows.size(); ++i) {
        std::vector<std::string> f = zeltest::split(rows[i], ',');
        EXPECT_EQ(f.size(), 14u) << rows[i];
        if (f.size() != 14) continue;
        if (f[0] == "cycle")
            out.cycles.push_back(f);
        else if (f[0] == "cn")
            out.cns.push_back(f);
        else
            ADD_FAILURE() << "unknown record: " << rows[i];
    }
    return out;
}

void expect_csv_matches(const csv_output &csv, const reference &ref) {
    ASSERT_EQ(csv.cycles.size(), ref.cycles.size());
    for (size_t i = 0; i < ref.cycles.size(); ++i) {
        const std::vector<std::string> &f = csv.cycles[i];
        SCOPED_TRACE("cycle row " + std::to_string(i));
        EXPECT_EQ(f[1], "1");
        EXPECT_EQ(f[2], "1");
        EXPECT_EQ(f[3], std::to_string(ref.cycles[i].frame));
        EXPECT_EQ(f[4], std::to_string(ref.cycles[i].time));
        EXPECT_EQ(f[5], std::to_string(ref.cycles[i].cycle));
        const uint64_t nominal_us = std::stoull(f[6]);
        if (nominal_us != 0 && ref.cycles[i].cycle != 0)
            EXPECT_EQ(f[7], std::to_string(int64_t(ref.cycles[i].cycle) - int64_t(nominal_us * 1000)));
        else
            EXPECT_EQ(f[7], "");
    }
    ASSERT_EQ(csv.cns.size(), ref.cns.size());
    for (const std::vector<std::string> &f : csv.cns) {
        SCOPED_TRACE("CN " + f[8]);
        const unsigned node = unsigned(std::stoul(f[8]));
        ASSERT_EQ(ref.cns.count(node), 1u);
        const cn_row &want = ref.cns.at(node);
        EXPECT_EQ(f[9], std::to_string(want.count));
        if (want.count != 0) {
            EXPECT_EQ(f[10], std::to_string(want.min));
            EXPECT_EQ(f[11], std::to_string(want.sum / want.count));
            EXPECT_EQ(f[12], std::to_string(want.max));
        }
        EXPECT_EQ(f[13], std::to_string(want.late));
    }
}

TEST(PlkCycles, TsharkCsvEqualsTsharksOwnTimesInOneAndTwoPasses) {
    const std::string dir = captures_dir();
    if (dir.empty()) GTEST_SKIP() << "shared captures not found";
    zeltest::Tshark &tshark = zeltest::shared_tshark();
    for (const std::string name : {"powerlink_robot_with_iperf.pcapng.gz", "powerlink_1cn_boot.pcapng"}) {
        SCOPED_TRACE(name);
        const std::string capture = tshark.copy_in(dir + "/" + name, name);
        const reference ref = reference_of(capture);
        const zeltest::Result one = tshark.run({"-r", capture, "-q", "-z", "zel_epl,cycles,csv"});
        ASSERT_EQ(one.status, 0) << one.err;
        expect_csv_matches(parse_csv(one.out), ref);
        const zeltest::Result two = tshark.run({"-r", capture, "-2", "-q", "-z", "zel_epl,cycles,csv"});
        ASSERT_EQ(two.status, 0) << two.err;
        EXPECT_TRUE(two.out == one.out) << "a second pass changed the samples";
    }
}

TEST(PlkCycles, TextFormBesideTheStatisticsTreeAndABadOption) {
    const std::string dir = captures_dir();
    if (dir.empty()) GTEST_SKIP() << "shared captures not found";
    zeltest::Tshark &tshark = zeltest::shared_tshark();
    const std::string name = "powerlink_1cn_boot.pcapng";
    const std::string capture = tshark.copy_in(dir + "/" + name, name);
    const reference ref = reference_of(capture);
    ASSERT_EQ(ref.cns.count(1), 1u);

    const zeltest::Result r = tshark.run({"-r", capture, "-q", "-z", "zel_epl,tree", "-z", "zel_epl,cycles"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Zelmar/POWERLINK"), std::string::npos) << "the statistics tree is missing";
    EXPECT_NE(r.out.find("POWERLINK Cycles"), std::string::npos);
    EXPECT_TRUE(zeltest::has_line_with(r.out, {"Network 1: " + std::to_string(ref.cycles.size()) + " SoCs"}))
        << r.out.substr(0, 2000);
    // One row per SoC: the frame number leads the row.
    int soc_rows = 0;
    for (const std::string &line : zeltest::lines(r.out)) {
        for (const cycle_row &c : ref.cycles) {
            const std::string frame = std::to_string(c.frame);
            const size_t at = line.find_first_not_of(' ');
            if (at != std::string::npos && line.compare(at, frame.size() + 2, frame + "  ") == 0 &&
                line.find(std::to_string(c.time / 1000000000u) + ".") != std::string::npos) {
                ++soc_rows;
                break;
            }
        }
    }
    EXPECT_EQ(soc_rows, int(ref.cycles.size()));
    // CN 1's row: count, min/avg/max in us with three decimals, late.
    const cn_row &cn = ref.cns.at(1);
    auto us = [](uint64_t ns) {
        char text[32];
        std::snprintf(text, sizeof text, "%llu.%03llu", (unsigned long long)(ns / 1000),
                      (unsigned long long)(ns % 1000));
        return std::string(text);
    };
    EXPECT_TRUE(zeltest::has_line_with(
        r.out, {"     1  ", std::to_string(cn.count), us(cn.min), us(cn.sum / cn.count), us(cn.max)}))
        << r.out.substr(r.out.find("CN response"));

    const zeltest::Result bad = tshark.run({"-r", capture, "-q", "-z", "zel_epl,cycles,xml"});
    EXPECT_NE(bad.status, 0);
    EXPECT_NE(bad.err.find("zel_epl,cycles,csv"), std::string::npos) << bad.err;
}

}  // namespace
