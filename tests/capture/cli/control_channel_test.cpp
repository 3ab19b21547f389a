// The control channel speaking Wireshark's extcap control protocol over real
// FIFOs: framing, logger set/add, status commands, the status-bar limit, the
// message filters, standalone output and the Force Trigger poll.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "control_channel.h"
#include "file_layer.h"
#include "process_runner.h"

namespace {

struct Frame {
    uint8_t control;
    uint8_t command;
    std::string payload;
};

// 6 December 2026, 14:03:07 UTC.
constexpr std::time_t kSundayAfternoon = 1796565787;
std::time_t g_now = kSundayAfternoon;
std::time_t fakeClock() { return g_now; }

// Splits a control-protocol byte stream into frames; fails the test on any
// byte that does not belong to a well-formed frame.
std::vector<Frame> parseFrames(const std::string &bytes) {
    std::vector<Frame> frames;
    size_t at = 0;
    while (at < bytes.size()) {
        EXPECT_GE(bytes.size() - at, 6u) << "truncated header";
        if (bytes.size() - at < 6) break;
        EXPECT_EQ(bytes[at], 'T') << "sync byte at " << at;
        if (bytes[at] != 'T') break;
        const uint32_t length = (uint32_t{static_cast<uint8_t>(bytes[at + 1])} << 16) |
                                (uint32_t{static_cast<uint8_t>(bytes[at + 2])} << 8) |
                                static_cast<uint8_t>(bytes[at + 3]);
        EXPECT_GE(length, 2u);
        EXPECT_LE(at + 4 + length, bytes.size()) << "truncated payload";
        if (length < 2 || at + 4 + length > bytes.size()) break;
        frames.push_back({static_cast<uint8_t>(bytes[at + 4]), static_cast<uint8_t>(bytes[at + 5]),
                          bytes.substr(at + 6, length - 2)});
        at += 4 + length;
    }
    return frames;
}

std::string frameBytes(uint8_t control, uint8_t command, const std::string &payload) {
    const uint32_t length = static_cast<uint32_t>(payload.size()) + 2;
    std::string bytes = "T";
    bytes += static_cast<char>(length >> 16);
    bytes += static_cast<char>(length >> 8);
    bytes += static_cast<char>(length);
    bytes += static_cast<char>(control);
    bytes += static_cast<char>(command);
    return bytes + payload;
}

class ControlChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        g_now = kSundayAfternoon;
        inPath = dir.file("control_in");
        outPath = dir.file("control_out");
        ASSERT_EQ(mkfifo(inPath.c_str(), 0600), 0);
        ASSERT_EQ(mkfifo(outPath.c_str(), 0600), 0);
        // The engine opens both for reading and writing, as at capture start.
        in = fileOpen(inPath.c_str(), kFileReadWrite, kFileCreateTruncate);
        out = fileOpen(outPath.c_str(), kFileReadWrite, kFileCreateTruncate);
        ASSERT_TRUE(in && out);
        // Wireshark's ends of the two pipes.
        wiresharkReads = open(outPath.c_str(), O_RDONLY | O_NONBLOCK);
        wiresharkWrites = open(inPath.c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(wiresharkReads, 0);
        ASSERT_GE(wiresharkWrites, 0);
    }
    void TearDown() override {
        controlChannelFree(channel);
        close(wiresharkReads);
        close(wiresharkWrites);
        fileClose(in);
        fileClose(out);
    }
    void create(int standalone = 0) {
        channel = controlChannelCreate(in, out, 1, 0, 0, standalone);
        ASSERT_NE(channel, nullptr);
        controlChannelSetClock(channel, fakeClock);
    }
    std::string drainOut() {
        std::string bytes;
        char chunk[65536];
        ssize_t got;
        while ((got = read(wiresharkReads, chunk, sizeof chunk)) > 0) bytes.append(chunk, static_cast<size_t>(got));
        return bytes;
    }
    void press(const std::string &bytes) {
        ASSERT_EQ(write(wiresharkWrites, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    TempDir dir;
    std::string inPath, outPath;
    FileHandle *in = nullptr;
    FileHandle *out = nullptr;
    int wiresharkReads = -1;
    int wiresharkWrites = -1;
    ControlChannel *channel = nullptr;
};

TEST_F(ControlChannelTest, FirstLogLineSetsLaterOnesAdd) {
    create();
    EXPECT_EQ(logMessage(channel, kLogStatus, "Capture started"), 0);
    EXPECT_EQ(logMessage(channel, kLogInfo, "second"), 0);
    EXPECT_EQ(logMessage(channel, kLogError, "third"), 0);
    const std::string bytes = drainOut();
    std::vector<Frame> frames = parseFrames(bytes);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(bytes.substr(0, 6), std::string("T\x00\x00\x35\x01\x01", 6));  // 51-char line + 2
    EXPECT_EQ(frames[0].payload, " STATUS: - 06.12.2026 - 14:03:07 - Capture started\n");
    EXPECT_EQ(frames[1].payload, "   INFO: - 06.12.2026 - 14:03:07 - second\n");
    EXPECT_EQ(frames[2].payload, "  ERROR: - 06.12.2026 - 14:03:07 - third\n");
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].control, 1);
        EXPECT_EQ(frames[i].command, i == 0 ? kCommandSet : kCommandAdd);
    }
}

