// SDO tracking: connection life cycle, sequence history, aborts, firmware
// downloads and identity learned from SDO reads, on hand-made frames.
#include <gtest/gtest.h>

#include <string>

#include "abort_codes.h"
#include "device_catalogue.h"
#include "flowlens.h"
#include "sdo_frames.h"
#include "sdo_tracking.h"

namespace {

constexpr uint8_t MN = 240;
constexpr uint8_t CN = 1;
constexpr uint8_t RESPONSE = SDO_FLAG_RESPONSE;
constexpr uint8_t ABORT = SDO_FLAG_ABORT;

// Sequence-layer frame between MN and CN.
sdo_frame_spec layer(uint8_t source, uint8_t destination, uint8_t receive, uint8_t send) {
    sdo_frame_spec s;
    s.source = source;
    s.destination = destination;
    s.receive = receive;
    s.send = send;
    s.command_layer = false;
    return s;
}

sdo_frame_spec from_cn(sdo_frame_spec s) {
    s.source = CN;
    s.destination = MN;
    return s;
}

class SdoTracking : public ::testing::Test {
protected:
    engine_harness h;

    void SetUp() override { ASSERT_NE(h.instance, nullptr); }

    const sdo_connection *connection(uint8_t a = MN, uint8_t b = CN) const {
        return sdo_connection_find(&h.instance->sdo, a, 0, a, b, 0, b);
    }
    // Opens MN -> CN the way a client does: request, response, complete.
    void open() {
        EXPECT_EQ(h.track(layer(MN, CN, seq_byte(0, 0), seq_byte(0, 1))), "");
        EXPECT_EQ(h.track(layer(CN, MN, seq_byte(0, 1), seq_byte(0, 1))), "");
        EXPECT_EQ(h.track(layer(MN, CN, seq_byte(0, 1), seq_byte(0, 2))), "");
        EXPECT_EQ(h.track(layer(CN, MN, seq_byte(0, 2), seq_byte(0, 2))), "");
    }
    uint64_t last_frame() const { return h.next_frame - 1; }
    uint8_t advance_of(uint64_t frame) const {
        uint8_t advance = 0xEE;
        EXPECT_EQ(sdo_history_find(&h.instance->sdo, frame, &advance), SDO_HISTORY_FOUND) << "frame " << frame;
        return advance;
    }
};

TEST_F(SdoTracking, OpeningAConnectionIsQuietAndLeavesItOpen) {
    open();
    const sdo_connection *c = connection();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->state, SDO_CONNECTION_OPEN);
    EXPECT_EQ(c->port_a, MN) << "the creating frame's sender is direction A";
    EXPECT_EQ(c->port_b, CN);
    EXPECT_EQ(c->frames, 4u);
    EXPECT_EQ(c->data_frames, 0u);
    EXPECT_EQ(sdo_connection_count(&h.instance->sdo), 1u);
    EXPECT_EQ(connection(CN, MN), c) << "both directions share one entry";
    EXPECT_TRUE(h.result.cls & FLOWLENS_CLASS_SDO);
}

TEST_F(SdoTracking, InitialisationAndCloseMessages) {
    open();
    EXPECT_EQ(h.track(layer(MN, CN, seq_byte(0, 0), seq_byte(0, 1))),
              "Initialization Request on open connection (240 -> 1)");
    EXPECT_EQ(connection()->state, SDO_CONNECTION_INIT_REQUESTED);
    EXPECT_EQ(h.track(layer(MN, CN, seq_byte(0, 0), seq_byte(0, 1))), "Initialization Request Retry (240 -> 1)");
    EXPECT_EQ(h.track(layer(CN, MN, seq_byte(0, 0), seq_byte(0, 0))), "Close on inactive connection (1 -> 240)");
    EXPECT_EQ(connection()->state, SDO_CONNECTION_CLOSED);
    EXPECT_EQ(h.track(layer(MN, CN, seq_byte(0, 0), seq_byte(0, 0))), "Close on inactive connection (240 -> 1)");
    // A request after a close is a fresh start, not a retry.
    EXPECT_EQ(h.track(layer(MN, CN, seq_byte(0, 0), seq_byte(0, 1))), "");
    // Closing an open connection is the normal end.
    EXPECT_EQ(h.track(layer(CN, MN, seq_byte(0, 1), seq_byte(0, 1))), "");
    EXPECT_EQ(h.track(layer(MN, CN, seq_byte(0, 1), seq_byte(0, 2))), "");
    EXPECT_EQ(connection()->state, SDO_CONNECTION_OPEN);
    EXPECT_EQ(h.track(layer(MN, CN, seq_byte(0, 0), seq_byte(0, 0))), "");
    EXPECT_EQ(sdo_connection_count(&h.instance->sdo), 1u);
}

