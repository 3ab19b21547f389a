// Replay throughput of sentra_extcap in live mode on a large simulated raw
// file: records/s and MB/s of the whole capture (start-up cost of an empty
// replay subtracted), beside editcap copying the same file, and the peak
// resident memory against the capture buffer's pool. Then the start-up of an
// empty single-shot replay with the smallest and the largest capture buffer,
// and a real capture looped to at least 400k frames (the robot capture
// beside the source tree), replayed end to end against editcap copying the
// same raw file.
//
// Each figure is the best of three runs.
// Usage: replay_bench [records (default 2000000)] [records per dump (default 16)]
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr double kPoolBytes = (327680.0 + 1024.0) * 1576.0;  // live capture: N = 327680 plus 1024 spare slots
constexpr int kSampleFrames = 400;

struct Run {
    double seconds;
    long peakKiB;
    int status;
};

Run run(const std::vector<std::string> &argv) {
    const auto begin = std::chrono::steady_clock::now();
    // The child's freopen would write out what the parent still buffers.
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "r", stdin);
        std::vector<char *> args;
        for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    return Run{seconds, usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

long fileSize(const std::string &path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : 0;
}

Run replay(const std::string &dir, const std::string &raw,
           const std::vector<std::string> &extra = {"--capturemode", "livecapture"}) {
    std::vector<std::string> argv = {SENTRA_EXTCAP_PATH,
                                     "--capture",
                                     "--extcap-interface",
                                     "sentra_ta5521_file",
                                     "--ta5521capturefile",
                                     raw,
                                     "--fifo",
                                     dir + "/out.pcapng",
                                     "--extcap-control-in",
                                     dir + "/in.txt",
                                     "--extcap-control-out",
                                     dir + "/out.log",
                                     "--standalone"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return run(argv);
}

Run best(Run a, const Run &b) { return b.seconds < a.seconds ? b : a; }

// Start-up and teardown of a single-shot replay of a tiny file (nothing is
// written without a trigger) with the given capture buffer size.
void startUpFigures(const std::string &dir, const std::string &tiny) {
    for (const char *size : {"262144", "4194304"}) {
        const std::vector<std::string> extra = {"--capturemode", "singleshot", "--capturebuffersize", size};
        Run r = replay(dir, tiny, extra);
        for (int i = 1; i < 3; ++i) r = best(r, replay(dir, tiny, extra));
        std::printf("start-up and teardown, capture buffer size %s: %.3f s, peak RSS %.1f MiB, exit %d\n", size,
                    r.seconds, r.peakKiB / 1024.0, r.status);
    }
}

// The robot capture looped to at least 400k frames and packed as the
// analyzer would send it, replayed end to end beside editcap's copy.
void realCaptureFigures(const std::string &dir) {
    const std::string robot = std::string(SENTRA_SHARED_CAPTURES) + "/powerlink_robot_with_iperf.pcapng.gz";
    struct stat info {};
    if (stat(robot.c_str(), &info) != 0) {
        std::printf("real capture: %s not found, skipped\n", robot.c_str());
        return;
    }
    const std::string looped = dir + "/robot_loop.pcapng", raw = dir + "/robot_raw.pcapng";
    const std::string script = ". '" + std::string(LOOP_CAPTURE_SH) + "' && zcat '" + robot + "' > '" + dir +
                               "/robot.pcapng' && mkdir -p '" + dir + "/parts' && loop_capture '" + dir +
                               "/robot.pcapng' '" + looped + "' 400000 '" + dir + "/parts'";
    if (run({"/bin/sh", "-c", script}).status != 0 || run({TA5521_SIM_PATH, "--quiet", looped, raw}).status != 0) {
        std::fprintf(stderr, "replay_bench: looping or packing the robot capture failed\n");
        return;
    }
    Run full = replay(dir, raw), edit = run({"/usr/bin/editcap", raw, dir + "/copy.pcapng"});
    for (int i = 1; i < 3; ++i) {
        full = best(full, replay(dir, raw));
        edit = best(edit, run({"/usr/bin/editcap", raw, dir + "/copy.pcapng"}));
    }
    std::string frames;
    FILE *count = popen(("capinfos -c -M '" + dir + "/out.pcapng' | sed -n 's/^Number of packets: *//p'").c_str(), "r");
    char line[64] = "";
    if (count && std::fgets(line, sizeof line, count)) frames = line;
    if (count) pclose(count);
    while (!frames.empty() && (frames.back() == '\n' || frames.back() == ' ')) frames.pop_back();
    std::printf("real capture looped: %s frames written from %.1f MB of dump frames\n", frames.c_str(),
                fileSize(raw) / 1e6);
    std::printf("  sentra_extcap live replay end to end: %.3f s (exit %d, peak RSS %.1f MiB); editcap copy: %.3f s\n",
                full.seconds, full.status, full.peakKiB / 1024.0, edit.seconds);
    std::printf("  ratio: sentra_extcap / editcap = %.2f (target <= 1.0)\n", full.seconds / edit.seconds);
}

}  // namespace

int main(int argc, char **argv) {
    const long records = argc > 1 ? std::atol(argv[1]) : 2000000;
    const std::string perDump = argc > 2 ? argv[2] : "16";
    char pattern[] = "/tmp/replay_bench_XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::string dir = pattern;
    const std::string big = dir + "/big.pcapng", tiny = dir + "/tiny.pcapng";
    const long repeats = (records + kSampleFrames - 1) / kSampleFrames;
    if (run({TA5521_SIM_PATH, "--quiet", "--records=" + perDump, "--repeat=" + std::to_string(repeats), SENTRA_SAMPLE,
             big})
                .status != 0 ||
        run({TA5521_SIM_PATH, "--quiet", "--records=" + perDump, SENTRA_SAMPLE, tiny}).status != 0) {
        std::fprintf(stderr, "replay_bench: ta5521_sim failed\n");
        return 1;
    }
    const long totalRecords = repeats * kSampleFrames;
    const double rawMB = fileSize(big) / 1e6;

    // Best of three runs each: the machine may be shared.
    Run startUp = replay(dir, tiny), full = replay(dir, big),
        edit = run({"/usr/bin/editcap", big, dir + "/copy.pcapng"});
    for (int i = 1; i < 3; ++i) {
        startUp = best(startUp, replay(dir, tiny));
        full = best(full, replay(dir, big));
        edit = best(edit, run({"/usr/bin/editcap", big, dir + "/copy.pcapng"}));
    }
    const double replaySeconds = full.seconds - startUp.seconds;
    const long outBytes = fileSize(dir + "/out.pcapng");
    const long dumpFrames = (totalRecords + std::atol(perDump.c_str()) - 1) / std::atol(perDump.c_str());

    std::printf("raw file: %ld records in %ld dump frames, %.1f MB\n", totalRecords, dumpFrames, rawMB);
    std::printf(
        "sentra_extcap live replay: %.3f s (start-up and teardown %.3f s subtracted), exit %d, output %.1f MB\n",
        replaySeconds, startUp.seconds, full.status, outBytes / 1e6);
    std::printf("  %.0f records/s, %.1f MB/s of raw file (target >= 3000000 records/s)\n", totalRecords / replaySeconds,
                rawMB / replaySeconds);
    std::printf("editcap copy of the same file: %.3f s, %.0f frames/s, %.1f MB/s, exit %d\n", edit.seconds,
                dumpFrames / edit.seconds, rawMB / edit.seconds, edit.status);
    std::printf("  ratio: sentra_extcap records/s / editcap frames/s = %.2f (target >= 1)\n",
                (totalRecords / replaySeconds) / (dumpFrames / edit.seconds));
    std::printf("peak RSS %.1f MiB, pool %.1f MiB, RSS - pool = %.1f MiB (target <= 16 MiB)\n", full.peakKiB / 1024.0,
                kPoolBytes / 1048576.0, full.peakKiB / 1024.0 - kPoolBytes / 1048576.0);
    startUpFigures(dir, tiny);
    realCaptureFigures(dir);
    std::string command = "rm -rf '" + dir + "'";
    return std::system(command.c_str()) == 0 && full.status == 0 ? 0 : 1;
}