TEST_F(ControlChannelTest, StatusKindsUseCommandsSixToNineOnControlZero) {
    create();
    g_now += 1;
    EXPECT_EQ(sendStatus(channel, kStatusBar, "bar"), 0);
    EXPECT_EQ(sendStatus(channel, kStatusInfo, "info"), 0);
    EXPECT_EQ(sendStatus(channel, kStatusWarning, "warn\nsecond line"), 0);
    EXPECT_EQ(sendStatus(channel, kStatusError, "error"), 0);
    std::vector<Frame> frames = parseFrames(drainOut());
    ASSERT_EQ(frames.size(), 4u);
    const uint8_t commands[] = {6, 7, 8, 9};
    const char *texts[] = {"bar\n", "info\n", "warn\nsecond line\n", "error\n"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(frames[i].control, 0);
        EXPECT_EQ(frames[i].command, commands[i]);
        EXPECT_EQ(frames[i].payload, texts[i]);
    }
}

TEST_F(ControlChannelTest, StatusBarTakesOneMessagePerSecond) {
    create();
    EXPECT_EQ(sendStatus(channel, kStatusBar, "in the first second"), -1);
    g_now += 1;
    EXPECT_EQ(sendStatus(channel, kStatusBar, "first"), 0);
    EXPECT_EQ(sendStatus(channel, kStatusBar, "same second"), -1);
    EXPECT_EQ(sendStatus(channel, kStatusInfo, "information is never dropped"), 0);
    EXPECT_EQ(sendStatus(channel, kStatusInfo, "information is never dropped"), 0);
    g_now += 1;
    EXPECT_EQ(sendStatus(channel, kStatusBar, "next second"), 0);
    std::vector<Frame> frames = parseFrames(drainOut());
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0].payload, "first\n");
    EXPECT_EQ(frames[3].payload, "next second\n");
}

TEST_F(ControlChannelTest, ClockSetBackDoesNotSilenceTheStatusBarOrTheLog) {
    create();
    ASSERT_EQ(controlChannelSetFilter(channel, kLogWarning, 1, 10), 0);
    g_now += 1;
    EXPECT_EQ(sendStatus(channel, kStatusBar, "before"), 0);
    EXPECT_EQ(logMessage(channel, kLogWarning, "w1"), 0);
    EXPECT_EQ(logMessage(channel, kLogWarning, "w2"), 0);  // the FILTER line
    g_now -= 3600;                                         // the system clock was corrected by an hour
    EXPECT_EQ(sendStatus(channel, kStatusBar, "after"), 0);
    EXPECT_EQ(sendStatus(channel, kStatusBar, "same second"), -1);
    EXPECT_EQ(logMessage(channel, kLogWarning, "w3"), 0);
    std::vector<Frame> frames = parseFrames(drainOut());
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[3].payload, "after\n");
    EXPECT_EQ(frames[4].payload.substr(35), "w3\n");
}

