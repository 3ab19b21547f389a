/* osa_gen: writes a capture of generated openSAFETY traffic.
 *
 *   osa_gen -o FILE [--pcapng] [--powerlink] [--udid XX:XX:XX:XX:XX:XX]
 *           [--sdn N] [--cycles N] [--no-announce] [--pre-op] [--list]
 *           [--no-faults] [--drop SADR:CYCLE:COUNT] [--invalid SADR:FROM:TO]
 *           [--sync CONSUMER:PRODUCER:CYCLE] [--wrap SADR]
 */
#include "osa_gen.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: osa_gen -o FILE [--pcapng] [--powerlink] [--udid XX:XX:XX:XX:XX:XX]\n"
                 "               [--sdn N] [--cycles N] [--no-announce] [--pre-op] [--list]\n"
                 "Writes openSAFETY traffic of an SCM and six safety nodes as pcap (or pcapng).\n"
                 "  --powerlink    carry frames in POWERLINK PRes/ASnd instead of openSAFETY/UDP\n"
                 "  --no-announce  leave out the SNMT frames that tell the SCM UDID\n"
                 "  --pre-op       end with every node set back to pre-operational\n"
                 "  --list         print one line per generated openSAFETY frame\n"
                 "  --no-faults    no lost cycles, validity changes or time requests of the default network\n"
                 "  --drop SADR:CYCLE:COUNT      SADR sends no SPDO for COUNT cycles from CYCLE\n"
                 "  --invalid SADR:FROM:TO       connection-valid bit off in cycles FROM..TO-1\n"
                 "  --sync CONSUMER:PRODUCER:CYCLE  time request at CYCLE, response in the next\n"
                 "                 (CONSUMER and PRODUCER both other than 1: an additional address)\n"
                 "  --wrap SADR    start the 16-bit counter of SADR just below its wrap\n");
}

bool parse_udid(const char *s, uint8_t out[6]) {
    unsigned v[6];
    if (std::sscanf(s, "%2x:%2x:%2x:%2x:%2x:%2x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6) return false;
    for (int i = 0; i < 6; ++i) out[i] = static_cast<uint8_t>(v[i]);
    return true;
}

bool parse_triple(const char *s, unsigned long v[3]) {
    char tail = 0;
    return std::sscanf(s, "%lu:%lu:%lu%c", &v[0], &v[1], &v[2], &tail) == 3 && v[0] >= 1 && v[0] <= 1023 &&
           v[1] <= 100000 && v[2] <= 100000;
}

bool parse_uint(const char *s, unsigned long max, unsigned long *out) {
    char *end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(s, &end, 0);
    if (errno || !end || *end || end == s || v > max) return false;
    *out = v;
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    osa_gen::config cfg = osa_gen::default_config();
    std::string out;
    bool pcapng = false, list = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        unsigned long v = 0;
        if ((a == "-o" || a == "--out") && has_value)
            out = argv[++i];
        else if (a == "--pcapng")
            pcapng = true;
        else if (a == "--powerlink")
            cfg.via = osa_gen::transport::powerlink;
        else if (a == "--udid" && has_value) {
            if (!parse_udid(argv[++i], cfg.udid)) {
                std::fprintf(stderr, "osa_gen: bad UDID '%s'\n", argv[i]);
                return 2;
            }
        } else if (a == "--sdn" && has_value) {
            if (!parse_uint(argv[++i], 1023, &v) || v == 0) {
                std::fprintf(stderr, "osa_gen: SDN must be 1..1023\n");
                return 2;
            }
            cfg.sdn = static_cast<uint16_t>(v);
        } else if (a == "--cycles" && has_value) {
            if (!parse_uint(argv[++i], 100000, &v)) {
                std::fprintf(stderr, "osa_gen: cycles must be 0..100000\n");
                return 2;
            }
            cfg.cycles = static_cast<unsigned>(v);
        } else if (a == "--no-announce")
            cfg.announce_udid = false;
        else if (a == "--pre-op")
            cfg.pre_op_at_end = true;
        else if (a == "--list")
            list = true;
        else if (a == "--no-faults") {
            cfg.drops.clear();
            cfg.invalid.clear();
            cfg.syncs.clear();
        } else if ((a == "--drop" || a == "--invalid" || a == "--sync") && has_value) {
            unsigned long t[3];
            if (!parse_triple(argv[++i], t)) {
                std::fprintf(stderr, "osa_gen: %s wants three numbers A:B:C, not '%s'\n", a.c_str(), argv[i]);
                return 2;
            }
            const auto sadr = static_cast<uint16_t>(t[0]);
            if (a == "--drop")
                cfg.drops.push_back({sadr, static_cast<unsigned>(t[1]), static_cast<unsigned>(t[2])});
            else if (a == "--invalid")
                cfg.invalid.push_back({sadr, static_cast<unsigned>(t[1]), static_cast<unsigned>(t[2])});
            else if (t[1] < 1 || t[1] > 1023) {
                std::fprintf(stderr, "osa_gen: --sync producer must be 1..1023\n");
                return 2;
            } else
                cfg.syncs.push_back({sadr, static_cast<uint16_t>(t[1]), static_cast<unsigned>(t[2])});
        } else if (a == "--wrap" && has_value) {
            bool found = false;
            if (parse_uint(argv[++i], 1023, &v))
                for (auto &p : cfg.producers)
                    if (p.sadr == v && !p.counter40) {
                        p.counter_start = 0xFFFF - 5 * p.counter_step;
                        found = true;
                    }
            if (!found) {
                std::fprintf(stderr, "osa_gen: --wrap needs a producer with a 16-bit counter\n");
                return 2;
            }
        } else if (a == "-h" || a == "--help") {
            usage();
            return 0;
        } else {
            usage();
            return 2;
        }
    }
    if (out.empty()) {
        usage();
        return 2;
    }
    const osa_gen::capture cap = osa_gen::generate(cfg);
    std::string err;
    if (!osa_gen::write_pcap(cap, out, pcapng, &err)) {
        std::fprintf(stderr, "osa_gen: %s\n", err.c_str());
        return 1;
    }
    if (list)
        for (const auto &f : cap.frames)
            std::printf("%u id=0x%02X adr=%u tadr=%u len=%zu ct=%llu valid=%d\n", f.packet, f.msg_id, f.adr, f.tadr,
                        f.frame_len, static_cast<unsigned long long>(f.counter), f.conn_valid ? 1 : 0);
    return 0;
}
