// The replay reader on hand-built pcapng files: node selection, skipped
// blocks, cut data, refused header blocks and the waiting message.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <memory>

#include "capture_buffer.h"
#include "control_channel.h"
#include "dump_frame.h"
#include "file_layer.h"
#include "pcapng_format.h"
#include "replay_harness.h"
#include "replay_reader.h"
#include "ta5521_packer.h"

using namespace replaytest;

namespace {

void put32(std::string &s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}

std::string block(uint32_t type, const std::string &body) {
    std::string b;
    const uint32_t padded = static_cast<uint32_t>((body.size() + 3) & ~size_t{3});
    put32(b, type);
    put32(b, 12 + padded);
    b += body;
    b.append(padded - body.size(), '\0');
    put32(b, 12 + padded);
    return b;
}

std::string sectionHeader(size_t optionBytes = 0) {
    std::string body;
    put32(body, pcapng::kByteOrderMagic);
    body += std::string("\1\0\0\0", 4);  // version 1.0
    put32(body, 0xFFFFFFFF);
    put32(body, 0xFFFFFFFF);
    body.append(optionBytes, '\0');
    return block(pcapng::kSectionHeaderType, body);
}

std::string interfaceDescription() {
    std::string body;
    put32(body, 1);      // Ethernet, reserved
    put32(body, 65535);  // snap length
    return block(pcapng::kInterfaceDescriptionType, body);
}

// An enhanced packet block whose captured-length field may claim more than it holds.
std::string packet(const std::string &data, uint32_t claimedCaptured = 0) {
    std::string body;
    put32(body, 0);
    put32(body, 1);
    put32(body, 2);
    put32(body, claimedCaptured ? claimedCaptured : static_cast<uint32_t>(data.size()));
    put32(body, static_cast<uint32_t>(data.size()));
    body += data;
    return block(pcapng::kEnhancedPacketType, body);
}

// Dump frames of analyzer `node`, one per record.
std::vector<std::string> dumps(uint8_t node, int count, size_t frameBytes = 60) {
    ta5521sim::PackerConfig config;
    config.maxDumpBytes = 9000;  // jumbo dump frames when asked for
    config.hwNode = node;
    config.recordsPerDump = 1;
    std::vector<std::string> out;
    ta5521sim::Packer packer(config, [&](const ta5521sim::DumpFrameOut &d) {
        out.emplace_back(reinterpret_cast<const char *>(d.data), d.length);
    });
    std::string frame(frameBytes, '\x11');
    for (int i = 0; i < count; ++i)
        packer.addFrame(i * 1000, reinterpret_cast<const uint8_t *>(frame.data()), static_cast<uint32_t>(frame.size()),
                        static_cast<uint32_t>(frame.size()));
    packer.finish();
    return out;
}

std::time_t g_now = 1000000;
std::time_t fakeNow() { return g_now; }

struct Channel {
    explicit Channel(const TempDir &dir) {
        in = fileOpen(dir.file("in.txt").c_str(), kFileReadWrite, kFileCreateTruncate);
        outPath = dir.file("out.bin");
        out = fileOpen(outPath.c_str(), kFileReadWrite, kFileCreateTruncate);
        channel = controlChannelCreate(in, out, 1, 0, 0, 0);
        controlChannelSetClock(channel, fakeNow);
    }
    ~Channel() {
        controlChannelFree(channel);
        fileClose(in);
        fileClose(out);
    }
    std::vector<ControlMessage> messages() const { return parseControlStream(readFile(outPath)); }
    FileHandle *in;
    FileHandle *out;
    ControlChannel *channel;
    std::string outPath;
};

struct ReaderDeleter {
    void operator()(ReplayReader *r) const { replayReaderClose(r); }
};
using Reader = std::unique_ptr<ReplayReader, ReaderDeleter>;

Reader open(const std::string &path, Channel *channel, uint8_t node = 0) {
    return Reader(replayReaderCreate(path.c_str(), channel ? channel->channel : nullptr, node, g_now));
}

}  // namespace

TEST(ReplayReader, TakesTheFirstAnalyzerInTheFileAndSkipsOtherBlocks) {
    TempDir dir;
    Channel channel(dir);
    std::string file = sectionHeader() + interfaceDescription();
    const auto three = dumps(3, 4), seven = dumps(7, 4);
    for (int i = 0; i < 4; ++i) {
        file += packet(three[i]) + packet(seven[i]);
        file += block(pcapng::kNameResolutionType, std::string(16, '\0'));  // name resolution block in between
    }
    writeFile(dir.file("mixed.pcapng"), file);
    Reader reader = open(dir.file("mixed.pcapng"), &channel);
    ASSERT_TRUE(reader);
    ASSERT_EQ(replayReaderCheckStart(reader.get()), 0);
    PacketRecord record{};
    int accepted = 0, calls = 0;
    while (replayReaderBytesLeft(reader.get()) > 0 && calls++ < 100) {
        std::memset(record.data, 0, 64);
        record.capturedLength = 0;
        if (replayReaderReadNext(reader.get(), &record, isDumpFrame, g_now) == 0) {
            ++accepted;
            EXPECT_EQ(record.data[dumpframe::kIpSourceLastOctet], 3);
        }
    }
    EXPECT_EQ(accepted, 4);
    EXPECT_EQ(calls, 12);  // every block read exactly once
    const std::string log = controlTexts(channel.messages(), 1, 1) + controlTexts(channel.messages(), 1, 2);
    EXPECT_NE(log.find("Q40TA5521 deteced successfully! HW node number: 3."), std::string::npos) << log;
    EXPECT_NE(log.find("File open succeeded! Given filename: ["), std::string::npos);
}

