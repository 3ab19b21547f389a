// How a capture run ends as the user sees it: the exit status and the reason
// on standard error when it failed, the messages at the end of a replay, the
// default files of a run by hand, and a stop while the FIFO is read slowly.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "process_runner.h"
#include "replay_harness.h"

namespace {

using replaytest::extcapPath;
using replaytest::sharedCaptures;

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

constexpr uint32_t kFrameCutFlag = 1u << 20;

// A replay through the file interface into ordinary files of `dir`.
std::vector<std::string> replayArgs(const replaytest::TempDir &dir, const std::string &captureFile,
                                    const std::string &mode = "livecapture") {
    return {extcapPath(),
            "--capture",
            "--extcap-interface",
            "sentra_ta5521_file",
            "--capturemode",
            mode,
            "--fifo",
            dir.file("out.pcapng"),
            "--extcap-control-in",
            dir.file("in.txt"),
            "--extcap-control-out",
            dir.file("ctl_out.bin"),
            "--ta5521capturefile",
            captureFile};
}

struct Messages {
    std::string log;       // every log line
    std::string errors;    // error pop-ups
    std::string warnings;  // warning pop-ups
};

Messages messagesOf(const std::string &controlOut) {
    const auto messages = replaytest::parseControlStream(replaytest::readFile(controlOut));
    return {replaytest::controlTexts(messages, 1, 1) + replaytest::controlTexts(messages, 1, 2),
            replaytest::controlTexts(messages, 0, 9), replaytest::controlTexts(messages, 0, 8)};
}

std::string rawBoot(const replaytest::TempDir &dir, const std::vector<std::string> &args) {
    const std::string raw = dir.file("raw.pcapng");
    if (sharedCaptures().empty() || !replaytest::simulate(sharedCaptures() + "/powerlink_1cn_boot.pcapng", raw, args))
        return "";
    return raw;
}

}  // namespace

TEST(CaptureOutcome, MissingReplayFileFailsWithTheSystemsReasonOnStandardError) {
    replaytest::TempDir dir;
    const std::string missing = dir.file("missing.pcapng");
    const ProcessResult run = runProcess(replayArgs(dir, missing));
    EXPECT_NE(run.exitStatus, 0);
    const std::string text = "File open failed! Given filename: [" + missing + "] (No such file or directory)";
    EXPECT_TRUE(contains(run.err, text)) << run.err;
    EXPECT_TRUE(contains(messagesOf(dir.file("ctl_out.bin")).errors, text));
}

TEST(CaptureOutcome, UnreadableAndEmptyReplayFilesSayWhy) {
    if (geteuid() == 0 && access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv not installed";
    replaytest::TempDir dir;
    chmod(dir.path().c_str(), 0777);
    const std::string empty = dir.file("empty.pcapng");
    replaytest::writeFile(empty, "");
    ProcessResult run = runProcess(replayArgs(dir, empty));
    EXPECT_NE(run.exitStatus, 0);
    EXPECT_TRUE(contains(run.err, "Given filename: [" + empty + "] (the file is empty)")) << run.err;

    // Root reads any file: the unreadable file is read by an unprivileged user,
    // who may create the control files and the output afresh.
    for (const char *name : {"in.txt", "ctl_out.bin", "out.pcapng"}) unlink(dir.file(name).c_str());
    const std::string locked = dir.file("locked.pcapng");
    replaytest::writeFile(locked, std::string(64, '\0'));
    chmod(locked.c_str(), 0000);
    const std::string copy = dir.file("sentra_extcap");
    std::string output;
    ASSERT_EQ(replaytest::runProgram({"/bin/cp", extcapPath(), copy}, &output), 0) << output;
    chmod(copy.c_str(), 0755);
    std::vector<std::string> argv = replayArgs(dir, locked);
    argv[0] = copy;
    if (geteuid() == 0)
        argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    run = runProcess(argv);
    EXPECT_NE(run.exitStatus, 0);
    EXPECT_TRUE(contains(run.err, "Given filename: [" + locked + "] (Permission denied)")) << run.err;
}

TEST(CaptureOutcome, PlainCaptureWithoutDumpFramesSaysSo) {
    if (sharedCaptures().empty()) GTEST_SKIP() << "shared captures not found";
    replaytest::TempDir dir;
    // A POWERLINK capture as any card records it: no analyzer dump frames.
    const std::string plain = sharedCaptures() + "/powerlink_1cn_boot.pcapng";
    const ProcessResult run = runProcess(replayArgs(dir, plain));
    EXPECT_NE(run.exitStatus, 0);
    EXPECT_TRUE(contains(run.err, "holds no Q40TA5521 dump frames")) << run.err;
    const Messages messages = messagesOf(dir.file("ctl_out.bin"));
    EXPECT_TRUE(contains(messages.errors, "Capture file [" + plain + "] holds no Q40TA5521 dump frames"))
        << messages.errors;
    EXPECT_TRUE(contains(messages.log, "Capture stopped"));
}

TEST(CaptureOutcome, ReplayThatRanEndsWithStatusZeroAndNothingOnStandardError) {
    replaytest::TempDir dir;
    const std::string raw = rawBoot(dir, {"--records=8"});
    if (raw.empty()) GTEST_SKIP() << "shared captures not found";
    const ProcessResult run = runProcess(replayArgs(dir, raw));
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, "");
    // Without the option the post-trigger time is the dialog's default.
    EXPECT_TRUE(contains(messagesOf(dir.file("ctl_out.bin")).log, "Posttrigger time=200ms"));
}

