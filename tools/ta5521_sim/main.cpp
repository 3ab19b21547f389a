// ta5521_sim: stands in for the Q40TA5521 analyzer. Reads the Ethernet frames
// of a pcap or pcapng capture and writes the dump frames the analyzer would
// have sent for them, as a raw pcapng capture that the replay interface of
// sentra_extcap reads back.
#include <getopt.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "live_sender.h"
#include "pcapng_file.h"
#include "ta5521_packer.h"

using namespace ta5521sim;

namespace {

const char kUsage[] =
    "Usage: ta5521_sim [options] INPUT OUTPUT.pcapng\n"
    "       ta5521_sim [options] --send=IFACE INPUT [OUTPUT.pcapng]\n"
    "\n"
    "Packs the Ethernet frames of INPUT (pcap or pcapng) into Q40TA5521 dump frames\n"
    "(UDP 3819 from 192.168.100.<node>, POWERLINK ASnd service 163, 18-byte dump\n"
    "header, 4-byte aligned records) and writes them to OUTPUT as a raw pcapng\n"
    "capture, the input of sentra_extcap's replay interface. Analyzer timestamps\n"
    "are 20 ns ticks: --tick-start plus the frame's distance from the first frame.\n"
    "Frames are packed in time order. Frame numbers below count the packed input\n"
    "frames from 1 (across repeats); dump numbers count the analyzer's dumps from 1\n"
    "in sending order.\n"
    "\n"
    "Ports and packing:\n"
    "  --ports=MODE           port01 | port02 | alternate (default) | mac | both\n"
    "                         mac: frames from --port2-mac sources on port 02, the\n"
    "                         rest on port 01 (without --port2-mac: the first source\n"
    "                         seen on port 01, every other on port 02);\n"
    "                         both: every frame on both ports (inline analyzer)\n"
    "  --port2-mac=MAC        source MAC sent on port 02 (repeatable)\n"
    "  --tap-delay-ticks=N    with --ports=both: port 02 sees a frame N ticks later\n"
    "  --records=N            records per dump, 1..255 (default 16)\n"
    "  --dump-size=N          fixed record size in bytes including the 8-byte head\n"
    "                         (0 = variable length, the default); longer frames are cut\n"
    "  --max-dump-bytes=N     longest dump frame, 100..9000 (default 1514)\n"
    "  --tick-start=N         tick count of the first frame (default 0; e.g.\n"
    "                         0xFFFFFF00 to wrap the low part soon, 0x100000000 to\n"
    "                         start with tsHigh 1)\n"
    "  --node=N               HW node number, the last octet of the analyzer's\n"
    "                         address, 1..255 (default 1)\n"
    "  --unique-id=N          ta5521.uniqueId (default 0x2A51)\n"
    "  --capture-id=N         ta5521.captureId (default 1)\n"
    "  --phy-info=N           ta5521.phyInfo (default 0)\n"
    "  --dump-total-start=N   ta5521.dumpTotal of the first dump (default 0)\n"
    "  --fcs                  frames as the analyzer captures them off the wire:\n"
    "                         padded with zeros to 60 bytes and followed by their\n"
    "                         Ethernet FCS (IEEE 802.3 CRC-32, least significant\n"
    "                         byte first), so the shortest frame has 64 bytes;\n"
    "                         frames that already end in a valid FCS keep theirs,\n"
    "                         frames the capture cut short stay as read; with\n"
    "                         --error=F:crc frame F's FCS is wrong (default: every\n"
    "                         frame packed as read)\n"
    "  --repeat=N             pack the input N times one after the other (default 1)\n"
    "  --repeat-gap-ms=N      pause between repeats (default 1)\n"
    "\n"
    "Faults (LIST: 5 | 1,4,9 | 3-7):\n"
    "  --drop-dump=LIST       dumps built but never sent (gaps in ta5521.dumpTotal)\n"
    "  --duplicate-dump=LIST  dumps sent twice\n"
    "  --foreign-dump=LIST    each followed by a dump of another capture (unique id)\n"
    "  --bad-version=D[:V]    dump D carries protocol version V (default 1)\n"
    "  --dump-lost=D:COUNT    dump D reports COUNT frames lost by the analyzer\n"
    "  --truncate-dump=D[:B]  dump D is cut to B bytes (default: inside the head of\n"
    "                         its last record)\n"
    "  --error=F:NAMES        receive errors of frame F, NAMES joined by '+':\n"
    "                         crc, oversize, alignment, preamble, noise\n"
    "  --di=F:LEVELS          digital inputs from frame F on: LEVELS bit 0 = DI1 ..\n"
    "                         bit 3 = DI4 (e.g. --di=100:1 --di=200:0 pulses DI1)\n"
    "  --oversize=F[:SIZE]    frame F is sent alone in a dump frame as a record of\n"
    "                         SIZE bytes (default 1600), padded with zeros\n"
    "  --late-port2=K         port 02's frames travel in dumps of their own, each\n"
    "                         sent after K more port 01 dumps (exercises the presort)\n"
    "\n"
    "Live sending (root or CAP_NET_RAW):\n"
    "  --send=IFACE           also send the dump frames on network interface IFACE\n"
    "                         as broadcasts; use it on a test link only (one end of\n"
    "                         a veth pair in a network namespace)\n"
    "  --speed=X              pace of sending: 1 = as the analyzer sent them\n"
    "                         (default), 10 = ten times faster, 0 = no pauses\n"
    "\n"
    "  --quiet                no summary on standard error\n"
    "  --help                 this text\n";

enum Option {
    kOptPorts = 256,
    kOptPort2Mac,
    kOptTapDelay,
    kOptRecords,
    kOptDumpSize,
    kOptMaxDump,
    kOptTickStart,
    kOptNode,
    kOptUniqueId,
    kOptCaptureId,
    kOptPhyInfo,
    kOptDumpTotalStart,
    kOptRepeat,
    kOptRepeatGap,
    kOptDropDump,
    kOptDuplicateDump,
    kOptForeignDump,
    kOptBadVersion,
    kOptDumpLost,
    kOptTruncateDump,
    kOptError,
    kOptDi,
    kOptOversize,
    kOptLatePort2,
    kOptFcs,
    kOptSend,
    kOptSpeed,
    kOptQuiet,
    kOptHelp,
};

const struct option kOptions[] = {
    {"ports", required_argument, nullptr, kOptPorts},
    {"port2-mac", required_argument, nullptr, kOptPort2Mac},
    {"tap-delay-ticks", required_argument, nullptr, kOptTapDelay},
    {"records", required_argument, nullptr, kOptRecords},
    {"dump-size", required_argument, nullptr, kOptDumpSize},
    {"max-dump-bytes", required_argument, nullptr, kOptMaxDump},
    {"tick-start", required_argument, nullptr, kOptTickStart},
    {"node", required_argument, nullptr, kOptNode},
    {"unique-id", required_argument, nullptr, kOptUniqueId},
    {"capture-id", required_argument, nullptr, kOptCaptureId},
    {"phy-info", required_argument, nullptr, kOptPhyInfo},
    {"dump-total-start", required_argument, nullptr, kOptDumpTotalStart},
    {"repeat", required_argument, nullptr, kOptRepeat},
    {"repeat-gap-ms", required_argument, nullptr, kOptRepeatGap},
    {"drop-dump", required_argument, nullptr, kOptDropDump},
    {"duplicate-dump", required_argument, nullptr, kOptDuplicateDump},
    {"foreign-dump", required_argument, nullptr, kOptForeignDump},
    {"bad-version", required_argument, nullptr, kOptBadVersion},
    {"dump-lost", required_argument, nullptr, kOptDumpLost},
    {"truncate-dump", required_argument, nullptr, kOptTruncateDump},
    {"error", required_argument, nullptr, kOptError},
    {"di", required_argument, nullptr, kOptDi},
    {"oversize", required_argument, nullptr, kOptOversize},
    {"late-port2", required_argument, nullptr, kOptLatePort2},
    {"fcs", no_argument, nullptr, kOptFcs},
    {"send", required_argument, nullptr, kOptSend},
    {"speed", required_argument, nullptr, kOptSpeed},
    {"quiet", no_argument, nullptr, kOptQuiet},
    {"help", no_argument, nullptr, kOptHelp},
    {nullptr, 0, nullptr, 0},
};

[[noreturn]] void fail(const std::string &message) {
    std::fprintf(stderr, "ta5521_sim: %s\n(ta5521_sim --help lists the options)\n", message.c_str());
    std::exit(2);
}

// Whole-text number in decimal or 0x-hex within [low, high].
uint64_t number(const char *option, const char *text, uint64_t low, uint64_t high) {
    char *end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text, &end, 0);
    if (!*text || *end || errno || text[0] == '-' || v < low || v > high)
        fail(std::string("--") + option + ": expected a number in " + std::to_string(low) + ".." +
             std::to_string(high) + ", got '" + text + "'");
    return v;
}

