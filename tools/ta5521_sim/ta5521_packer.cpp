#include "ta5521_packer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dump_format.h"

namespace ta5521sim {
namespace {

namespace df = dumpframe;

// Framing the analyzer puts in front of its dump header.
constexpr uint32_t kEthernetHeader = 14;
constexpr uint32_t kIpv4HeaderOffset = kEthernetHeader;
constexpr uint32_t kIpv4HeaderLength = 20;
constexpr uint32_t kUdpHeaderOffset = kIpv4HeaderOffset + kIpv4HeaderLength;
constexpr uint8_t kIpProtocolUdp = 17;
constexpr uint8_t kIpTtl = 64;
// The analyzer's address: 192.168.100.<HW node>, sending to the subnet broadcast.
constexpr uint8_t kAnalyzerNet[3] = {192, 168, 100};
// Locally administered MAC prefix of the maker; the last octet is the HW node.
constexpr uint8_t kAnalyzerMacPrefix[5] = {0x02, 0xD7, 0xA5, 0x00, 0x00};
// A dump's records must lie within half the low counter's range of its first
// record, so the engine can tell a wrap of the low part from a step back.
constexpr uint64_t kMaxDumpSpanTicks = 0x7FFFFFFFull;
// Claimed size of an oversized record when none is given.
constexpr uint16_t kDefaultOversize = 1600;

void putLe16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void putLe32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void putBe16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
// Length of the Ethernet frame check sequence.
constexpr uint32_t kFcsLength = 4;
// Shortest Ethernet frame on the wire, FCS not counted: a sending MAC pads
// shorter frames with zeros up to it.
constexpr uint32_t kMinFrameWithoutFcs = 60;
// Longest frame a record can describe (its size field is 16 bits).
constexpr uint32_t kMaxRecordFrame = 0xFFFF;

// Table of the reflected IEEE 802.3 CRC-32 (polynomial 0xEDB88320), one entry per byte value.
struct CrcTable {
    uint32_t entry[256];
    constexpr CrcTable() : entry() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entry[i] = c;
        }
    }
};
constexpr CrcTable kCrcTable;

uint32_t alignUp(uint32_t v) { return (v + df::kRecordAlignment - 1) & ~(df::kRecordAlignment - 1); }

uint16_t ipv4Checksum(const uint8_t *header) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < kIpv4HeaderLength; i += 2) sum += df::readBe16(header + i);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

}  // namespace

Packer::Packer(const PackerConfig &config, Sink sink) : config_(config), sink_(std::move(sink)) {
    if (config_.recordsPerDump < 1) config_.recordsPerDump = 1;
    if (config_.recordsPerDump > 255) config_.recordsPerDump = 255;
    dumpTotal_ = config_.startDumpTotal;
}

int Packer::portOf(const uint8_t *data, uint32_t length) {
    switch (config_.ports) {
    case PortAssignment::kPort01: return 0;
    case PortAssignment::kPort02: return 1;
    case PortAssignment::kAlternate: return static_cast<int>(framesPacked_ % 2);
    case PortAssignment::kBothPorts: return 0;
    case PortAssignment::kBySourceMac: break;
    }
    if (length < 12) return 0;
    std::array<uint8_t, 6> source;
    std::memcpy(source.data(), data + 6, 6);
    if (!config_.port02Macs.empty()) {
        for (const auto &mac : config_.port02Macs)
            if (mac == source) return 1;
        return 0;
    }
    if (!haveFirstMac_) {
        firstMac_ = source;
        haveFirstMac_ = true;
    }
    return source == firstMac_ ? 0 : 1;
}

uint32_t Packer::recordBytes(uint32_t dataBytes) const {
    if (config_.dumpSize != 0) return config_.dumpSize;
    return alignUp(df::kRecordHeadLength + dataBytes);
}