TEST_F(ControlChannelTest, WarningFloodIsFilteredTenPerTenSeconds) {
    create();
    ASSERT_EQ(controlChannelSetFilter(channel, kLogWarning, 10, 10), 0);
    for (int i = 0; i < 11; ++i) EXPECT_EQ(logMessage(channel, kLogWarning, "lost"), 0);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(logMessage(channel, kLogWarning, "dropped"), 0);  // dropped quietly
    EXPECT_EQ(logMessage(channel, kLogInfo, "other levels are not limited"), 0);
    std::vector<Frame> frames = parseFrames(drainOut());
    ASSERT_EQ(frames.size(), 12u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(frames[i].payload, "WARNING: - 06.12.2026 - 14:03:07 - lost\n");
    EXPECT_EQ(frames[10].payload,
              " FILTER: - 06.12.2026 - 14:03:07 - Logging filter activated for message type: WARNING\n");

    g_now += 9;
    EXPECT_EQ(logMessage(channel, kLogWarning, "still within the window"), 0);
    EXPECT_TRUE(parseFrames(drainOut()).empty());
    g_now += 1;  // ten seconds after the last written (FILTER) line
    for (int i = 0; i < 12; ++i) EXPECT_EQ(logMessage(channel, kLogWarning, "again"), 0);
    frames = parseFrames(drainOut());
    ASSERT_EQ(frames.size(), 10u);  // one line, then up to nine more; no second FILTER line
    EXPECT_EQ(frames[0].payload, "WARNING: - 06.12.2026 - 14:03:17 - again\n");
}

TEST_F(ControlChannelTest, BadArgumentsAreRefused) {
    EXPECT_EQ(controlChannelCreate(in, out, 1, 0, 0, 2), nullptr);
    EXPECT_EQ(controlChannelCreate(in, nullptr, 1, 0, 0, 0), nullptr);
    create();
    EXPECT_EQ(controlChannelSetFilter(channel, 4, 1, 1), -1);
    EXPECT_EQ(controlChannelSetFilter(channel, -1, 1, 1), -1);
    EXPECT_EQ(logMessage(channel, 4, "x"), -1);
    EXPECT_EQ(logMessage(channel, kLogInfo, nullptr), -1);
    EXPECT_EQ(sendStatus(channel, 4, "x"), -1);
    EXPECT_EQ(logMessage(nullptr, kLogInfo, "x"), -1);
    EXPECT_EQ(pollForceTrigger(nullptr), -1);

    const std::string longest(kControlMaxText, 'L');
    const std::string tooLong(kControlMaxText + 1, 'L');
    EXPECT_EQ(logMessage(channel, kLogInfo, tooLong.c_str()), -1);
    EXPECT_EQ(sendStatus(channel, kStatusInfo, tooLong.c_str()), -1);
    EXPECT_EQ(logMessage(channel, kLogInfo, longest.c_str()), 0);
    std::vector<Frame> frames = parseFrames(drainOut());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].payload.size(), 36u + kControlMaxText);
    EXPECT_EQ(frames[0].command, kCommandSet);  // the refused ones sent nothing
}

TEST_F(ControlChannelTest, ComposedTextsAreCutTo511Characters) {
    create();
    const std::string long600(600, 'x');
    EXPECT_EQ(logMessagef(channel, kLogInfo, "Packet #%lld: %s", 5LL, long600.c_str()), 0);
    g_now += 1;
    EXPECT_EQ(sendStatusf(channel, kStatusBar, "%s", long600.c_str()), 0);
    std::vector<Frame> frames = parseFrames(drainOut());
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].payload, "   INFO: - 06.12.2026 - 14:03:07 - Packet #5: " + std::string(511 - 11, 'x') + "\n");
    EXPECT_EQ(frames[1].payload, std::string(511, 'x') + "\n");
}

TEST_F(ControlChannelTest, FailedWriteChangesNoCounter) {
    // control-out opened for writing only, reader gone: every write fails.
    close(wiresharkReads);
    FileHandle *lonely = fileOpen(dir.file("plain").c_str(), kFileWrite, kFileCreateTruncate);
    ASSERT_NE(lonely, nullptr);
    fileClose(lonely);
    const std::string path = dir.file("out2");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    FileHandle *writeOnly = fileOpen(path.c_str(), kFileWrite, kFileOpenExisting);
    ASSERT_NE(writeOnly, nullptr);
    close(reader);
    channel = controlChannelCreate(in, writeOnly, 1, 0, 0, 0);
    controlChannelSetClock(channel, fakeClock);
    g_now += 1;
    EXPECT_EQ(logMessage(channel, kLogInfo, "nobody listens"), -1);
    EXPECT_EQ(sendStatus(channel, kStatusBar, "nobody listens"), -1);

    reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    EXPECT_EQ(logMessage(channel, kLogInfo, "now heard"), 0);
    EXPECT_EQ(sendStatus(channel, kStatusBar, "status clock was not advanced"), 0);
    std::string bytes(4096, '\0');
    ssize_t got = read(reader, &bytes[0], bytes.size());
    ASSERT_GT(got, 0);
    bytes.resize(static_cast<size_t>(got));
    std::vector<Frame> frames = parseFrames(bytes);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].command, kCommandSet);
    controlChannelFree(channel);
    channel = nullptr;
    close(reader);
    fileClose(writeOnly);
    wiresharkReads = open(outPath.c_str(), O_RDONLY | O_NONBLOCK);
}

