// Test harness for whole captures: runs the analyzer simulator and
// sentra_extcap as Wireshark would (real FIFOs for the pcapng stream and both
// control pipes), and reads back what they produced.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace replaytest {

// A fresh world-readable folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Folder of the shared real captures, or "" when it is not beside the tree.
std::string sharedCaptures();
std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &bytes);

// A child process with its standard output (and error) in a file.
class Process {
public:
    // `stdinPipe`: standard input is a pipe the test writes with writeStdin;
    // otherwise /dev/null.
    Process(const std::vector<std::string> &argv, const std::string &stdoutPath, bool stdinPipe = false,
            const std::vector<std::string> &extraEnv = {});
    ~Process();
    bool started() const { return pid_ > 0; }
    bool running();
    // Waits up to `timeoutMs`; answers the exit status, 128 + signal for a
    // signal death, or -1 on timeout (the child is then killed).
    int wait(int timeoutMs);
    void signal(int number);
    void writeStdin(const std::string &bytes);
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int stdinFd_ = -1;
    int status_ = -1;
    bool reaped_ = false;
};

// Runs a program to its end; answers its exit status, output in *output.
int runProgram(const std::vector<std::string> &argv, std::string *output, int timeoutMs = 60000,
               const std::vector<std::string> &extraEnv = {});

// Reads a FIFO on a thread until its writer has gone for good (the process
// has ended) or, with a byte limit, until that many bytes are read and then
// closes it (a reader that goes away early).
class FifoReader {
public:
    explicit FifoReader(const std::string &path, size_t stopAfterBytes = 0);
    ~FifoReader();
    void finish(Process *process);  // joins once the process has ended
    // Starts reading late: until then the FIFO is open but not read.
    void hold();
    void release();
    std::string bytes();  // what was read so far (thread-safe)
    size_t size();

private:
    struct State;
    State *state_;
};

// One message on an extcap control pipe.
struct ControlMessage {
    uint8_t control;
    uint8_t command;
    std::string payload;
};
// Parses the framed stream; stops at the first byte that is not a frame.
std::vector<ControlMessage> parseControlStream(const std::string &bytes, bool *clean = nullptr);
// Every text of messages with this control number and command, joined by '\n'.
std::string controlTexts(const std::vector<ControlMessage> &messages, int control, int command);
// A Force Trigger press as Wireshark sends it.
std::string forceTriggerMessage();

// One enhanced packet block of a pcapng stream.
struct Packet {
    int64_t timestamp;
    uint32_t frameLength;
    std::string data;
    uint32_t flags;
    bool hasFlags;
    int64_t dropCount;
};
// Parses a pcapng stream written by the engine; false at the first malformed
// block (the packets read so far are kept).
bool parsePcapng(const std::string &bytes, std::vector<Packet> *packets, std::string *interfaceName = nullptr);

// Ethernet frames of a capture file as libpcap reads them, in time order.
struct InputFrame {
    int64_t timestamp;
    std::string data;
};
std::vector<InputFrame> readCapture(const std::string &path);

// Paths of the programs under test.
std::string extcapPath();
std::string simulatorPath();

// A replay through the file interface with Wireshark's three FIFOs.
struct ReplayOptions {
    std::vector<std::string> extraArgs;  // e.g. --capturemode singleshot
    bool holdOutput = false;             // leave the pcapng FIFO unread until released
    size_t closeOutputAfter = 0;         // reader closes the FIFO after this many bytes
    int timeoutMs = 60000;
    // Called once the capture has started (the control-out log holds
    // "Capture started"), with the running process and the control-in path.
    std::function<void(Process &, const std::string &controlIn)> whileRunning;
};
struct ReplayResult {
    int status = -1;
    std::string pcapng;
    std::string controlOut;
    std::string console;
    std::vector<ControlMessage> messages;
    std::vector<Packet> packets;
    bool pcapngValid = false;
    std::string logText() const;     // every log line
    std::string statusText() const;  // every status message of every kind
};
ReplayResult replayWithFifos(const TempDir &dir, const std::string &rawFile, const ReplayOptions &options);

// Packs `input` with the simulator into `output`; false (with the output) on failure.
bool simulate(const std::string &input, const std::string &output, const std::vector<std::string> &args,
              std::string *messages = nullptr);

}  // namespace replaytest

namespace replaytest {

// The input frames as the simulator packs them with --repeat=N
// (--repeat-gap-ms=1): each pass shifted by the capture's span plus 1 ms.
std::vector<InputFrame> repeatFrames(const std::vector<InputFrame> &frames, int passes);

// Analyzer time of frame i after the first frame, in ns (whole 20 ns ticks).
int64_t analyzerOffset(const std::vector<InputFrame> &frames, size_t i);

// Index of the frame that the packets start at, when the packets are a
// contiguous run of the frames (same bytes, same spacing); -1 otherwise.
// `why` tells the first mismatch.
bool runMatchesAt(const std::vector<InputFrame> &frames, const std::vector<Packet> &packets, size_t start,
                  std::string *why);
long findContiguousRun(const std::vector<InputFrame> &frames, const std::vector<Packet> &packets, std::string *why);

}  // namespace replaytest