// "A" or "A:B" where B may be optional.
void splitPair(const char *option, const char *text, std::string *a, std::string *b, bool needB) {
    std::string all(text);
    size_t colon = all.find(':');
    *a = all.substr(0, colon);
    *b = colon == std::string::npos ? "" : all.substr(colon + 1);
    if (a->empty() || (needB && b->empty()) || (colon != std::string::npos && b->empty()))
        fail(std::string("--") + option + ": expected " + (needB ? "N:VALUE" : "N[:VALUE]") + ", got '" + text + "'");
}

struct InputFrame {
    int64_t timeNs;
    uint32_t wireLength;
    std::vector<uint8_t> bytes;
};

std::vector<InputFrame> readInput(const char *path) {
    char error[PCAP_ERRBUF_SIZE] = {0};
    pcap_t *pcap = pcap_open_offline_with_tstamp_precision(path, PCAP_TSTAMP_PRECISION_NANO, error);
    if (!pcap) fail(std::string("cannot read ") + path + ": " + error);
    if (pcap_datalink(pcap) != DLT_EN10MB) {
        pcap_close(pcap);
        fail(std::string(path) + " is not an Ethernet capture");
    }
    std::vector<InputFrame> frames;
    struct pcap_pkthdr *header;
    const u_char *data;
    int rc;
    while ((rc = pcap_next_ex(pcap, &header, &data)) == 1) {
        InputFrame frame;
        frame.timeNs = static_cast<int64_t>(header->ts.tv_sec) * 1000000000 + header->ts.tv_usec;
        frame.wireLength = header->len;
        frame.bytes.assign(data, data + header->caplen);
        frames.push_back(std::move(frame));
    }
    if (rc == PCAP_ERROR) {
        std::string message = std::string("error reading ") + path + ": " + pcap_geterr(pcap);
        pcap_close(pcap);
        fail(message);
    }
    pcap_close(pcap);
    // The analyzer stamps frames as they pass, so they leave it in time order.
    std::stable_sort(frames.begin(), frames.end(),
                     [](const InputFrame &a, const InputFrame &b) { return a.timeNs < b.timeNs; });
    return frames;
}

}  // namespace

