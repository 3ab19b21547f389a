#include "samples.h"

namespace zelbuild {

namespace {

constexpr uint64_t kStart = 1700000000000000000ull;

std::vector<Packet> on_ethernet(uint8_t service_id, const std::vector<Bytes> &payloads) {
    std::vector<Packet> packets;
    uint64_t t = kStart;
    for (const Bytes &p : payloads) {
        packets.push_back({t, epl_asnd_frame(service_id, p)});
        t += 1000000;
    }
    return packets;
}

Bytes filled(size_t n, uint8_t first) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i);
    return b;
}

}  // namespace

std::vector<Packet> lanyx_samples() {
    std::vector<Bytes> p;
    LanyxReport si;  // 1
    si.status = 0x8000;
    si.frame_counter = 7;
    si.local_ios = 0x3C;
    si.start_ticks = 0;
    si.stop_ticks = 100;
    si.length_word = 0x8000 | 16;
    si.cycle_counter = 4242;
    si.data = {0xF5, 0x01, 0xF5, 0x02, 0x03, 0xF5, 0x04, 0x05, 0x06, 0x07, 0xDE, 0xAD, 0xBE, 0xEF};
    p.push_back(lanyx_payload(si));

    LanyxReport sliced = si;  // 2
    sliced.length_word = 0x8000 | 100;
    sliced.data = {0xF5, 0x01, 0xF5, 0xF5};
    p.push_back(lanyx_payload(sliced));

    LanyxReport complete;  // 3 (sent under ASnd 164 below)
    complete.start_ticks = 1000;
    complete.stop_ticks = 1000 + 50 * 12;
    complete.length_word = 10;
    complete.data = filled(10, 0x10);
    complete.data.insert(complete.data.end(), {0x78, 0x56, 0x34, 0x12});

    LanyxReport crc = si;  // 4
    crc.status = 0x8000 | 0x0200;
    crc.length_word = 40;
    p.push_back(lanyx_payload(crc));

    LanyxReport sync = si;  // 5
    sync.status = 0x0100;
    sync.length_word = 0x8000 | 8;
    sync.data = filled(12, 0x40);
    p.push_back(lanyx_payload(sync));

    LanyxReport both = si;  // 6
    both.status = 0x0300;
    both.start_ticks = 5000;
    both.stop_ticks = 5000;
    both.length_word = 20;
    p.push_back(lanyx_payload(both));

    Bytes tiny = lanyx_payload(si);  // 7
    tiny.resize(10);
    p.push_back(tiny);

    LanyxReport no_crc;  // 8
    no_crc.length_word = 60;
    no_crc.data = {0x01, 0x02};
    p.push_back(lanyx_payload(no_crc));

    std::vector<Packet> packets = on_ethernet(0xA1, p);
    packets.insert(packets.begin() + 2, {kStart + 1500000, epl_asnd_frame(0xA4, lanyx_payload(complete))});
    return packets;
}

std::vector<Packet> packed_samples() {
    std::vector<Bytes> p;
    PackedDump empty;  // 1
    empty.unique_id = 77;
    empty.dump_total = 1000;
    empty.dump_lost = 3;
    empty.ts_high = 0x12345;
    empty.phy_info = 0x11;
    empty.reserved = 0xBEEF;
    empty.capture_id = 9;
    p.push_back(packed_payload(empty));

    PackedDump variable;  // 2
    for (uint16_t size : {60, 61, 10}) {
        PackedSubframe s;
        s.timestamp = 1000u * size;
        s.size = size;
        s.flags = 0x1001;
        s.data = filled(size, static_cast<uint8_t>(size));
        variable.subframes.push_back(s);
    }
    variable.dump_count = 3;
    p.push_back(packed_payload(variable));

    PackedDump fixed;  // 3
    fixed.dump_size = 64;
    for (uint16_t size : {20, 1514}) {
        PackedSubframe s;
        s.size = size;
        s.data = filled(64, 0x80);
        fixed.subframes.push_back(s);
    }
    fixed.dump_count = 2;
    p.push_back(packed_payload(fixed));

    PackedDump short_of_room = variable;  // 4
    short_of_room.subframes.pop_back();
    p.push_back(packed_payload(short_of_room));

    Bytes cut = packed_payload(empty);  // 5
    cut.resize(10);
    p.push_back(cut);

    std::vector<Packet> packets;
    uint64_t t = kStart;
    for (const Bytes &payload : p) {
        packets.push_back({t, epl_asnd_udp_frame(0xA3, payload)});
        t += 1000000;
    }
    return packets;
}

