/* openSAFETY capture generator. */
#include "osa_gen.h"
#include "osa_frame.h"
#include "pcapng_format.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

namespace osa_gen {

using namespace osa_frame;

namespace {

constexpr uint16_t scm_sadr = 1;
constexpr uint16_t udp_port = 9877;
constexpr uint16_t ethertype_ipv4 = 0x0800;
constexpr uint16_t ethertype_powerlink = 0x88AB;
constexpr std::size_t eth_min_frame = 60;

/* POWERLINK message types and the PRes / ASnd layout. */
constexpr uint8_t plk_pres = 0x04;
constexpr uint8_t plk_asnd = 0x06;
constexpr uint8_t plk_broadcast = 0xFF;
constexpr uint8_t plk_mn = 0xF0;
constexpr uint8_t plk_nmt_operational = 0xFD;
constexpr std::size_t plk_pres_header = 10;  // type, dst, src, NMT state, 2 flag bytes, PDO version, reserved, size
/* ASnd service carrying openSAFETY acyclic frames: manufacturer-specific range. */
constexpr uint8_t plk_asnd_service = 0xA0;

/* openSAFETY/UDP transport header: version, type, counter, sender, data point, length. */
constexpr std::size_t oss_udp_header = 12;

/* SSDO access command: initiate expedited upload. */
constexpr uint8_t sacmd_upload_initiate = 0x20;

void put16le(std::vector<uint8_t> &v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
void put32le(std::vector<uint8_t> &v, uint32_t x) {
    put16le(v, static_cast<uint16_t>(x));
    put16le(v, static_cast<uint16_t>(x >> 16));
}
void put16be(std::vector<uint8_t> &v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x >> 8));
    v.push_back(static_cast<uint8_t>(x));
}

void put_crc(std::vector<uint8_t> &v, uint16_t crc, unsigned payload_len) {
    if (crc_len(payload_len) == 2)
        put16le(v, crc);
    else
        v.push_back(static_cast<uint8_t>(crc));
}

void mac(std::vector<uint8_t> &v, uint8_t last) {
    /* Locally administered addresses under our prefix. */
    const uint8_t m[6] = {0x02, 0xD7, 0xA5, 0x00, 0x00, last};
    v.insert(v.end(), m, m + 6);
}

uint16_t ip_checksum(const uint8_t *p, std::size_t n) {
    uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < n; i += 2) sum += static_cast<uint32_t>(p[i] << 8 | p[i + 1]);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

/* Whether the transport header's sequence counter may take a value. The
 * dissector searches the whole datagram for frames: header bytes of 0x80 and
 * above (near the message IDs, 0xA0 and up) can make it take bytes of the
 * header for a frame (a slim SSDO at sequence 0x03EE) or find no frame at
 * all (0x828D in front of an SPDO of node 3). Counter values whose two bytes
 * stay below 0x80 are used only. */
bool sequence_usable(uint16_t seq) { return (seq & 0x8080) == 0; }

/* The openSAFETY/UDP datagram: transport header and frame. */
std::vector<uint8_t> oss_datagram(const std::vector<uint8_t> &osa, uint16_t sender, uint16_t seq) {
    std::vector<uint8_t> payload;
    payload.push_back(0x01);  // transport version
    payload.push_back(0x00);  // flags / type
    put16le(payload, seq);
    put32le(payload, sender);
    put16le(payload, 0);  // data point
    put16le(payload, static_cast<uint16_t>(osa.size()));
    payload.insert(payload.end(), osa.begin(), osa.end());
    return payload;
}

std::vector<uint8_t> udp_packet(const std::vector<uint8_t> &payload, uint16_t sender, uint16_t seq) {
    std::vector<uint8_t> e;
    mac(e, 0xFF);
    mac(e, static_cast<uint8_t>(sender));
    put16be(e, ethertype_ipv4);
    const std::size_t ip = e.size();
    const uint16_t total = static_cast<uint16_t>(20 + 8 + payload.size());
    // clang-format off
    const uint8_t iphdr[20] = {0x45, 0, static_cast<uint8_t>(total >> 8), static_cast<uint8_t>(total),
                               static_cast<uint8_t>(seq >> 8), static_cast<uint8_t>(seq), 0x40, 0, 64, 17, 0, 0,
                               192, 168, 100, static_cast<uint8_t>(sender), 192, 168, 100, 255};
    // clang-format on
    e.insert(e.end(), iphdr, iphdr + 20);
    const uint16_t sum = ip_checksum(e.data() + ip, 20);
    e[ip + 10] = static_cast<uint8_t>(sum >> 8);
    e[ip + 11] = static_cast<uint8_t>(sum);
    put16be(e, udp_port);
    put16be(e, udp_port);
    put16be(e, static_cast<uint16_t>(8 + payload.size()));
    put16be(e, 0);  // no UDP checksum
    e.insert(e.end(), payload.begin(), payload.end());
    if (e.size() < eth_min_frame) e.resize(eth_min_frame, 0);
    return e;
}

std::vector<uint8_t> powerlink_packet(const std::vector<uint8_t> &osa, const frame_info &f) {
    std::vector<uint8_t> e;
    const bool cyclic = f.msg_type == type_spdo;
    const uint8_t src = static_cast<uint8_t>(cyclic ? f.adr : (f.response ? f.tadr : scm_sadr));
    mac(e, 0xFF);
    mac(e, src);
    put16be(e, ethertype_powerlink);
    if (cyclic) {
        e.push_back(plk_pres);
        e.push_back(plk_broadcast);
        e.push_back(src);
        e.push_back(plk_nmt_operational);
        e.push_back(0x00);  // MS, EN, RD
        e.push_back(0x00);  // PR, RS
        e.push_back(0x00);  // PDO version
        e.push_back(0x00);
        put16le(e, static_cast<uint16_t>(osa.size()));
        static_assert(plk_pres_header == 10, "PRes header");
    } else {
        e.push_back(plk_asnd);
        e.push_back(f.response ? plk_mn : static_cast<uint8_t>(f.adr));
        e.push_back(f.response ? static_cast<uint8_t>(f.tadr) : plk_mn);
        e.push_back(plk_asnd_service);
    }
    e.insert(e.end(), osa.begin(), osa.end());
    if (e.size() < eth_min_frame) e.resize(eth_min_frame, 0);
    return e;
}

struct builder {
    const config &cfg;
    capture cap;
    uint64_t now_ns = 1700000000ULL * 1000000000ULL;
    uint16_t seq = 0;
    std::map<uint16_t, uint64_t> counters;
    std::map<uint16_t, uint16_t> snmt_ct;

