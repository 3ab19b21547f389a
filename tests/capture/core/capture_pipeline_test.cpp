// The whole path from dump frames to the pcapng stream, checked with the real
// peers: frames of a real POWERLINK capture are packed into dump frames the
// way the analyzer sends them, processed, presorted and written; capinfos and
// tshark must read the result without complaint and show what was written,
// and libpcap must give back the very frame bytes.
#include <gtest/gtest.h>

#include <pcap/pcap.h>

#include <algorithm>
#include <cinttypes>
#include <map>
#include <sstream>

#include "control_channel.h"
#include "file_layer.h"
#include "pcapng_writer.h"
#include "processor_fixture.h"
#include "temp_dir.h"

namespace {

using namespace packetflags;

struct WireFrame {
    uint64_t ns;
    std::vector<uint8_t> bytes;
};

std::vector<WireFrame> readCapture(const std::string &path) {
    std::vector<WireFrame> frames;
    char error[PCAP_ERRBUF_SIZE];
    pcap_t *pcap = pcap_open_offline_with_tstamp_precision(path.c_str(), PCAP_TSTAMP_PRECISION_NANO, error);
    if (pcap == nullptr) return frames;
    pcap_pkthdr *header;
    const u_char *data;
    while (pcap_next_ex(pcap, &header, &data) == 1) {
        frames.push_back({static_cast<uint64_t>(header->ts.tv_sec) * 1000000000ull + header->ts.tv_usec,
                          std::vector<uint8_t>(data, data + header->caplen)});
    }
    pcap_close(pcap);
    return frames;
}

// What the stream must hold for one frame, worked out from the packing
// alone (not from the engine).
struct Expected {
    size_t source;     // index in the real capture
    uint64_t arrival;  // order of arrival in the dump frames
    uint64_t ticks;
    uint32_t flags;
    int64_t drops;
};

struct Packed {
    std::vector<std::vector<uint8_t>> dumps;
    std::vector<Expected> expected;  // in the order the stream must show
    uint64_t firstTicks;             // of the first record processed: the time base
};

constexpr uint16_t kCrcBit = 1 << 8;
constexpr uint16_t kDi1 = 1 << 12;
constexpr size_t kPerDump = 12;
constexpr size_t kLostDump = 20;  // this dump never reaches the PC

// Packs the frames: odd frames are port 02; each dump carries its port 01
// records before its port 02 records, so the presort has work to do. The
// analyzer clock starts 10 s before its low counter wraps, so the wrap falls
// in the middle of the capture.
Packed pack(const std::vector<WireFrame> &frames) {
    Packed p;
    const uint64_t wrapTicks = 1ull << 32;
    const uint64_t firstTicks = 7 * wrapTicks - 10ull * 50000000ull;
    uint16_t dumpTotal = 0;
    uint64_t arrival = 0;
    bool lossPending = false;
    p.firstTicks = firstTicks;
    auto ticksOf = [&](size_t i) {
        return firstTicks + static_cast<uint64_t>(static_cast<int64_t>(frames[i].ns - frames[0].ns) / 20);
    };
    for (size_t start = 0, dump = 0; start < frames.size(); start += kPerDump, ++dump) {
        const size_t end = std::min(frames.size(), start + kPerDump);
        DumpBuilder b;
        b.dumpTotal = dumpTotal;
        dumpTotal = static_cast<uint16_t>(dumpTotal + (end - start));
        std::vector<size_t> order;
        for (size_t i = start; i < end; i += 2) order.push_back(i);
        for (size_t i = start + 1; i < end; i += 2) order.push_back(i);
        b.tsHigh = static_cast<uint32_t>(ticksOf(order.front()) >> 32);
        for (size_t i : order) {
            const uint64_t ticks = ticksOf(i);
            uint16_t flags = static_cast<uint16_t>(i % 2);
            if (i % 50 == 7) flags |= kCrcBit;
            if (i >= 100 && i < 200) flags |= kDi1;
            DumpRecordSpec r;
            r.timestampLow = static_cast<uint32_t>(ticks);
            r.size = static_cast<uint16_t>(frames[i].bytes.size());
            r.flags = flags;
            r.data = frames[i].bytes;
            b.records.push_back(r);
            if (dump == kLostDump) continue;
            uint32_t packetFlags = (i % 2) + 1;
            if (flags & kCrcBit) packetFlags |= kCrcError;
            if (flags & kDi1) packetFlags |= 1u << 16;
            if (frames[i].bytes.size() < 64) packetFlags |= kShortFrame;
            int64_t drops = 0;
            if (lossPending) {
                packetFlags |= kFramesLost;
                drops = static_cast<int64_t>(kPerDump);
                lossPending = false;
            }
            p.expected.push_back({i, arrival++, ticks, packetFlags, drops});
        }
        if (dump == kLostDump) {
            lossPending = true;
            continue;
        }
        p.dumps.push_back(b.build());
    }
    // The stream is in analyzer time; equal stamps keep their arrival order.
    std::stable_sort(p.expected.begin(), p.expected.end(),
                     [](const Expected &a, const Expected &b) { return a.ticks < b.ticks; });
    return p;
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::vector<std::string> split(const std::string &line, char by) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, by);) out.push_back(field);
    return out;
}