TEST_F(SdoTracking, FirstFrameOfAnOpenConnectionOnlyCreatesIt) {
    // Capture started in the middle of a transfer: receive state valid.
    EXPECT_EQ(h.track(read_request(5, 5, 0x1000, 0)), "");
    ASSERT_NE(connection(), nullptr);
    EXPECT_EQ(connection()->state, SDO_CONNECTION_OPEN);
    EXPECT_EQ(connection()->command_id, 0) << "nothing more for the creating frame";
    EXPECT_EQ(h.instance->sdo.history_count, 0u);
}

TEST_F(SdoTracking, SequenceAdvancesAreKeptInTheHistory) {
    open();
    const uint64_t before = last_frame();
    h.track(read_request(1, 0, 0x1000, 0));
    const uint64_t request_1 = last_frame();
    h.track(from_cn(sdo_frame_spec{layer(CN, MN, seq_byte(1, 2), seq_byte(1, 2))}));  // response, no data
    const uint64_t pure_ack = last_frame();
    h.track(read_request(2, 1, 0x1000, 0));
    const uint64_t request_2 = last_frame();
    h.track(read_request(4, 1, 0x1006, 0));  // jumped two steps
    const uint64_t request_4 = last_frame();
    h.track(read_request(3, 1, 0x1006, 0));  // went back: a retransmission
    const uint64_t request_3 = last_frame();

    EXPECT_EQ(advance_of(request_1), 4);
    EXPECT_EQ(advance_of(request_2), 4);
    EXPECT_EQ(advance_of(request_4), 8);
    EXPECT_EQ(int8_t(advance_of(request_3)), -4);
    uint8_t advance;
    // The CN's frame repeated its send sequence 1, which is new data once (0 -> 4).
    EXPECT_EQ(sdo_history_find(&h.instance->sdo, pure_ack, &advance), SDO_HISTORY_FOUND);
    h.track(from_cn(sdo_frame_spec{layer(CN, MN, seq_byte(3, 2), seq_byte(1, 2))}));
    EXPECT_EQ(sdo_history_find(&h.instance->sdo, last_frame(), &advance), SDO_HISTORY_NOT_FOUND)
        << "a repeated send sequence is an acknowledge";
    EXPECT_EQ(sdo_history_find(&h.instance->sdo, before, &advance), SDO_HISTORY_NOT_FOUND)
        << "the last opening frame repeats sequence 0";
    EXPECT_EQ(sdo_history_find(&h.instance->sdo, 2, &advance), SDO_HISTORY_FOUND)
        << "the CN's initialisation answer is in the history with advance 0";
    EXPECT_EQ(advance, 0);
    EXPECT_EQ(connection()->data_frames, 5u);
    EXPECT_EQ(sdo_history_find(&h.instance->sdo, 1, &advance), SDO_HISTORY_TOO_SMALL)
        << "the creating frame comes before the oldest entry";
}

TEST_F(SdoTracking, HistoryBeforeAnyEntryIsTooSmall) {
    uint8_t advance;
    EXPECT_EQ(sdo_history_find(&h.instance->sdo, 1, &advance), SDO_HISTORY_TOO_SMALL);
    h.next_frame = 100;
    open();
    EXPECT_EQ(sdo_history_find(&h.instance->sdo, 50, &advance), SDO_HISTORY_TOO_SMALL);
}

TEST_F(SdoTracking, HistoryRingKeepsTheNewestEntries) {
    open();
    const uint64_t first_data = h.next_frame;
    const uint64_t total = FLOWLENS_SDO_HISTORY_SIZE + 10;
    // One frame buffer whose send sequence moves on by one step each time.
    std::vector<uint8_t> epl = read_request(0, 0, 0x1000, 0).epl();
    sdo_frame_spec spec = read_request(0, 0, 0x1000, 0);
    flowlens_sdo_frame frame{};
    frame.epl = epl.data();
    frame.epl_length = uint32_t(epl.size());
    frame.source_node = MN;
    frame.destination_node = CN;
    frame.source_mac = spec.source_mac;
    flowlens_node *source = &h.instance->networks[0].nodes[MN];
    for (uint64_t i = 0; i < total; ++i) {
        epl[SDO_OFFSET_SEND] = seq_byte(unsigned(i + 1), 2);
        h.instance->current_frame_number = h.next_frame++;
        h.track(frame, source);
    }
    EXPECT_EQ(h.instance->sdo.history_count, total + 1);  // + the CN's initialisation answer
    // 11 entries were overwritten: the opening one and the first 10 requests.
    uint8_t advance;
    EXPECT_EQ(sdo_history_find(&h.instance->sdo, first_data, &advance), SDO_HISTORY_TOO_SMALL);
    EXPECT_EQ(sdo_history_find(&h.instance->sdo, first_data + 9, &advance), SDO_HISTORY_TOO_SMALL);
    EXPECT_EQ(sdo_history_find(&h.instance->sdo, first_data + 10, &advance), SDO_HISTORY_FOUND);
    EXPECT_EQ(advance, 4);
    EXPECT_EQ(sdo_history_find(&h.instance->sdo, last_frame(), &advance), SDO_HISTORY_FOUND);
    EXPECT_EQ(sdo_history_find(&h.instance->sdo, last_frame() + 1, &advance), SDO_HISTORY_NOT_FOUND);
}

