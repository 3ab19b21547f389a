#include "replay_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <pcap/pcap.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "pcapng_format.h"

extern char **environ;

namespace replaytest {

namespace {

uint32_t le32(const std::string &b, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24);
}
uint16_t le16(const std::string &b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | (static_cast<uint8_t>(b[at + 1]) << 8));
}

void removeTree(const std::string &path) {
    std::string command = "rm -rf '" + path + "'";
    if (std::system(command.c_str()) != 0) {
    }
}

}  // namespace

TempDir::TempDir() {
    char pattern[] = "/tmp/sentra_replay_XXXXXX";
    const char *made = mkdtemp(pattern);
    path_ = made ? made : "/tmp";
    chmod(path_.c_str(), 0755);
}
TempDir::~TempDir() {
    if (path_ != "/tmp") removeTree(path_);
}

std::string sharedCaptures() {
    const std::string dir = SENTRA_SHARED_CAPTURES;
    struct stat info {};
    return stat((dir + "/README.md").c_str(), &info) == 0 ? dir : std::string();
}

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string extcapPath() { return SENTRA_EXTCAP_PATH; }
std::string simulatorPath() { return TA5521_SIM_PATH; }

Process::Process(const std::vector<std::string> &argv, const std::string &stdoutPath, bool stdinPipe,
                 const std::vector<std::string> &extraEnv) {
    int pipeFds[2] = {-1, -1};
    // Close-on-exec: a child holding the test's pipe or FIFO ends would keep them alive.
    if (stdinPipe && pipe2(pipeFds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        if (stdinPipe) {
            dup2(pipeFds[0], STDIN_FILENO);
            close(pipeFds[0]);
            close(pipeFds[1]);
        } else {
            int null = open("/dev/null", O_RDONLY);
            dup2(null, STDIN_FILENO);
        }
        int out = open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        for (const std::string &entry : extraEnv) putenv(const_cast<char *>(entry.c_str()));
        std::vector<char *> args;
        for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    if (stdinPipe) {
        close(pipeFds[0]);
        stdinFd_ = pipeFds[1];
    }
}

Process::~Process() {
    if (stdinFd_ >= 0) close(stdinFd_);
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool Process::running() {
    if (pid_ <= 0 || reaped_) return false;
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return true;
}

int Process::wait(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (running()) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            reaped_ = true;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return status_;
}

void Process::signal(int number) {
    if (pid_ > 0 && !reaped_) kill(pid_, number);
}

void Process::writeStdin(const std::string &bytes) {
    if (stdinFd_ >= 0 && write(stdinFd_, bytes.data(), bytes.size()) < 0) {
    }
}

int runProgram(const std::vector<std::string> &argv, std::string *output, int timeoutMs,
               const std::vector<std::string> &extraEnv) {
    char name[] = "/tmp/sentra_replay_out_XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    int status;
    {
        Process process(argv, name, false, extraEnv);
        status = process.wait(timeoutMs);
    }
    if (output) *output = readFile(name);
    unlink(name);
    return status;
}

struct FifoReader::State {
    std::string path;
    size_t stopAfter;
    std::mutex mutex;
    std::string bytes;
    std::atomic<bool> held{false};
    std::atomic<bool> processEnded{false};
    std::thread thread;
};

FifoReader::FifoReader(const std::string &path, size_t stopAfterBytes) : state_(new State) {
    state_->path = path;
    state_->stopAfter = stopAfterBytes;
    State *s = state_;
    // Opened without blocking so a writer that never comes cannot hang the test.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    s->thread = std::thread([s, fd] {
        if (fd < 0) return;
        char chunk[65536];
        bool sawWriter = false;
        for (;;) {
            if (s->held.load()) {
                if (s->processEnded.load()) {
                    // nothing: finish() releases before it waits
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            size_t want = sizeof chunk;
            if (s->stopAfter) {
                std::lock_guard<std::mutex> lock(s->mutex);
                if (s->bytes.size() >= s->stopAfter) break;
                want = std::min(want, s->stopAfter - s->bytes.size());
            }
            ssize_t got = read(fd, chunk, want);
            if (got > 0) {
                sawWriter = true;
                std::lock_guard<std::mutex> lock(s->mutex);
                s->bytes.append(chunk, static_cast<size_t>(got));
                continue;
            }
            // 0: no writer at the moment (not yet, or gone); EAGAIN: nothing yet.
            if (got == 0 && s->processEnded.load()) break;
            (void)sawWriter;
            struct pollfd p {
                fd, POLLIN, 0
            };
            poll(&p, 1, 2);
            if (got == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        close(fd);
    });
}

FifoReader::~FifoReader() {
    state_->processEnded.store(true);
    state_->held.store(false);
    if (state_->thread.joinable()) state_->thread.join();
    delete state_;
}

void FifoReader::finish(Process *process) {
    release();
    if (process) process->wait(120000);
    state_->processEnded.store(true);
    if (state_->thread.joinable()) state_->thread.join();
}

void FifoReader::hold() { state_->held.store(true); }
void FifoReader::release() { state_->held.store(false); }

std::string FifoReader::bytes() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->bytes;
}
size_t FifoReader::size() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->bytes.size();
}

std::vector<ControlMessage> parseControlStream(const std::string &bytes, bool *clean) {
    std::vector<ControlMessage> messages;
    size_t at = 0;
    while (at + 6 <= bytes.size() && bytes[at] == 'T') {
        const uint32_t length = (static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 16) |
                                (static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 8) |
                                static_cast<uint8_t>(bytes[at + 3]);
        if (length < 2 || at + 4 + length > bytes.size()) break;
        ControlMessage message;
        message.control = static_cast<uint8_t>(bytes[at + 4]);
        message.command = static_cast<uint8_t>(bytes[at + 5]);
        message.payload = bytes.substr(at + 6, length - 2);
        messages.push_back(message);
        at += 4 + length;
    }
    if (clean) *clean = at == bytes.size();
    return messages;
}

std::string controlTexts(const std::vector<ControlMessage> &messages, int control, int command) {
    std::string all;
    for (const ControlMessage &m : messages)
        if (m.control == control && m.command == command) all += m.payload + "\n";
    return all;
}

std::string forceTriggerMessage() { return std::string("T\0\0\2\0\1", 6); }

bool parsePcapng(const std::string &bytes, std::vector<Packet> *packets, std::string *interfaceName) {
    size_t at = 0;
    bool sawSection = false, sawInterface = false;
    while (at < bytes.size()) {
        if (at + 12 > bytes.size()) return false;
        const uint32_t type = le32(bytes, at);
        const uint32_t length = le32(bytes, at + 4);
        if (length < 12 || length % 4 || at + length > bytes.size() || le32(bytes, at + length - 4) != length)
            return false;
        if (type == pcapng::kSectionHeaderType) {
            if (le32(bytes, at + pcapng::kByteOrderMagicOffset) != pcapng::kByteOrderMagic) return false;
            sawSection = true;
        } else if (type == pcapng::kInterfaceDescriptionType) {
            sawInterface = true;
            if (interfaceName && length > 20) {
                // Options from offset 16: find if_name (code 2).
                size_t o = at + 16;
                while (o + 4 <= at + length - 4) {
                    const uint16_t code = le16(bytes, o), optLength = le16(bytes, o + 2);
                    if (code == pcapng::kOptionEnd) break;
                    if (code == pcapng::kOptionIfName) *interfaceName = bytes.substr(o + 4, optLength);
                    o += 4 + ((optLength + 3u) & ~3u);
                }
            }
        } else if (type == pcapng::kEnhancedPacketType) {
            if (!sawSection || !sawInterface || length < 32) return false;
            Packet p{};
            p.timestamp =
                static_cast<int64_t>((static_cast<uint64_t>(le32(bytes, at + 12)) << 32) | le32(bytes, at + 16));
            const uint32_t captured = le32(bytes, at + 20);
            p.frameLength = le32(bytes, at + 24);
            if (28 + captured + 4 > length) return false;
            p.data = bytes.substr(at + 28, captured);
            size_t o = at + 28 + ((captured + 3u) & ~3u);
            while (o + 4 <= at + length - 4) {
                const uint16_t code = le16(bytes, o), optLength = le16(bytes, o + 2);
                if (code == pcapng::kOptionEnd) break;
                if (code == pcapng::kOptionEpbFlags && optLength == 4) {
                    p.flags = le32(bytes, o + 4);
                    p.hasFlags = true;
                }
                if (code == pcapng::kOptionEpbDropCount && optLength == 8)
                    p.dropCount =
                        static_cast<int64_t>(le32(bytes, o + 4) | (static_cast<uint64_t>(le32(bytes, o + 8)) << 32));
                o += 4 + ((optLength + 3u) & ~3u);
            }
            packets->push_back(p);
        }
        at += length;
    }
    return sawSection && sawInterface;
}

std::vector<InputFrame> readCapture(const std::string &path) {
    std::vector<InputFrame> frames;
    char error[PCAP_ERRBUF_SIZE];
    pcap_t *pcap = pcap_open_offline_with_tstamp_precision(path.c_str(), PCAP_TSTAMP_PRECISION_NANO, error);
    if (!pcap) return frames;
    struct pcap_pkthdr *header;
    const u_char *data;
    while (pcap_next_ex(pcap, &header, &data) == 1)
        frames.push_back(InputFrame{static_cast<int64_t>(header->ts.tv_sec) * 1000000000 + header->ts.tv_usec,
                                    std::string(reinterpret_cast<const char *>(data), header->caplen)});
    pcap_close(pcap);
    std::stable_sort(frames.begin(), frames.end(),
                     [](const InputFrame &a, const InputFrame &b) { return a.timestamp < b.timestamp; });
    return frames;
}

std::string ReplayResult::logText() const {
    std::string all = controlTexts(messages, 1, 1) + controlTexts(messages, 1, 2);
    return all;
}

std::string ReplayResult::statusText() const {
    std::string all;
    for (int command = 6; command <= 9; ++command) all += controlTexts(messages, 0, command);
    return all;
}

ReplayResult replayWithFifos(const TempDir &dir, const std::string &rawFile, const ReplayOptions &options) {
    ReplayResult result;
    const std::string fifo = dir.file("out.fifo"), in = dir.file("ctl_in.fifo"), out = dir.file("ctl_out.fifo");
    for (const std::string &path : {fifo, in, out}) {
        unlink(path.c_str());
        mkfifo(path.c_str(), 0666);
    }
    FifoReader controlOut(out);
    FifoReader pcapng(fifo, options.closeOutputAfter);
    if (options.holdOutput) pcapng.hold();
    std::vector<std::string> argv = {extcapPath(),
                                     "--capture",
                                     "--extcap-interface",
                                     "sentra_ta5521_file",
                                     "--fifo",
                                     fifo,
                                     "--extcap-control-in",
                                     in,
                                     "--extcap-control-out",
                                     out,
                                     "--ta5521capturefile",
                                     rawFile};
    argv.insert(argv.end(), options.extraArgs.begin(), options.extraArgs.end());
    Process process(argv, dir.file("console.txt"));
    if (options.whileRunning) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeoutMs);
        while (controlOut.bytes().find("Capture started") == std::string::npos && process.running() &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (process.running()) options.whileRunning(process, in);
    }
    pcapng.release();
    result.status = process.wait(options.timeoutMs);
    pcapng.finish(nullptr);
    controlOut.finish(nullptr);
    result.pcapng = pcapng.bytes();
    result.controlOut = controlOut.bytes();
    result.console = readFile(dir.file("console.txt"));
    result.messages = parseControlStream(result.controlOut);
    result.pcapngValid = parsePcapng(result.pcapng, &result.packets);
    return result;
}

bool simulate(const std::string &input, const std::string &output, const std::vector<std::string> &args,
              std::string *messages) {
    std::vector<std::string> argv = {simulatorPath(), "--quiet"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(input);
    argv.push_back(output);
    return runProgram(argv, messages) == 0;
}

}  // namespace replaytest

namespace replaytest {

std::vector<InputFrame> repeatFrames(const std::vector<InputFrame> &frames, int passes) {
    std::vector<InputFrame> all;
    if (frames.empty()) return all;
    const int64_t period = frames.back().timestamp - frames.front().timestamp + 1000000;
    all.reserve(frames.size() * static_cast<size_t>(passes));
    for (int pass = 0; pass < passes; ++pass)
        for (const InputFrame &f : frames) all.push_back(InputFrame{f.timestamp + pass * period, f.data});
    return all;
}

int64_t analyzerOffset(const std::vector<InputFrame> &frames, size_t i) {
    return (frames[i].timestamp - frames[0].timestamp) / 20 * 20;
}

bool runMatchesAt(const std::vector<InputFrame> &frames, const std::vector<Packet> &packets, size_t start,
                  std::string *why) {
    if (start + packets.size() > frames.size()) {
        if (why) *why = "run beyond the frames";
        return false;
    }
    for (size_t j = 0; j < packets.size(); ++j) {
        const size_t i = start + j;
        if (frames[i].data != packets[j].data ||
            packets[j].timestamp - packets[0].timestamp != analyzerOffset(frames, i) - analyzerOffset(frames, start)) {
            if (why) *why = "packet " + std::to_string(j) + " is not frame " + std::to_string(i + 1);
            return false;
        }
    }
    return true;
}

long findContiguousRun(const std::vector<InputFrame> &frames, const std::vector<Packet> &packets, std::string *why) {
    if (packets.empty()) {
        if (why) *why = "no packets";
        return -1;
    }
    for (size_t start = 0; start + packets.size() <= frames.size(); ++start) {
        if (frames[start].data != packets[0].data) continue;
        const size_t last = start + packets.size() - 1;
        if (frames[last].data != packets.back().data ||
            packets.back().timestamp - packets[0].timestamp !=
                analyzerOffset(frames, last) - analyzerOffset(frames, start))
            continue;
        bool all = true;
        for (size_t j = 1; j < packets.size() && all; ++j) {
            const size_t i = start + j;
            all = frames[i].data == packets[j].data && packets[j].timestamp - packets[0].timestamp ==
                                                           analyzerOffset(frames, i) - analyzerOffset(frames, start);
            if (!all && why)
                *why = "from frame " + std::to_string(start) + ": packet " + std::to_string(j) + " differs";
        }
        if (all) return static_cast<long>(start);
    }
    if (why && why->empty()) *why = "first packet matches no frame";
    return -1;
}

}  // namespace replaytest
