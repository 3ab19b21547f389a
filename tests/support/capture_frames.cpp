#include "capture_frames.h"

#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "pcapng_format.h"

namespace {

bool ends_with(const std::string &s, const std::string &suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Unpacks a gzip file into a fresh temporary file; returns its name or "".
std::string gunzip_to_temp(const std::string &path) {
    gzFile in = gzopen(path.c_str(), "rb");
    if (in == nullptr) return "";
    char name[] = "/tmp/flowlens_capture_XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0) {
        gzclose(in);
        return "";
    }
    char buffer[65536];
    int n;
    bool ok = true;
    while ((n = gzread(in, buffer, sizeof buffer)) > 0)
        if (write(fd, buffer, size_t(n)) != n) ok = false;
    if (n < 0) ok = false;
    gzclose(in);
    close(fd);
    if (!ok) {
        unlink(name);
        return "";
    }
    return name;
}

uint32_t get32(const std::vector<uint8_t> &b, size_t at, bool swap) {
    uint32_t v =
        uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
    return swap ? __builtin_bswap32(v) : v;
}

uint16_t get16(const std::vector<uint8_t> &b, size_t at, bool swap) {
    uint16_t v = uint16_t(b[at] | (b[at + 1] << 8));
    return swap ? __builtin_bswap16(v) : v;
}

// Block types and the option of the pcapng format read here.
constexpr uint32_t BLOCK_SECTION_HEADER = pcapng::kSectionHeaderType;
constexpr uint32_t BLOCK_PACKET_OBSOLETE = pcapng::kObsoletePacketType;
constexpr uint32_t BLOCK_SIMPLE_PACKET = pcapng::kSimplePacketType;
constexpr uint32_t BLOCK_ENHANCED_PACKET = pcapng::kEnhancedPacketType;
constexpr uint32_t BYTE_ORDER_MAGIC = pcapng::kByteOrderMagic;
constexpr uint16_t OPTION_EPB_FLAGS = pcapng::kOptionEpbFlags;
constexpr size_t EPB_FIXED = 20;  // interface, time high/low, captured and original length

}  // namespace

std::vector<uint32_t> read_pcapng_packet_flags(const std::string &path) {
    std::vector<uint32_t> flags;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bool swap = false;
    size_t at = 0;
    while (at + 12 <= b.size()) {
        uint32_t type = get32(b, at, false);
        if (type == BLOCK_SECTION_HEADER)
            swap = get32(b, at + 8, false) != BYTE_ORDER_MAGIC;
        else if (swap)
            type = __builtin_bswap32(type);
        uint32_t length = get32(b, at + 4, swap);
        if (length < 12 || at + length > b.size()) break;
        if (type == BLOCK_ENHANCED_PACKET && length >= 12 + EPB_FIXED) {
            uint32_t captured = get32(b, at + 8 + 12, swap);
            size_t option = at + 8 + EPB_FIXED + ((size_t(captured) + 3) & ~size_t(3));
            size_t end = at + length - 4;
            uint32_t value = 0;
            while (option + 4 <= end) {
                uint16_t code = get16(b, option, swap), size = get16(b, option + 2, swap);
                if (code == 0) break;
                if (code == OPTION_EPB_FLAGS && size == 4 && option + 8 <= end) value = get32(b, option + 4, swap);
                option += 4 + ((size_t(size) + 3) & ~size_t(3));
            }
            flags.push_back(value);
        } else if (type == BLOCK_SIMPLE_PACKET || type == BLOCK_PACKET_OBSOLETE) {
            flags.push_back(0);
        }
        at += length;
    }
    return flags;
}

capture_file read_capture(const std::string &path) {
    capture_file result;
    std::string file = path;
    std::string temporary;
    if (ends_with(path, ".gz")) {
        temporary = gunzip_to_temp(path);
        if (temporary.empty()) {
            result.error = "cannot unpack " + path;
            return result;
        }
        file = temporary;
    }
    char errbuf[PCAP_ERRBUF_SIZE] = {0};
    pcap_t *pcap = pcap_open_offline_with_tstamp_precision(file.c_str(), PCAP_TSTAMP_PRECISION_NANO, errbuf);
    if (pcap == nullptr) {
        result.error = errbuf;
    } else {
        struct pcap_pkthdr *header;
        const u_char *data;
        int rc;
        while ((rc = pcap_next_ex(pcap, &header, &data)) == 1) {
            captured_frame frame;
            frame.time_ns = uint64_t(header->ts.tv_sec) * 1000000000ull + uint64_t(header->ts.tv_usec);
            frame.wire_length = header->len;
            frame.packet_flags = 0;
            frame.bytes.assign(data, data + header->caplen);
            result.frames.push_back(std::move(frame));
        }
        if (rc == -1) result.error = pcap_geterr(pcap);
        pcap_close(pcap);
    }
    std::vector<uint32_t> flags = read_pcapng_packet_flags(file);
    if (flags.size() == result.frames.size())
        for (size_t i = 0; i < flags.size(); ++i) result.frames[i].packet_flags = flags[i];
    if (!temporary.empty()) unlink(temporary.c_str());
    return result;
}

flowlens_packet_info packet_of(const capture_file &capture, size_t i) {
    const captured_frame &frame = capture.frames[i];
    flowlens_packet_info packet{};
    packet.port = (frame.packet_flags & FLOWLENS_FLAG_DIRECTION_MASK) == 2 ? 1 : 0;
    packet.frame_number = i + 1;
    packet.time = frame.time_ns;
    packet.packet_flags = frame.packet_flags;
    packet.data = frame.bytes.data();
    packet.length = uint16_t(frame.wire_length > 0xFFFF ? 0xFFFF : frame.wire_length);
    packet.captured_length = uint16_t(frame.bytes.size() > 0xFFFF ? 0xFFFF : frame.bytes.size());
    return packet;
}

std::string shared_captures_dir() {
    const char *dir = SENTRA_SHARED_CAPTURES;
    struct stat st;
    if (stat(dir, &st) != 0 || !S_ISDIR(st.st_mode)) return "";
    return dir;
}
