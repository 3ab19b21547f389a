// Virtual networks for live captures: the engine's network namespace with
// veth cards nic1..nicN whose peers ana1..anaN sit in a second namespace,
// where the analyzer simulator sends. Both namespaces (and with them every
// veth pair) are removed when the object goes, also after a failed check.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "replay_harness.h"

namespace livetest {

using replaytest::ControlMessage;
using replaytest::Packet;

class LiveNet {
public:
    // Builds the namespaces and `cards` pairs; ok() false with the reason in
    // why() when namespaces cannot be made here (the caller skips) or a step failed.
    explicit LiveNet(int cards);
    ~LiveNet();
    LiveNet(const LiveNet &) = delete;
    LiveNet &operator=(const LiveNet &) = delete;

    bool ok() const { return ok_; }
    bool namespacesAvailable() const { return namespacesAvailable_; }
    const std::string &why() const { return why_; }
    const std::string &engineSide() const { return engine_; }
    const std::string &analyzerSide() const { return analyzer_; }

    // argv that runs `command` inside one of the two namespaces.
    std::vector<std::string> inEngineSide(const std::vector<std::string> &command) const;
    std::vector<std::string> inAnalyzerSide(const std::vector<std::string> &command) const;

    // Interface index of a card in the engine's namespace, 0 if unknown.
    int cardIndex(const std::string &card) const;
    // Interface indexes of the packet sockets receiving frames in the engine's
    // namespace (0 for a socket on every card, such as libpcap's "any").
    std::vector<int> packetSocketCards() const;

private:
    std::string engine_;
    std::string analyzer_;
    bool engineMade_ = false;
    bool analyzerMade_ = false;
    bool ok_ = false;
    bool namespacesAvailable_ = false;
    std::string why_;
};

// The analyzer simulator sending a capture out of card anaK of the
// analyzer's namespace, run to its end or started in the background.
std::vector<std::string> simulatorArgs(const LiveNet &net, int card, int node, const std::string &capture,
                                       const std::vector<std::string> &extra, const std::string &sentFile);

// sentra_extcap running the hardware interface inside the engine's
// namespace, as Wireshark runs it: pcapng FIFO and both control pipes.
class LiveCapture {
public:
    LiveCapture(const LiveNet &net, const replaytest::TempDir &dir, const std::vector<std::string> &extraArgs,
                const std::string &interfaceName = "sentra_ta5521_hwif");
    ~LiveCapture();

    // Waits until the control-out stream contains `text`; false on timeout
    // or when the engine ended first.
    bool waitForControlText(const std::string &text, int timeoutMs);
    // Waits until at least `count` packets have reached the pcapng FIFO.
    bool waitForPackets(size_t count, int timeoutMs);
    std::vector<ControlMessage> messages();
    std::vector<Packet> packets();
    // Status-bar texts so far, in order.
    std::vector<std::string> statusBar();
    std::string logText();
    void pressForceTrigger();
    // SIGINT, then waits for the end; answers the exit status.
    int interrupt(int timeoutMs = 10000);
    int wait(int timeoutMs);
    std::string pcapngBytes();
    bool running() { return process_->running(); }

private:
    std::string controlIn_;
    std::unique_ptr<replaytest::FifoReader> controlOut_;
    std::unique_ptr<replaytest::FifoReader> pcapng_;
    std::unique_ptr<replaytest::Process> process_;
    bool finished_ = false;
    void finish();
};

// Polls `done` every 10 ms up to `timeoutMs`.
bool waitUntil(const std::function<bool()> &done, int timeoutMs);

}  // namespace livetest
