// Bad replay input ends the run with the engine's message and exit status 1:
// no hang, no crash.
#include <gtest/gtest.h>

#include <chrono>

#include "replay_harness.h"

using namespace replaytest;

namespace {

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

struct FileRun {
    int status;
    std::string log;     // framed log lines
    std::string errors;  // error messages
    std::string status_;
    std::vector<Packet> packets;
    bool valid;
};

// A run by hand with default-style files (no FIFOs): control-out is a regular file.
FileRun replayFile(const TempDir &dir, const std::string &captureFile, const std::vector<std::string> &extra = {}) {
    std::vector<std::string> argv = {extcapPath(),
                                     "--capture",
                                     "--extcap-interface",
                                     "sentra_ta5521_file",
                                     "--capturemode",
                                     "livecapture",
                                     "--fifo",
                                     dir.file("out.pcapng"),
                                     "--extcap-control-in",
                                     dir.file("in.txt"),
                                     "--extcap-control-out",
                                     dir.file("ctl_out.bin"),
                                     "--ta5521capturefile",
                                     captureFile};
    argv.insert(argv.end(), extra.begin(), extra.end());
    std::string console;
    FileRun run{};
    run.status = runProgram(argv, &console, 30000);
    const auto messages = parseControlStream(readFile(dir.file("ctl_out.bin")));
    run.log = controlTexts(messages, 1, 1) + controlTexts(messages, 1, 2);
    run.errors = controlTexts(messages, 0, 9);
    run.valid = parsePcapng(readFile(dir.file("out.pcapng")), &run.packets);
    return run;
}

std::string rawBoot(const TempDir &dir, const std::vector<std::string> &args = {"--records=4"}) {
    const std::string raw = dir.file("raw.pcapng");
    if (sharedCaptures().empty() || !simulate(sharedCaptures() + "/powerlink_1cn_boot.pcapng", raw, args)) return "";
    return raw;
}

// Little-endian 32-bit value at `at`.
uint32_t le32(const std::string &b, size_t at) {
    return static_cast<uint8_t>(b[at]) | (static_cast<uint8_t>(b[at + 1]) << 8) |
           (static_cast<uint8_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24);
}
// Offset of the n-th block (0 = section header).
size_t blockOffset(const std::string &file, int n) {
    size_t at = 0;
    for (int i = 0; i < n; ++i) at += le32(file, at + 4);
    return at;
}

}  // namespace

TEST(BadInput, MissingFileNoDotAndEmptyFileFailToOpen) {
    TempDir dir;
    writeFile(dir.file("empty.pcapng"), "");
    writeFile(dir.file("nodot"), "x");
    for (const std::string &path : {dir.file("missing.pcapng"), dir.file("nodot"), dir.file("empty.pcapng")}) {
        const FileRun run = replayFile(dir, path);
        EXPECT_EQ(run.status, 1) << path;
        EXPECT_TRUE(contains(run.errors, "File open failed! Given filename: [" + path + "]")) << path << run.errors;
        // The banner and the pcapng header come before the file is opened.
        EXPECT_TRUE(contains(run.log, "extcap egine V4.2.1")) << run.log;
        EXPECT_TRUE(run.valid);
        EXPECT_TRUE(run.packets.empty());
    }
}

TEST(BadInput, ExtensionMustNamePcapngAfterTheLastDot) {
    TempDir dir;
    for (const char *name : {"capture.pcap", "trace.pcapng.bak"}) {
        const std::string path = dir.file(name);
        writeFile(path, std::string(4096, '\0'));
        const FileRun run = replayFile(dir, path);
        EXPECT_EQ(run.status, 1);
        const std::string extension = std::string(name).substr(std::string(name).rfind('.'));
        EXPECT_TRUE(
            contains(run.errors, "File type [" + extension + "] of given capture file [" + path + "] not supported."))
            << run.errors;
    }
}

TEST(BadInput, FilesThatAreNoPcapngFailTheStartSilently) {
    if (sharedCaptures().empty()) GTEST_SKIP() << "shared captures not found";
    TempDir dir;
    std::string pcap;
    ASSERT_EQ(
        runProgram({"/bin/cp", "--", sharedCaptures() + "/powerlink_example.pcap", dir.file("classic.pcapng")}, &pcap),
        0);
    writeFile(dir.file("text.pcapng"), std::string(3000, 'x'));
    writeFile(dir.file("short.pcapng"), readFile(rawBoot(dir)).substr(0, 700));  // below the 1024-byte window
    for (const char *name : {"classic.pcapng", "text.pcapng", "short.pcapng"}) {
        const FileRun run = replayFile(dir, dir.file(name));
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_FALSE(contains(run.log, "File open succeeded")) << name;
        EXPECT_FALSE(contains(run.log, "Capture started")) << name;
        EXPECT_TRUE(run.packets.empty());
    }
}

