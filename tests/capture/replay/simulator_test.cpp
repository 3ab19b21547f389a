// The analyzer simulator's output read back field by field (and by
// Wireshark's own IP, UDP and POWERLINK dissectors), its fault controls, and
// its refusal of bad arguments.
#include <unistd.h>

#include <gtest/gtest.h>

#include <sstream>

#include "dump_frame.h"
#include "replay_harness.h"

using namespace replaytest;

namespace {

namespace df = dumpframe;

uint16_t le16(const std::string &f, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(f[at]) | (static_cast<uint8_t>(f[at + 1]) << 8));
}
uint32_t le32(const std::string &f, size_t at) { return le16(f, at) | (static_cast<uint32_t>(le16(f, at + 2)) << 16); }

class Simulator : public ::testing::Test {
protected:
    void SetUp() override {
        if (sharedCaptures().empty()) GTEST_SKIP() << "shared captures not found";
        input_ = sharedCaptures() + "/powerlink_1cn_boot.pcapng";
    }
    std::vector<Packet> pack(const std::vector<std::string> &args) {
        const std::string raw = dir_.file("raw.pcapng");
        std::string output;
        EXPECT_TRUE(simulate(input_, raw, args, &output)) << output;
        std::vector<Packet> dumps;
        EXPECT_TRUE(parsePcapng(readFile(raw), &dumps));
        return dumps;
    }
    TempDir dir_;
    std::string input_;
};

}  // namespace

TEST_F(Simulator, WiresharkDecodesEveryDumpFrameAsPowerlinkAsndService163WithGoodChecksums) {
    pack({"--records=8", "--node=7"});
    std::string output;
    ASSERT_EQ(runProgram({"/usr/bin/tshark", "-r", dir_.file("raw.pcapng"), "-o", "ip.check_checksum:TRUE", "-T",
                          "fields", "-e", "ip.src", "-e", "udp.srcport", "-e", "udp.dstport", "-e", "epl.mtyp", "-e",
                          "epl.asnd.svid", "-e", "ip.checksum.status"},
                         &output),
              0);
    size_t rows = 0;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.find('\t') == std::string::npos) continue;  // tshark's own notes
        ++rows;
        EXPECT_EQ(line, "192.168.100.7\t3819\t3819\t6\t0xa3\t1");
    }
    EXPECT_EQ(rows, (834u + 7) / 8);
}

TEST_F(Simulator, HeadersCarryRunningTotalsTimestampsAndChosenFields) {
    const auto dumps = pack({"--records=5", "--tick-start=0x1FFFFFF00", "--unique-id=0x1234", "--capture-id=9",
                             "--phy-info=0x1F", "--dump-total-start=65530", "--dump-size=0"});
    ASSERT_EQ(dumps.size(), (834u + 4) / 5);
    uint16_t expectedTotal = 65530;
    for (const Packet &d : dumps) {
        const std::string &f = d.data;
        ASSERT_GE(f.size(), df::kFirstRecordOffset + df::kRecordHeadLength);
        EXPECT_EQ(le16(f, df::kDumpTotalOffset), expectedTotal);
        expectedTotal = static_cast<uint16_t>(expectedTotal + static_cast<uint8_t>(f[df::kDumpCountOffset]));
        EXPECT_EQ(le16(f, df::kUniqueIdOffset), 0x1234);
        EXPECT_EQ(static_cast<uint8_t>(f[df::kCaptureIdOffset]), 9);
        EXPECT_EQ(static_cast<uint8_t>(f[df::kPhyInfoOffset]), 0x1F);
        EXPECT_EQ(f[df::kProtocolVersionOffset], 0);
        EXPECT_LE(f.size(), 1514u);
    }
    // The first record sits at tick 0x1FFFFFF00: tsHigh 1, low part 0xFFFFFF00.
    EXPECT_EQ(le32(dumps[0].data, df::kTsHighOffset), 1u);
    EXPECT_EQ(le32(dumps[0].data, df::kFirstRecordOffset), 0xFFFFFF00u);
    EXPECT_EQ(le32(dumps.back().data, df::kTsHighOffset), 2u);  // 21 s later the low part has wrapped
}