TEST_F(ControlChannelTest, StandaloneWritesPlainLinesAndClearsTheConsole) {
    FileHandle *logFile = fileOpen(dir.file("sentra_tbOut.txt").c_str(), kFileReadWrite, kFileCreateTruncate);
    ASSERT_NE(logFile, nullptr);
    channel = controlChannelCreate(in, logFile, 1, 0, 0, 1);
    ASSERT_NE(channel, nullptr);
    controlChannelSetClock(channel, fakeClock);
    EXPECT_EQ(logMessage(channel, kLogStatus, "Capture started"), 0);
    EXPECT_EQ(logMessage(channel, kLogInfo, "next"), 0);
    g_now += 1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(sendStatus(channel, kStatusBar, "Searching for Q40TA5521 (0) ...."), 0);
    EXPECT_EQ(sendStatus(channel, kStatusWarning, "Single Shot mode active!"), 0);
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(console, "\033[H\033[2JSearching for Q40TA5521 (0) ....\n\033[H\033[2JSingle Shot mode active!\n");
    EXPECT_EQ(readWholeFile(dir.file("sentra_tbOut.txt")),
              " STATUS: - 06.12.2026 - 14:03:07 - Capture started\n"
              "   INFO: - 06.12.2026 - 14:03:07 - next\n");
    EXPECT_TRUE(drainOut().empty());
    controlChannelFree(channel);
    channel = nullptr;
    fileClose(logFile);
}

TEST_F(ControlChannelTest, ForceTriggerIsSetOnControlZero) {
    create();
    EXPECT_EQ(pollForceTrigger(channel), -1);  // nothing waiting: at once
    press(frameBytes(0, 0, ""));
    EXPECT_EQ(pollForceTrigger(channel), -1);  // command 0: consumed, ignored
    EXPECT_EQ(fileBytesWaiting(in), 0);
    press(frameBytes(0, kCommandSet, ""));
    EXPECT_EQ(pollForceTrigger(channel), 0);
    EXPECT_EQ(pollForceTrigger(channel), -1);
    press(frameBytes(1, kCommandSet, "logger set"));  // other controls are ignored
    press(frameBytes(0, kCommandSet, ""));
    EXPECT_EQ(pollForceTrigger(channel), -1);  // one message per call
    EXPECT_EQ(pollForceTrigger(channel), 0);
}

TEST_F(ControlChannelTest, MessageArrivingInPiecesIsAssembledAcrossPolls) {
    create();
    // A button message that carries a payload whose content looks like a
    // Force Trigger message: read as a header it would fire falsely.
    const std::string decoy = frameBytes(0, kCommandSet, "");
    const std::string message = frameBytes(3, kCommandSet, decoy + decoy);
    press(message.substr(0, 3));
    EXPECT_EQ(pollForceTrigger(channel), -1);
    press(message.substr(3, 5));  // header complete, payload in flight
    EXPECT_EQ(pollForceTrigger(channel), -1);
    press(message.substr(8, 6));
    EXPECT_EQ(pollForceTrigger(channel), -1);
    press(message.substr(14));
    EXPECT_EQ(pollForceTrigger(channel), -1);
    EXPECT_EQ(fileBytesWaiting(in), 0);
    // The stream is still in step: the real press is seen, only once.
    const std::string real = frameBytes(0, kCommandSet, "");
    press(real.substr(0, 2));
    EXPECT_EQ(pollForceTrigger(channel), -1);
    press(real.substr(2));
    EXPECT_EQ(pollForceTrigger(channel), 0);
    EXPECT_EQ(pollForceTrigger(channel), -1);
}