std::string epochText(int64_t ns) {
    char text[40];
    std::snprintf(text, sizeof text, "%" PRId64 ".%09" PRId64, ns / 1000000000, ns % 1000000000);
    return text;
}

class CapturePipeline : public ProcessorTest {};

TEST_F(CapturePipeline, RealPowerlinkTrafficReachesWiresharkAsWritten) {
    const std::string source = std::string(SENTRA_SHARED_CAPTURES) + "/powerlink_1cn_boot.pcapng";
    const auto frames = readCapture(source);
    if (frames.empty()) GTEST_SKIP() << "shared capture not found: " << source;
    if (!toolAvailable("tshark") || !toolAvailable("capinfos")) GTEST_SKIP() << "tshark/capinfos not installed";

    const Packed packed = pack(frames);
    TempDir dir;
    const std::string out = dir.file("trace.pcapng");
    PcapngWriter *writer = pcapngWriterCreate(out.c_str(), nullptr);
    ASSERT_NE(writer, nullptr);
    ASSERT_EQ(pcapngWriteHeader(writer, kPcapngInterfaceName), 0);

    // The two threads' work, interleaved: process a dump, write what the
    // hold-back releases; at the end release everything.
    size_t written = 0;
    auto writeReleased = [&] {
        while (PacketRecord *r = captureBufferTakeReady(buffer)) {
            EXPECT_EQ(pcapngWritePacket(writer, r), 0);
            ++written;
            captureBufferGiveBack(buffer, r);
        }
    };
    for (const auto &dump : packed.dumps) {
        ASSERT_EQ(feedBytes(dump, dump.size()), 0);
        writeReleased();
    }
    captureBufferSetHoldBack(buffer, 0);
    writeReleased();
    pcapngWriterClose(writer);
    ASSERT_EQ(written, packed.expected.size());
    EXPECT_TRUE(sink.saw("Packet #241: 12 Packets lost by PC"));
    chmod(out.c_str(), 0644);

    const ToolResult info = runTool(dir, "capinfos -M trace.pcapng");
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.err, "");
    EXPECT_NE(info.out.find("Number of packets:   " + std::to_string(written)), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Ethernet"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("nanoseconds"), std::string::npos) << info.out;

    const ToolResult shark =
        runTool(dir,
                "tshark -r trace.pcapng -T fields -E separator=/t -e frame.time_epoch -e frame.packet_flags "
                "-e frame.packet_flags_direction -e frame.packet_flags_crc_error -e frame.drop_count -e frame.len "
                "-e frame.protocols -e frame.interface_name");
    ASSERT_EQ(shark.status, 0) << shark.err;
    EXPECT_EQ(shark.err, "");
    const auto rows = lines(shark.out);
    ASSERT_EQ(rows.size(), packed.expected.size());
    size_t powerlink = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const Expected &e = packed.expected[i];
        const auto f = split(rows[i], '\t');
        ASSERT_EQ(f.size(), 8u) << rows[i];
        const int64_t ns = kStartNs + static_cast<int64_t>(e.ticks - packed.firstTicks) * 20;
        EXPECT_EQ(f[0], epochText(ns)) << "frame " << i + 1;
        EXPECT_EQ(std::stoul(f[1], nullptr, 16), e.flags) << "frame " << i + 1;
        EXPECT_EQ(f[2], (e.flags & 3) == 1 ? "0x00000001" : "0x00000002") << "frame " << i + 1;
        EXPECT_EQ(f[3], (e.flags & kCrcError) ? "1" : "0") << "frame " << i + 1;
        EXPECT_EQ(f[4], std::to_string(e.drops)) << "frame " << i + 1;
        EXPECT_EQ(f[5], std::to_string(frames[e.source].bytes.size()));
        EXPECT_EQ(f[7], "Q40TA5521");
        if (f[6].find(":epl") != std::string::npos) ++powerlink;
    }
    // Wireshark's own dissector still recognises the POWERLINK frames.
    EXPECT_GT(powerlink, rows.size() / 2);

    // libpcap reads the same frames back, byte for byte.
    const auto back = readCapture(out);
    ASSERT_EQ(back.size(), packed.expected.size());
    for (size_t i = 0; i < back.size(); ++i) {
        ASSERT_EQ(back[i].bytes, frames[packed.expected[i].source].bytes) << "frame " << i + 1;
    }
}

