// The capture thread is created suspended, runs its body only once resumed,
// and is stopped through the run flags; a body that ignores the stop is
// reported as still running instead of being joined or freed under it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "capture_context.h"
#include "capture_loops.h"

namespace {

std::atomic<int> g_bodyRuns{0};

void countingBody(CaptureContext *context) {
    g_bodyRuns.fetch_add(1);
    while (!context->run.stopCaptureThread.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    context->run.captureThreadFinished.store(true);
}

void stubbornBody(CaptureContext *context) {
    // Ignores the stop flag for a while, as a thread stuck in a read would.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    context->run.captureThreadFinished.store(true);
}

}  // namespace

TEST(CaptureThread, NeverResumedThreadStopsWithoutRunningItsBody) {
    static CaptureContext context;
    captureContextInit(&context);
    g_bodyRuns = 0;
    CaptureThread *thread = captureThreadCreate(&context, countingBody);
    ASSERT_NE(thread, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(g_bodyRuns.load(), 0);
    EXPECT_TRUE(captureThreadStop(thread, &context, 1000));
    EXPECT_EQ(g_bodyRuns.load(), 0);
    captureThreadFree(thread);
}

TEST(CaptureThread, ResumedThreadRunsOnceAndStopsOnTheFlag) {
    static CaptureContext context;
    captureContextInit(&context);
    g_bodyRuns = 0;
    CaptureThread *thread = captureThreadCreate(&context, countingBody);
    ASSERT_NE(thread, nullptr);
    captureThreadRaisePriority(thread);  // refused without privileges: ignored
    captureThreadResume(thread);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(g_bodyRuns.load(), 1);
    EXPECT_FALSE(context.run.captureThreadFinished.load());
    EXPECT_TRUE(captureThreadStop(thread, &context, 1000));
    EXPECT_TRUE(context.run.captureThreadFinished.load());
    captureThreadFree(thread);
}

TEST(CaptureThread, ThreadThatDoesNotFinishInTimeIsReportedRunning) {
    static CaptureContext context;
    captureContextInit(&context);
    CaptureThread *thread = captureThreadCreate(&context, stubbornBody);
    ASSERT_NE(thread, nullptr);
    captureThreadResume(thread);
    EXPECT_FALSE(captureThreadStop(thread, &context, 50));
    captureThreadFree(thread);  // refused while running: the object stays valid
    EXPECT_TRUE(captureThreadStop(thread, &context, 2000));
    captureThreadFree(thread);
}

TEST(CaptureThread, HoldBackDepthFollowsModeAndSource) {
    static CaptureContext context;
    captureContextInit(&context);
    context.bufferSize = 327680;
    context.captureMode = kCaptureLive;
    EXPECT_EQ(captureHoldBackDepth(&context), 32);
    context.captureMode = kCaptureSingleShot;
    context.interfaceKind = kInterfaceFile;
    EXPECT_EQ(captureHoldBackDepth(&context), 327680);
    context.interfaceKind = kInterfaceHardware;
    EXPECT_EQ(captureHoldBackDepth(&context), 262144);
}