TEST_F(SdoTracking, SingleAbortCarriesItsCode) {
    open();
    h.track(read_request(1, 0, 0x6100, 0));
    sdo_frame_spec abort = from_cn(read_request(1, 1, 0, 0));
    abort.flags = RESPONSE | ABORT;
    abort.payload.clear();
    put32(abort.payload, 0x06020000);
    h.track(abort);
    EXPECT_TRUE(h.result.cls & FLOWLENS_CLASS_SDO_ABORT);
    EXPECT_EQ(h.result.abort_code, 0x06020000u);
    EXPECT_STREQ(abort_code_text(h.result.abort_code), "'Object does not exist in the object dictionary'");
    // A repeated abort frame (same send sequence) is not a new abort.
    h.track(abort);
    EXPECT_FALSE(h.result.cls & FLOWLENS_CLASS_SDO_ABORT);
}

TEST_F(SdoTracking, WriteMultipleAbortCodeSitsBehindTheFirstWord) {
    open();
    sdo_frame_spec abort = read_request(1, 0, 0, 0);
    abort.command = SDO_COMMAND_WRITE_MULTIPLE;
    abort.flags = ABORT;
    abort.payload.clear();
    put32(abort.payload, 0x11111111);
    put32(abort.payload, 0x05040001);
    h.track(abort);
    EXPECT_EQ(h.result.abort_code, 0x05040001u);
}

TEST_F(SdoTracking, AbortCodeBeyondTheCapturedBytesReadsAsZero) {
    open();
    sdo_frame_spec abort = read_request(1, 0, 0, 0);
    abort.flags = ABORT;
    abort.payload.clear();
    std::vector<uint8_t> epl = abort.epl();
    epl.resize(18);  // sliced two bytes into the abort code
    flowlens_sdo_frame frame{};
    frame.epl = epl.data();
    frame.epl_length = uint32_t(epl.size());
    frame.source_node = MN;
    frame.destination_node = CN;
    frame.source_mac = abort.source_mac;
    flowlens_node *source = &h.instance->networks[0].nodes[MN];
    h.result.cls = 0;
    h.result.abort_code = 0xDEADBEEF;
    h.instance->current_frame_number = h.next_frame++;
    h.track(frame, source);
    EXPECT_TRUE(h.result.cls & FLOWLENS_CLASS_SDO_ABORT);
    EXPECT_EQ(h.result.abort_code, 0u);
}

// ReadMultipleParameterByIndex response: sub-records with next offsets
// relative to the command layer (EPL offset 8).
sdo_frame_spec read_multiple_response(const std::vector<std::vector<uint8_t>> &records, bool abort_last,
                                      uint32_t break_offset_of = 99) {
    sdo_frame_spec s = from_cn(read_request(1, 1, 0, 0));
    s.flags = RESPONSE;
    s.command = SDO_COMMAND_READ_MULTIPLE;
    s.payload.clear();
    uint32_t offset = 8;  // first sub-record at EPL 16
    for (size_t i = 0; i < records.size(); ++i) {
        const uint32_t padding = (4 - records[i].size() % 4) % 4;
        const uint32_t next = i + 1 == records.size() ? 0 : offset + 8 + uint32_t(records[i].size()) + padding;
        put32(s.payload, i == break_offset_of ? offset + 4 : next);
        put16(s.payload, 0x6101);
        s.payload.push_back(uint8_t(i + 1));
        s.payload.push_back(uint8_t(padding | ((abort_last && i + 1 == records.size()) ? 0x80 : 0)));
        s.payload.insert(s.payload.end(), records[i].begin(), records[i].end());
        s.payload.insert(s.payload.end(), padding, 0);
        offset = next;
    }
    s.segment_size = uint16_t(s.payload.size());
    return s;
}