TEST_F(CapturePipeline, ErrorBitsAreTheLinkLayerErrorsWiresharkNames) {
    if (!toolAvailable("tshark")) GTEST_SKIP() << "tshark not installed";
    DumpBuilder b;
    b.add(0, 60, 1 << 4).add(100, 1514, (1 << 9) | (1 << 10) | 1).add(200, 64, (1 << 11) | (1 << 8));
    ASSERT_EQ(feed(b), 0);
    TempDir dir;
    const std::string out = dir.file("errors.pcapng");
    PcapngWriter *writer = pcapngWriterCreate(out.c_str(), nullptr);
    ASSERT_NE(writer, nullptr);
    ASSERT_EQ(pcapngWriteHeader(writer, kPcapngInterfaceName), 0);
    captureBufferSetHoldBack(buffer, 0);
    while (PacketRecord *r = captureBufferTakeReady(buffer)) {
        ASSERT_EQ(pcapngWritePacket(writer, r), 0);
        captureBufferGiveBack(buffer, r);
    }
    pcapngWriterClose(writer);
    chmod(out.c_str(), 0644);
    const ToolResult shark =
        runTool(dir,
                "tshark -r errors.pcapng -T fields -E separator=, -e frame.packet_flags_direction "
                "-e frame.packet_flags_unaligned_frame_error -e frame.packet_flags_packet_too_short_error "
                "-e frame.packet_flags_packet_too_error -e frame.packet_flags_preamble_error "
                "-e frame.packet_flags_symbol_error -e frame.packet_flags_crc_error -e frame.cap_len -e frame.len");
    ASSERT_EQ(shark.status, 0) << shark.err;
    EXPECT_EQ(shark.err, "");
    // Alignment -> unaligned frame, short frame -> too short, oversize -> too
    // long, noise -> symbol error.
    EXPECT_EQ(shark.out,
              "0x00000001,1,1,0,0,0,0,60,60\n"
              "0x00000002,0,0,1,1,0,0,1514,1514\n"
              "0x00000001,0,0,0,0,1,1,64,64\n");
}

TEST_F(CapturePipeline, ReportsReachTheExtcapLoggerOverTheControlChannel) {
    TempDir dir;
    FileHandle *in = fileOpen(dir.file("control_in").c_str(), kFileReadWrite, kFileCreateTruncate);
    FileHandle *out = fileOpen(dir.file("control_out").c_str(), kFileReadWrite, kFileCreateTruncate);
    ASSERT_NE(in, nullptr);
    ASSERT_NE(out, nullptr);
    ControlChannel *channel = controlChannelCreate(in, out, 1, 0, 0, 0);
    ASSERT_NE(channel, nullptr);
    ControlChannelSink controlSink(channel);
    processor->sink = &controlSink;
    DumpBuilder b;
    b.add(1, 64, 1 << 8);
    ASSERT_EQ(feed(b), 0);
    controlChannelFree(channel);
    fileClose(in);
    fileClose(out);

    const auto bytes = readWholeFile(dir.file("control_out"));
    ASSERT_GE(bytes.size(), 6u);
    EXPECT_EQ(bytes[0], 'T');
    const size_t length = (bytes[1] << 16) | (bytes[2] << 8) | bytes[3];
    EXPECT_EQ(bytes[4], 1);  // the logger control
    EXPECT_EQ(bytes[5], 1);  // first log line: set
    ASSERT_GE(bytes.size(), 4 + length);
    const std::string line(bytes.begin() + 6, bytes.begin() + 4 + static_cast<long>(length));
    EXPECT_EQ(line.rfind("WARNING: - ", 0), 0u) << line;
    EXPECT_NE(line.find(" - Packet #1: CRC Error detected by Analyzer\n"), std::string::npos) << line;
}

}  // namespace
