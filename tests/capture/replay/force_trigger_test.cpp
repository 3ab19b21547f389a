// Force Trigger as the capture thread's two loops serve it: a press ends the
// capture with a trace from either source; the notice to wait for the trace
// goes out on every press from a file, from the analyzer only while records
// wait in the presort list.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "capture_buffer.h"
#include "capture_context.h"
#include "control_channel.h"
#include "file_layer.h"
#include "loop_common.h"
#include "replay_harness.h"

using namespace replaytest;

namespace {

// The notice as sent (the channel ends each message with a line break), and
// the line break controlTexts puts after every message.
const std::string kNotice = "Trigger forced!\nPlease wait while trace is generated!\n\n";

struct ForcedCapture {
    ForcedCapture() : context(new CaptureContext) {
        captureContextInit(context.get());
        in = fileOpen(dir.file("in.txt").c_str(), kFileReadWrite, kFileCreateTruncate);
        out = fileOpen(dir.file("out.bin").c_str(), kFileReadWrite, kFileCreateTruncate);
        context->control = controlChannelCreate(in, out, 1, 0, 0, 0);
        context->buffer = captureBufferCreate(64, 32);
    }
    ~ForcedCapture() {
        captureBufferDestroy(context->buffer);
        controlChannelFree(context->control);
        fileClose(in);
        fileClose(out);
    }
    // One record waiting in the presort list.
    void insertRecord() {
        PacketRecord *record = captureBufferTakeFree(context->buffer);
        ASSERT_NE(record, nullptr);
        ASSERT_EQ(captureBufferInsertSorted(context->buffer, record), 0);
    }
    std::string notices() const {
        return controlTexts(parseControlStream(readFile(dir.file("out.bin"))), 0, kCommandInformation);
    }
    TempDir dir;
    FileHandle *in = nullptr;
    FileHandle *out = nullptr;
    std::unique_ptr<CaptureContext> context;
};

}  // namespace

TEST(ForceTrigger, NothingHappensWithoutAPress) {
    ForcedCapture capture;
    ForceTriggerPoll poll;
    EXPECT_FALSE(handleForceTrigger(capture.context.get(), &poll, ForceTriggerNotice::kAlways));
    EXPECT_FALSE(capture.context->run.stopCaptureThread.load());
    EXPECT_FALSE(capture.context->run.writingEnabled.load());
    EXPECT_EQ(capture.notices(), "");
}

TEST(ForceTrigger, APressEndsTheCaptureWithATraceAndTheFileSourceAlwaysSaysSo) {
    ForcedCapture capture;
    capture.context->run.keyboardForceTrigger.store(true);
    ForceTriggerPoll poll;
    EXPECT_TRUE(handleForceTrigger(capture.context.get(), &poll, ForceTriggerNotice::kAlways));
    EXPECT_TRUE(capture.context->run.stopCaptureThread.load());
    EXPECT_TRUE(capture.context->run.writingEnabled.load());
    EXPECT_TRUE(capture.context->run.traceGenerating.load());
    EXPECT_EQ(captureBufferHoldBack(capture.context->buffer), 0);
    EXPECT_EQ(capture.notices(), kNotice);
    // The capture is over: a later press changes nothing.
    EXPECT_FALSE(handleForceTrigger(capture.context.get(), &poll, ForceTriggerNotice::kAlways));
    EXPECT_EQ(capture.notices(), kNotice);
}

TEST(ForceTrigger, TheAnalyzerSourceSaysSoOnlyWhileRecordsWait) {
    ForcedCapture empty;
    empty.context->run.keyboardForceTrigger.store(true);
    ForceTriggerPoll poll;
    EXPECT_TRUE(handleForceTrigger(empty.context.get(), &poll, ForceTriggerNotice::kWhenRecordsWait));
    EXPECT_TRUE(empty.context->run.stopCaptureThread.load());
    EXPECT_EQ(empty.notices(), "");

    ForcedCapture waiting;
    waiting.insertRecord();
    waiting.context->run.keyboardForceTrigger.store(true);
    EXPECT_TRUE(handleForceTrigger(waiting.context.get(), &poll, ForceTriggerNotice::kWhenRecordsWait));
    EXPECT_EQ(waiting.notices(), kNotice);
}