void Packer::addFrame(int64_t timeNs, const uint8_t *data, uint32_t capturedLength, uint32_t wireLength) {
    if (!haveFirst_) {
        firstNs_ = timeNs;
        haveFirst_ = true;
    }
    lastNs_ = timeNs;
    const uint64_t frameNumber = framesPacked_ + 1;
    auto di = config_.diLevels.find(frameNumber);
    if (di != config_.diLevels.end()) diLevels_ = di->second & 0x0F;

    uint16_t flags = static_cast<uint16_t>(diLevels_ << df::kRecordFirstDigitalInputBit);
    auto error = config_.frameErrors.find(frameNumber);
    if (error != config_.frameErrors.end()) flags |= error->second;

    const uint64_t ticks = config_.tickStart + static_cast<uint64_t>(timeNs - firstNs_) / df::kNanosecondsPerTick;
    // The analyzer stores whole frames: the record's size is what the input holds.
    const uint16_t size = static_cast<uint16_t>(capturedLength > kMaxRecordFrame ? kMaxRecordFrame : capturedLength);

    auto oversize = config_.oversizeFrames.find(frameNumber);
    const bool alone = oversize != config_.oversizeFrames.end();
    Record record{ticks, size, flags, {}};
    record.data.reserve(std::max<uint32_t>(size, kMinFrameWithoutFcs) + kFcsLength);
    record.data.assign(data, data + size);
    if (config_.appendFcs) {
        putFcs(&record.data, wireLength, (flags & kErrorCrc) != 0);
        record.size = static_cast<uint16_t>(record.data.size());
    }
    if (alone) {
        record.size = oversize->second ? oversize->second : kDefaultOversize;
        record.data.resize(record.size, 0);
    }

    const int port = portOf(data, capturedLength);
    if (config_.ports == PortAssignment::kBothPorts) {
        Record copy = record;
        copy.ticks += config_.portTwoDelayTicks;
        copy.flags |= df::kRecordPortBit;
        addRecord(0, std::move(record), alone);
        addRecord(1, std::move(copy), alone);
    } else {
        if (port == 1) record.flags |= df::kRecordPortBit;
        addRecord(port, std::move(record), alone);
    }
    ++framesPacked_;
}

// The analyzer captures a frame as it passed on the wire: padded to the
// Ethernet minimum and ending in its FCS. A frame that already ends in its FCS
// keeps it (captured by a NIC that keeps FCSs); a frame the capture cut short
// keeps its bytes as read, since its FCS would cover bytes the capture lacks.
// A frame the sending host captured before its MAC padded it (outgoing frames
// often are) gets the zero padding first. A frame given a CRC error was damaged
// on the wire, so its FCS does not match its bytes.
void Packer::putFcs(std::vector<uint8_t> *frame, uint32_t wireLength, bool crcError) {
    size_t length = frame->size();
    uint8_t *fcs = nullptr;
    if (endsInValidFcs(frame->data(), length)) {
        fcs = frame->data() + length - kFcsLength;
    } else {
        if (length < wireLength || length + kFcsLength > kMaxRecordFrame) return;
        if (length < kMinFrameWithoutFcs) {
            length = kMinFrameWithoutFcs;
            ++framesPadded_;
        }
        frame->resize(length + kFcsLength, 0);
        fcs = frame->data() + length;
        putLe32(fcs, ethernetCrc32(frame->data(), length));
        ++framesGivenFcs_;
    }
    if (crcError)
        for (uint32_t i = 0; i < kFcsLength; ++i) fcs[i] = static_cast<uint8_t>(~fcs[i]);
}

void Packer::addRecord(int port, Record &&record, bool alone) {
    const int slot = config_.latePortTwoDumps > 0 ? port : 0;
    OpenDump &dump = open_[slot];
    const uint32_t header = df::kFirstRecordOffset;
    // A fixed record size cuts what does not fit (the record keeps the frame's size).
    if (config_.dumpSize != 0 && record.data.size() > config_.dumpSize - df::kRecordHeadLength)
        record.data.resize(config_.dumpSize - df::kRecordHeadLength);
    const uint32_t dataBytes = static_cast<uint32_t>(record.data.size());
    const uint32_t bytes = recordBytes(dataBytes);

    // A frame that cannot fit even an empty dump goes alone and is cut at the
    // end of the dump frame, as the analyzer does (the engine sees the cut).
    const bool tooLong = !alone && header + bytes > config_.maxDumpBytes;
    if (alone || tooLong) {
        closeDump(slot);
        if (tooLong) record.data.resize(config_.maxDumpBytes - header - df::kRecordHeadLength);
        std::vector<Record> single;
        single.push_back(std::move(record));
        ++recordsPacked_;
        buildAndSend(single, slot);
        return;
    }
    if (!dump.records.empty() &&
        (dump.records.size() >= config_.recordsPerDump || dump.bytes + bytes > config_.maxDumpBytes ||
         record.ticks - dump.records.front().ticks > kMaxDumpSpanTicks))
        closeDump(slot);
    if (dump.records.empty()) dump.bytes = header;
    dump.bytes += bytes;
    dump.records.push_back(std::move(record));
    ++recordsPacked_;
}

void Packer::closeDump(int slot) {
    OpenDump &dump = open_[slot];
    if (dump.records.empty()) return;
    std::vector<Record> records;
    records.swap(dump.records);
    dump.bytes = 0;
    buildAndSend(records, slot);
}