TEST_F(SdoTracking, ReadMultipleResponseAbortsAreReported) {
    open();
    sdo_frame_spec request = read_request(1, 0, 0, 0);
    request.command = SDO_COMMAND_READ_MULTIPLE;
    h.track(request);
    h.track(read_multiple_response({{0x12}, {0x56, 0x34}, {0x11, 0x00, 0x09, 0x06}}, true));
    EXPECT_TRUE(h.result.cls & FLOWLENS_CLASS_SDO_ABORT);
    EXPECT_EQ(h.result.abort_code, 0x06090011u);
}

TEST_F(SdoTracking, ReadMultipleWithoutAbortsOrWithABrokenListIsQuiet) {
    open();
    sdo_frame_spec request = read_request(1, 0, 0, 0);
    request.command = SDO_COMMAND_READ_MULTIPLE;
    h.track(request);
    h.track(read_multiple_response({{0x12}, {0x11, 0x00, 0x09, 0x06}}, false));
    EXPECT_FALSE(h.result.cls & FLOWLENS_CLASS_SDO_ABORT);

    h.track(read_request(2, 2, 0, 0));
    h.result.cls = 0;
    sdo_frame_spec broken = read_multiple_response({{0x12}, {0x11, 0x00, 0x09, 0x06}}, true, 0);
    broken.send = seq_byte(2, 2);
    // A request that was not ReadMultiple: the response is not decoded either.
    h.track(broken);
    EXPECT_FALSE(h.result.cls & FLOWLENS_CLASS_SDO_ABORT);

    request.send = seq_byte(3, 2);
    h.track(request);
    broken.send = seq_byte(3, 2);
    h.track(broken);  // first next-offset advances by only 4: the list does not add up
    EXPECT_FALSE(h.result.cls & FLOWLENS_CLASS_SDO_ABORT);
}

TEST_F(SdoTracking, WriteMultipleResponseRecordsWithinTheSegment) {
    open();
    sdo_frame_spec request = read_request(1, 0, 0, 0);
    request.command = SDO_COMMAND_WRITE_MULTIPLE;
    h.track(request);
    sdo_frame_spec response = from_cn(read_request(1, 1, 0, 0));
    response.flags = RESPONSE;
    response.command = SDO_COMMAND_WRITE_MULTIPLE;
    response.payload = {0x01, 0x61, 0x05, 0x80, 0x10, 0x00, 0x07, 0x06,   // aborted: 0x06070010
                        0x01, 0x61, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00,   // fine
                        0x01, 0x61, 0x07, 0x80, 0x00, 0x00, 0x00, 0x00,   // flag without a code
                        0x01, 0x61, 0x08, 0x80, 0x31, 0x00, 0x09, 0x06};  // beyond the segment size
    response.segment_size = 24;
    h.track(response);
    EXPECT_TRUE(h.result.cls & FLOWLENS_CLASS_SDO_ABORT);
    EXPECT_EQ(h.result.abort_code, 0x06070010u);
}

TEST_F(SdoTracking, FirmwareDownloadStartAndCompletion) {
    open();
    EXPECT_EQ(h.track(write_initiate(1, 0, 0x1F50, 1, 100000)), "Firmware Download Start CN1");
    EXPECT_EQ(connection()->firmware_download, 1);
    EXPECT_EQ(h.track(from_cn(layer(CN, MN, seq_byte(1, 2), seq_byte(0, 2)))), "");  // acknowledge
    sdo_frame_spec segment = write_initiate(2, 0, 0, 0, 0);
    segment.flags = SDO_SEGMENTATION_SEGMENT;
    segment.payload.assign(32, 0xA5);
    EXPECT_EQ(h.track(segment), "");
    segment.send = seq_byte(3, 2);
    segment.flags = SDO_SEGMENTATION_COMPLETE;
    EXPECT_EQ(h.track(segment), "");
    EXPECT_EQ(connection()->object_index, 0x1F50) << "segments continue the initiated object";
    sdo_frame_spec done = from_cn(read_request(1, 3, 0, 0));
    done.command = SDO_COMMAND_WRITE_BY_INDEX;
    done.flags = RESPONSE;
    done.payload.clear();
    done.segment_size = 0;
    EXPECT_EQ(h.track(done), "Firmware Download Completed CN1");
    EXPECT_EQ(connection()->firmware_download, 0);
    done.send = seq_byte(2, 2);
    EXPECT_EQ(h.track(done), "") << "completed once";
}

TEST_F(SdoTracking, OtherWritesAreNoFirmwareDownload) {
    open();
    EXPECT_EQ(h.track(write_initiate(1, 0, 0x1F50, 2, 100)), "");
    EXPECT_EQ(h.track(write_expedited(2, 0, 0x1F50, 1, {1, 2, 3, 4})), "") << "expedited is no download";
    EXPECT_EQ(h.track(write_initiate(3, 0, 0x20C0, 35, 100)), "") << "slot firmware only on maker devices";
}