TEST(BadInput, CaptureOfOtherFramesEndsWithoutPackets) {
    if (sharedCaptures().empty()) GTEST_SKIP() << "shared captures not found";
    TempDir dir;
    // POWERLINK over UDP 3819, but SDO (service 5), not dump frames; and a plain Ethernet capture.
    std::string output;
    ASSERT_EQ(runProgram({"/usr/bin/editcap", "-F", "pcapng", sharedCaptures() + "/powerlink_sdo_udp.pcap",
                          dir.file("sdo_udp.pcapng")},
                         &output),
              0)
        << output;
    for (const std::string &path : {dir.file("sdo_udp.pcapng"), sharedCaptures() + "/powerlink_1cn_boot.pcapng"}) {
        const auto begin = std::chrono::steady_clock::now();
        const FileRun run = replayFile(dir, path);
        EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(contains(run.log, "File open succeeded")) << run.log;
        EXPECT_TRUE(contains(run.log, "Capture stopped")) << run.log;
        EXPECT_FALSE(contains(run.log, "deteced successfully")) << run.log;
        EXPECT_TRUE(run.valid);
        EXPECT_TRUE(run.packets.empty());
    }
}

TEST(BadInput, TruncatedFileEndsTheReplayWithAMessageKeepingWhatCameBefore) {
    TempDir dir;
    const std::string raw = rawBoot(dir);
    if (raw.empty()) GTEST_SKIP() << "shared captures not found";
    const std::string file = readFile(raw);
    // Cut in the middle of the 11th dump frame (block 12): ten dumps of four records remain whole.
    const size_t cut = blockOffset(file, 12) + 100;
    writeFile(dir.file("cut.pcapng"), file.substr(0, cut));
    const FileRun run = replayFile(dir, dir.file("cut.pcapng"));
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.errors, "is damaged at offset " + std::to_string(blockOffset(file, 12)))) << run.errors;
    EXPECT_TRUE(run.valid);
    EXPECT_EQ(run.packets.size(), 40u);
}

TEST(BadInput, CorruptBlockLengthsEndTheReplayInsteadOfSpinning) {
    TempDir dir;
    const std::string raw = rawBoot(dir);
    if (raw.empty()) GTEST_SKIP() << "shared captures not found";
    const std::string file = readFile(raw);
    const size_t block = blockOffset(file, 7);  // the 6th dump frame
    struct Damage {
        const char *name;
        size_t offset;
        uint32_t value;
    };
    const uint32_t length = le32(file, block + 4);
    for (const Damage &d : {Damage{"trailing length", block + length - 4, length + 4},
                            Damage{"length beyond the file", block + 4, 0x7FFFFFF0u},
                            Damage{"length not a multiple of four", block + 4, length + 2},
                            Damage{"length below a block", block + 4, 8}}) {
        std::string damaged = file;
        for (int i = 0; i < 4; ++i) damaged[d.offset + i] = static_cast<char>(d.value >> (8 * i));
        writeFile(dir.file("damaged.pcapng"), damaged);
        const auto begin = std::chrono::steady_clock::now();
        const FileRun run = replayFile(dir, dir.file("damaged.pcapng"));
        EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10)) << d.name;
        EXPECT_EQ(run.status, 1) << d.name;
        EXPECT_TRUE(contains(run.errors, "is damaged at offset " + std::to_string(block)))
            << d.name << ": " << run.errors;
        EXPECT_TRUE(contains(run.log, "Capture stopped")) << d.name;
        EXPECT_EQ(run.packets.size(), 20u) << d.name;
    }
}

TEST(BadInput, UnknownInterfaceNameEndsWithMinusOneAndFileKindNeedsNoExactName) {
    TempDir dir;
    std::string output;
    EXPECT_EQ(
        runProgram({extcapPath(), "--capture", "--extcap-interface", "foo", "--fifo", dir.file("o.pcapng")}, &output),
        255);
    const std::string raw = rawBoot(dir);
    if (raw.empty()) GTEST_SKIP() << "shared captures not found";
    const FileRun run = replayFile(dir, raw, {"--extcap-interface", "xsentra_ta5521_filex"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.packets.size(), 834u);
}