void Packer::buildAndSend(std::vector<Record> &records, int slot) {
    if (config_.latePortTwoDumps > 0 && slot == 1) {
        latePortTwo_.push_back(std::move(records));
        lateCountdown_.push_back(config_.latePortTwoDumps);
        return;
    }
    std::vector<uint8_t> frame;
    frame.reserve(2048);
    frame.resize(df::kFirstRecordOffset, 0);
    const uint64_t dumpNumber = ++dumpsBuilt_;
    for (const Record &record : records) {
        const uint32_t start = static_cast<uint32_t>(frame.size());
        const uint32_t dataBytes = static_cast<uint32_t>(record.data.size());
        const bool cut = config_.dumpSize == 0 && dataBytes < record.size;
        const uint32_t bytes = cut ? df::kRecordHeadLength + dataBytes : recordBytes(dataBytes);
        frame.resize(start + bytes, 0);
        uint8_t *head = frame.data() + start;
        putLe32(head + df::kRecordTimestampOffset, static_cast<uint32_t>(record.ticks));
        putLe16(head + df::kRecordSizeOffset, record.size);
        putLe16(head + df::kRecordFlagsOffset, record.flags);
        if (dataBytes) std::memcpy(head + df::kRecordHeadLength, record.data.data(), dataBytes);
    }
    uint8_t *h = frame.data();
    putLe16(h + df::kDumpSizeOffset, config_.dumpSize);
    h[df::kDumpCountOffset] = static_cast<uint8_t>(records.size());
    h[df::kCaptureIdOffset] = config_.captureId;
    putLe16(h + df::kDumpTotalOffset, dumpTotal_);
    auto lost = config_.dumpLost.find(dumpNumber);
    putLe16(h + df::kDumpLostOffset, lost != config_.dumpLost.end() ? lost->second : 0);
    putLe16(h + df::kUniqueIdOffset, config_.uniqueId);
    putLe32(h + df::kTsHighOffset, static_cast<uint32_t>(records.front().ticks >> 32));
    h[df::kPhyInfoOffset] = config_.phyInfo;
    auto version = config_.versionOf.find(dumpNumber);
    h[df::kProtocolVersionOffset] = version != config_.versionOf.end() ? version->second : df::kProtocolVersion;
    putLe16(h + df::kReservedOffset, 0);
    dumpTotal_ = static_cast<uint16_t>(dumpTotal_ + records.size());
    writeFraming(frame);

    if (!config_.dropDumps.count(dumpNumber)) {
        auto truncate = config_.truncateDumps.find(dumpNumber);
        if (truncate != config_.truncateDumps.end()) {
            // Default: end the frame inside the last record's head.
            uint32_t lastStart = df::kFirstRecordOffset;
            uint32_t offset = df::kFirstRecordOffset;
            for (const Record &record : records) {
                lastStart = offset;
                const uint32_t dataBytes = static_cast<uint32_t>(record.data.size());
                offset += (config_.dumpSize == 0 && dataBytes < record.size) ? df::kRecordHeadLength + dataBytes
                                                                             : recordBytes(dataBytes);
            }
            uint32_t keep = truncate->second ? truncate->second : lastStart + df::kRecordHeadLength / 2;
            if (keep < frame.size()) frame.resize(keep);
        }
        send(frame);
        if (config_.duplicateDumps.count(dumpNumber)) send(frame);
        if (config_.foreignDumps.count(dumpNumber)) {
            // Another capture of the analyzer: other unique id, and a running number
            // that would look like a loss if the frame were not ignored.
            std::vector<uint8_t> foreign = frame;
            putLe16(foreign.data() + df::kUniqueIdOffset, static_cast<uint16_t>(config_.uniqueId ^ 0x8000));
            putLe16(foreign.data() + df::kDumpTotalOffset,
                    static_cast<uint16_t>(df::readLe16(h + df::kDumpTotalOffset) + 1000));
            send(foreign);
        }
    }

    // A port 01 dump went out: port 02's held-back dumps come closer to sending.
    if (config_.latePortTwoDumps > 0 && slot == 0) {
        for (auto &countdown : lateCountdown_)
            if (countdown > 0) --countdown;
        while (!lateCountdown_.empty() && lateCountdown_.front() == 0) {
            std::vector<Record> late = std::move(latePortTwo_.front());
            latePortTwo_.pop_front();
            lateCountdown_.pop_front();
            const uint32_t keep = config_.latePortTwoDumps;
            config_.latePortTwoDumps = 0;  // send now, without queueing again
            buildAndSend(late, 1);
            config_.latePortTwoDumps = keep;
        }
    }
}

