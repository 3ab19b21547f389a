// Extended info texts built from hand-made frames after they went through
// the engine, as the plug-in builds them when Wireshark shows a frame again.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device_catalogue.h"
#include "flowlens.h"
#include "plk_frame_builder.h"
#include "frame_text.h"
#include "sdo_frames.h"

namespace {

constexpr uint64_t BASE_TIME = 1500000000000000000ull;  // a multiple of 100 ns

struct stored_frame {
    frame_bytes bytes;
    uint64_t time;
    uint32_t flags;
    uint8_t port;
    int length;
};

// One engine, fed in frame order; texts are built afterwards for any frame.
class texts {
public:
    explicit texts(bool analyzer_time = false) : analyzer_time_(analyzer_time) {
        EXPECT_EQ(flowlens_create(&in_, nullptr, nullptr), 0);
        flowlens_start(in_);
    }
    ~texts() { flowlens_destroy(in_); }

    // Returns the frame number.
    uint64_t feed(const frame_bytes &bytes, uint32_t flags = 0, int length = -1) {
        time_ += analyzer_time_ ? 10020 : 10000;  // analyzer ticks are 20 ns
        frames_.push_back({bytes, time_, flags, uint8_t((flags & 3) == 2 ? 1 : 0), length});
        flowlens_packet_info p = record(frames_.size());
        flowlens_process_packet(in_, &p);
        return frames_.size();
    }

    // Text of frame n; `as_number` pretends another frame number.
    std::string text(uint64_t n, uint64_t as_number = 0) {
        flowlens_packet_info p = record(n);
        if (as_number != 0) p.frame_number = as_number;
        std::vector<char> buffer(FLOWLENS_TEXT_BUFFER_SIZE, 'x');
        flowlens_frame_text(in_, &p, buffer.data());
        return std::string(buffer.data());
    }

    flowlens_instance *engine() { return in_; }

private:
    flowlens_packet_info record(uint64_t n) const {
        const stored_frame &f = frames_.at(n - 1);
        flowlens_packet_info p{};
        p.port = f.port;
        p.frame_number = n;
        p.time = f.time;
        p.packet_flags = f.flags;
        p.data = f.bytes.data();
        p.captured_length = uint16_t(f.bytes.size());
        p.length = uint16_t(f.length >= 0 ? f.length : int(f.bytes.size()));
        return p;
    }

    flowlens_instance *in_ = nullptr;
    bool analyzer_time_;
    uint64_t time_ = BASE_TIME;
    std::vector<stored_frame> frames_;
};

frame_bytes sdo(const sdo_frame_spec &spec) { return spec.build(); }

sdo_frame_spec sequence_only(uint8_t receive, uint8_t send) {
    sdo_frame_spec s;
    s.receive = receive;
    s.send = send;
    s.command_layer = false;
    return s;
}

// An IPv4/TCP segment between a Modbus client (port 40000) and server.
frame_bytes modbus(bool to_server, uint16_t transaction, uint8_t function, const frame_bytes &pdu_after_function,
                   uint8_t tcp_flags = 0x18) {
    frame_bytes f = {0x02, 0, 0, 0, 0, 2, 0x02, 0, 0, 0, 0, 1, 0x08, 0x00};
    frame_bytes mbap = {uint8_t(transaction >> 8), uint8_t(transaction), 0, 0, 0, 0, 1, function};
    mbap.insert(mbap.end(), pdu_after_function.begin(), pdu_after_function.end());
    const uint16_t length = uint16_t(mbap.size() - 6);
    mbap[4] = uint8_t(length >> 8);
    mbap[5] = uint8_t(length);
    const uint16_t total = uint16_t(20 + 20 + mbap.size());
    const uint8_t client[4] = {192, 168, 0, 10}, server[4] = {192, 168, 0, 20};
    const uint8_t *src = to_server ? client : server, *dst = to_server ? server : client;
    frame_bytes ip = {0x45, 0, uint8_t(total >> 8), uint8_t(total), 0, 0, 0x40, 0, 64, 6, 0, 0};
    ip.insert(ip.end(), src, src + 4);
    ip.insert(ip.end(), dst, dst + 4);
    const uint16_t sport = to_server ? 40000 : 502, dport = to_server ? 502 : 40000;
    // clang-format off
    frame_bytes tcp = {uint8_t(sport >> 8), uint8_t(sport), uint8_t(dport >> 8), uint8_t(dport), 0, 0, 0, 1,
                       0, 0, 0, 1, 0x50, tcp_flags, 0x20, 0, 0, 0, 0, 0};
    // clang-format on
    f.insert(f.end(), ip.begin(), ip.end());
    f.insert(f.end(), tcp.begin(), tcp.end());
    f.insert(f.end(), mbap.begin(), mbap.end());
    while (f.size() < 60) f.push_back(0);
    return f;
}

frame_bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

}  // namespace

