// Real SDO traffic through the whole engine: every frame of the shared
// captures read with libpcap and handed to flowlens_process_packet.
//
// How the expectations were checked: the SDO frames of each capture were
// listed with
//   tshark -r <file> -Y epl.asnd.sdo.seq -T fields -e frame.number -e epl.src
//     -e epl.dest -e ip.src -e ip.dst -e epl.asnd.sdo.seq.receive.con
//     -e epl.asnd.sdo.seq.send.con -e epl.asnd.sdo.seq.send.sequence.number
//     -e epl.asnd.sdo.seq.receive.sequence.number
// and the connection rules were followed by hand over that list (and
// re-counted with a throw-away awk script over the same list); aborts were
// listed with -Y "epl.asnd.sdo.cmd.abort==1 || epl.asnd.sdo.od.multiparam.abort".
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "flowlens.h"
#include "flowlens_classify.h"
#include "sdo_frames.h"
#include "sdo_tracking.h"

namespace {

struct frame_record {
    uint64_t time_ns;
    uint32_t wire_length;
    std::vector<uint8_t> bytes;
};

std::string capture_path(const char *name) {
    const std::string path = std::string(SENTRA_SHARED_CAPTURES) + "/" + name;
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? path : std::string();
}

// Reads every frame. libpcap reads no gzip: a .gz file is unpacked into an
// anonymous temporary file first.
bool read_frames(const std::string &path, std::vector<frame_record> *frames, std::string *error) {
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_t *pcap;
    const bool gz = path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0;
    if (gz) {
        FILE *unpacked = tmpfile();
        FILE *pipe = popen(("gzip -dc '" + path + "'").c_str(), "r");
        if (unpacked == nullptr || pipe == nullptr) {
            *error = "cannot unpack " + path;
            if (pipe != nullptr) pclose(pipe);
            if (unpacked != nullptr) fclose(unpacked);
            return false;
        }
        char chunk[65536];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) fwrite(chunk, 1, n, unpacked);
        const int status = pclose(pipe);
        rewind(unpacked);
        if (status != 0) {
            *error = "gzip failed on " + path;
            fclose(unpacked);
            return false;
        }
        pcap = pcap_fopen_offline_with_tstamp_precision(unpacked, PCAP_TSTAMP_PRECISION_NANO, errbuf);
        if (pcap == nullptr) fclose(unpacked);
    } else {
        pcap = pcap_open_offline_with_tstamp_precision(path.c_str(), PCAP_TSTAMP_PRECISION_NANO, errbuf);
    }
    if (pcap == nullptr) {
        *error = errbuf;
        return false;
    }
    pcap_pkthdr *header;
    const u_char *data;
    int rc;
    while ((rc = pcap_next_ex(pcap, &header, &data)) == 1) {
        frames->push_back({uint64_t(header->ts.tv_sec) * 1000000000ull + uint64_t(header->ts.tv_usec), header->len,
                           std::vector<uint8_t>(data, data + header->caplen)});
    }
    if (rc == PCAP_ERROR) *error = pcap_geterr(pcap);
    pcap_close(pcap);  // also closes the temporary file
    return rc != PCAP_ERROR;
}

struct sdo_expectation {
    const char *file;
    size_t frames;
    size_t connections;
    uint64_t history;
    uint32_t data_frames;                 // summed over the connections
    std::vector<std::string> messages;    // informational texts, in order
    std::map<uint64_t, uint32_t> aborts;  // frame -> abort code
    bool through_engine = true;           // else straight into the tracking
};

struct sdo_summary {
    size_t frames = 0;
    std::vector<std::string> messages;
    std::map<uint64_t, std::string> aborts;  // frame -> event text
};

void collect(void *context, uint64_t, uint8_t severity, const char *text, uint64_t) {
    sdo_summary *s = static_cast<sdo_summary *>(context);
    const std::string t = text;
    const std::string prefix = "Powerlink: Packet #";
    if (t.rfind(prefix, 0) != 0) return;
    const uint64_t frame = std::stoull(t.substr(prefix.size(), 7));
    if (severity == 0 &&
        (t.find("Initialization Request") != std::string::npos || t.find("Close on inactive") != std::string::npos ||
         t.find("Firmware Download") != std::string::npos))
        s->messages.push_back(t);
    if (severity == 2 && t.find(" - SDO Abort") != std::string::npos) s->aborts[frame] = t;
}

std::string message(uint64_t frame, const char *text) {
    char buffer[200];
    snprintf(buffer, sizeof buffer, "Powerlink: Packet #%07llu - %s ", static_cast<unsigned long long>(frame), text);
    return buffer;
}

uint32_t data_frames_of(const flowlens_instance *instance) {
    uint32_t total = 0;
    for (uint32_t b = 0; b < FLOWLENS_SDO_BUCKETS; ++b)
        for (const sdo_connection *c = instance->sdo.connections[b]; c != nullptr; c = c->next) total += c->data_frames;
    return total;
}