TEST_F(SdoTracking, SlotFirmwareOnAMakerDevice) {
    open();
    h.track(read_request(1, 0, 0x1000, 0));
    sdo_frame_spec answer = from_cn(read_request(1, 1, 0, 0));
    answer.flags = RESPONSE;
    answer.payload = {0x91, 0x01, 0x00, 0x00};
    const uint8_t maker_mac[6] = {0x02, 0xD7, 0xA5, 0x00, 0x00, 0x01};
    std::copy(maker_mac, maker_mac + 6, answer.source_mac);
    h.track(answer);
    EXPECT_EQ(connection()->maker_device, 1);
    EXPECT_EQ(h.track(write_initiate(2, 1, 0x20C8, 35, 4096)), "Firmware Download Start CN1.SS2");
    sdo_frame_spec done = answer;
    done.send = seq_byte(2, 2);
    done.receive = seq_byte(2, 2);
    done.command = SDO_COMMAND_WRITE_BY_INDEX;
    done.payload.clear();
    EXPECT_EQ(h.track(done), "Firmware Download Completed CN1.SS2");
}

TEST_F(SdoTracking, FirmwareMessagesOverUdpNameTheIpAddress) {
    sdo_frame_spec base;
    base.udp = true;
    base.ip_source = 0xC0A86204;       // 192.168.98.4
    base.ip_destination = 0xC0A86420;  // 192.168.100.32
    base.udp_source_port = 2000;
    base.udp_destination_port = 3819;
    auto client = [&](sdo_frame_spec s) {
        s.udp = true;
        s.ip_source = base.ip_source;
        s.ip_destination = base.ip_destination;
        s.udp_source_port = base.udp_source_port;
        s.udp_destination_port = base.udp_destination_port;
        return s;
    };
    auto server = [&](sdo_frame_spec s) {
        s = client(s);
        std::swap(s.ip_source, s.ip_destination);
        std::swap(s.udp_source_port, s.udp_destination_port);
        return s;
    };
    h.track(client(layer(0, 0, seq_byte(0, 0), seq_byte(0, 1))));
    h.track(server(layer(0, 0, seq_byte(0, 1), seq_byte(0, 1))));
    h.track(client(layer(0, 0, seq_byte(0, 1), seq_byte(0, 2))));
    EXPECT_EQ(h.track(client(write_initiate(1, 0, 0x1F50, 1, 4096))), " Firmware Download Start CN192.168.100.32");
    sdo_frame_spec done = server(read_request(1, 1, 0, 0));
    done.command = SDO_COMMAND_WRITE_BY_INDEX;
    done.flags = RESPONSE;
    done.payload.clear();
    EXPECT_EQ(h.track(done), " Firmware Download Completed CN192.168.100.32");
    const sdo_connection *c = sdo_connection_find(&h.instance->sdo, 4, 0xC0A86204, 2000, 32, 0xC0A86420, 3819);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->port_a, 2000);
    EXPECT_EQ(c->address_b, 0xC0A86420u);
    EXPECT_EQ(sdo_connection_find(&h.instance->sdo, 4, 0xC0A86204, 2001, 32, 0xC0A86420, 3819), nullptr);
}

class SdoIdentity : public SdoTracking {
protected:
    const uint8_t maker_mac[6] = {0x02, 0xD7, 0xA5, 0x00, 0x10, 0x01};

    // Read of index/sub answered with data by the CN from mac.
    void read(uint8_t sequence, uint16_t index, uint8_t sub, uint32_t value, const uint8_t *mac) {
        h.track(read_request(sequence, uint8_t(sequence - 1), index, sub));
        sdo_frame_spec answer = from_cn(read_request(sequence, sequence, 0, 0));
        answer.flags = RESPONSE;
        answer.payload.clear();
        put32(answer.payload, value);
        std::copy(mac, mac + 6, answer.source_mac);
        h.track(answer);
    }
    flowlens_node &cn() { return h.instance->networks[0].nodes[CN]; }
};

TEST_F(SdoIdentity, ProductCodeReadFromAMakerDeviceSetsTheIdentity) {
    open();
    const device_catalogue_row *slotted = nullptr;
    for (size_t i = 0; i < device_catalogue_size(); ++i)
        if (device_catalogue[i].capabilities & DEVICE_CAPABILITY_INTERFACE_SLOTS) slotted = &device_catalogue[i];
    ASSERT_NE(slotted, nullptr);
    read(1, 0x1018, 2, slotted->product_code, maker_mac);
    EXPECT_EQ(cn().vendor_id, maker_vendor_id);
    EXPECT_EQ(cn().product_code, slotted->product_code);
    EXPECT_STREQ(cn().device_name, slotted->model_name);
    EXPECT_EQ(cn().object_names_maker, 1);
    EXPECT_EQ(cn().object_names_slots, 1);

    // A product we do not know clears name and flags.
    read(2, 0x1018, 2, 0x0000FFFE, maker_mac);
    EXPECT_EQ(cn().product_code, 0x0000FFFEu);
    EXPECT_EQ(cn().device_name, nullptr);
    EXPECT_EQ(cn().object_names_maker, 0);
    EXPECT_EQ(cn().object_names_slots, 0);
}