TEST(ReplayReader, CapturedDataIsCutToTheSlotAndToTheBlock) {
    TempDir dir;
    const std::string big = dumps(1, 1, 1700)[0];  // a dump frame beyond 1536 bytes
    ASSERT_GT(big.size(), kRecordDataCapacity);
    const std::string small = dumps(1, 1)[0];
    std::string file = sectionHeader() + interfaceDescription() + packet(big) + packet(small, 5000);
    file += block(pcapng::kNameResolutionType, std::string(1200, '\0'));
    writeFile(dir.file("cut.pcapng"), file);
    Reader reader = open(dir.file("cut.pcapng"), nullptr);
    ASSERT_TRUE(reader);
    ASSERT_EQ(replayReaderCheckStart(reader.get()), 0);
    auto record = std::make_unique<PacketRecord>();
    ASSERT_EQ(replayReaderReadNext(reader.get(), record.get(), isDumpFrame, g_now), 0);
    EXPECT_EQ(record->capturedLength, kRecordDataCapacity);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(record->data), kRecordDataCapacity),
              big.substr(0, kRecordDataCapacity));
    record->capturedLength = 0;
    ASSERT_EQ(replayReaderReadNext(reader.get(), record.get(), isDumpFrame, g_now), 0);
    // The block holds the frame padded to four bytes; the claim of 5000 is cut to that.
    EXPECT_EQ(record->capturedLength, (small.size() + 3) & ~size_t{3});
}

TEST(ReplayReader, HeaderBlocksLongerThanTheWindowAreRefused) {
    TempDir dir;
    const std::string tail = packet(dumps(1, 1)[0]) + block(pcapng::kNameResolutionType, std::string(2000, '\0'));
    writeFile(dir.file("long_shb.pcapng"), sectionHeader(2100) + interfaceDescription() + tail);
    writeFile(dir.file("ok.pcapng"), sectionHeader(16) + interfaceDescription() + tail);
    Reader longHeader = open(dir.file("long_shb.pcapng"), nullptr);
    ASSERT_TRUE(longHeader);
    EXPECT_EQ(replayReaderCheckStart(longHeader.get()), -1);
    Reader ok = open(dir.file("ok.pcapng"), nullptr);
    ASSERT_TRUE(ok);
    EXPECT_EQ(replayReaderCheckStart(ok.get()), 0);
    // Only once.
    EXPECT_EQ(replayReaderCheckStart(ok.get()), -1);
}

TEST(ReplayReader, WaitingMessageAfterTwoSecondsWithoutDumpFramesAnimatesItsDots) {
    for (const int node : {5, 12}) {
        TempDir dir;
        Channel channel(dir);
        std::string file = sectionHeader() + interfaceDescription();
        for (int i = 0; i < 40; ++i) file += packet(std::string(60, '\x22'));
        writeFile(dir.file("idle.pcapng"), file);
        Reader reader = open(dir.file("idle.pcapng"), &channel, static_cast<uint8_t>(node));
        ASSERT_TRUE(reader);
        ASSERT_EQ(replayReaderCheckStart(reader.get()), 0);
        PacketRecord record{};
        const std::time_t start = g_now;
        for (int i = 0; i < 40; ++i) {
            g_now = start + 1 + i;  // one second per block
            record.capturedLength = 0;
            EXPECT_EQ(replayReaderReadNext(reader.get(), &record, isDumpFrame, g_now), -1);
        }
        std::vector<std::string> waiting;
        for (const ControlMessage &m : channel.messages())
            if (m.control == 0 && m.command == 6 && m.payload.find("Waiting") != std::string::npos)
                waiting.push_back(m.payload);
        // Silent for the first two seconds, then one message per second.
        ASSERT_EQ(waiting.size(), 38u) << node;
        const std::string prefix = "  Waiting for Q40TA5521 (" + std::to_string(node) + ") ";
        const size_t firstDots = node < 10 ? 2 : 1;
        for (size_t i = 0; i < waiting.size(); ++i) {
            const size_t dots = firstDots + i % 16;
            EXPECT_EQ(waiting[i], prefix + std::string(dots, '.') + "\n") << node << " message " << i;
        }
    }
}
