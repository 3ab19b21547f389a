// Packs Ethernet frames into Q40TA5521 dump frames the way the analyzer sends
// them to the PC, with the knobs and faults a test of the capture engine needs.
// Shared by the ta5521_sim program (file output) and its live-send mode.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <vector>

namespace ta5521sim {

enum class PortAssignment {
    kPort01,       // every frame on port 01
    kPort02,       // every frame on port 02
    kAlternate,    // 01, 02, 01, ... in frame order
    kBySourceMac,  // listed source MACs (or all but the first source seen) on port 02
    kBothPorts,    // every frame on both ports, as an inline analyzer sees it pass
};

// Receive-error bits a record can carry (the analyzer's record flags).
enum RecordError : uint16_t {
    kErrorAlignment = 1u << 4,
    kErrorCrc = 1u << 8,
    kErrorOversize = 1u << 9,
    kErrorPreamble = 1u << 10,
    kErrorNoise = 1u << 11,
};

struct PackerConfig {
    PortAssignment ports = PortAssignment::kAlternate;
    std::vector<std::array<uint8_t, 6>> port02Macs;  // kBySourceMac; empty = all but the first source
    uint32_t portTwoDelayTicks = 0;                  // kBothPorts: port 02 sees the frame this much later
    uint64_t tickStart = 0;                          // analyzer tick count of the first frame
    uint32_t recordsPerDump = 16;                    // 1..255
    uint16_t dumpSize = 0;                           // 0 = variable record length, else fixed record size incl. head
    uint32_t maxDumpBytes = 1514;                    // longest dump frame sent (Ethernet, no FCS)
    uint8_t hwNode = 1;                              // last octet of the analyzer's IPv4 address
    uint16_t uniqueId = 0x2A51;
    uint8_t captureId = 1;
    uint8_t phyInfo = 0;
    uint16_t startDumpTotal = 0;
    // Faults. Dump numbers count the analyzer's genuine dumps from 1 in sending
    // order; frame numbers count the packed input frames from 1.
    std::set<uint64_t> dropDumps;                 // built and numbered, never sent
    std::set<uint64_t> duplicateDumps;            // sent twice
    std::set<uint64_t> foreignDumps;              // followed by a copy from another capture
    std::map<uint64_t, uint8_t> versionOf;        // protocol version of a dump (else 0)
    std::map<uint64_t, uint16_t> dumpLost;        // ta5521.dumpLost of a dump
    std::map<uint64_t, uint32_t> truncateDumps;   // dump cut to this many bytes (0 = into its last record head)
    std::map<uint64_t, uint16_t> frameErrors;     // receive-error bits of a frame
    std::map<uint64_t, uint8_t> diLevels;         // DI1..DI4 levels (bits 0..3) from this frame on
    std::map<uint64_t, uint16_t> oversizeFrames;  // frame sent alone with this claimed size and padding
    uint32_t latePortTwoDumps = 0;                // port 02's dumps are sent this many port 01 dumps late
    // Frames carry their Ethernet FCS, as the analyzer captures them off the
    // wire (ordinary NIC captures have none, so their shortest frame is 60 bytes,
    // or less when the sender captured it unpadded, where the analyzer sees 64).
    bool appendFcs = false;
};

// One dump frame ready to send or store, with the time (ns) the analyzer sent it.
struct DumpFrameOut {
    const uint8_t *data;
    uint32_t length;
    int64_t sentNs;
};

class Packer {
public:
    using Sink = std::function<void(const DumpFrameOut &)>;

    Packer(const PackerConfig &config, Sink sink);

    // Adds one captured frame (time in ns, the bytes the capture holds, the
    // length on the wire). Frames must come in non-decreasing time order.
    void addFrame(int64_t timeNs, const uint8_t *data, uint32_t capturedLength, uint32_t wireLength);
    // Sends every dump still open or held back.
    void finish();

    uint64_t framesPacked() const { return framesPacked_; }
    uint64_t recordsPacked() const { return recordsPacked_; }
    uint64_t dumpsBuilt() const { return dumpsBuilt_; }
    uint64_t framesSent() const { return framesSent_; }
    uint64_t framesGivenFcs() const { return framesGivenFcs_; }
    uint64_t framesPadded() const { return framesPadded_; }  // of those, padded to 60 bytes first

private:
    struct Record {
        uint64_t ticks;
        uint16_t size;
        uint16_t flags;
        std::vector<uint8_t> data;  // what the record carries (may be less than size)
    };
    struct OpenDump {
        std::vector<Record> records;
        uint32_t bytes = 0;  // dump frame length so far
    };

    int portOf(const uint8_t *data, uint32_t length);
    uint32_t recordBytes(uint32_t dataBytes) const;
    void addRecord(int port, Record &&record, bool alone);
    void putFcs(std::vector<uint8_t> *frame, uint32_t wireLength, bool crcError);
    void closeDump(int port);
    void buildAndSend(std::vector<Record> &records, int port);
    void emit(std::vector<uint8_t> &frame, uint64_t dumpNumber);
    void writeFraming(std::vector<uint8_t> &frame) const;
    void send(const std::vector<uint8_t> &frame);

    PackerConfig config_;
    Sink sink_;
    int64_t firstNs_ = 0;
    bool haveFirst_ = false;
    bool haveFirstMac_ = false;
    std::array<uint8_t, 6> firstMac_{};
    uint8_t diLevels_ = 0;
    uint64_t framesPacked_ = 0;
    uint64_t recordsPacked_ = 0;
    uint64_t dumpsBuilt_ = 0;
    uint64_t framesSent_ = 0;
    uint64_t framesGivenFcs_ = 0;
    uint64_t framesPadded_ = 0;
    uint16_t dumpTotal_ = 0;
    uint16_t ipId_ = 0;
    int64_t lastNs_ = 0;
    // One open dump for both ports, or one per port when port 02 is sent late.
    OpenDump open_[2];
    std::deque<std::vector<Record>> latePortTwo_;
    std::deque<uint32_t> lateCountdown_;
};

// IEEE 802.3 CRC-32 of an Ethernet frame (the value its FCS carries).
uint32_t ethernetCrc32(const uint8_t *data, size_t length);
// True when the last 4 bytes are the FCS of the bytes before them (least
// significant byte first, as on the wire).
bool endsInValidFcs(const uint8_t *data, size_t length);

// Parses "12", "1,4,9" and "3-7" lists of positive numbers; false on bad text.
bool parseNumberList(const char *text, std::set<uint64_t> *out);
// Parses a MAC address "02:d7:a5:00:00:01".
bool parseMac(const char *text, std::array<uint8_t, 6> *out);
// Parses receive-error names joined by '+' or ',': crc, oversize, alignment, preamble, noise.
bool parseErrorNames(const char *text, uint16_t *bits);

}  // namespace ta5521sim