TEST_F(SdoIdentity, ReadsFromOtherDevicesOrObjectsLeaveTheNodeAlone) {
    open();
    const uint8_t other_mac[6] = {0x00, 0x60, 0x65, 0x00, 0x10, 0x01};
    read(1, 0x1018, 2, device_catalogue[0].product_code, other_mac);
    EXPECT_EQ(cn().vendor_id, 0u);
    EXPECT_EQ(cn().device_name, nullptr);
    read(2, 0x1018, 1, device_catalogue[0].product_code, maker_mac);  // vendor id, not product code
    EXPECT_EQ(cn().vendor_id, 0u);
    EXPECT_EQ(cn().object_names_maker, 0);
}

TEST_F(SdoIdentity, ModuleConfigurationReadMarksABusController) {
    open();
    read(1, 0x21FF, 0, 5, maker_mac);
    EXPECT_EQ(cn().object_names_maker, 0) << "sub-index 0 is any device's entry count";
    read(2, 0x21FF, 1, 5, maker_mac);
    EXPECT_EQ(cn().object_names_maker, 1);
}

TEST_F(SdoTracking, ResetFreesEveryConnection) {
    for (int node = 1; node < 200; ++node) {
        sdo_frame_spec s = layer(MN, uint8_t(node), seq_byte(0, 0), seq_byte(0, 1));
        h.track(s);
        h.track(layer(uint8_t(node), MN, seq_byte(0, 1), seq_byte(0, 1)));
    }
    EXPECT_EQ(sdo_connection_count(&h.instance->sdo), 199u);
    EXPECT_GT(h.instance->sdo.history_count, 0u);
    flowlens_reset(h.instance);
    EXPECT_EQ(sdo_connection_count(&h.instance->sdo), 0u);
    EXPECT_EQ(h.instance->sdo.history_count, 0u);
    EXPECT_NE(h.instance->sdo.history, nullptr) << "the ring stays allocated";
    open();
    EXPECT_EQ(sdo_connection_count(&h.instance->sdo), 1u);
}

// A client's opening request over UDP from 10.0.0.4:port to 10.0.0.32:3819;
// every port is a connection of its own in one bucket.
sdo_frame_spec udp_client_request(uint16_t port) {
    sdo_frame_spec s = layer(0, 0, seq_byte(0, 0), seq_byte(0, 1));
    s.udp = true;
    s.ip_source = 0x0A000004;
    s.ip_destination = 0x0A000020;
    s.udp_source_port = port;
    s.udp_destination_port = 3819;
    return s;
}

TEST_F(SdoTracking, ResetsFreeConnectionsOfEveryBucketRoundAfterRound) {
    // Highest and lowest buckets, a full recycled chain, and buckets refilled
    // after a reset: each reset leaves an empty table, and nothing leaks.
    for (int round = 0; round < 3; ++round) {
        h.track(layer(255, 254, seq_byte(0, 0), seq_byte(0, 1)));
        h.track(layer(0, 1, seq_byte(0, 0), seq_byte(0, 1)));
        for (uint16_t port = 2000; port < 2040; ++port) {
            h.track(udp_client_request(port));
        }
        EXPECT_EQ(sdo_connection_count(&h.instance->sdo), 2u + SDO_BUCKET_CHAIN_LIMIT) << "round " << round;
        EXPECT_NE(sdo_connection_find(&h.instance->sdo, 254, 0, 254, 255, 0, 255), nullptr);
        flowlens_reset(h.instance);
        EXPECT_EQ(sdo_connection_count(&h.instance->sdo), 0u) << "round " << round;
        EXPECT_EQ(sdo_connection_find(&h.instance->sdo, 254, 0, 254, 255, 0, 255), nullptr);
        flowlens_reset(h.instance);
        EXPECT_EQ(sdo_connection_count(&h.instance->sdo), 0u);
    }
}