TEST(FrameText, CycleFramesWithFlagsStatesAndSocDelta) {
    texts t;
    const uint64_t soc1 = t.feed(plk::soc(0));
    const uint64_t soc2 = t.feed(plk::soc(1000));
    const uint64_t preq = t.feed(plk::preq(1, 0x01, 36));
    const uint64_t pres = t.feed(plk::pres(1, 0xFD, 0x0001 | 0x4000 | 0x1800 | 0x0100, 10));
    const uint64_t soa = t.feed(plk::soa(1, 7, 0xFD));
    EXPECT_EQ(t.text(soc1), " 240->255 SoC        F:- US(Bit 0-31):         0");
    EXPECT_EQ(t.text(soc2), " 240->255 SoC        F:- US(Bit 0-31):      1000 (+1000)");
    EXPECT_EQ(t.text(preq), " 240->  1  PReq (  36) F:RD  ");
    EXPECT_EQ(t.text(pres), "   1->255  PRes (  10) F:RD,SLS, PR=3,RS=1  NMT: OPERATIONAL");
    EXPECT_EQ(t.text(soa), " 240->255  SoA(IDENT_REQUEST)->7    F:- NMT: OPERATIONAL");
    // Frame numbers more than 200 apart break the delta; so does going back.
    t.text(soc1);
    EXPECT_EQ(t.text(soc2, soc1 + 201), " 240->255 SoC        F:- US(Bit 0-31):      1000");
    t.text(soc2);
    EXPECT_EQ(t.text(soc1).find("(+"), std::string::npos);
}

TEST(FrameText, MarksIrregularAndErroneousFrames) {
    texts t;
    uint8_t cn_mac[6];
    test_cn_mac(1, cn_mac);
    frame_bytes soc_from_cn = plk::soc(0, cn_mac);
    soc_from_cn[14 + 2] = 1;  // source node 1
    const uint64_t a = t.feed(soc_from_cn);
    const uint64_t b = t.feed(plk::pres(1, 0x1D));
    const uint64_t c = t.feed(plk::pres(2, 0xFD, 0, 100));  // 100 bytes announced, 60-byte frame
    const uint64_t d = t.feed(plk::status_response(3), 0, 70);
    EXPECT_EQ(t.text(a)[0], '*');
    EXPECT_EQ(t.text(b), "#  1->255  PRes (   0) F:- NMT: PRE_OPERATIONAL_1 !! Invalid NMT State for PRes");
    EXPECT_EQ(t.text(c),
              "#  2->255  PRes ( 100) F:- NMT: OPERATIONAL !! Frame too short, wrong value for object 1F98h/Sub 5 ??");
    EXPECT_EQ(t.text(d), "#  3->255  ASnd(STATUS_RESPONSE)     F:- NMT: OPERATIONAL (Frame too short)");
}

TEST(FrameText, NmtStateNamesFollowTheirOrder) {
    EXPECT_STREQ(nmt_state_name(0xFD), "OPERATIONAL");
    EXPECT_STREQ(nmt_state_name(0x00), "OFF");
    EXPECT_STREQ(nmt_state_name(0x2D), "EPL_MODE(?)");
    EXPECT_STREQ(nmt_state_name(0x09), "INITIALISATION(?)");
    EXPECT_STREQ(nmt_state_name(0x0C), "COMMUNICATING(?)");
    EXPECT_STREQ(nmt_state_name(0x08), "POWERED(?)");
    EXPECT_STREQ(nmt_state_name(0x01), "Unknown");
}