void Packer::writeFraming(std::vector<uint8_t> &frame) const {
    uint8_t *f = frame.data();
    const uint32_t length = static_cast<uint32_t>(frame.size());
    std::memset(f, 0xFF, 6);  // broadcast: the analyzer addresses no one in particular
    std::memcpy(f + 6, kAnalyzerMacPrefix, 5);
    f[11] = config_.hwNode;
    putBe16(f + df::kEtherTypeOffset, df::kEtherTypeIpv4);
    uint8_t *ip = f + kIpv4HeaderOffset;
    ip[0] = 0x45;
    ip[1] = 0;
    putBe16(ip + 2, static_cast<uint16_t>(length - kEthernetHeader));
    putBe16(ip + 4, ipId_);
    putBe16(ip + 6, 0x4000);  // don't fragment
    ip[8] = kIpTtl;
    ip[9] = kIpProtocolUdp;
    putBe16(ip + 10, 0);
    std::memcpy(ip + 12, kAnalyzerNet, 3);
    ip[15] = config_.hwNode;
    std::memcpy(ip + 16, kAnalyzerNet, 3);
    ip[19] = 255;
    putBe16(ip + 10, ipv4Checksum(ip));
    uint8_t *udp = f + kUdpHeaderOffset;
    putBe16(udp + 0, df::kUdpPort);
    putBe16(udp + 2, df::kUdpPort);
    putBe16(udp + 4, static_cast<uint16_t>(length - kUdpHeaderOffset));
    putBe16(udp + 6, 0);  // no checksum (allowed over IPv4)
    f[df::kPlkMessageTypeOffset] = df::kPlkMessageTypeAsnd;
    f[df::kPlkDestinationOffset] = df::kPlkBroadcastNode;
    f[df::kPlkSourceOffset] = config_.hwNode;
    f[df::kAsndServiceOffset] = df::kAsndServiceDump;
}

void Packer::send(const std::vector<uint8_t> &frame) {
    ++ipId_;
    sink_(DumpFrameOut{frame.data(), static_cast<uint32_t>(frame.size()), lastNs_});
    ++framesSent_;
}

void Packer::finish() {
    closeDump(0);
    closeDump(1);
    const uint32_t keep = config_.latePortTwoDumps;
    config_.latePortTwoDumps = 0;
    while (!latePortTwo_.empty()) {
        std::vector<Record> late = std::move(latePortTwo_.front());
        latePortTwo_.pop_front();
        buildAndSend(late, 1);
    }
    lateCountdown_.clear();
    config_.latePortTwoDumps = keep;
}

uint32_t ethernetCrc32(const uint8_t *data, size_t length) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) crc = kCrcTable.entry[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

bool endsInValidFcs(const uint8_t *data, size_t length) {
    if (length <= kFcsLength) return false;
    const uint8_t *fcs = data + length - kFcsLength;
    const uint32_t carried = static_cast<uint32_t>(fcs[0]) | (static_cast<uint32_t>(fcs[1]) << 8) |
                             (static_cast<uint32_t>(fcs[2]) << 16) | (static_cast<uint32_t>(fcs[3]) << 24);
    return carried == ethernetCrc32(data, length - kFcsLength);
}

bool parseNumberList(const char *text, std::set<uint64_t> *out) {
    if (!text || !*text) return false;
    const char *p = text;
    while (*p) {
        char *end = nullptr;
        unsigned long long first = std::strtoull(p, &end, 0);
        if (end == p || first == 0) return false;
        unsigned long long last = first;
        p = end;
        if (*p == '-') {
            ++p;
            last = std::strtoull(p, &end, 0);
            if (end == p || last < first || last - first > 10000000) return false;
            p = end;
        }
        for (unsigned long long n = first; n <= last; ++n) out->insert(n);
        if (*p == ',')
            ++p;
        else if (*p)
            return false;
    }
    return true;
}

bool parseMac(const char *text, std::array<uint8_t, 6> *out) {
    unsigned v[6];
    char tail;
    if (std::sscanf(text, "%x:%x:%x:%x:%x:%x%c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &tail) != 6) return false;
    for (int i = 0; i < 6; ++i) {
        if (v[i] > 0xFF) return false;
        (*out)[i] = static_cast<uint8_t>(v[i]);
    }
    return true;
}

bool parseErrorNames(const char *text, uint16_t *bits) {
    static const struct {
        const char *name;
        uint16_t bit;
    } kNames[] = {{"crc", kErrorCrc},
                  {"oversize", kErrorOversize},
                  {"alignment", kErrorAlignment},
                  {"preamble", kErrorPreamble},
                  {"noise", kErrorNoise}};
    *bits = 0;
    std::string all(text ? text : "");
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find_first_of("+,", start);
        std::string name = all.substr(start, end == std::string::npos ? std::string::npos : end - start);
        bool known = false;
        for (const auto &entry : kNames)
            if (name == entry.name) {
                *bits |= entry.bit;
                known = true;
            }
        if (!known) return false;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return *bits != 0;
}

}  // namespace ta5521sim
