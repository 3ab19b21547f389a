// The replay reader on the input as a capture file: every call either hands
// over a dump frame, skips a block or ends the replay, and always moves on.
//
// Input: the file's bytes (the first byte also picks the wanted analyzer and
// the file name's extension).
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "capture_buffer.h"
#include "control_channel.h"
#include "dump_frame.h"
#include "file_layer.h"
#include "fuzz_input.h"
#include "pcapng_format.h"
#include "replay_reader.h"

namespace {

// Names the reader takes (pcapng) and refuses.
const char *const kExtensions[] = {".pcapng", ".raw.pcapng", ".pcap", ""};

std::string filePathForInput(unsigned extension) {
    return "/tmp/sentra_fuzz_replay_" + std::to_string(getpid()) + kExtensions[extension];
}

// The reader's messages go through a real control channel into /dev/null,
// so composing them is exercised too.
ControlChannel *messageChannel() {
    static ControlChannel *channel =
        controlChannelCreate(nullptr, fileOpen("/dev/null", kFileWrite, kFileOpenExisting), 1, 0, 0, 0);
    return channel;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const unsigned extension = size > 0 ? (data[0] >> 6) : 0;
    const std::string path = filePathForInput(extension);
    FILE *f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, f) == size);
    std::fclose(f);

    const uint8_t wantedNode = size > 0 ? (data[0] & 3) : 0;
    ReplayReader *reader = replayReaderCreate(path.c_str(), messageChannel(), wantedNode, 1000);
    if (reader == nullptr) {
        FUZZ_CHECK(size == 0 || extension >= 2);  // an empty file or a name without pcapng
        unlink(path.c_str());
        return 0;
    }
    FUZZ_CHECK(extension < 2);
    auto record = std::make_unique<PacketRecord>();
    if (replayReaderCheckStart(reader) == 0) {
        int64_t now = 1000;
        // Each block is at least 12 bytes: more calls than that means no progress.
        const uint64_t maxCalls = size / pcapng::kMinimumBlockLength + 2;
        uint64_t calls = 0;
        while (replayReaderBytesLeft(reader) > 0) {
            FUZZ_CHECK(++calls <= maxCalls);
            const uint64_t before = replayReaderBytesLeft(reader);
            std::memset(record.get(), 0, sizeof(PacketRecord));
            if (replayReaderReadNext(reader, record.get(), isDumpFrame, now) == 0) {
                FUZZ_CHECK(record->capturedLength <= kRecordDataCapacity);
                FUZZ_CHECK(record->capturedLength > 0);
                uint8_t node = wantedNode;
                FUZZ_CHECK(isDumpFrame(record->data, record->capturedLength, &node));
            }
            FUZZ_CHECK(replayReaderBytesLeft(reader) < before);
            FUZZ_CHECK(replayReaderBytesLeft(reader) <= size);
            now += 1;
        }
    }
    replayReaderClose(reader);
    unlink(path.c_str());
    return 0;
}
