// Live captures whose cards fail: the selected card goes away in the middle
// of a capture (a USB card pulled out), or no card can be opened at all (no
// capture rights). Either way the engine says why and ends.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "live_net.h"

using namespace livetest;
using replaytest::Process;
using replaytest::TempDir;

namespace {

constexpr char kCollisions[] = "powerlink_1cn_collisions.pcapng";  // 2680 frames, 61 s

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class CardFailure : public ::testing::Test {
 protected:
  void build(int cards) {
    if (replaytest::sharedCaptures().empty()) GTEST_SKIP() << "shared captures not found";
    net_.reset(new LiveNet(cards));
    if (!net_->namespacesAvailable()) GTEST_SKIP() << net_->why();
    ASSERT_TRUE(net_->ok()) << net_->why();
  }
  TempDir dir_;
  std::unique_ptr<LiveNet> net_;
};

}  // namespace

TEST_F(CardFailure, SelectedCardThatDisappearsEndsTheCaptureWithTheReason) {
  build(2);
  LiveCapture capture(*net_, dir_, {"--ta5521hwnode", "3"});
  ASSERT_TRUE(capture.waitForControlText("Capture started", 20000));
  Process sim(simulatorArgs(*net_, 2, 3, replaytest::sharedCaptures() + "/" + kCollisions, {"--speed=5"},
                            dir_.file("sent.pcapng")),
              dir_.file("sim.txt"));
  ASSERT_TRUE(capture.waitForPackets(100, 10000));

  std::string output;
  ASSERT_EQ(replaytest::runProgram(net_->inEngineSide({"/usr/sbin/ip", "link", "del", "nic2"}), &output), 0) << output;
  // The capture ends by itself instead of waiting for the card for ever.
  EXPECT_EQ(capture.wait(10000), 1);
  sim.signal(SIGTERM);
  sim.wait(5000);

  const std::string reason = "NIC nic2 of Q40TA5521 (3) is no longer available; the capture ends.";
  const std::string console = replaytest::readFile(dir_.file("live_console.txt"));
  EXPECT_TRUE(contains(console, "sentra_extcap: " + reason)) << console;
  EXPECT_TRUE(contains(replaytest::controlTexts(capture.messages(), 0, 9), reason));
  const std::string log = capture.logText();
  EXPECT_TRUE(contains(log, "Pcap read failed!\n NIC: nic2")) << log;
  EXPECT_TRUE(contains(log, "Capture stopped")) << log;
  // What came before is written, whole.
  const std::vector<Packet> packets = capture.packets();
  EXPECT_GE(packets.size(), 100u);
  std::vector<Packet> parsed;
  EXPECT_TRUE(replaytest::parsePcapng(capture.pcapngBytes(), &parsed));
}

TEST_F(CardFailure, WithoutCaptureRightsOnAnyCardTheCaptureEndsWithTheReason) {
  if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv not installed";
  build(2);
  chmod(dir_.path().c_str(), 0777);
  const std::string copy = dir_.file("sentra_extcap");
  std::string output;
  ASSERT_EQ(replaytest::runProgram({"/bin/cp", replaytest::extcapPath(), copy}, &output), 0) << output;
  chmod(copy.c_str(), 0755);
  // An unprivileged user: every card refuses to capture.
  const std::vector<std::string> command = {
      "/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--inh-caps=-all", copy, "--capture",
      "--extcap-interface", "sentra_ta5521_hwif", "--fifo", dir_.file("out.pcapng"), "--extcap-control-in",
      dir_.file("in.txt"), "--extcap-control-out", dir_.file("out.bin")};
  const int status = replaytest::runProgram(net_->inEngineSide(command), &output, 15000);
  EXPECT_EQ(status, 1) << output;
  EXPECT_TRUE(contains(output, "sentra_extcap: No network card can be opened to search for Q40TA5521.")) << output;
  EXPECT_TRUE(contains(output, "permission")) << output;
  const auto messages = replaytest::parseControlStream(replaytest::readFile(dir_.file("out.bin")));
  EXPECT_TRUE(contains(replaytest::controlTexts(messages, 0, 9), "No network card can be opened"));
}
