// The POWERLINK analysis inside the host's tshark, loaded as a user loads
// the plug-in: expert items, the extended text column, the statistics tree,
// real captures decoded alike with and without the plug-in, and fuzzing.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "device_catalogue.h"
#include "flagged_pcapng.h"
#include "plk_frame_builder.h"
#include "sdo_frames.h"
#include "tshark_runner.h"

using flowlens_ws::flagged_frame;

namespace {

// The column a user configures for the extended text ("Expert Info" type).
const std::vector<std::string> kColumn = {"-o", "gui.column.format:\"No.\",\"%m\",\"Ext\",\"%a\""};
constexpr uint64_t kBase = 1700000000000000000ull;
constexpr uint64_t kAnalyzerStep = 10020;  // analyzer ticks are 20 ns: no 100 ns grid
constexpr uint32_t kPort01 = 1, kPort02 = 2;
constexpr uint32_t kCrcError = 1u << 24;

std::string captures_dir() {
    const std::string dir = SENTRA_SHARED_CAPTURES;
    struct stat st;
    return stat(dir.c_str(), &st) == 0 ? dir : "";
}

std::string write(zeltest::Tshark &tshark, const std::string &name, const std::vector<flagged_frame> &frames) {
    const std::string path = tshark.folder() + "/" + name + ".pcapng";
    flowlens_ws::write_flagged_pcapng(path, frames);
    chmod(path.c_str(), 0644);
    return path;
}

// Frame number -> extended text, from a two-pass run with the column set.
std::map<int, std::string> column_texts(zeltest::Tshark &tshark, const std::string &capture) {
    std::vector<std::string> args = {"-r", capture, "-2"};
    args.insert(args.end(), kColumn.begin(), kColumn.end());
    args.insert(args.end(), {"-T", "fields", "-e", "frame.number", "-e", zeltest::expert_column_field("Ext")});
    const zeltest::Result r = tshark.run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    std::map<int, std::string> texts;
    for (const std::string &line : zeltest::lines(r.out)) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        texts[std::stoi(line.substr(0, tab))] = line.substr(tab + 1);
    }
    return texts;
}

void expect_clean(const zeltest::Result &r, const std::string &what) {
    EXPECT_EQ(r.status, 0) << what << ": " << r.err.substr(0, 3000);
    EXPECT_EQ(r.err.find("AddressSanitizer"), std::string::npos) << what << ": " << r.err.substr(0, 3000);
    EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << what << ": " << r.err.substr(0, 3000);
}

// A Modbus/TCP segment between client 192.168.0.10:40000 and server .20:502.
std::vector<uint8_t> modbus(bool to_server, uint16_t transaction, uint8_t function, const std::vector<uint8_t> &pdu) {
    std::vector<uint8_t> f = {0x02, 0, 0, 0, 0, 2, 0x02, 0, 0, 0, 0, 1, 0x08, 0x00};
    std::vector<uint8_t> mbap = {uint8_t(transaction >> 8), uint8_t(transaction), 0, 0, 0, 0, 1, function};
    mbap.insert(mbap.end(), pdu.begin(), pdu.end());
    mbap[4] = uint8_t((mbap.size() - 6) >> 8);
    mbap[5] = uint8_t(mbap.size() - 6);
    const uint16_t total = uint16_t(40 + mbap.size());
    const uint8_t client[4] = {192, 168, 0, 10}, server[4] = {192, 168, 0, 20};
    std::vector<uint8_t> ip = {0x45, 0, uint8_t(total >> 8), uint8_t(total), 0, 0, 0x40, 0, 64, 6, 0, 0};
    ip.insert(ip.end(), to_server ? client : server, (to_server ? client : server) + 4);
    ip.insert(ip.end(), to_server ? server : client, (to_server ? server : client) + 4);
    const uint16_t sport = to_server ? 40000 : 502, dport = to_server ? 502 : 40000;
    // clang-format off
    std::vector<uint8_t> tcp = {uint8_t(sport >> 8), uint8_t(sport), uint8_t(dport >> 8), uint8_t(dport),
                                0, 0, 0, 1, 0, 0, 0, 1, 0x50, 0x18, 0x20, 0, 0, 0, 0, 0};
    // clang-format on
    f.insert(f.end(), ip.begin(), ip.end());
    f.insert(f.end(), tcp.begin(), tcp.end());
    f.insert(f.end(), mbap.begin(), mbap.end());
    while (f.size() < 60) f.push_back(0);
    return f;
}

