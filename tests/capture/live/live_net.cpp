#include "live_net.h"

#include <fcntl.h>
#include <net/if.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <thread>

namespace livetest {

using replaytest::runProgram;

namespace {

constexpr char kIp[] = "/usr/sbin/ip";

int ip(const std::vector<std::string> &args, std::string *output) {
    std::vector<std::string> argv = {kIp};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv, output, 20000);
}

}  // namespace

bool waitUntil(const std::function<bool()> &done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

LiveNet::LiveNet(int cards) {
    if (geteuid() != 0) {
        why_ = "network namespaces need root";
        return;
    }
    if (access(kIp, X_OK) != 0) {
        why_ = "ip (iproute2) is missing";
        return;
    }
    static int serial = 0;
    const std::string stem = "sentra_live" + std::to_string(getpid()) + "_" + std::to_string(serial++);
    engine_ = stem + "e";
    analyzer_ = stem + "a";
    std::string output;
    if (ip({"netns", "add", engine_}, &output) != 0) {
        why_ = "network namespaces cannot be created here: " + output;
        return;
    }
    engineMade_ = true;
    namespacesAvailable_ = true;
    if (ip({"netns", "add", analyzer_}, &output) != 0) {
        why_ = "second namespace: " + output;
        return;
    }
    analyzerMade_ = true;
    for (int k = 1; k <= cards; ++k) {
        const std::string nic = "nic" + std::to_string(k), ana = "ana" + std::to_string(k);
        if (ip({"-n", engine_, "link", "add", nic, "type", "veth", "peer", "name", ana, "netns", analyzer_}, &output) !=
                0 ||
            ip({"-n", engine_, "link", "set", nic, "up"}, &output) != 0 ||
            ip({"-n", analyzer_, "link", "set", ana, "up"}, &output) != 0) {
            why_ = "veth pair " + nic + "/" + ana + ": " + output;
            return;
        }
    }
    ok_ = true;
}

LiveNet::~LiveNet() {
    std::string output;
    // Removing a namespace removes its veth cards and so both ends of each pair.
    if (engineMade_) ip({"netns", "del", engine_}, &output);
    if (analyzerMade_) ip({"netns", "del", analyzer_}, &output);
}

std::vector<std::string> LiveNet::inEngineSide(const std::vector<std::string> &command) const {
    std::vector<std::string> argv = {kIp, "netns", "exec", engine_};
    argv.insert(argv.end(), command.begin(), command.end());
    return argv;
}

std::vector<std::string> LiveNet::inAnalyzerSide(const std::vector<std::string> &command) const {
    std::vector<std::string> argv = {kIp, "netns", "exec", analyzer_};
    argv.insert(argv.end(), command.begin(), command.end());
    return argv;
}

int LiveNet::cardIndex(const std::string &card) const {
    std::string output;
    if (runProgram(inEngineSide({"/bin/cat", "/sys/class/net/" + card + "/ifindex"}), &output, 10000) != 0) return 0;
    return std::atoi(output.c_str());
}

std::vector<int> LiveNet::packetSocketCards() const {
    // /proc/net/packet: sk RefCnt Type Proto Iface R Rmem User Inode
    std::string output;
    std::vector<int> cards;
    if (runProgram(inEngineSide({"/bin/cat", "/proc/net/packet"}), &output, 10000) != 0) return cards;
    std::istringstream lines(output);
    std::string line;
    std::getline(lines, line);  // column titles
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string sk, refs, type, proto;
        int iface = -1;
        // libpcap binds a new socket with protocol 0 first (receiving nothing)
        // and rebinds it to all protocols once its ring is ready: only the
        // rebound ones take frames.
        if (fields >> sk >> refs >> type >> proto >> iface && proto != "0000") cards.push_back(iface);
    }
    return cards;
}

std::vector<std::string> simulatorArgs(const LiveNet &net, int card, int node, const std::string &capture,
                                       const std::vector<std::string> &extra, const std::string &sentFile) {
    std::vector<std::string> command = {replaytest::simulatorPath(), "--quiet", "--send=ana" + std::to_string(card),
                                        "--node=" + std::to_string(node)};
    command.insert(command.end(), extra.begin(), extra.end());
    command.push_back(capture);
    command.push_back(sentFile);
    return net.inAnalyzerSide(command);
}

LiveCapture::LiveCapture(const LiveNet &net, const replaytest::TempDir &dir, const std::vector<std::string> &extraArgs,
                         const std::string &interfaceName) {
    const std::string fifo = dir.file("live.fifo"), out = dir.file("live_ctl_out.fifo");
    controlIn_ = dir.file("live_ctl_in.fifo");
    for (const std::string &path : {fifo, controlIn_, out}) {
        unlink(path.c_str());
        mkfifo(path.c_str(), 0666);
    }
    controlOut_.reset(new replaytest::FifoReader(out));
    pcapng_.reset(new replaytest::FifoReader(fifo));
    std::vector<std::string> command = {replaytest::extcapPath(),
                                        "--capture",
                                        "--extcap-interface",
                                        interfaceName,
                                        "--fifo",
                                        fifo,
                                        "--extcap-control-in",
                                        controlIn_,
                                        "--extcap-control-out",
                                        out};
    command.insert(command.end(), extraArgs.begin(), extraArgs.end());
    process_.reset(new replaytest::Process(net.inEngineSide(command), dir.file("live_console.txt")));
}

LiveCapture::~LiveCapture() {
    if (!finished_) {
        if (process_->running()) process_->signal(SIGKILL);
        finish();
    }
}

void LiveCapture::finish() {
    if (finished_) return;
    finished_ = true;
    pcapng_->finish(nullptr);
    controlOut_->finish(nullptr);
}

bool LiveCapture::waitForControlText(const std::string &text, int timeoutMs) {
    return waitUntil([&] { return controlOut_->bytes().find(text) != std::string::npos || !process_->running(); },
                     timeoutMs) &&
           controlOut_->bytes().find(text) != std::string::npos;
}

bool LiveCapture::waitForPackets(size_t count, int timeoutMs) {
    return waitUntil([&] { return packets().size() >= count || !process_->running(); }, timeoutMs) &&
           packets().size() >= count;
}

std::vector<ControlMessage> LiveCapture::messages() { return replaytest::parseControlStream(controlOut_->bytes()); }

std::vector<Packet> LiveCapture::packets() {
    std::vector<Packet> packets;
    replaytest::parsePcapng(pcapng_->bytes(), &packets);
    return packets;
}

std::vector<std::string> LiveCapture::statusBar() {
    std::vector<std::string> texts;
    for (const ControlMessage &m : messages())
        if (m.control == 0 && m.command == 6) texts.push_back(m.payload);
    return texts;
}

std::string LiveCapture::logText() {
    return replaytest::controlTexts(messages(), 1, 1) + replaytest::controlTexts(messages(), 1, 2);
}

void LiveCapture::pressForceTrigger() {
    const int fd = open(controlIn_.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0) return;
    const std::string message = replaytest::forceTriggerMessage();
    (void)!write(fd, message.data(), message.size());
    close(fd);
}

int LiveCapture::interrupt(int timeoutMs) {
    process_->signal(SIGINT);
    return wait(timeoutMs);
}

int LiveCapture::wait(int timeoutMs) {
    const int status = process_->wait(timeoutMs);
    finish();
    return status;
}

std::string LiveCapture::pcapngBytes() { return pcapng_->bytes(); }

}  // namespace livetest