TEST(FrameText, IdentResponseOfACatalogueDeviceAndNmtCommands) {
    texts t;
    const device_catalogue_row &row = device_catalogue[0];
    frame_bytes ident(66, 0);  // from EPL offset 4
    ident[2] = 0x1D;           // NMT state at EPL offset 6
    auto put = [&](size_t epl_offset, uint32_t v) {
        for (int i = 0; i < 4; ++i) ident[epl_offset - 4 + i] = uint8_t(v >> (8 * i));
    };
    put(30, maker_vendor_id);
    put(34, row.product_code);
    ident[46 - 4] = 0x3A;  // firmware 314 -> 3.14
    ident[47 - 4] = 0x01;
    put(62, 1);        // 1984-01-02
    put(66, 3723004);  // 01:02:03.004
    const uint64_t n = t.feed(plk::asnd(1, 0xFF, 1, ident));
    EXPECT_EQ(t.text(n), "   1->255  ASnd(IDENT_RESPONSE)      F:- NMT: PRE_OPERATIONAL_1  Dev: " +
                             std::string(row.model_name) + "  FW: 3.14  AppDateTime: 2.1.1984, 01:02:03.004");

    frame_bytes dna(40, 0);
    dna[0] = 0x2D;
    dna[1] = 0x04 | 0x10;  // NewNode and LeaseTime
    dna[24 - 4] = 17;
    dna[28 - 4] = 0x10;
    dna[29 - 4] = 0x27;  // 10000
    const uint64_t cmd = t.feed(plk::asnd(240, 1, 4, dna));
    EXPECT_EQ(t.text(cmd), " 240->  1  ASnd(NMT_COMMAND) DNA, NewNode=17, LeaseTime=10000 us");
    const uint64_t reset = t.feed(plk::asnd(240, 1, 4, {0x28}));
    EXPECT_EQ(t.text(reset), " 240->  1  ASnd(NMT_COMMAND) ResetNode");
}

TEST(FrameText, PortPrefixWithAnalyzerTimeStamps) {
    texts ordinary;
    const uint64_t a = ordinary.feed(plk::ip_udp(test_mn_mac, 0xC0A80001));
    EXPECT_EQ(ordinary.text(a), "");

    texts analyzer(true);
    const uint64_t b = analyzer.feed(plk::ip_udp(test_mn_mac, 0xC0A80001), 1);
    const uint64_t c = analyzer.feed(plk::soc(0), 2);
    EXPECT_EQ(analyzer.text(b), " 1:   ");
    EXPECT_EQ(analyzer.text(c), " 2:  240->255 SoC        F:- US(Bit 0-31):         0");
}

TEST(FrameText, SlicedFramesAndTheLengthLimit) {
    texts t;
    const uint64_t runt = t.feed(frame_bytes(14, 0));
    frame_bytes short_soc = plk::soc(0);
    short_soc.resize(14 + 4);
    const uint64_t cut = t.feed(short_soc);
    EXPECT_EQ(t.text(runt), " no additional information, packet sliced !");
    EXPECT_EQ(t.text(cut), " 240->255 SoC        (packet sliced, no more information)");

    // A write of 120 registers gives far more than the limit.
    frame_bytes pdu = {0x00, 0x64, 0x00, 120, 240};
    for (int i = 0; i < 120; ++i) {
        pdu.push_back(0x12);
        pdu.push_back(0x34);
    }
    const uint64_t big = t.feed(modbus(true, 9, 16, pdu));
    const std::string text = t.text(big);
    EXPECT_EQ(text.size(), size_t(FLOWLENS_TEXT_LIMIT));
    EXPECT_EQ(text.substr(0, 24), "-> Q: FC16;100;4660;101;");
}

TEST(FrameText, ModbusRequestsAndResponsesThroughTheRing) {
    texts t;
    const uint64_t orphan = t.feed(modbus(false, 77, 3, {4, 0, 1, 0, 2}));
    const uint64_t request = t.feed(modbus(true, 5, 3, {0x00, 0x64, 0x00, 0x02}));
    const uint64_t response = t.feed(modbus(false, 5, 3, {4, 0x00, 0x07, 0x00, 0x08}));
    const uint64_t coil = t.feed(modbus(true, 6, 5, {0x00, 0x10, 0xFF, 0x00}));
    const uint64_t syn = t.feed(modbus(true, 0, 0, {}, 0x02));
    EXPECT_EQ(t.text(orphan), "<- ");
    EXPECT_EQ(t.text(request), "-> Q: FC3");
    EXPECT_EQ(t.text(response), "<- R: FC3;100;7;101;8");
    EXPECT_EQ(t.text(coil), "-> Q: FC5;16;65280");
    EXPECT_EQ(t.text(syn), "-> SYN");
}