TEST_F(SdoTracking, ManyUdpPeersOfOneBucketStayBounded) {
    // Every client port is a connection of its own, and all share one bucket.
    for (uint16_t port = 1000; port < 1100; ++port) {
        sdo_frame_spec s = udp_client_request(port);
        h.track(s);
        std::swap(s.ip_source, s.ip_destination);
        std::swap(s.udp_source_port, s.udp_destination_port);
        s.receive = seq_byte(0, 1);
        h.track(s);
    }
    EXPECT_EQ(sdo_connection_count(&h.instance->sdo), size_t(SDO_BUCKET_CHAIN_LIMIT));
    EXPECT_NE(sdo_connection_find(&h.instance->sdo, 4, 0x0A000004, 1099, 32, 0x0A000020, 3819), nullptr);
    EXPECT_EQ(sdo_connection_find(&h.instance->sdo, 4, 0x0A000004, 1000, 32, 0x0A000020, 3819), nullptr);
}

TEST_F(SdoTracking, UnpaddedSequenceLayerFramesAreTracked) {
    // Over UDP a frame without command layer is 8 POWERLINK bytes; the
    // connection states live on exactly these frames.
    EXPECT_EQ(h.track(layer(MN, CN, seq_byte(0, 0), seq_byte(0, 1)), nullptr, false), "");
    EXPECT_EQ(h.track(layer(CN, MN, seq_byte(0, 1), seq_byte(0, 1)), nullptr, false), "");
    EXPECT_EQ(h.track(layer(MN, CN, seq_byte(0, 1), seq_byte(0, 2)), nullptr, false), "");
    ASSERT_NE(connection(), nullptr);
    EXPECT_EQ(connection()->state, SDO_CONNECTION_OPEN);
    h.track(read_request(1, 0, 0x1000, 0), nullptr, false);
    EXPECT_EQ(connection()->object_index, 0x1000);
    EXPECT_EQ(h.track(layer(CN, MN, seq_byte(1, 0), seq_byte(0, 0)), nullptr, false), "")
        << "closing the open connection is no message";
    // A new data frame cut right after the sequence layer reads no command.
    EXPECT_EQ(h.track(layer(MN, CN, seq_byte(0, 1), seq_byte(0, 2)), nullptr, false), "");
    h.track(layer(MN, CN, seq_byte(0, 2), seq_byte(2, 2)), nullptr, false);
    EXPECT_EQ(connection()->command_id, SDO_COMMAND_NIL);
    EXPECT_EQ(connection()->object_index, 0);
}

TEST_F(SdoTracking, ShortFramesAndMissingTablesAreOnlyClassified) {
    sdo_frame_spec s = layer(MN, CN, seq_byte(0, 0), seq_byte(0, 1));
    std::vector<uint8_t> epl = s.epl();
    epl.resize(5);  // cut inside the sequence layer
    flowlens_sdo_frame frame{};
    frame.epl = epl.data();
    frame.epl_length = uint32_t(epl.size());
    frame.source_node = MN;
    frame.destination_node = CN;
    frame.source_mac = s.source_mac;
    h.result.cls = 0;
    h.track(frame, nullptr);
    EXPECT_EQ(h.result.cls, FLOWLENS_CLASS_SDO);
    EXPECT_EQ(sdo_connection_count(&h.instance->sdo), 0u);

    flowlens_sdo_release(&h.instance->sdo);  // as after a failed allocation
    EXPECT_EQ(h.track(layer(MN, CN, seq_byte(0, 0), seq_byte(0, 1))), "");
    EXPECT_EQ(h.result.cls, FLOWLENS_CLASS_SDO);
    uint8_t advance;
    EXPECT_EQ(sdo_history_find(&h.instance->sdo, 1, &advance), SDO_HISTORY_OFF);
    flowlens_reset(h.instance);  // and a reset without tables is harmless
}

// ReadMultipleParameterByIndex response of the multiple read/write sample
// capture (frame 7), from the POWERLINK header on: five sub-records of 1, 2,
// 4 and 8 data bytes, the fifth aborted with 0x06090011.
const std::vector<uint8_t> READ_MULTIPLE_RESPONSE = {
    0x06, 0x05, 0x04, 0x05, 0x0e, 0x0e, 0x00, 0x00, 0x00, 0x01, 0x80, 0x32, 0x40, 0x00, 0x00, 0x00,
    0x14, 0x00, 0x00, 0x00, 0x01, 0x61, 0x01, 0x03, 0x12, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00,
    0x01, 0x61, 0x02, 0x02, 0x56, 0x34, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x01, 0x61, 0x03, 0x00,
    0xde, 0xbc, 0x9a, 0x78, 0x3c, 0x00, 0x00, 0x00, 0x01, 0x61, 0x04, 0x00, 0x88, 0x77, 0x66, 0x55,
    0x44, 0x33, 0x22, 0x11, 0x00, 0x00, 0x00, 0x00, 0x01, 0x61, 0xee, 0x80, 0x11, 0x00, 0x09, 0x06};