std::vector<uint8_t> et2000_frame(uint8_t port_bit) {
    std::vector<uint8_t> f = plk::ip_udp(test_mn_mac, 0xC0A80001);
    f.insert(f.end(), {0x01, 0x01, 0x05, 0x10, 0x00, 0x00, port_bit, 0x00, 1, 0, 0, 0, 0, 0, 0, 0});
    return f;
}

std::vector<uint8_t> ident_response(const device_catalogue_row &row) {
    std::vector<uint8_t> p(70, 0);  // from EPL offset 4
    p[2] = 0xFD;
    for (int i = 0; i < 4; ++i) {
        p[30 - 4 + i] = uint8_t(row.vendor_id >> (8 * i));
        p[34 - 4 + i] = uint8_t(uint32_t(row.product_code) >> (8 * i));
    }
    return plk::asnd(1, 0xFF, 1, p);
}

struct stat_row {
    long count = -1;
    double average = 0;
};

// "Topic / Item  Count  Average ..." rows of a statistics tree by name.
std::map<std::string, stat_row> tree_rows(const std::string &out) {
    std::map<std::string, stat_row> rows;
    for (const std::string &line : zeltest::lines(out)) {
        const size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos) continue;
        const size_t gap = line.find("  ", start);
        if (gap == std::string::npos) continue;
        const std::string name = line.substr(start, gap - start);
        const char *rest = line.c_str() + gap;
        char *end = nullptr;
        const long count = std::strtol(rest, &end, 10);
        if (end == rest) continue;
        stat_row row;
        row.count = count;
        row.average = std::strtod(end, nullptr);
        rows.emplace(name, row);
    }
    return rows;
}

}  // namespace

TEST(PlkTshark, ColumnTextsOfTheEdgeCases) {
    zeltest::Tshark &tshark = zeltest::shared_tshark();
    std::vector<flagged_frame> frames;
    uint64_t t = kBase;
    auto add = [&](std::vector<uint8_t> bytes, bool has_flags = true, uint32_t flags = kPort01) {
        t += kAnalyzerStep;
        frames.push_back({t, std::move(bytes), has_flags, flags});
    };
    add(plk::soc(0));                                   // 1
    add(plk::soc(1000));                                // 2: delta
    add(plk::pres(1, 0x1D), true, kPort02);             // 3: invalid state, port 02
    add(modbus(false, 77, 3, {4, 0, 1, 0, 2}), false);  // 4: response without request, no flags
    add(et2000_frame(0x10), true, 3);                   // 5: port X2.1; direction 3 is port 01
    std::vector<uint8_t> registers = {0x00, 0x64, 0x00, 120, 240};
    for (int i = 0; i < 240; ++i) registers.push_back(uint8_t(i));
    add(modbus(true, 9, 16, registers));       // 6: far beyond the limit
    add(ident_response(device_catalogue[0]));  // 7: catalogue device
    std::vector<uint8_t> status = plk::status_response(3);
    status.resize(68);
    std::vector<uint8_t> with_fcs = status;
    flowlens_ws::append_fcs(with_fcs);  // 72 bytes, 68 without the FCS
    add(with_fcs);                      // 8: too short once the FCS is off
    status.insert(status.end(), {0xDE, 0xAD, 0xBE, 0xEF});
    add(status);  // 9: 72 bytes, no FCS
    const std::string capture = write(tshark, "edge_cases", frames);

    const std::map<int, std::string> text = column_texts(tshark, capture);
    ASSERT_EQ(text.size(), frames.size());
    EXPECT_EQ(text.at(1), " 1:  240->255 SoC        F:- US(Bit 0-31):         0");
    EXPECT_EQ(text.at(2), " 1:  240->255 SoC        F:- US(Bit 0-31):      1000 (+1000)");
    EXPECT_EQ(text.at(3), " 2: #  1->255  PRes (   0) F:- NMT: PRE_OPERATIONAL_1 !! Invalid NMT State for PRes");
    EXPECT_EQ(text.at(4), " 1: <- ");
    EXPECT_EQ(text.at(5), " 1:  [ET2000: Port X2.1 / Error 0x00 / DeltaTime 0]");
    EXPECT_EQ(text.at(6).size(), 999u);
    EXPECT_EQ(text.at(6).substr(0, 28), " 1: -> Q: FC16;100;1;101;515");
    EXPECT_EQ(text.at(7), " 1:    1->255  ASnd(IDENT_RESPONSE)      F:- NMT: OPERATIONAL  Dev: " +
                              std::string(device_catalogue[0].model_name) + "  AppDateTime: 1.1.1984, 00:00:00.000");
    EXPECT_EQ(text.at(8), " 1: #  3->255  ASnd(STATUS_RESPONSE)     F:- NMT: OPERATIONAL (Frame too short)");
    EXPECT_EQ(text.at(9), " 1:    3->255  ASnd(STATUS_RESPONSE)     F:- NMT: OPERATIONAL");
}

