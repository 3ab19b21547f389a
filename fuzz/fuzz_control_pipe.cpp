// The control-pipe parser over a real FIFO. The input describes a stream of
// well-formed messages (Force Trigger presses and others), garbage without a
// sync byte, impossible lengths and oversize payloads; the stream is written
// in pieces split where the input says, and polled like the main loop polls.
// Every press sent must be counted once, nothing else may count as one.
// In between, the engine sends log lines and status messages of any text
// through the message filters, on a clock the input moves.
//
// Input: items of one kind byte and its fields, then the split points.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>
#include <vector>

#include "control_channel.h"
#include "file_layer.h"
#include "fuzz_input.h"

namespace {

constexpr uint8_t kForceTriggerNumber = 3;

struct Pipe {
    FileHandle *in = nullptr;
    FileHandle *out = nullptr;
    int writer = -1;
};

const Pipe &pipeForInputs() {
    static Pipe p = [] {
        Pipe made;
        const std::string path = "/tmp/sentra_fuzz_control_" + std::to_string(getpid());
        unlink(path.c_str());
        FUZZ_CHECK(mkfifo(path.c_str(), 0600) == 0);
        made.in = fileOpen(path.c_str(), kFileReadWrite, kFileCreateTruncate);
        made.out = fileOpen("/dev/null", kFileWrite, kFileOpenExisting);
        made.writer = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        FUZZ_CHECK(made.in != nullptr && made.out != nullptr && made.writer >= 0);
        unlink(path.c_str());  // both ends are open: the name is no longer needed
        return made;
    }();
    return p;
}

std::time_t g_now = 1000;
std::time_t fakeNow() { return g_now; }

// An outgoing message: log line, status or filter setting, any text.
void sendOne(ControlChannel *channel, FuzzInput *in) {
    const uint8_t what = in->u8();
    g_now += what >> 5;  // 0..7 s later
    if ((what & 3) == 3) {
        controlChannelSetFilter(channel, (what >> 2) & 3, static_cast<int8_t>(in->u8()), in->u8() % 8);
        return;
    }
    size_t length = 0;
    const uint8_t *bytes = in->chunk(in->u8(), &length);
    std::string text(reinterpret_cast<const char *>(bytes), length);
    text = text.c_str();  // up to the first NUL, as a C string would be
    const int level = (what >> 2) & 3;
    const int r = (what & 1) ? logMessage(channel, level, text.c_str()) : sendStatus(channel, level, text.c_str());
    FUZZ_CHECK(r == 0 || r == -1);
}

void appendHeader(std::vector<uint8_t> *s, uint32_t length, uint8_t control, uint8_t command) {
    s->push_back(kControlSyncByte);
    s->push_back(static_cast<uint8_t>(length >> 16));
    s->push_back(static_cast<uint8_t>(length >> 8));
    s->push_back(static_cast<uint8_t>(length));
    s->push_back(control);
    s->push_back(command);
}

// Builds the byte stream; answers the presses in it. Outgoing messages the
// input asks for go out on the way (kind 5).
uint64_t buildStream(FuzzInput *in, std::vector<uint8_t> *s, ControlChannel *channel) {
    uint64_t presses = 0;
    const unsigned items = in->u8() % 32;
    for (unsigned i = 0; i < items; ++i) {
        const uint8_t kind = in->u8() % 6;
        if (kind == 0) {  // a press
            appendHeader(s, 2 + 1, kForceTriggerNumber, kCommandSet);
            s->push_back(in->u8());
            ++presses;
        } else if (kind == 1) {  // another message: other control or command, any payload
            uint8_t control = in->u8();
            const uint8_t command = in->u8();
            if (command == kCommandSet) control = control == kForceTriggerNumber ? control + 1 : control;
            size_t length = 0;
            const uint8_t *payload = in->chunk(in->u8(), &length);
            appendHeader(s, static_cast<uint32_t>(2 + length), control, command);
            s->insert(s->end(), payload, payload + length);
        } else if (kind == 2) {  // garbage with no sync byte in it
            size_t length = 0;
            const uint8_t *bytes = in->chunk(in->u8() % 16, &length);
            for (size_t k = 0; k < length; ++k) s->push_back(bytes[k] == kControlSyncByte ? 0 : bytes[k]);
        } else if (kind == 3) {  // a sync byte with an impossible length
            appendHeader(s, in->u8() & 1, 0, 0);
        } else if (kind == 5) {
            sendOne(channel, in);
        } else {  // an oversize payload, skipped by count whatever it holds
            const uint32_t payload = kControlMaxPayload + 1 + in->u8();
            appendHeader(s, payload + 2, kForceTriggerNumber, kCommandSet);
            s->insert(s->end(), payload, static_cast<uint8_t>(in->u8()));
        }
    }
    return presses;
}

// Polls until nothing is waiting and the parser has nothing more to say.
uint64_t pollAll(ControlChannel *channel, FileHandle *in) {
    uint64_t presses = 0;
    for (int guard = 0; guard < 1000000; ++guard) {
        const int r = pollForceTrigger(channel);
        FUZZ_CHECK(r == -1 || r == 0);  // 0: a press
        if (r == 0) ++presses;
        if (r == -1 && fileBytesWaiting(in) == 0) return presses;
    }
    FUZZ_CHECK(!"the parser makes no progress");
    return presses;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const Pipe &pipe = pipeForInputs();
    FuzzInput in(data, size);
    ControlChannel *channel = controlChannelCreate(pipe.in, pipe.out, 1, 2, kForceTriggerNumber, 0);
    FUZZ_CHECK(channel != nullptr);
    g_now = 1000;
    controlChannelSetClock(channel, fakeNow);
    std::vector<uint8_t> stream;
    const uint64_t sent = buildStream(&in, &stream, channel);

    uint64_t counted = 0;
    size_t at = 0;
    while (at < stream.size()) {
        // The next piece ends where the input says (1 .. 4096 bytes); once it
        // says no more, the rest goes as one (as far as the pipe takes it).
        size_t piece = in.empty() ? stream.size() - at : 1 + (in.u16() % 4096);
        if (piece > stream.size() - at) piece = stream.size() - at;
        const ssize_t written = write(pipe.writer, stream.data() + at, piece);
        FUZZ_CHECK(written > 0 || (written < 0 && errno == EAGAIN));
        if (written > 0) at += static_cast<size_t>(written);
        counted += pollAll(channel, pipe.in);
    }
    counted += pollAll(channel, pipe.in);
    FUZZ_CHECK(counted == sent);
    FUZZ_CHECK(fileBytesWaiting(pipe.in) == 0);
    controlChannelFree(channel);
    return 0;
}