std::vector<Packet> lanyxplus_samples() {
    std::vector<Bytes> p;
    LanyxPlusReport pause;  // 1
    pause.flags = 0x00010000 | 64;
    pause.transfer_time = 1200;
    pause.header = lanyxplus_header(1, 2, 3);
    pause.payload = filled(6, 0xA0);
    p.push_back(lanyxplus_payload(pause));

    LanyxPlusReport data;          // 2
    data.flags = 0xC3500000 | 30;  // post-trigger, trigger, filter, drop, line 5, data
    data.transfer_time = 800;
    data.header = lanyxplus_header(5, 4, 3);
    data.payload = {9, 9, 9, 9, 9, 9};
    p.push_back(lanyxplus_payload(data));

    LanyxPlusReport on_port4 = data;  // 3
    on_port4.header = lanyxplus_header(5, 4, 4);
    p.push_back(lanyxplus_payload(on_port4));

    LanyxPlusReport ping;  // 4
    ping.flags = 20;
    ping.transfer_time = 10;
    ping.header = lanyxplus_header(2, 1, 0);
    ping.payload = {1, 0, 128, 7, 0xAB, 0xCD};
    p.push_back(lanyxplus_payload(ping));

    LanyxPlusReport mgmt;  // 5
    mgmt.flags = 0x00020000 | 16;
    mgmt.transfer_time = 5;
    mgmt.header = lanyxplus_header(3, 2, 0xC5);
    mgmt.payload = {0xFF, 0xFF, 0xFF, 0xFE};
    p.push_back(lanyxplus_payload(mgmt));

    LanyxPlusReport reserved;  // 6
    reserved.flags = 0x00030000 | 18;
    reserved.header = lanyxplus_header(1, 1, 1);
    reserved.payload = {1, 2};
    p.push_back(lanyxplus_payload(reserved));

    Bytes tiny = lanyxplus_payload(pause);  // 7
    tiny.resize(17);
    p.push_back(tiny);

    LanyxPlusReport odd_type = ping;  // 8
    odd_type.payload = {2, 5, 128, 1};
    p.push_back(lanyxplus_payload(odd_type));

    LanyxPlusReport short_mgmt = mgmt;  // 9
    short_mgmt.payload = {1, 2};
    p.push_back(lanyxplus_payload(short_mgmt));

    LanyxPlusReport short_cmd = ping;  // 10
    short_cmd.header = lanyxplus_header(2, 1, 8);
    short_cmd.payload = {1, 0};
    p.push_back(lanyxplus_payload(short_cmd));

    return on_ethernet(0xA5, p);
}

std::vector<Packet> asnd162_samples() {
    LanyxReport r;
    r.status = 0x8000;
    r.length_word = 0x8000 | 10;
    r.data = filled(14, 0xF5);
    return on_ethernet(0xA2, {lanyx_payload(r)});
}

std::vector<Packet> opensafety_in_lanyx_samples() {
    LanyxReport r;
    r.status = 0x8000;
    r.stop_ticks = 500;
    // SNMT response carrying a Zelmar UDID (prefix 02:D7:A5).
    const Bytes safety = opensafety_frame(0xA4, 0x001, 0x42, {0x02, 0xD7, 0xA5, 0x00, 0x10, 0x01});
    r.length_word = static_cast<uint16_t>(0x8000 | safety.size());
    r.data = safety;
    r.data.insert(r.data.end(), {0xAA, 0xBB, 0xCC, 0xDD});  // the frame's CRC32
    return on_ethernet(0xA1, {lanyx_payload(r)});
}

}  // namespace zelbuild