TEST(PlkTshark, OrdinaryTimeStampsGiveNoPortPrefixAndOnePassGivesTheSameTexts) {
    zeltest::Tshark &tshark = zeltest::shared_tshark();
    std::vector<flagged_frame> frames;
    frames.push_back({kBase, plk::ip_udp(test_mn_mac, 0xC0A80001), false, 0});
    frames.push_back({kBase + 100000, plk::soc(0), false, 0});
    const std::string capture = write(tshark, "ordinary", frames);
    const std::map<int, std::string> text = column_texts(tshark, capture);
    EXPECT_EQ(text.at(1), "");
    EXPECT_EQ(text.at(2), " 240->255 SoC        F:- US(Bit 0-31):         0");

    // One pass: each frame shows its text as it is analysed.
    std::vector<std::string> args = {"-r", capture};
    args.insert(args.end(), kColumn.begin(), kColumn.end());
    args.insert(args.end(), {"-T", "fields", "-e", zeltest::expert_column_field("Ext")});
    const zeltest::Result r = tshark.run(args);
    EXPECT_EQ(r.out, "\n 240->255 SoC        F:- US(Bit 0-31):         0\n");
}

TEST(PlkTshark, ExpertItemsFromHandMadeFrames) {
    zeltest::Tshark &tshark = zeltest::shared_tshark();
    std::vector<flagged_frame> frames;
    uint64_t t = kBase;
    auto add = [&](std::vector<uint8_t> bytes, uint32_t flags = kPort01) {
        t += kAnalyzerStep;
        frames.push_back({t, std::move(bytes), true, flags});
    };
    sdo_frame_spec init;
    init.receive = seq_byte(0, 0);
    init.send = seq_byte(0, 1);
    init.command_layer = false;
    add(init.build());  // 1: opens
    add(init.build());  // 2: again, without a close
    sdo_frame_spec abort = read_request(1, 0, 0, 0);
    abort.flags = 0x40;
    abort.segment_size = 4;
    abort.payload = {0x00, 0x00, 0x02, 0x06};
    add(abort.build());                                              // 3: abort 0x06020000
    add(plk::ip_udp(test_mn_mac, 0xC0A80001), kPort01 | kCrcError);  // 4: receive error
    const std::string capture = write(tshark, "expert", frames);

    const auto rows = zeltest::field_rows(
        tshark, capture, {"frame.number", "zel.major", "zel.info", "_ws.expert.message"}, "zel.major || zel.info");
    std::map<std::string, std::vector<std::string>> by_frame;
    for (const auto &row : rows) {
        ASSERT_EQ(row.size(), 4u);
        by_frame[row[0]] = row;
    }
    ASSERT_EQ(by_frame.count("2"), 1u);
    EXPECT_EQ(by_frame["2"][2], "1") << "informational";
    EXPECT_EQ(by_frame["2"][3], "Initialization Request Retry (240 -> 1)") << "no trailing blank";
    ASSERT_EQ(by_frame.count("3"), 1u);
    EXPECT_EQ(by_frame["3"][1], "1") << "major";
    EXPECT_EQ(by_frame["3"][3], "SDO Abort Code 0x06020000 'Object does not exist in the object dictionary'");
    ASSERT_EQ(by_frame.count("4"), 1u);
    EXPECT_EQ(by_frame["4"][1], "1");
    EXPECT_EQ(by_frame["4"][3], "Error : CRC");
    EXPECT_EQ(by_frame.count("1"), 0u);

    const zeltest::Result summary = tshark.run({"-r", capture, "-q", "-z", "expert"});
    EXPECT_NE(summary.out.find("Zelmar Analyzer  Error : CRC"), std::string::npos) << summary.out;
}

