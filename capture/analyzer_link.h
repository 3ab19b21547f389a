// The link to a Q40TA5521 analyzer on the network: listens on every network
// interface card until one delivers a dump frame of the wanted analyzer, then
// reads from that card alone.
#pragma once

#include <cstdint>
#include <ctime>

struct AnalyzerLink;
struct ControlChannel;
struct pcap_pkthdr;

// The test that accepts a received frame as a dump frame of the wanted
// analyzer (isDumpFrame of dump_frame.h); a wanted node of 0 is set to the
// node of the first analyzer accepted.
using DumpFrameTest = bool (*)(const uint8_t *frame, uint32_t length, uint8_t *wantedNode);

constexpr int kAnalyzerSnapLength = 65536;
constexpr int kAnalyzerReadTimeoutMs = 1;
constexpr int kNicDescriptionChars = 256;  // 255 characters + terminator

// Reads the capture library's version and device list. nullptr (after the
// failure has been reported) when there is no control channel, the library
// cannot be used or it lists no devices.
AnalyzerLink *analyzerLinkCreate(ControlChannel *channel, uint8_t wantedNode, const char *deviceName);

// Opens every listed device that can capture Ethernet frames. 0, or -1
// without a link or with an empty device list. Devices that cannot be opened are skipped (logged);
// when none is left open, an error message says why and the answer is -1.
int analyzerLinkOpenAll(AnalyzerLink *link);

// One receive pass: during discovery at most one frame per opened card, later
// one frame from the selected card. 0 with an accepted dump frame in the out
// parameters (valid until the next call), -1 when none came in this call.
// Never blocks longer than one read timeout per opened card.
int analyzerLinkReceive(AnalyzerLink *link, const pcap_pkthdr **header, const uint8_t **data, DumpFrameTest isDumpFrame,
                        std::time_t now);

// A card whose reads fail (it went away) is closed and logged. When the
// selected card, or the last card searched, fails, an error message says so
// and analyzerLinkFailed turns true: the capture cannot go on. (Waiting for a
// card to come back would leave Wireshark showing a capture that captures
// nothing; the user restarts it once the card is back.)
bool analyzerLinkFailed(const AnalyzerLink *link);

// Kernel memory the discovery ties up: every card is opened with a 16 MiB
// kernel buffer until the analyzer is found (the selected card keeps its
// one). Counts the cards that are up now; 0 when none can be listed.
int64_t analyzerLinkDiscoveryKernelBytes();

// Wall-clock seconds of the last accepted dump frame (of the start before
// the first); 0 without a link.
std::time_t analyzerLinkLastDumpTime(const AnalyzerLink *link);

// The node being listened to (fixed once the first analyzer was accepted).
uint8_t analyzerLinkWantedNode(const AnalyzerLink *link);

// Name of the selected card, or nullptr during discovery.
const char *analyzerLinkSelectedNic(const AnalyzerLink *link);

// Number of cards currently open (all during discovery, one after it).
int analyzerLinkOpenNicCount(const AnalyzerLink *link);

// Closes every card still open and frees the link; nullptr is ignored.
void analyzerLinkClose(AnalyzerLink *link);