TEST_F(Simulator, FaultsShapeTheDumpStream) {
    const auto clean = pack({"--records=4"});
    const auto faulty = pack({"--records=4", "--drop-dump=3", "--duplicate-dump=5", "--foreign-dump=6",
                              "--bad-version=7:2", "--dump-lost=8:11", "--truncate-dump=9:70"});
    ASSERT_EQ(clean.size(), 209u);
    // One dropped, one duplicated, one foreign added.
    ASSERT_EQ(faulty.size(), 209u - 1 + 1 + 1);
    EXPECT_EQ(faulty[1].data, clean[1].data);
    // Dump 3 is never sent (from the UDP header on, dump 4 is the same in both streams).
    EXPECT_EQ(faulty[2].data.substr(34), clean[3].data.substr(34));
    EXPECT_EQ(faulty[3].data, faulty[4].data);    // dump 5 sent twice
    const std::string &foreign = faulty[6].data;  // after dump 6
    EXPECT_NE(le16(foreign, df::kUniqueIdOffset), le16(faulty[5].data, df::kUniqueIdOffset));
    EXPECT_EQ(static_cast<uint8_t>(faulty[7].data[df::kProtocolVersionOffset]), 2);
    EXPECT_EQ(le16(faulty[8].data, df::kDumpLostOffset), 11);
    EXPECT_EQ(faulty[9].data.size(), 70u);
    EXPECT_EQ(le16(faulty[9].data, df::kDumpTotalOffset), 32);
}

TEST_F(Simulator, RecordFlagsCarryPortsErrorsAndDigitalInputs) {
    const auto dumps = pack({"--records=1", "--ports=alternate", "--error=2:crc+alignment", "--di=3:5", "--di=4:0"});
    auto flags = [&](size_t frame) {
        return le16(dumps[frame - 1].data, df::kFirstRecordOffset + df::kRecordFlagsOffset);
    };
    EXPECT_EQ(flags(1), 0u);
    EXPECT_EQ(flags(2), df::kRecordPortBit | df::kRecordCrcError | df::kRecordAlignmentError);
    EXPECT_EQ(flags(3), (1u << 12) | (1u << 14));
    EXPECT_EQ(flags(4), df::kRecordPortBit);
}

TEST_F(Simulator, HelpDocumentsEveryOptionAndBadArgumentsAreRefused) {
    std::string help;
    ASSERT_EQ(runProgram({simulatorPath(), "--help"}, &help), 0);
    for (const char *option : {"--ports",
                               "--port2-mac",
                               "--tap-delay-ticks",
                               "--records",
                               "--dump-size",
                               "--max-dump-bytes",
                               "--tick-start",
                               "--node",
                               "--unique-id",
                               "--capture-id",
                               "--phy-info",
                               "--dump-total-start",
                               "--repeat",
                               "--repeat-gap-ms",
                               "--drop-dump",
                               "--duplicate-dump",
                               "--foreign-dump",
                               "--bad-version",
                               "--dump-lost",
                               "--truncate-dump",
                               "--error",
                               "--di",
                               "--oversize",
                               "--late-port2",
                               "--fcs",
                               "--send",
                               "--speed",
                               "--quiet"})
        EXPECT_NE(help.find(std::string("  ") + option), std::string::npos) << option;
    for (const std::vector<std::string> &bad : {std::vector<std::string>{"--records=0"},
                                                {"--ports=sideways"},
                                                {"--error=5:bogus"},
                                                {"--dump-size=70"},
                                                {"--drop-dump=3-1"},
                                                {"--di=4"},
                                                {"--port2-mac=zz:00:00:00:00:00"},
                                                {"--unknown"}}) {
        std::vector<std::string> argv = {simulatorPath()};
        argv.insert(argv.end(), bad.begin(), bad.end());
        argv.push_back(input_);
        argv.push_back(dir_.file("x.pcapng"));
        std::string output;
        EXPECT_EQ(runProgram(argv, &output), 2) << bad[0];
        EXPECT_NE(output.find("ta5521_sim:"), std::string::npos) << bad[0];
    }
    std::string output;
    EXPECT_EQ(runProgram({simulatorPath(), dir_.file("missing.pcap"), dir_.file("x.pcapng")}, &output), 2);
    EXPECT_NE(output.find("cannot read"), std::string::npos) << output;
}