uint16_t be16(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }
uint32_t be32(const uint8_t *p) { return uint32_t(be16(p)) << 16 | be16(p + 2); }

// The SDO frame of a captured frame, located the way the classification
// does it: POWERLINK over Ethernet, or ASnd in a UDP datagram to or from
// port 3819 (bounded by the UDP length, so Ethernet padding is not payload).
bool sdo_frame_of(const frame_record &f, flowlens_sdo_frame *out) {
    const uint8_t *d = f.bytes.data();
    const size_t n = f.bytes.size();
    if (n < 14) return false;
    *out = flowlens_sdo_frame{};
    out->source_mac = d + 6;
    const uint16_t type = be16(d + 12);
    if (type == 0x88AB) {
        out->epl = d + 14;
        out->epl_length = uint32_t(n - 14);
        if (out->epl_length < 4) return false;
        out->source_node = out->epl[2];
        out->destination_node = out->epl[1];
    } else if (type == 0x0800 && n >= 14 + 20 + 8) {
        const uint8_t *ip = d + 14;
        const size_t ihl = size_t(ip[0] & 0x0F) * 4;
        if (ip[9] != 17 || ihl < 20 || n < 14 + ihl + 8) return false;
        const uint8_t *udp = ip + ihl;
        out->udp_source_port = be16(udp);
        out->udp_destination_port = be16(udp + 2);
        if (out->udp_source_port != 3819 && out->udp_destination_port != 3819) return false;
        const size_t payload = std::min<size_t>(be16(udp + 4) >= 8 ? be16(udp + 4) - 8 : 0, n - 14 - ihl - 8);
        out->udp_mode = 1;
        out->ip_source = be32(ip + 12);
        out->ip_destination = be32(ip + 16);
        out->source_node = uint8_t(out->ip_source);
        out->destination_node = uint8_t(out->ip_destination);
        out->epl = udp + 8;
        out->epl_length = uint32_t(payload);
        if (payload < 4) return false;
    } else {
        return false;
    }
    return (out->epl[0] & 0x7F) == 0x06 && out->epl[3] == 0x05;
}

// Feeds the SDO frames straight into the tracking and reports what it found
// the way the engine does.
void track_directly(flowlens_instance *instance, const std::vector<frame_record> &frames, sdo_summary *summary) {
    for (size_t i = 0; i < frames.size(); ++i) {
        flowlens_sdo_frame frame;
        if (!sdo_frame_of(frames[i], &frame)) continue;
        instance->current_frame_number = i + 1;
        flowlens_classification result{};
        flowlens_message_buffer message;
        message.text[0] = '\0';
        flowlens_sdo_track(instance, &frame, &instance->networks[0].nodes[frame.source_node], &result, &message);
        char text[300];
        if (message.text[0] != '\0') {
            snprintf(text, sizeof text, "Powerlink: Packet #%07zu - %s ", i + 1, message.text);
            collect(summary, 0, 0, text, 0);
        }
        if (result.cls & FLOWLENS_CLASS_SDO_ABORT) {
            snprintf(text, sizeof text, "Powerlink: Packet #%07zu - SDO Abort Code 0x%08X '", i + 1, result.abort_code);
            collect(summary, 0, 2, text, 0);
        }
    }
}

void PrintTo(const sdo_expectation &e, std::ostream *os) {
    *os << e.file << (e.through_engine ? " through the engine" : " into the tracking");
}

class SdoCaptures : public ::testing::TestWithParam<sdo_expectation> {};

TEST_P(SdoCaptures, TrackedAsCheckedByHand) {
    const sdo_expectation &expected = GetParam();
    const std::string path = capture_path(expected.file);
    if (path.empty()) GTEST_SKIP() << expected.file << " not found beside the source tree";
    std::vector<frame_record> frames;
    std::string error;
    ASSERT_TRUE(read_frames(path, &frames, &error)) << error;
    ASSERT_EQ(frames.size(), expected.frames);

    sdo_summary summary;
    flowlens_instance *instance = nullptr;
    ASSERT_EQ(flowlens_create(&instance, collect, &summary), 0);
    flowlens_start(instance);
    for (size_t i = 0; expected.through_engine && i < frames.size(); ++i) {
        flowlens_packet_info packet{};
        packet.frame_number = i + 1;
        packet.time = frames[i].time_ns;
        packet.data = frames[i].bytes.data();
        packet.captured_length = uint16_t(frames[i].bytes.size());
        packet.length = uint16_t(frames[i].wire_length);
        flowlens_process_packet(instance, &packet);
    }
    if (!expected.through_engine) track_directly(instance, frames, &summary);

    EXPECT_EQ(sdo_connection_count(&instance->sdo), expected.connections);
    EXPECT_EQ(instance->sdo.history_count, expected.history);
    EXPECT_EQ(data_frames_of(instance), expected.data_frames);
    EXPECT_EQ(summary.messages, expected.messages);
    ASSERT_EQ(summary.aborts.size(), expected.aborts.size());
    for (const auto &[frame, code] : expected.aborts) {
        ASSERT_TRUE(summary.aborts.count(frame)) << "abort expected in frame " << frame;
        char detail[40];
        snprintf(detail, sizeof detail, " - SDO Abort Code 0x%08X '", code);
        EXPECT_NE(summary.aborts[frame].find(detail), std::string::npos) << summary.aborts[frame];
    }
    // Every history entry is found again by its frame, in order.
    uint64_t previous = 0;
    const uint64_t kept = instance->sdo.history_count;
    for (uint64_t i = 0; i < kept; ++i) {
        const sdo_history_entry &entry = instance->sdo.history[i];
        EXPECT_GT(entry.frame_number, previous);
        previous = entry.frame_number;
        uint8_t advance;
        EXPECT_EQ(sdo_history_find(&instance->sdo, entry.frame_number, &advance), SDO_HISTORY_FOUND);
        EXPECT_EQ(advance, entry.advance);
    }
    flowlens_destroy(instance);
}

