#include "capture_frames.h"

#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>

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

}  // namespace

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
            frame.bytes.assign(data, data + header->caplen);
            result.frames.push_back(std::move(frame));
        }
        if (rc == -1) result.error = pcap_geterr(pcap);
        pcap_close(pcap);
    }
    if (!temporary.empty()) unlink(temporary.c_str());
    return result;
}

flowlens_packet_info packet_of(const capture_file &capture, size_t i) {
    const captured_frame &frame = capture.frames[i];
    flowlens_packet_info packet{};
    packet.port = 0;
    packet.frame_number = i + 1;
    packet.time = frame.time_ns;
    packet.packet_flags = 0;
    packet.data = frame.bytes.data();
    packet.length = uint16_t(frame.wire_length > 0xFFFF ? 0xFFFF : frame.wire_length);
    packet.captured_length = uint16_t(frame.bytes.size() > 0xFFFF ? 0xFFFF : frame.bytes.size());
    return packet;
}

std::string shared_captures_dir() {
    const char *dir = FLOWLENS_SHARED_CAPTURES;
    struct stat st;
    if (stat(dir, &st) != 0 || !S_ISDIR(st.st_mode)) return "";
    return dir;
}
