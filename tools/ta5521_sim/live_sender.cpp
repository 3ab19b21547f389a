#include "live_sender.h"

#include <pcap/pcap.h>

#include <thread>

namespace ta5521sim {

LiveSender::~LiveSender() { close(); }

bool LiveSender::open(const std::string &interfaceName, double speed) {
    close();
    char error[PCAP_ERRBUF_SIZE] = {0};
    pcap_ = pcap_open_live(interfaceName.c_str(), 65536, 0, 1, error);
    if (!pcap_) {
        error_ = error;
        return false;
    }
    speed_ = speed < 0 ? 0 : speed;
    started_ = false;
    sent_ = 0;
    return true;
}

bool LiveSender::send(const uint8_t *frame, uint32_t length, int64_t sentNs) {
    if (!pcap_) return false;
    if (!started_) {
        started_ = true;
        firstNs_ = sentNs;
        startedAt_ = std::chrono::steady_clock::now();
    } else if (speed_ > 0) {
        const auto due = startedAt_ + std::chrono::nanoseconds(static_cast<int64_t>((sentNs - firstNs_) / speed_));
        std::this_thread::sleep_until(due);
    }
    if (pcap_inject(pcap_, frame, length) != static_cast<int>(length)) {
        error_ = pcap_geterr(pcap_);
        return false;
    }
    ++sent_;
    return true;
}

void LiveSender::close() {
    if (pcap_) pcap_close(pcap_);
    pcap_ = nullptr;
}

}  // namespace ta5521sim