std::vector<std::string> closes(std::initializer_list<std::pair<uint64_t, const char *>> list) {
    std::vector<std::string> out;
    for (const auto &[frame, text] : list) out.push_back(message(frame, text));
    return out;
}

const char *const CLOSE_240_1 = "Close on inactive connection (240 -> 1)";

INSTANTIATE_TEST_SUITE_P(
    Real, SdoCaptures,
    ::testing::Values(
        // One MN-CN connection: a first session (restore parameters), then
        // 19 mapping writes with a response each; after the MN's close the CN
        // still repeats its last response (1064) and the MN closes again (1073).
        // History: 4 + 41 + 1 entries, 40 of them with new data.
        sdo_expectation{"powerlink_1cn_sdo_mapping.pcapng", 1329, 1, 46, 40, closes({{1073, CLOSE_240_1}}), {}},
        // 192.168.98.4:2000 <-> 192.168.100.32:3819, eight sessions; the
        // three aborted requests: 0x6100/0 read (General error) and two
        // writes to read-only objects. The client's sequence-layer frames are
        // 8 POWERLINK bytes, which open and close the sessions: through the
        // engine and straight into the tracking alike.
        sdo_expectation{
            "powerlink_sdo_udp.pcap", 72, 1, 39, 16, {}, {{31, 0x08000000}, {52, 0x06010002}, {60, 0x06010002}}},
        sdo_expectation{
            "powerlink_sdo_udp.pcap", 72, 1, 39, 16, {}, {{31, 0x08000000}, {52, 0x06010002}, {60, 0x06010002}}, false},
        // The Ethernet ones once more, straight into the tracking.
        sdo_expectation{"powerlink_1cn_sdo_mapping.pcapng", 1329, 1, 46, 40, closes({{1073, CLOSE_240_1}}), {}, false},
        sdo_expectation{"powerlink_multi_read_write.pcapng.gz", 7, 1, 5, 5, {}, {{7, 0x06090011}}, false},
        // Frame 1 opens the connection in the middle of a transfer, so its
        // WriteMultiple request is not known and the response's record abort
        // (frame 2) cannot be matched; the ReadMultiple response (frame 7)
        // aborts its fifth sub-record with "Sub-index does not exist".
        sdo_expectation{"powerlink_multi_read_write.pcapng.gz", 7, 1, 5, 5, {}, {{7, 0x06090011}}},
        // Boot: the MN opens, writes twice, closes; the CN then sends one more
        // frame and the MN closes the already closed connection (546).
        sdo_expectation{"powerlink_1cn_boot.pcapng", 834, 1, 5, 2, closes({{546, CLOSE_240_1}}), {}},
        // Two CNs answer as node 1 (the collisions), so the MN's sessions keep
        // failing and it closes connections that are not open; frame 1284 is
        // the MN's close towards node 0, a second connection.
        // clang-format off
        sdo_expectation{"powerlink_1cn_collisions.pcapng", 2680, 2, 141, 50,
                        closes({{517, CLOSE_240_1},  {524, CLOSE_240_1},  {601, CLOSE_240_1},
                                {608, CLOSE_240_1},  {695, CLOSE_240_1},  {703, CLOSE_240_1},
                                {943, CLOSE_240_1},  {955, CLOSE_240_1},  {994, CLOSE_240_1},
                                {1007, CLOSE_240_1}, {1020, CLOSE_240_1}, {1033, CLOSE_240_1},
                                {1052, CLOSE_240_1}, {1141, CLOSE_240_1}, {1154, CLOSE_240_1},
                                {1284, "Close on inactive connection (240 -> 0)"},
                                {1325, CLOSE_240_1}, {1335, CLOSE_240_1}, {1348, CLOSE_240_1},
                                {1379, CLOSE_240_1}, {1462, CLOSE_240_1}}),
                        {}}),
    // clang-format on
    [](const ::testing::TestParamInfo<sdo_expectation> &info) {
        std::string name = info.param.file;
        name = name.substr(0, name.find('.')) + (info.param.through_engine ? "_engine" : "_tracking");
        for (char &c : name)
            if (!isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

}  // namespace