TEST(PlkTshark, PerCentSignOfTheCycleDeviationOnARealCapture) {
    const std::string dir = captures_dir();
    if (dir.empty()) GTEST_SKIP() << "shared captures not found";
    zeltest::Tshark &tshark = zeltest::shared_tshark();
    const std::string capture = tshark.copy_in(dir + "/powerlink_robot_with_iperf.pcapng.gz", "robot.pcapng.gz");
    const auto rows = zeltest::field_rows(tshark, capture, {"frame.number", "_ws.expert.message"}, "zel.major");
    bool found = false;
    for (const auto &row : rows) {
        ASSERT_EQ(row.size(), 2u);
        EXPECT_EQ(row[1].find('%'), std::string::npos) << row[1];
        if (row[1] == "Deviation of nominal to measuerd cycle time > 5p" && !found) {
            EXPECT_EQ(row[0], "16071") << "the first deviation the engine finds";
            found = true;
        }
    }
    EXPECT_TRUE(found);
}

// Wireshark's own POWERLINK dissector is the reference for the counts.
static void check_statistics_tree(const std::string &name) {
    SCOPED_TRACE(name);
    zeltest::Tshark &tshark = zeltest::shared_tshark();
    const std::string capture = tshark.copy_in(captures_dir() + "/" + name, name);
    std::map<int, long> by_type;
    long frames = 0, powerlink = 0;
    for (const auto &row : zeltest::field_rows(tshark, capture, {"epl.mtyp"})) {
        ++frames;
        if (row[0].empty()) continue;
        ++powerlink;
        by_type[std::stoi(row[0], nullptr, 0)] += 1;
    }
    ASSERT_GT(powerlink, 0);

    const zeltest::Result r = tshark.run({"-r", capture, "-q", "-z", "zel_epl,tree"});
    expect_clean(r, "zel_epl,tree");
    auto rows = tree_rows(r.out);
    EXPECT_EQ(rows["Count"].count, frames);
    EXPECT_EQ(rows["SoC"].count, by_type[1]);
    EXPECT_EQ(rows["PReq"].count, by_type[3]);
    EXPECT_EQ(rows["PRes"].count, by_type[4]);
    EXPECT_EQ(rows["SoA"].count, by_type[5]);
    EXPECT_EQ(rows["ASnd"].count, by_type[6]);
    EXPECT_EQ(rows["AInv"].count, by_type[13]);
    EXPECT_EQ(rows["Other"].count, frames - powerlink);
    ASSERT_GT(rows["Nominal"].count, 0);
    const double nominal = double(rows["Nominal"].count);
    ASSERT_EQ(rows.count("Average in us"), 1u) << r.out;
    EXPECT_GT(rows["Average in us"].average, nominal * 0.95) << r.out;
    EXPECT_LT(rows["Average in us"].average, nominal * 1.05) << r.out;
    EXPECT_EQ(rows["Total Slots"].count, rows["SoA Slots"].count + rows["AInv Slots"].count);
    EXPECT_EQ(rows["PLK - ASnd"].count, rows["PLK - CN"].count + rows["PLK - MN"].count);
}

TEST(PlkTshark, StatisticsTreeAgainstWiresharksOwnCounts) {
    if (captures_dir().empty()) GTEST_SKIP() << "shared captures not found";
    check_statistics_tree("powerlink_1cn_boot.pcapng");               // POWERLINK only
    check_statistics_tree("powerlink_1cn_pres_without_preq.pcapng");  // with IP frames: "Other"
}