    explicit builder(const config &c) : cfg(c) {}

    void emit(frame_info f, const std::vector<uint8_t> &payload) {
        f.payload_len = static_cast<unsigned>(payload.size());
        const std::vector<uint8_t> osa = build_frame(f, cfg.sdn, cfg.udid, payload);
        f.frame_len = osa.size();
        packet p;
        p.ts_ns = now_ns;
        if (cfg.via == transport::udp) {
            do ++seq;
            while (!sequence_usable(seq));
            const uint16_t sender = f.response ? f.tadr : f.adr;
            p.bytes = udp_packet(oss_datagram(osa, sender, seq), sender, seq);
        } else {
            p.bytes = powerlink_packet(osa, f);
        }
        now_ns += 20000;  // 20 us between frames inside a cycle
        cap.packets.push_back(std::move(p));
        f.packet = static_cast<uint32_t>(cap.packets.size());
        cap.frames.push_back(f);
    }

    void snmt(uint16_t node, uint8_t ext, const std::vector<uint8_t> &args, uint8_t resp_ext,
              const std::vector<uint8_t> &resp_args) {
        frame_info req;
        req.msg_id = snmt_service_request;
        req.msg_type = type_snmt;
        req.adr = node;
        req.tadr = scm_sadr;
        req.counter = snmt_ct[node]++;
        req.snmt_ext = ext;
        std::vector<uint8_t> p{ext};
        p.insert(p.end(), args.begin(), args.end());
        emit(req, p);

        frame_info resp = req;
        resp.msg_id = snmt_service_response;
        resp.adr = scm_sadr;
        resp.tadr = node;
        resp.response = true;
        resp.snmt_ext = resp_ext;
        std::vector<uint8_t> r{resp_ext};
        r.insert(r.end(), resp_args.begin(), resp_args.end());
        emit(resp, r);
    }