TEST_F(ControlChannelTest, OversizePayloadIsSkippedByCount) {
    create();
    // 70000 payload bytes full of fake Force Trigger messages: more than the
    // payload area and more than the pipe holds, so it arrives while polling.
    std::string payload;
    const std::string decoy = frameBytes(0, kCommandSet, "");
    while (payload.size() < 70000) payload += decoy;
    const std::string stream = frameBytes(0, kCommandSet, payload) + frameBytes(0, kCommandSet, "");
    std::atomic<bool> written{false};
    std::thread wireshark([&] {
        int fd = open(inPath.c_str(), O_WRONLY);
        size_t at = 0;
        while (at < stream.size()) {
            ssize_t put = write(fd, stream.data() + at, std::min<size_t>(4000, stream.size() - at));
            if (put <= 0) break;
            at += static_cast<size_t>(put);
        }
        close(fd);
        written = true;
    });
    int presses = 0;
    for (int spins = 0; spins < 200000 && (!written || fileBytesWaiting(in) > 0); ++spins) {
        if (pollForceTrigger(channel) == 0) ++presses;
    }
    wireshark.join();
    for (int i = 0; i < 4; ++i)
        if (pollForceTrigger(channel) == 0) ++presses;
    // The oversize message itself is not a press (never stored); the one after it is.
    EXPECT_EQ(presses, 1);
}

TEST_F(ControlChannelTest, GarbageBeforeTheSyncByteIsSkipped) {
    create();
    press("xyz");
    press(frameBytes(0, kCommandSet, ""));
    int presses = 0;
    for (int i = 0; i < 4; ++i) presses += pollForceTrigger(channel) == 0;
    EXPECT_EQ(presses, 1);
}

TEST_F(ControlChannelTest, OrdinaryControlInFileNeverReportsAPress) {
    const std::string path = dir.file("sentra_tbIn.txt");
    FileHandle *file = fileOpen(path.c_str(), kFileReadWrite, kFileCreateTruncate);
    ASSERT_NE(file, nullptr);
    const std::string pressBytes = frameBytes(0, kCommandSet, "");
    ASSERT_EQ(fileWrite(file, pressBytes.data(), static_cast<uint32_t>(pressBytes.size())), 0);
    channel = controlChannelCreate(file, out, 1, 0, 0, 0);
    EXPECT_EQ(pollForceTrigger(channel), -1);
    controlChannelFree(channel);
    channel = nullptr;
    fileClose(file);
}

TEST_F(ControlChannelTest, LinesFromTwoThreadsNeverMix) {
    channel = controlChannelCreate(in, out, 1, 0, 0, 0);
    ASSERT_NE(channel, nullptr);
    constexpr int kLines = 400;
    std::string received;
    std::atomic<bool> done{false};
    std::thread wireshark([&] {
        char chunk[65536];
        while (true) {
            ssize_t got = read(wiresharkReads, chunk, sizeof chunk);
            if (got > 0) {
                received.append(chunk, static_cast<size_t>(got));
            } else if (done) {
                break;
            } else {
                std::this_thread::yield();
            }
        }
    });
    auto sender = [&](char mark) {
        for (int i = 0; i < kLines; ++i) {
            logMessagef(channel, kLogInfo, "%c%04d%s", mark, i, std::string(200, mark).c_str());
            sendStatus(channel, kStatusInfo, std::string(150, static_cast<char>(mark + 1)).c_str());
        }
    };
    std::thread capture(sender, 'a');
    sender('x');
    capture.join();
    done = true;
    wireshark.join();

    std::vector<Frame> frames = parseFrames(received);
    ASSERT_EQ(frames.size(), 4u * kLines);
    int sets = 0;
    std::set<std::string> seen;
    for (const Frame &f : frames) {
        if (f.control == 1) {
            sets += f.command == kCommandSet;
            const std::string text = f.payload.substr(35);  // after "   INFO: - dd.mm.yyyy - hh:mm:ss - "
            const char mark = text[0];
            EXPECT_EQ(text.substr(5), std::string(200, mark) + "\n");
            seen.insert(text.substr(0, 5));
        } else {
            EXPECT_EQ(f.command, kCommandInformation);
            EXPECT_TRUE(f.payload == std::string(150, 'b') + "\n" || f.payload == std::string(150, 'y') + "\n");
        }
    }
    EXPECT_EQ(sets, 1);
    EXPECT_EQ(seen.size(), 2u * kLines);
}

}  // namespace