TEST(PlkTshark, RealCapturesDecodeAlikeWithAndWithoutThePlugin) {
    const std::string dir = captures_dir();
    if (dir.empty()) GTEST_SKIP() << "shared captures not found";
    zeltest::Tshark &tshark = zeltest::shared_tshark();
    const std::string no_plugins = tshark.folder() + "/no_plugins";
    mkdir(no_plugins.c_str(), 0755);
    const std::vector<std::string> names = {"powerlink_1cn_boot.pcapng",
                                            "powerlink_1cn_collisions.pcapng",
                                            "powerlink_1cn_pres_without_preq.pcapng",
                                            "powerlink_1cn_sdo_mapping.pcapng",
                                            "powerlink_ainv.pcap.gz",
                                            "powerlink_example.pcap",
                                            "powerlink_multi_read_write.pcapng.gz",
                                            "powerlink_robot_with_iperf.pcapng.gz",
                                            "powerlink_sdo_udp.pcap"};
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        const std::string capture = tshark.copy_in(dir + "/" + name, name);
        const std::vector<std::string> fields = {"-r", capture, "-T", "fields", "-e", "_ws.col.Info", "-e", "epl.mtyp"};
        const zeltest::Result with = tshark.run(fields);
        std::vector<std::string> plain = {"WIRESHARK_PLUGIN_DIR=" + no_plugins, "tshark"};
        plain.insert(plain.end(), fields.begin(), fields.end());
        const zeltest::Result without = tshark.run_program("env", plain);
        expect_clean(with, "with the plug-in");
        ASSERT_EQ(without.status, 0) << without.err;
        EXPECT_FALSE(with.out.empty());
        EXPECT_TRUE(with.out == without.out) << "the plug-in changed Wireshark's own decoding";

        std::vector<std::string> column = {"-r", capture, "-2", "-q", "-z", "expert", "-z", "zel_epl,tree"};
        column.insert(column.end(), kColumn.begin(), kColumn.end());
        expect_clean(tshark.run(column), "two passes with the column");
    }
}

TEST(PlkTshark, TwoHundredEditcapRoundsOverRealCaptures) {
    const std::string dir = captures_dir();
    if (dir.empty()) GTEST_SKIP() << "shared captures not found";
    zeltest::Tshark &tshark = zeltest::shared_tshark();
    for (const char *name : {"powerlink_1cn_sdo_mapping.pcapng", "powerlink_sdo_udp.pcap",
                             "powerlink_multi_read_write.pcapng.gz", "powerlink_ainv.pcap.gz"})
        tshark.copy_in(dir + "/" + name, std::string("seed_") + name);
    // A slice of each (SDO over Ethernet and UDP, multiple-parameter
    // frames, AInv cycles) as the seed, then 200 rounds of random errors.
    // Prepared by the host's editcap and mergecap directly: the runner
    // would start them with the sanitizer runtime preloaded, which they do
    // not need (and under which editcap hangs).
    const std::string prepare =
        "cd '" + tshark.folder() +
        "' && editcap -r seed_powerlink_1cn_sdo_mapping.pcapng s1.pcapng 300-420 && "
        "editcap -F pcapng seed_powerlink_sdo_udp.pcap s2.pcapng && "
        "editcap -F pcapng seed_powerlink_multi_read_write.pcapng.gz s3.pcapng && "
        "editcap -F pcapng -r seed_powerlink_ainv.pcap.gz s4.pcapng 1-40 && "
        "mergecap -a -F pcapng -w seeds.pcapng s1.pcapng s2.pcapng s3.pcapng s4.pcapng && "
        "for i in $(seq 1 200); do editcap --seed $i -E 0.02 seeds.pcapng fuzz_$i.pcapng || exit 1; done && "
        "mergecap -a -F pcapng -w fuzz_all.pcapng $(for i in $(seq 1 200); do echo fuzz_$i.pcapng; done) && "
        "chmod 644 fuzz_all.pcapng";
    ASSERT_EQ(std::system(prepare.c_str()), 0);
    std::vector<std::string> args = {
        "-r", tshark.folder() + "/fuzz_all.pcapng", "-2", "-q", "-z", "expert", "-z", "zel_epl,tree"};
    args.insert(args.end(), kColumn.begin(), kColumn.end());
    expect_clean(tshark.run(args), "fuzzed captures");
}