TEST(SdoSubrecords, WalksARealReadMultipleResponse) {
    sdo_subrecord_iterator it;
    sdo_subrecords_begin(&it, READ_MULTIPLE_RESPONSE.data(), uint32_t(READ_MULTIPLE_RESPONSE.size()));
    std::vector<sdo_subrecord> records;
    sdo_subrecord r;
    while (sdo_subrecords_next(&it, &r)) records.push_back(r);
    EXPECT_TRUE(it.valid);
    EXPECT_FALSE(it.cut);
    ASSERT_EQ(records.size(), 5u);
    const uint32_t lengths[5] = {1, 2, 4, 8, 4};
    const uint8_t subs[5] = {1, 2, 3, 4, 0xEE};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(records[i].index, 0x6101);
        EXPECT_EQ(records[i].sub_index, subs[i]);
        EXPECT_EQ(records[i].data_length, lengths[i]) << i;
        EXPECT_EQ(bool(records[i].flags & SDO_SUBRECORD_ABORT), i == 4);
    }
    EXPECT_EQ(records[1].data_offset, 36u);
    EXPECT_EQ(READ_MULTIPLE_RESPONSE[records[1].data_offset], 0x56);
}

TEST(SdoSubrecords, CutAndBrokenLists) {
    sdo_subrecord_iterator it;
    sdo_subrecord r;
    int count = 0;
    sdo_subrecords_begin(&it, READ_MULTIPLE_RESPONSE.data(), 60);  // frame sliced in the 4th record
    while (sdo_subrecords_next(&it, &r)) ++count;
    EXPECT_EQ(count, 4) << "the 4th header is still complete";
    EXPECT_TRUE(it.valid);
    sdo_subrecords_begin(&it, READ_MULTIPLE_RESPONSE.data(), 50);
    count = 0;
    while (sdo_subrecords_next(&it, &r)) ++count;
    EXPECT_EQ(count, 3);
    EXPECT_TRUE(it.cut);

    std::vector<uint8_t> broken = READ_MULTIPLE_RESPONSE;
    broken[28] = 0x18;  // second next offset advances by only half a header
    sdo_subrecords_begin(&it, broken.data(), uint32_t(broken.size()));
    count = 0;
    while (sdo_subrecords_next(&it, &r)) ++count;
    EXPECT_FALSE(it.valid);
    EXPECT_EQ(count, 1);

    broken = READ_MULTIPLE_RESPONSE;
    broken[52] = 0x40;  // fourth next offset leaves the 64-byte segment
    sdo_subrecords_begin(&it, broken.data(), uint32_t(broken.size()));
    while (sdo_subrecords_next(&it, &r)) {
    }
    EXPECT_FALSE(it.valid);

    broken = READ_MULTIPLE_RESPONSE;
    broken[12] = 4;  // segment too small for one header
    sdo_subrecords_begin(&it, broken.data(), uint32_t(broken.size()));
    EXPECT_FALSE(sdo_subrecords_next(&it, &r));
    EXPECT_FALSE(it.valid);
    sdo_subrecords_begin(&it, nullptr, 100);
    EXPECT_FALSE(sdo_subrecords_next(&it, &r));
}

// The whole engine: the classification hands SDO frames to the tracking and
// sends its messages and aborts through the event callback.
TEST(SdoThroughEngine, MessagesAndAbortsReachTheCallback) {
    engine_harness h;
    ASSERT_NE(h.instance, nullptr);
    h.process(layer(MN, CN, seq_byte(0, 0), seq_byte(0, 1)).build());
    h.process(layer(MN, CN, seq_byte(0, 0), seq_byte(0, 1)).build());
    h.process(layer(CN, MN, seq_byte(0, 1), seq_byte(0, 1)).build());
    h.process(layer(MN, CN, seq_byte(0, 1), seq_byte(0, 2)).build());
    h.process(read_request(1, 0, 0x6100, 0).build());
    sdo_frame_spec abort = from_cn(read_request(1, 1, 0, 0));
    abort.flags = RESPONSE | ABORT;
    abort.payload.clear();
    put32(abort.payload, 0x06020000);
    h.process(abort.build());

    const std::vector<std::string> info = h.texts(0);
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0], "Powerlink: Packet #0000002 - Initialization Request Retry (240 -> 1) ");
    bool abort_seen = false;
    for (const std::string &text : h.texts(2))
        abort_seen |= text ==
                      "Powerlink: Packet #0000006 - SDO Abort Code 0x06020000 "
                      "'Object does not exist in the object dictionary'";
    EXPECT_TRUE(abort_seen);
    EXPECT_EQ(sdo_connection_count(&h.instance->sdo), 1u);
}

}  // namespace