    void ssdo(uint16_t node, bool slim, uint16_t index, uint8_t sub, unsigned value_len) {
        frame_info req;
        req.msg_id = slim ? slim_ssdo_request : ssdo_request;
        req.msg_type = slim ? type_slim_ssdo : type_ssdo;
        req.adr = node;
        req.tadr = scm_sadr;
        req.counter = snmt_ct[node]++;
        emit(req, {sacmd_upload_initiate, static_cast<uint8_t>(index), static_cast<uint8_t>(index >> 8), sub});

        frame_info resp = req;
        resp.msg_id = slim ? slim_ssdo_response : ssdo_response;
        resp.adr = scm_sadr;
        resp.tadr = node;
        resp.response = true;
        std::vector<uint8_t> r{sacmd_upload_initiate, static_cast<uint8_t>(index), static_cast<uint8_t>(index >> 8),
                               sub};
        /* ZELM, then serial-number bytes */
        const uint8_t value[] = {0x4D, 0x4C, 0x45, 0x5A, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
        for (unsigned i = 0; i < value_len; ++i) r.push_back(value[i % sizeof value]);
        emit(resp, r);
    }

    void boot() {
        for (const producer &p : cfg.producers) {
            if (p.acyclic_only) continue;
            if (cfg.announce_udid)
                snmt(p.sadr, snmt_ext_assign_udid_scm, std::vector<uint8_t>(cfg.udid, cfg.udid + 6),
                     snmt_ext_assigned_udid_scm, std::vector<uint8_t>(cfg.udid, cfg.udid + 6));
            ssdo(p.sadr, false, 0x1018, 0x01, 4);   // vendor ID, CRC-8
            ssdo(p.sadr, false, 0x1018, 0x04, 12);  // serial number block, CRC-16
            ssdo(p.sadr, true, 0x1018, 0x02, 4);    // slim SSDO
            snmt(p.sadr, snmt_ext_set_to_op, {0x01, 0x02, 0x03, 0x04}, snmt_ext_status_op, {});
            now_ns += cfg.cycle_us * 1000ULL;
        }
    }

    bool dropped(uint16_t sadr, unsigned cycle) const {
        for (const drop &d : cfg.drops)
            if (d.sadr == sadr && cycle >= d.from_cycle && cycle < d.from_cycle + d.count) return true;
        return false;
    }

    bool valid(uint16_t sadr, unsigned cycle) const {
        for (const invalid_range &r : cfg.invalid)
            if (r.sadr == sadr && cycle >= r.from_cycle && cycle < r.to_cycle) return false;
        return true;
    }

    const producer *find_producer(uint16_t sadr) const {
        for (const producer &p : cfg.producers)
            if (p.sadr == sadr) return &p;
        return nullptr;
    }

    void spdo(const producer &p, unsigned cycle, uint8_t id, uint16_t tadr) {
        frame_info f;
        f.msg_id = id;
        f.msg_type = type_spdo;
        f.adr = p.sadr;
        f.tadr = tadr;
        f.counter = counters[p.sadr];
        f.conn_valid = valid(p.sadr, cycle);
        f.counter40 = p.counter40 && id == spdo_data_only;
        std::vector<uint8_t> payload(p.payload_len);
        for (unsigned i = 0; i < p.payload_len; ++i) payload[i] = static_cast<uint8_t>(p.sadr * 16 + i + cycle);
        emit(f, payload);
    }

    void cycles() {
        for (const producer &p : cfg.producers) counters[p.sadr] = p.counter_start;
        for (unsigned c = 0; c < cfg.cycles; ++c) {
            const uint64_t cycle_start = now_ns;
            for (const producer &p : cfg.producers) {
                uint8_t id = spdo_data_only;
                uint16_t tadr = 0;
                for (const time_sync &s : cfg.syncs) {
                    if (s.consumer == p.sadr && s.cycle == c) {
                        id = spdo_time_request;
                        tadr = s.producer;
                    } else if (s.producer == p.sadr && s.cycle + 1 == c) {
                        id = spdo_time_response;
                        tadr = s.consumer;
                    }
                }
                if ((p.acyclic_only && id == spdo_data_only) || dropped(p.sadr, c)) continue;
                spdo(p, c, id, tadr);
            }
            for (const producer &p : cfg.producers) {
                uint64_t &ctr = counters[p.sadr];
                ctr += p.counter_step;
                if (!p.counter40) ctr &= 0xFFFF;
            }
            now_ns = cycle_start + cfg.cycle_us * 1000ULL;
        }
    }

    void shutdown() {
        for (const producer &p : cfg.producers)
            if (!p.acyclic_only) snmt(p.sadr, snmt_ext_set_to_pre_op, {}, snmt_ext_status_pre_op, {});
    }
};

}  // namespace

std::vector<uint8_t> build_frame(const frame_info &f, uint16_t sdn, const uint8_t udid[6],
                                 const std::vector<uint8_t> &payload) {
    const unsigned len = static_cast<unsigned>(payload.size());
    const bool slim = f.msg_type == type_slim_ssdo;
    const bool snmt = f.msg_type == type_snmt;
    uint8_t id = static_cast<uint8_t>(f.msg_id & 0xFC);
    if (f.msg_type == type_spdo && f.conn_valid) id |= spdo_conn_valid;

    std::vector<uint8_t> out;
    out.push_back(static_cast<uint8_t>(f.adr));
    out.push_back(static_cast<uint8_t>(id | ((f.adr >> 8) & 0x03)));
    out.push_back(static_cast<uint8_t>(len));
    out.push_back(static_cast<uint8_t>(f.counter));
    out.insert(out.end(), payload.begin(), payload.end());
    put_crc(out, subframe_crc(out.data(), out.size(), len), len);
    const std::size_t f2 = out.size();

    const uint16_t adr2 = static_cast<uint16_t>(f.adr ^ sdn);
    std::vector<uint8_t> plain;
    plain.push_back(static_cast<uint8_t>(adr2));
    plain.push_back(static_cast<uint8_t>(id | ((adr2 >> 8) & 0x03)));
    plain.push_back(static_cast<uint8_t>(f.counter >> 8));
    if (f.counter40) {
        plain.push_back(0);
        plain.push_back(tr_40bit_available | tr_40bit_used);
    } else {
        plain.push_back(static_cast<uint8_t>(f.tadr));
        plain.push_back(static_cast<uint8_t>((f.tadr >> 8) & 0x03));
    }
    if (!slim) plain.insert(plain.end(), payload.begin(), payload.end());
    std::vector<uint8_t> sf2 = plain;
    put_crc(sf2, subframe_crc(plain.data(), plain.size(), len), len);

    if (f.counter40) {
        /* Counter bits 16-39 travel in the address, ID and target bytes. */
        sf2[f2_adr] = static_cast<uint8_t>(0x01 ^ out[pos_adr] ^ (f.counter >> 16));
        sf2[f2_id] = static_cast<uint8_t>(out[pos_id] ^ (f.counter >> 24));
        sf2[f2_tadr] = static_cast<uint8_t>(f.counter >> 32);
    }
    if (!snmt)
        for (std::size_t i = 0; i < udid_len && i < sf2.size(); ++i) sf2[i] ^= udid[i];
    out.insert(out.end(), sf2.begin(), sf2.end());
    (void)f2;
    return out;
}

capture generate(const config &cfg) {
    builder b(cfg);
    if (cfg.boot) b.boot();
    b.cycles();
    if (cfg.pre_op_at_end) b.shutdown();
    return std::move(b.cap);
}

config default_config() {
    config c;
    producer p;
    for (uint16_t sadr : {2, 3, 4}) {
        p.sadr = sadr;
        c.producers.push_back(p);
    }
    c.producers[2].counter_start = 65000;  // node 4 wraps its 16-bit counter
    p = producer();
    p.sadr = 5;
    p.payload_len = 0;  // 11-byte frames
    c.producers.push_back(p);
    p.sadr = 6;
    p.payload_len = 12;  // CRC-16 frames
    c.producers.push_back(p);
    p = producer();
    p.sadr = 7;
    p.counter40 = true;
    p.payload_len = 4;
    p.counter_start = 0x0B000000ULL;  // 40-bit counter
    c.producers.push_back(p);
    p = producer();
    p.sadr = 12;  // additional address of node 2
    p.acyclic_only = true;
    c.producers.push_back(p);
    p = producer();
    p.sadr = 1;  // the SCM answers time requests
    p.acyclic_only = true;
    c.producers.push_back(p);

    c.cycles = 60;
    c.cycle_us = 10000;
    for (producer &q : c.producers) q.counter_step = 100;
    c.syncs.push_back({3, 1, 4});    // node 3 asks the SCM
    c.syncs.push_back({12, 2, 8});   // the additional address asks its node
    c.drops.push_back({3, 20, 7});   // a few cycles lost
    c.drops.push_back({6, 30, 25});  // a long outage
    c.invalid.push_back({6, 0, 3});  // connection valid from cycle 3
    c.invalid.push_back({2, 40, 45});
    return c;
}

bool write_pcap(const capture &cap, const std::string &path, bool pcapng, std::string *error) {
    std::unique_ptr<FILE, int (*)(FILE *)> fp(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!fp) {
        if (error) *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<uint8_t> out;
    auto u16 = [&](uint16_t x) { out.insert(out.end(), {static_cast<uint8_t>(x), static_cast<uint8_t>(x >> 8)}); };
    auto u32 = [&](uint32_t x) {
        u16(static_cast<uint16_t>(x));
        u16(static_cast<uint16_t>(x >> 16));
    };
    constexpr uint32_t linktype_ethernet = 1;
    if (!pcapng) {
        u32(0xA1B2C3D4);
        u16(2);
        u16(4);
        u32(0);
        u32(0);
        u32(65535);
        u32(linktype_ethernet);
        for (const packet &p : cap.packets) {
            u32(static_cast<uint32_t>(p.ts_ns / 1000000000ULL));
            u32(static_cast<uint32_t>(p.ts_ns / 1000ULL % 1000000ULL));
            u32(static_cast<uint32_t>(p.bytes.size()));
            u32(static_cast<uint32_t>(p.bytes.size()));
            out.insert(out.end(), p.bytes.begin(), p.bytes.end());
        }
    } else {
        /* Section header, interface with nanosecond resolution, packets. */
        using namespace pcapng;
        u32(kSectionHeaderType);
        u32(kSectionHeaderFixedLength);
        u32(kByteOrderMagic);
        u16(kMajorVersion);
        u16(kMinorVersion);
        u32(0xFFFFFFFF);  // section length unknown
        u32(0xFFFFFFFF);
        u32(kSectionHeaderFixedLength);
        constexpr uint32_t idb_length = kInterfaceDescriptionFixedLength + optionLength(1) + kOptionHeaderLength;
        u32(kInterfaceDescriptionType);
        u32(idb_length);
        u16(static_cast<uint16_t>(linktype_ethernet));
        u16(0);
        u32(0);
        u16(kOptionIfTsresol);
        u16(1);
        out.insert(out.end(), {kTsresolNanoseconds, 0, 0, 0});
        u16(kOptionEnd);
        u16(0);
        u32(idb_length);
        for (const packet &p : cap.packets) {
            const uint32_t captured = static_cast<uint32_t>(p.bytes.size());
            const uint32_t block = enhancedPacketLength(captured, 0);
            u32(kEnhancedPacketType);
            u32(block);
            u32(0);
            u32(static_cast<uint32_t>(p.ts_ns >> 32));
            u32(static_cast<uint32_t>(p.ts_ns));
            u32(captured);
            u32(captured);
            out.insert(out.end(), p.bytes.begin(), p.bytes.end());
            out.resize(out.size() + (padToFour(captured) - captured), 0);
            u32(block);
        }
    }
    if (std::fwrite(out.data(), 1, out.size(), fp.get()) != out.size()) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace osa_gen
