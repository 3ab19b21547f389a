// Frames as the analyzer sees them on the wire: with --fcs the simulator pads
// short frames and appends their Ethernet FCS, so a replayed capture carries
// the FCS Wireshark checks as good and no frame is flagged as a runt.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "dump_frame.h"
#include "replay_harness.h"
#include "ta5521_packer.h"

using namespace replaytest;

namespace {

namespace df = dumpframe;

constexpr uint32_t kShortFrameFlag = 1u << 26;
constexpr uint32_t kCrcErrorFlag = 1u << 24;
constexpr size_t kMinFrameWithoutFcs = 60;

std::string withFcs(std::string frame, uint32_t crc) {
    for (int i = 0; i < 4; ++i) frame.push_back(static_cast<char>(crc >> (8 * i)));
    return frame;
}
uint32_t crcOf(const std::string &bytes) {
    return ta5521sim::ethernetCrc32(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}
// What an analyzer on the wire captures of a frame taken without its FCS.
std::string wireView(const std::string &frame, bool crcError = false) {
    std::string padded = frame;
    if (padded.size() < kMinFrameWithoutFcs) padded.resize(kMinFrameWithoutFcs, '\0');
    const uint32_t crc = crcOf(padded);
    return withFcs(padded, crcError ? ~crc : crc);
}

struct PackedRecord {
    uint16_t size;
    std::string data;
};

struct TestFrame {
    std::string bytes;
    uint32_t wireLength;
};

// Packs frames one record per dump and reads every record back.
std::vector<PackedRecord> packFrames(ta5521sim::PackerConfig config, const std::vector<TestFrame> &frames) {
    config.recordsPerDump = 1;
    std::vector<PackedRecord> records;
    ta5521sim::Packer packer(config, [&](const ta5521sim::DumpFrameOut &dump) {
        const uint8_t *head = dump.data + df::kFirstRecordOffset;
        const uint16_t size =
            static_cast<uint16_t>(head[df::kRecordSizeOffset] | (head[df::kRecordSizeOffset + 1] << 8));
        const uint32_t available = dump.length - df::kFirstRecordOffset - df::kRecordHeadLength;
        const char *data = reinterpret_cast<const char *>(head + df::kRecordHeadLength);
        records.push_back({size, std::string(data, std::min<uint32_t>(size, available))});
    });
    int64_t time = 0;
    for (const TestFrame &f : frames) {
        packer.addFrame(time, reinterpret_cast<const uint8_t *>(f.bytes.data()), static_cast<uint32_t>(f.bytes.size()),
                        f.wireLength);
        time += 1000;
    }
    packer.finish();
    return records;
}

std::string patterned(size_t length, uint8_t seed) {
    std::string frame(length, '\0');
    for (size_t i = 0; i < length; ++i) frame[i] = static_cast<char>(seed + i * 7);
    return frame;
}

}  // namespace

TEST(EthernetFcs, CrcMatchesTheStandardCheckValueAndTrailingFcsIsRecognised) {
    const std::string check = "123456789";
    EXPECT_EQ(crcOf(check), 0xCBF43926u);
    std::string frame = withFcs(check, 0xCBF43926u);
    EXPECT_EQ(frame.substr(9), std::string("\x26\x39\xF4\xCB", 4));  // least significant byte first
    auto valid = [](const std::string &f) {
        return ta5521sim::endsInValidFcs(reinterpret_cast<const uint8_t *>(f.data()), f.size());
    };
    EXPECT_TRUE(valid(frame));
    frame[3] ^= 0x10;
    EXPECT_FALSE(valid(frame));
    EXPECT_FALSE(valid(check));
    // Four bytes or fewer hold no frame before an FCS.
    EXPECT_FALSE(valid(withFcs("", crcOf(""))));
}

TEST(EthernetFcs, PackerGivesEachWholeFrameItsWireFormOnlyWhenAsked) {
    const std::string minimum = patterned(60, 1);
    const std::string unpadded = patterned(36, 2);
    const std::string full = patterned(1514, 3);
    const std::string alreadyWithFcs = wireView(patterned(80, 4));
    const std::string cut = patterned(100, 5);
    const std::vector<TestFrame> frames = {{minimum, 60},        {unpadded, 36}, {full, 1514},
                                           {alreadyWithFcs, 84}, {cut, 300},     {minimum, 60}};

    ta5521sim::PackerConfig config;
    config.maxDumpBytes = 9000;  // the longest frame travels whole
    config.frameErrors[6] = ta5521sim::kErrorCrc;

    // Default: frames as read, a CRC error only in the record's flags.
    const auto asRead = packFrames(config, frames);
    ASSERT_EQ(asRead.size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_TRUE(asRead[i].data == frames[i].bytes) << i;
        EXPECT_EQ(asRead[i].size, frames[i].bytes.size()) << i;
    }

    config.appendFcs = true;
    const auto wire = packFrames(config, frames);
    ASSERT_EQ(wire.size(), frames.size());
    EXPECT_EQ(wire[0].data, minimum + withFcs("", crcOf(minimum)));
    EXPECT_EQ(wire[1].data, unpadded + std::string(24, '\0') + withFcs("", crcOf(unpadded + std::string(24, '\0'))));
    EXPECT_EQ(wire[1].data.size(), 64u);
    EXPECT_TRUE(wire[2].data == wireView(full));
    EXPECT_EQ(wire[2].data.size(), 1518u);
    EXPECT_EQ(wire[3].data, alreadyWithFcs);  // no second FCS
    EXPECT_EQ(wire[4].data, cut);             // its FCS would cover bytes the capture lacks
    EXPECT_EQ(wire[5].data, wireView(minimum, true));
    for (size_t i = 0; i < wire.size(); ++i) EXPECT_EQ(wire[i].size, wire[i].data.size()) << i;
}

TEST(EthernetFcs, CrcErrorSpoilsAnFcsTheFrameAlreadyCarried) {
    const std::string carried = wireView(patterned(70, 9));
    ta5521sim::PackerConfig config;
    config.appendFcs = true;
    config.frameErrors[1] = ta5521sim::kErrorCrc;
    const auto wire = packFrames(config, {{carried, 74}});
    ASSERT_EQ(wire.size(), 1u);
    EXPECT_EQ(wire[0].data, wireView(patterned(70, 9), true));
}

namespace {

class SimulatorFcs : public ::testing::Test {
protected:
    void SetUp() override {
        if (sharedCaptures().empty()) GTEST_SKIP() << "shared captures not found";
        input_ = sharedCaptures() + "/powerlink_1cn_boot.pcapng";
    }
    // Packs `input` on port 01 (so the replay keeps the input's order) and replays it.
    std::vector<Packet> packAndReplay(const std::string &input, std::vector<std::string> args,
                                      std::string *simMessages = nullptr) {
        const std::string raw = dir_.file("raw.pcapng");
        args.insert(args.begin(), {"--fcs", "--ports=port01", "--records=8"});
        std::vector<std::string> argv = {simulatorPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.push_back(input);
        argv.push_back(raw);
        std::string messages;
        EXPECT_EQ(runProgram(argv, &messages), 0) << messages;
        if (simMessages) *simMessages = messages;
        const ReplayResult result = replayWithFifos(dir_, raw, {});
        EXPECT_EQ(result.status, 0) << result.console;
        EXPECT_TRUE(result.pcapngValid);
        writeFile(dir_.file("capture.pcapng"), result.pcapng);
        return result.packets;
    }
    TempDir dir_;
    std::string input_;
};

}  // namespace

TEST_F(SimulatorFcs, ReplayedFramesAreTheOriginalsWithTheirFcsGoodForWiresharkAndNoRunts) {
    const std::vector<InputFrame> frames = readCapture(input_);
    ASSERT_EQ(frames.size(), 834u);
    size_t shortOriginals = 0;
    for (const InputFrame &f : frames) shortOriginals += f.data.size() < 64;
    ASSERT_GT(shortOriginals, 500u);  // 60-byte frames and unpadded ones of 36 and 54 bytes

    const size_t crcFrame = 5;
    std::string messages;
    const std::vector<Packet> packets = packAndReplay(input_, {"--error=5:crc"}, &messages);
    EXPECT_NE(messages.find("834 of 834 frames given an FCS (552 padded to 60 bytes first)"), std::string::npos)
        << messages;
    ASSERT_EQ(packets.size(), frames.size());
    size_t mismatches = 0;
    for (size_t i = 0; i < packets.size() && mismatches < 5; ++i) {
        const bool damaged = i + 1 == crcFrame;
        const std::string expected = wireView(frames[i].data, damaged);
        const Packet &p = packets[i];
        if (p.data != expected || p.frameLength != expected.size() || (p.flags & kShortFrameFlag) ||
            ((p.flags & kCrcErrorFlag) != 0) != damaged) {
            ++mismatches;
            ADD_FAILURE() << "frame " << i + 1 << ": length " << p.data.size() << " vs " << expected.size()
                          << ", flags 0x" << std::hex << p.flags << std::dec << ", bytes "
                          << (p.data == expected ? "equal" : "differ");
        }
    }

    // Wireshark's Ethernet dissector, told the frames carry an FCS, checks it.
    std::string output;
    ASSERT_EQ(runProgram({"/usr/bin/tshark", "-r", dir_.file("capture.pcapng"), "-o", "eth.fcs:Always", "-o",
                          "eth.check_fcs:TRUE", "-T", "fields", "-e", "frame.number", "-e", "frame.len", "-e",
                          "eth.fcs.status"},
                         &output),
              0)
        << output;
    size_t good = 0, rows = 0;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        size_t number, length;
        int status;
        if (!(fields >> number >> length >> status)) continue;  // tshark's own notes
        ++rows;
        EXPECT_GE(length, 64u) << line;
        EXPECT_EQ(status, number == crcFrame ? 0 : 1) << line;  // 1 = good, 0 = bad
        good += status == 1;
    }
    EXPECT_EQ(rows, frames.size());
    EXPECT_EQ(good, frames.size() - 1);
}

TEST_F(SimulatorFcs, CaptureThatAlreadyCarriesFcsIsPackedAsRead) {
    const std::vector<Packet> first = packAndReplay(input_, {});
    ASSERT_EQ(first.size(), 834u);
    // The replayed capture holds every frame with its FCS: packed again, no
    // frame gets a second one.
    const std::string withFcsCapture = dir_.file("with_fcs.pcapng");
    writeFile(withFcsCapture, readFile(dir_.file("capture.pcapng")));
    std::string messages;
    const std::vector<Packet> second = packAndReplay(withFcsCapture, {}, &messages);
    EXPECT_NE(messages.find("0 of 834 frames given an FCS"), std::string::npos) << messages;
    ASSERT_EQ(second.size(), first.size());
    for (size_t i = 0; i < first.size(); ++i) ASSERT_EQ(second[i].data, first[i].data) << "frame " << i + 1;
}