int main(int argc, char **argv) {
    PackerConfig config;
    uint64_t repeat = 1;
    uint64_t repeatGapMs = 1;
    bool quiet = false;
    std::string sendInterface;
    double speed = 1.0;
    std::string a, b;
    int option;
    while ((option = getopt_long(argc, argv, "", kOptions, nullptr)) != -1) {
        const char *name = option >= kOptPorts && option <= kOptHelp ? kOptions[option - kOptPorts].name : "";
        switch (option) {
        case kOptPorts:
            if (!std::strcmp(optarg, "port01"))
                config.ports = PortAssignment::kPort01;
            else if (!std::strcmp(optarg, "port02"))
                config.ports = PortAssignment::kPort02;
            else if (!std::strcmp(optarg, "alternate"))
                config.ports = PortAssignment::kAlternate;
            else if (!std::strcmp(optarg, "mac"))
                config.ports = PortAssignment::kBySourceMac;
            else if (!std::strcmp(optarg, "both"))
                config.ports = PortAssignment::kBothPorts;
            else
                fail(std::string("--ports: unknown mode '") + optarg + "'");
            break;
        case kOptPort2Mac: {
            std::array<uint8_t, 6> mac;
            if (!parseMac(optarg, &mac)) fail(std::string("--port2-mac: bad MAC address '") + optarg + "'");
            config.port02Macs.push_back(mac);
            break;
        }
        case kOptTapDelay: config.portTwoDelayTicks = static_cast<uint32_t>(number(name, optarg, 0, 0x7FFFFFFF)); break;
        case kOptRecords: config.recordsPerDump = static_cast<uint32_t>(number(name, optarg, 1, 255)); break;
        case kOptDumpSize: config.dumpSize = static_cast<uint16_t>(number(name, optarg, 0, 8936)); break;
        case kOptMaxDump: config.maxDumpBytes = static_cast<uint32_t>(number(name, optarg, 100, 9000)); break;
        case kOptTickStart: config.tickStart = number(name, optarg, 0, UINT64_MAX / 2); break;
        case kOptNode: config.hwNode = static_cast<uint8_t>(number(name, optarg, 1, 255)); break;
        case kOptUniqueId: config.uniqueId = static_cast<uint16_t>(number(name, optarg, 0, 0xFFFF)); break;
        case kOptCaptureId: config.captureId = static_cast<uint8_t>(number(name, optarg, 0, 0xFF)); break;
        case kOptPhyInfo: config.phyInfo = static_cast<uint8_t>(number(name, optarg, 0, 0xFF)); break;
        case kOptDumpTotalStart: config.startDumpTotal = static_cast<uint16_t>(number(name, optarg, 0, 0xFFFF)); break;
        case kOptRepeat: repeat = number(name, optarg, 1, 1000000); break;
        case kOptRepeatGap: repeatGapMs = number(name, optarg, 0, 3600000); break;
        case kOptDropDump:
        case kOptDuplicateDump:
        case kOptForeignDump: {
            std::set<uint64_t> &list = option == kOptDropDump        ? config.dropDumps
                                       : option == kOptDuplicateDump ? config.duplicateDumps
                                                                     : config.foreignDumps;
            if (!parseNumberList(optarg, &list)) fail(std::string("--") + name + ": bad list '" + optarg + "'");
            break;
        }
        case kOptBadVersion:
            splitPair(name, optarg, &a, &b, false);
            config.versionOf[number(name, a.c_str(), 1, UINT32_MAX)] =
                static_cast<uint8_t>(b.empty() ? 1 : number(name, b.c_str(), 0, 255));
            break;
        case kOptDumpLost:
            splitPair(name, optarg, &a, &b, true);
            config.dumpLost[number(name, a.c_str(), 1, UINT32_MAX)] =
                static_cast<uint16_t>(number(name, b.c_str(), 0, 0xFFFF));
            break;
        case kOptTruncateDump:
            splitPair(name, optarg, &a, &b, false);
            config.truncateDumps[number(name, a.c_str(), 1, UINT32_MAX)] =
                static_cast<uint32_t>(b.empty() ? 0 : number(name, b.c_str(), 1, 9000));
            break;
        case kOptError: {
            splitPair(name, optarg, &a, &b, true);
            uint16_t bits;
            if (!parseErrorNames(b.c_str(), &bits)) fail(std::string("--error: unknown error names '") + b + "'");
            config.frameErrors[number(name, a.c_str(), 1, UINT64_MAX / 2)] |= bits;
            break;
        }
        case kOptDi:
            splitPair(name, optarg, &a, &b, true);
            config.diLevels[number(name, a.c_str(), 1, UINT64_MAX / 2)] =
                static_cast<uint8_t>(number(name, b.c_str(), 0, 15));
            break;
        case kOptOversize:
            splitPair(name, optarg, &a, &b, false);
            config.oversizeFrames[number(name, a.c_str(), 1, UINT64_MAX / 2)] =
                static_cast<uint16_t>(b.empty() ? 0 : number(name, b.c_str(), 1, 9000));
            break;
        case kOptLatePort2: config.latePortTwoDumps = static_cast<uint32_t>(number(name, optarg, 1, 100000)); break;
        case kOptFcs: config.appendFcs = true; break;
        case kOptSend: sendInterface = optarg; break;
        case kOptSpeed: {
            char *end = nullptr;
            speed = std::strtod(optarg, &end);
            if (!*optarg || *end || speed < 0 || speed > 1e6)
                fail(std::string("--speed: expected a number >= 0, got '") + optarg + "'");
            break;
        }
        case kOptQuiet: quiet = true; break;
        case kOptHelp: std::fputs(kUsage, stdout); return 0;
        default: fail("unknown option or missing argument");
        }
    }
    const int operands = argc - optind;
    if (operands != 2 && !(operands == 1 && !sendInterface.empty()))
        fail(sendInterface.empty() ? "expected INPUT and OUTPUT" : "expected INPUT and an optional OUTPUT");
    if (config.dumpSize != 0 &&
        (config.dumpSize <= 8 || config.dumpSize % 4 != 0 || config.dumpSize + 64u > config.maxDumpBytes))
        fail("--dump-size must be a multiple of 4 above 8 that fits a dump frame (--max-dump-bytes - 64)");
    const char *inputPath = argv[optind];
    const char *outputPath = operands == 2 ? argv[optind + 1] : nullptr;

    std::vector<InputFrame> frames = readInput(inputPath);
    if (frames.empty()) fail(std::string(inputPath) + " holds no frames");

    PcapngFile output;
    if (outputPath && !output.open(outputPath))
        fail(std::string("cannot create ") + outputPath + ": " + std::strerror(errno));
    LiveSender sender;
    if (!sendInterface.empty() && !sender.open(sendInterface, speed))
        fail("cannot send on " + sendInterface + ": " + sender.error());
    bool writeFailed = false;
    bool sendFailed = false;
    Packer packer(config, [&](const DumpFrameOut &dump) {
        if (outputPath && !output.writePacket(dump.sentNs, dump.data, dump.length)) writeFailed = true;
        if (!sendInterface.empty() && !sendFailed && !sender.send(dump.data, dump.length, dump.sentNs))
            sendFailed = true;
    });
    const int64_t span = frames.back().timeNs - frames.front().timeNs;
    const int64_t period = span + static_cast<int64_t>(repeatGapMs) * 1000000;
    for (uint64_t r = 0; r < repeat && !writeFailed && !sendFailed; ++r) {
        const int64_t shift = static_cast<int64_t>(r) * period;
        for (const InputFrame &frame : frames)
            packer.addFrame(frame.timeNs + shift, frame.bytes.data(), static_cast<uint32_t>(frame.bytes.size()),
                            frame.wireLength);
    }
    packer.finish();
    if (outputPath && (!output.close() || writeFailed)) fail(std::string("cannot write ") + outputPath);
    if (sendFailed) fail("sending on " + sendInterface + " failed: " + sender.error());
    if (!quiet && config.appendFcs)
        std::fprintf(stderr, "ta5521_sim: %llu of %llu frames given an FCS (%llu padded to 60 bytes first)\n",
                     static_cast<unsigned long long>(packer.framesGivenFcs()),
                     static_cast<unsigned long long>(packer.framesPacked()),
                     static_cast<unsigned long long>(packer.framesPadded()));
    if (!quiet)
        std::fprintf(stderr, "ta5521_sim: %llu frames packed into %llu records in %llu dumps; %llu dump frames to %s\n",
                     static_cast<unsigned long long>(packer.framesPacked()),
                     static_cast<unsigned long long>(packer.recordsPacked()),
                     static_cast<unsigned long long>(packer.dumpsBuilt()),
                     static_cast<unsigned long long>(packer.framesSent()),
                     outputPath ? outputPath : sendInterface.c_str());
    return 0;
}