TEST(FrameText, ModbusDataInAFinSegmentIsDecoded) {
    texts t;
    const uint64_t read = t.feed(modbus(true, 9, 3, {0x00, 0x64, 0x00, 0x01}));
    // FIN,PSH,ACK with the response; then the bare FIN,ACK and a reset.
    const uint64_t response = t.feed(modbus(false, 9, 3, {2, 0x00, 0x2A}, 0x19));
    const uint64_t request = t.feed(modbus(true, 10, 6, {0x00, 0x10, 0x00, 0x05}, 0x19));
    frame_bytes bare = modbus(true, 0, 0, {}, 0x11);
    bare[16] = 0;  // IP total length: headers only
    bare[17] = 40;
    const uint64_t fin = t.feed(bare);
    frame_bytes reset = modbus(false, 0, 0, {}, 0x04);
    reset[16] = 0;
    reset[17] = 40;
    const uint64_t rst = t.feed(reset);
    EXPECT_EQ(t.text(read), "-> Q: FC3");  // texts are built in this order, as Wireshark shows them
    EXPECT_EQ(t.text(response), "<- FIN,ACK R: FC3;100;42");
    EXPECT_EQ(t.text(request), "-> FIN,ACK Q: FC6;16;5");
    EXPECT_EQ(t.text(fin), "-> FIN,ACK");
    EXPECT_EQ(t.text(rst), "<- RST");
}

TEST(FrameText, Et2000TrailerPortAndDelta) {
    texts t;
    auto with_trailer = [](uint8_t port_bit, uint32_t time) {
        frame_bytes f = plk::ip_udp(test_mn_mac, 0xC0A80001);
        frame_bytes trailer = {0x01, 0x01, 0x05, 0x10, 0x00, 0x00, port_bit, 0x00};
        frame_bytes t64 = le32(time);
        trailer.insert(trailer.end(), t64.begin(), t64.end());
        trailer.insert(trailer.end(), {0, 0, 0, 0});
        f.insert(f.end(), trailer.begin(), trailer.end());
        return f;
    };
    const uint64_t a = t.feed(with_trailer(0x10, 1000));
    const uint64_t b = t.feed(with_trailer(0x80, 1500));
    const uint64_t c = t.feed(with_trailer(0x11, 1600));  // two port bits: no trailer text
    EXPECT_EQ(t.text(a), " [ET2000: Port X2.1 / Error 0x00 / DeltaTime 0]");
    EXPECT_EQ(t.text(b), " [ET2000: Port X1.0 / Error 0x00 / DeltaTime 500]");
    EXPECT_EQ(t.text(c), "");
}

TEST(FrameText, PowerlinkV1Frames) {
    texts t;
    auto v1 = [](frame_bytes payload) {
        frame_bytes f = {0x03, 0, 0, 0, 0, 1, 0x02, 0, 0, 0, 0, 2, 0x3E, 0x3F};
        f.insert(f.end(), payload.begin(), payload.end());
        while (f.size() < 60) f.push_back(0);
        return f;
    };
    const uint64_t a = t.feed(v1({0x01, 0xFF, 0xF0, 0x41, 0, 0, 0x10, 0x27, 0, 0}));
    const uint64_t b = t.feed(v1({0x01, 0xFF, 0xF0, 0x00, 0, 0, 0x20, 0x4E, 0, 0}));
    const uint64_t c = t.feed(v1({0x07, 3, 0xF0, 0xFA, 0, 0, 9, 0, 0, 0}));
    EXPECT_EQ(t.text(a),
              "240->255 StartCyclic RD" + std::string(12, ' ') + " PS" + std::string(7, ' ') + "NetTime=     10000");
    EXPECT_EQ(t.text(b), "240->255 StartCyclic" + std::string(25, ' ') + "NetTime=     20000 (+10000)");
    EXPECT_EQ(t.text(c), "240->  3 Asynchron AckNack-Ch: IO 2, Info: 9");
}

TEST(FrameText, ModuleServiceRequestsRepliesAndErrors) {
    texts t;
    frame_bytes led(20, 0);
    led[0] = 7;     // id at EPL offset 4
    led[4] = 3;     // LED
    led[8] = 0xEF;  // request word at EPL offset 12
    const uint64_t a = t.feed(plk::asnd(240, 1, 176, led));
    frame_bytes failed = led;
    failed[6] = 2;  // error word at EPL offset 10
    const uint64_t b = t.feed(plk::asnd(240, 1, 176, failed));
    EXPECT_EQ(t.text(a), " 240->  1  ASnd(PME)  ID: 7, Cmd: 3, Err: 0 LED (Req=0x000000EF)");
    EXPECT_EQ(t.text(b), " 240->  1  ASnd(PME)  ID: 7, Cmd: 3, Err: 2 - ERROR");
}