#if defined(FLOWLENS_TA5521_SIM) && defined(FLOWLENS_SENTRA_EXTCAP)
// The boot capture packed by the analyzer simulator with receive errors and
// lost dumps, replayed through sentra_extcap: the packet flags it writes
// become the matching expert items, and the port shows in every text.
TEST(PlkTshark, CaptureEngineErrorBitsBecomeExpertItems) {
    const std::string dir = captures_dir();
    if (dir.empty()) GTEST_SKIP() << "shared captures not found";
    zeltest::Tshark &tshark = zeltest::shared_tshark();
    tshark.copy_in(dir + "/powerlink_1cn_boot.pcapng", "replay_input.pcapng");
    const zeltest::Result replay = tshark.run_program(
        "sh",
        {"-c",
         "cd \"$2\" && \"$0\" --ports=port02 --records=4 --drop-dump=20,40 --dump-lost=60:3 --error=100:crc "
         "--error=120:noise --error=140:oversize --error=170:crc+oversize replay_input.pcapng raw.pcapng "
         ">/dev/null && \"$1\" --capture --extcap-interface sentra_ta5521_file --capturemode livecapture "
         "--fifo replayed.pcapng --extcap-control-in ctl_in --extcap-control-out ctl_out "
         "--ta5521capturefile raw.pcapng >/dev/null && chmod 644 replayed.pcapng raw.pcapng",
         FLOWLENS_TA5521_SIM, FLOWLENS_SENTRA_EXTCAP, tshark.folder()},
        true);
    ASSERT_EQ(replay.status, 0) << replay.err;
    const std::string capture = tshark.folder() + "/replayed.pcapng";

    std::map<uint32_t, int> frames_with;
    const auto flags = zeltest::field_rows(tshark, capture, {"frame.packet_flags"});
    ASSERT_GT(flags.size(), 700u);
    for (const auto &row : flags) {
        const uint32_t word = uint32_t(std::stoul(row[0], nullptr, 16));
        for (uint32_t bit : {1u << 22, 1u << 24, 1u << 25, 1u << 31})
            if (word & bit) frames_with[bit] += 1;
        EXPECT_EQ(word & 3u, 2u) << "every frame was captured on port 02";
    }
    EXPECT_EQ(frames_with[1u << 24], 2);
    EXPECT_EQ(frames_with[1u << 31], 1);
    EXPECT_GE(frames_with[1u << 22], 3);

    std::map<std::string, int> items;
    for (const auto &row : zeltest::field_rows(tshark, capture, {"_ws.expert.message"}, "zel.major"))
        for (const std::string &message : zeltest::split(row[0], ',')) items[message] += 1;
    EXPECT_EQ(items["Error : CRC"], frames_with[1u << 24]);
    EXPECT_EQ(items["Error : Frame Format"], frames_with[1u << 31]);
    EXPECT_EQ(items["Error : Oversize"], frames_with[1u << 25]);
    EXPECT_EQ(items["Unknown number of packets dropped by capture engine (network performance of PC too low ?)"],
              frames_with[1u << 22]);

    // The raw dump frames themselves: every one is an analyzer dump over UDP.
    const std::map<int, std::string> dumps = column_texts(tshark, tshark.folder() + "/raw.pcapng");
    ASSERT_FALSE(dumps.empty());
    for (const auto &entry : dumps)
        EXPECT_NE(entry.second.find("  EPL ASnd(Q40TA5521)  DumpSize:"), std::string::npos) << entry.second;

    const std::map<int, std::string> text = column_texts(tshark, capture);
    ASSERT_EQ(text.size(), flags.size());
    // Two passes show a text as the frame is analysed; the first frames come
    // before the engine has seen a time stamp off the 100 ns grid.
    for (const auto &entry : text) {
        if (entry.first <= 2) continue;
        EXPECT_EQ(entry.second.substr(0, 4), " 2: ") << entry.first;
    }
}
#endif