TEST(CaptureOutcome, DumpFramesLongerThanASlotAreReplayedWhole) {
    replaytest::TempDir dir;
    // Dump frames of up to 2048 bytes, as the analyzer may send them.
    const std::string raw = rawBoot(dir, {"--records=32", "--max-dump-bytes=2048"});
    if (raw.empty()) GTEST_SKIP() << "shared captures not found";
    // The packing must really hold frames longer than a slot (1536 bytes), up
    // to the analyzer's longest (2048 bytes).
    const std::vector<replaytest::InputFrame> dumps = replaytest::readCapture(raw);
    size_t longDumps = 0;
    for (const auto &dump : dumps) longDumps += dump.data.size() > 1536 && dump.data.size() <= 2048;
    ASSERT_GT(longDumps, 10u);

    const ProcessResult run = runProcess(replayArgs(dir, raw));
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    std::vector<replaytest::Packet> packets;
    ASSERT_TRUE(replaytest::parsePcapng(replaytest::readFile(dir.file("out.pcapng")), &packets));
    const auto frames = replaytest::readCapture(sharedCaptures() + "/powerlink_1cn_boot.pcapng");
    ASSERT_EQ(packets.size(), frames.size());
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(packets[i].flags & kFrameCutFlag, 0u) << "packet " << i + 1;
        EXPECT_EQ(packets[i].data, frames[i].data) << "packet " << i + 1;
    }
}

TEST(CaptureOutcome, SingleShotReplayWithoutTriggerEndsWithOneClearLine) {
    replaytest::TempDir dir;
    const std::string raw = rawBoot(dir, {"--records=8"});
    if (raw.empty()) GTEST_SKIP() << "shared captures not found";
    const ProcessResult run = runProcess(replayArgs(dir, raw, "singleshot"));
    EXPECT_EQ(run.exitStatus, 0);
    const Messages messages = messagesOf(dir.file("ctl_out.bin"));
    const std::string line =
        "End of capture file reached in Single Shot mode without a trigger: nothing was written. Use Live Capture, a "
        "trigger, or Force Trigger.";
    EXPECT_TRUE(contains(messages.log, line)) << messages.log;
    EXPECT_TRUE(contains(messages.warnings, line)) << messages.warnings;
    std::vector<replaytest::Packet> packets;
    EXPECT_TRUE(replaytest::parsePcapng(replaytest::readFile(dir.file("out.pcapng")), &packets));
    EXPECT_TRUE(packets.empty());
}