TEST(SdoText, SequenceLayerAckRetransmissionAndInvalidSequence) {
    texts t;
    const uint64_t init = t.feed(sdo(sequence_only(seq_byte(0, 0), seq_byte(0, 1))));
    sdo_frame_spec response = sequence_only(seq_byte(0, 1), seq_byte(0, 1));
    response.source = 1;
    response.destination = 240;
    const uint64_t answer = t.feed(sdo(response));
    const uint64_t read = t.feed(sdo(read_request(1, 0, 0x1018, 2)));
    const uint64_t again = t.feed(sdo(read_request(1, 0, 0x1018, 2)));  // same sequence: nothing new
    const uint64_t jump = t.feed(sdo(read_request(3, 0, 0x1000, 0)));   // two steps ahead
    const uint64_t back = t.feed(sdo(read_request(2, 0, 0x1000, 0)));   // one back
    EXPECT_EQ(t.text(init), " 240->  1  ASnd(SDO)  SL: 0n  0i  Initialization Request");
    EXPECT_EQ(t.text(answer), "   1->240  ASnd(SDO)  SL: 0i  0i  Initialization Response");
    EXPECT_EQ(t.text(read),
              " 240->  1  ASnd(SDO)  SL: 0c  1c  -> ReadByIndex(0x1018/2) NMT_IdentityObject_REC / ProductCode_U32");
    EXPECT_EQ(t.text(again), " 240->  1  ASnd(SDO)  SL: 0c  1c (ack)");
    EXPECT_NE(t.text(jump).find(" (INVALID SEQUENCE)"), std::string::npos) << t.text(jump);
    EXPECT_NE(t.text(back).find(" (Start of Retransmission)"), std::string::npos) << t.text(back);
}

TEST(SdoText, AbortsWritesAndMultipleParameterLists) {
    texts t;
    t.feed(sdo(sequence_only(seq_byte(0, 0), seq_byte(0, 1))));
    sdo_frame_spec abort = read_request(1, 0, 0, 0);
    abort.flags = 0x40;
    abort.segment_size = 4;
    abort.payload = le32(0x06020000);
    const uint64_t a = t.feed(sdo(abort));
    abort.send = seq_byte(2, 2);
    abort.payload = le32(0x12345678);
    const uint64_t b = t.feed(sdo(abort));
    EXPECT_EQ(t.text(a),
              "#240->  1  ASnd(SDO)  SL: 0c  1c  -> ReadByIndex() / ABORT 0x06020000 "
              "'Object does not exist in the object dictionary'");
    EXPECT_NE(t.text(b).find("/ ABORT 0x12345678 'see Powerlink Specification'"), std::string::npos);

    const uint64_t w = t.feed(sdo(write_expedited(3, 0, 0x1F9E, 0, {0x28})));
    EXPECT_EQ(t.text(w),
              " 240->  1  ASnd(SDO)  SL: 0c  3c  -> WriteByIndex(0x1f9e/0, SS:5) NMT_ResetCmd_U8 [NMTResetNode]");
    const uint64_t i = t.feed(sdo(write_initiate(4, 0, 0x1F50, 1, 70000)));
    EXPECT_NE(t.text(i).find("-> WriteByIndex(0x1f50/1, SS:"), std::string::npos) << t.text(i);
    EXPECT_NE(t.text(i).find(", DS=70000) Program_1_DOM"), std::string::npos) << t.text(i);

    // ReadMultiple response: two sub-records, the second aborted.
    sdo_frame_spec multi;
    multi.source = 1;
    multi.destination = 240;
    multi.receive = seq_byte(4, 2);
    multi.send = seq_byte(1, 2);
    multi.flags = 0x80;
    multi.command = 0x32;
    frame_bytes list = {20, 0, 0, 0, 0x00, 0x10, 0, 0x00, 0x91, 0x01, 0,    0,      // next at 8 + 20, 0x1000/0, 4 bytes
                        0,  0, 0, 0, 0x18, 0x10, 2, 0x80, 0x00, 0x00, 0x02, 0x06};  // last: 0x1018/2 aborted
    multi.payload = list;
    multi.segment_size = uint16_t(list.size());
    const uint64_t m = t.feed(sdo(multi));
    EXPECT_EQ(t.text(m),
              "#  1->240  ASnd(SDO)  SL: 4c  1c  <- ReadMultipleParameter(2 Objects:"
              "[0x1000/0/4=0x00000191] [0x1018/2=Abort])");
}
