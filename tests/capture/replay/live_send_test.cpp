// The simulator's live mode puts the dump frames on a real link: a veth pair
// inside a network namespace of this test, received by Wireshark's dumpcap.
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "replay_harness.h"

using namespace replaytest;

namespace {

class LiveSend : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "needs root for a network namespace";
        if (access("/usr/sbin/ip", X_OK) != 0 || access("/usr/bin/dumpcap", X_OK) != 0)
            GTEST_SKIP() << "ip or dumpcap missing";
        if (sharedCaptures().empty()) GTEST_SKIP() << "shared captures not found";
        namespace_ = "sentra_sim_" + std::to_string(getpid());
        std::string output;
        if (ip({"netns", "add", namespace_}) != 0) GTEST_SKIP() << "network namespaces not available here";
        created_ = true;
        ASSERT_EQ(inNamespace({"/usr/sbin/ip", "link", "add", "sima", "type", "veth", "peer", "name", "simb"}, &output),
                  0)
            << output;
        ASSERT_EQ(inNamespace({"/usr/sbin/ip", "link", "set", "sima", "up"}, &output), 0) << output;
        ASSERT_EQ(inNamespace({"/usr/sbin/ip", "link", "set", "simb", "up"}, &output), 0) << output;
    }
    void TearDown() override {
        if (created_) ip({"netns", "del", namespace_});
    }

    int ip(const std::vector<std::string> &args) {
        std::vector<std::string> argv = {"/usr/sbin/ip"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string output;
        return runProgram(argv, &output);
    }
    std::vector<std::string> namespaced(const std::vector<std::string> &command) {
        std::vector<std::string> argv = {"/usr/sbin/ip", "netns", "exec", namespace_};
        argv.insert(argv.end(), command.begin(), command.end());
        return argv;
    }
    int inNamespace(const std::vector<std::string> &command, std::string *output) {
        return runProgram(namespaced(command), output);
    }

    TempDir dir_;
    std::string namespace_;
    bool created_ = false;
};

}  // namespace

TEST_F(LiveSend, DumpFramesArriveOnTheLinkExactlyAsWrittenToTheFile) {
    const std::string received = dir_.file("received.pcapng"), sent = dir_.file("sent.pcapng");
    const std::string log = dir_.file("dumpcap.txt");
    Process dumpcap(
        namespaced({"/usr/bin/dumpcap", "-q", "-i", "simb", "-f", "udp port 3819", "-c", "53", "-w", received}), log);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (readFile(log).find("Capturing on") == std::string::npos && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::string output;
    ASSERT_EQ(inNamespace({simulatorPath(), "--send=sima", "--speed=0", "--records=16",
                           sharedCaptures() + "/powerlink_1cn_boot.pcapng", sent},
                          &output),
              0)
        << output;
    EXPECT_NE(output.find("53 dump frames"), std::string::npos) << output;
    ASSERT_EQ(dumpcap.wait(20000), 0) << readFile(log);

    std::vector<Packet> onLink, inFile;
    ASSERT_TRUE(parsePcapng(readFile(received), &onLink));
    ASSERT_TRUE(parsePcapng(readFile(sent), &inFile));
    ASSERT_EQ(onLink.size(), 53u);
    ASSERT_EQ(inFile.size(), 53u);
    for (size_t i = 0; i < onLink.size(); ++i) EXPECT_EQ(onLink[i].data, inFile[i].data) << "dump frame " << i + 1;

    // What arrived is a replayable capture of the analyzer: all 834 frames come back.
    const ReplayResult replay = replayWithFifos(dir_, received, {});
    EXPECT_EQ(replay.status, 0);
    EXPECT_EQ(replay.packets.size(), 834u);
}