TEST(CaptureOutcome, SecondRunInTheSameFolderIsRefusedAndLeavesTheFirstRunsFilesAlone) {
    replaytest::TempDir dir;
    const std::string raw = rawBoot(dir, {"--records=8"});
    if (raw.empty()) GTEST_SKIP() << "shared captures not found";
    // The first run holds its default control files while it waits for the
    // reader of a FIFO that nobody opens.
    const std::string fifo = dir.file("held.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<std::string> first = {extcapPath(),    "--capture",   "--extcap-interface",  "sentra_ta5521_file",
                                            "--capturemode", "livecapture", "--ta5521capturefile", raw,
                                            "--fifo",        fifo};
    ChildProcess holder = startProcess(first, dir.path());
    const std::string log = dir.file("sentra_tbOut.txt");
    for (int i = 0; i < 500 && !contains(replaytest::readFile(log), "extcap egine V4.2.1"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::string heldLog = replaytest::readFile(log);
    ASSERT_TRUE(contains(heldLog, "extcap egine V4.2.1"));

    const ProcessResult second = runProcess({extcapPath(), "--capture", "--extcap-interface", "sentra_ta5521_file",
                                             "--capturemode", "livecapture", "--ta5521capturefile", raw},
                                            {}, dir.path());
    EXPECT_NE(second.exitStatus, 0);
    EXPECT_TRUE(contains(second.err, "cannot create file [sentra_tbIn.txt]: it is in use by another capture"))
        << second.err;
    EXPECT_EQ(replaytest::readFile(log), heldLog);

    kill(holder.pid, SIGTERM);
    holder.finish();
}

TEST(CaptureOutcome, UnwritableWorkingFolderIsReportedOnStandardError) {
    if (geteuid() == 0 && access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv not installed";
    replaytest::TempDir dir;
    const std::string raw = rawBoot(dir, {"--records=8"});
    if (raw.empty()) GTEST_SKIP() << "shared captures not found";
    chmod(raw.c_str(), 0644);
    const std::string copy = dir.file("sentra_extcap");
    std::string output;
    ASSERT_EQ(replaytest::runProgram({"/bin/cp", extcapPath(), copy}, &output), 0) << output;
    chmod(copy.c_str(), 0755);
    // The folder is root's and 0755: the unprivileged user may not create the
    // default control files in it.
    std::vector<std::string> argv = {copy,
                                     "--capture",
                                     "--extcap-interface",
                                     "sentra_ta5521_file",
                                     "--capturemode",
                                     "livecapture",
                                     "--ta5521capturefile",
                                     raw,
                                     "--fifo",
                                     "/dev/null"};
    if (geteuid() == 0)
        argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    else
        chmod(dir.path().c_str(), 0555);
    const ProcessResult run = runProcess(argv, {}, dir.path());
    chmod(dir.path().c_str(), 0755);
    EXPECT_NE(run.exitStatus, 0);
    EXPECT_TRUE(contains(run.err, "cannot create file [sentra_tbIn.txt]: Permission denied")) << run.err;
}

namespace {

// Reads a FIFO at a fixed rate until its writer has gone, as a slow consumer.
class SlowReader {
public:
    SlowReader(const std::string &path, double bytesPerSecond) {
        thread_ = std::thread([this, path, bytesPerSecond] {
            const int fd = open(path.c_str(), O_RDONLY);
            if (fd < 0) return;
            const auto begin = std::chrono::steady_clock::now();
            char chunk[8192];
            ssize_t got;
            while ((got = read(fd, chunk, sizeof chunk)) > 0) {
                bytes_.append(chunk, static_cast<size_t>(got));
                const auto due = begin + std::chrono::duration<double>(bytes_.size() / bytesPerSecond);
                std::this_thread::sleep_until(due);
            }
            close(fd);
        });
    }
    std::string finish() {
        thread_.join();
        return bytes_;
    }

private:
    std::thread thread_;
    std::string bytes_;
};

}  // namespace

TEST(CaptureOutcome, StopWhileTheFifoIsBackedUpLeavesWholeBlocksAndSaysCaptureStopped) {
    replaytest::TempDir dir;
    // About 8 MB of pcapng: far more than a 2 MB/s reader takes in a second.
    const std::string raw = rawBoot(dir, {"--records=8", "--repeat=100"});
    if (raw.empty()) GTEST_SKIP() << "shared captures not found";
    const std::string fifo = dir.file("capture.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    SlowReader reader(fifo, 2e6);
    std::vector<std::string> argv = replayArgs(dir, raw);
    argv[7] = fifo;
    ChildProcess capture = startProcess(argv);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const auto stopAt = std::chrono::steady_clock::now();
    kill(capture.pid, SIGTERM);
    const ProcessResult run = capture.finish();
    const double stopSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - stopAt).count();
    const std::string stream = reader.finish();

    // Ended by itself within the signal's grace time: the watchdog that ends
    // it after the grace time exits with 255.
    EXPECT_EQ(run.exitStatus, 0) << "after " << stopSeconds << " s";
    EXPECT_TRUE(contains(messagesOf(dir.file("ctl_out.bin")).log, "Capture stopped"));
    std::vector<replaytest::Packet> packets;
    EXPECT_TRUE(replaytest::parsePcapng(stream, &packets)) << stream.size() << " bytes";
    EXPECT_GT(packets.size(), 1000u);
    // capinfos reads the file whole.
    if (access("/usr/bin/capinfos", X_OK) == 0) {
        replaytest::writeFile(dir.file("read.pcapng"), stream);
        std::string info;
        EXPECT_EQ(replaytest::runProgram({"/usr/bin/capinfos", "-c", "-M", dir.file("read.pcapng")}, &info), 0) << info;
        EXPECT_FALSE(contains(info, "cut short")) << info;
        EXPECT_TRUE(contains(info, std::to_string(packets.size()))) << info;
    }
}
