// A dump processor on a real capture buffer, with its messages collected.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "capture_buffer.h"
#include "control_channel.h"
#include "dump_builder.h"
#include "dump_processor.h"
#include "message_sink.h"

struct SinkMessage {
    bool isLog;
    int levelOrKind;
    std::string text;
    bool operator==(const SinkMessage &o) const {
        return isLog == o.isLog && levelOrKind == o.levelOrKind && text == o.text;
    }
};

inline std::ostream &operator<<(std::ostream &os, const SinkMessage &m) {
    return os << (m.isLog ? "log " : "status ") << m.levelOrKind << " \"" << m.text << "\"";
}

class RecordingSink : public MessageSink {
public:
    void log(int level, const char *text) override { messages.push_back({true, level, text}); }
    void status(int kind, const char *text) override { messages.push_back({false, kind, text}); }

    // Messages other than the per-dump status line.
    std::vector<SinkMessage> reports() const {
        std::vector<SinkMessage> out;
        for (const auto &m : messages) {
            if (m.text.rfind("[Live Capture]", 0) == 0 || m.text.rfind("[Single Shot", 0) == 0) continue;
            out.push_back(m);
        }
        return out;
    }
    bool saw(const std::string &text) const {
        return std::any_of(messages.begin(), messages.end(), [&](const SinkMessage &m) { return m.text == text; });
    }
    std::vector<SinkMessage> messages;
};

// Copy of a released record.
struct Stored {
    int64_t timestamp;
    uint32_t flags;
    uint16_t frameLength;
    uint16_t capturedLength;
    int64_t dropCount;
    std::vector<uint8_t> data;
};

constexpr int64_t kFixedWallClock = 1700000000;
constexpr int64_t kStartNs = kFixedWallClock * 1000000000LL;
inline int64_t fixedClock() { return kFixedWallClock; }

class ProcessorTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings.port01Enabled = 1;
        settings.port02Enabled = 1;
        create(4096, kCaptureLive);
    }
    void TearDown() override {
        dumpProcessorFree(processor);
        captureBufferDestroy(buffer);
    }
    void create(uint32_t slots, uint32_t mode) {
        dumpProcessorFree(processor);
        captureBufferDestroy(buffer);
        buffer = captureBufferCreate(slots, kInitialHoldBack);
        ASSERT_NE(buffer, nullptr);
        processor = dumpProcessorCreate(&settings, mode, buffer, &sink);
        ASSERT_NE(processor, nullptr);
        processor->wallClockSeconds = fixedClock;
    }

    // Hands the frame over in a heap block of exactly its size, so a read past
    // its end is caught by AddressSanitizer.
    int feedBytes(const std::vector<uint8_t> &frame, size_t length) {
        std::unique_ptr<uint8_t[]> exact(new uint8_t[length]);
        std::memcpy(exact.get(), frame.data(), std::min(length, frame.size()));
        return processDump(processor, exact.get(), static_cast<uint32_t>(length));
    }
    int feed(const DumpBuilder &b) {
        const auto frame = b.build();
        return feedBytes(frame, frame.size());
    }

    // What the main loop writes of a single-shot trace: the newest `ring`
    // records; the older surplus fell out of the pre-trigger ring.
    std::vector<Stored> drainTrace(size_t ring) {
        std::vector<Stored> out = drain();
        if (out.size() > ring) out.erase(out.begin(), out.end() - static_cast<std::ptrdiff_t>(ring));
        return out;
    }

    std::vector<Stored> drain() {
        captureBufferSetHoldBack(buffer, 0);
        std::vector<Stored> out;
        while (PacketRecord *r = captureBufferTakeReady(buffer)) {
            out.push_back({r->timestamp, r->flags, r->frameLength, r->capturedLength, r->dropCount,
                           std::vector<uint8_t>(r->data, r->data + r->capturedLength)});
            captureBufferGiveBack(buffer, r);
        }
        captureBufferSetHoldBack(buffer, kInitialHoldBack);
        return out;
    }

    TriggerSettings settings{};
    CaptureBuffer *buffer = nullptr;
    DumpProcessor *processor = nullptr;
    RecordingSink sink;
};

// One dump of the running stream: dump totals follow on by themselves.
class DumpStream {
public:
    explicit DumpStream(uint16_t firstTotal = 0) : next_(firstTotal) {}
    DumpBuilder dump(uint32_t tsHigh = 0) {
        DumpBuilder b;
        b.dumpTotal = next_;
        b.tsHigh = tsHigh;
        return b;
    }
    void sent(const DumpBuilder &b) { next_ = static_cast<uint16_t>(b.dumpTotal + b.records.size()); }
    uint16_t next() const { return next_; }

private:
    uint16_t next_;
};
