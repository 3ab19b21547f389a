// Sends dump frames onto a network interface through libpcap, paced like the
// analyzer sent them (or as fast as possible). Meant for the interfaces of a
// test network, e.g. one end of a veth pair inside a network namespace: the
// frames are broadcasts on that link and go nowhere else.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

typedef struct pcap pcap_t;

namespace ta5521sim {

class LiveSender {
public:
    LiveSender() = default;
    ~LiveSender();
    LiveSender(const LiveSender &) = delete;
    LiveSender &operator=(const LiveSender &) = delete;

    // Opens the interface for sending; false with the reason in error().
    // speed: 1 = the analyzer's own pace, 2 = twice as fast, 0 = no pauses.
    bool open(const std::string &interfaceName, double speed);
    // Waits for the frame's moment (sentNs against the first frame's) and injects it.
    bool send(const uint8_t *frame, uint32_t length, int64_t sentNs);
    void close();
    const std::string &error() const { return error_; }
    uint64_t framesSent() const { return sent_; }

private:
    pcap_t *pcap_ = nullptr;
    double speed_ = 1.0;
    bool started_ = false;
    int64_t firstNs_ = 0;
    std::chrono::steady_clock::time_point startedAt_;
    uint64_t sent_ = 0;
    std::string error_;
};

}  // namespace ta5521sim
