// Real Wireshark drives the program: tshark, run as an unprivileged user with
// WIRESHARK_EXTCAP_DIR pointing at a copy of sentra_extcap, lists both
// interfaces and captures a replay through the extcap preferences it derives.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sstream>

#include "replay_harness.h"

using namespace replaytest;

namespace {

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

class RealWireshark : public ::testing::Test {
protected:
    void SetUp() override {
        if (access("/usr/bin/tshark", X_OK) != 0) GTEST_SKIP() << "tshark not installed";
        // Root's tshark ignores WIRESHARK_EXTCAP_DIR: run it as nobody when we can.
        if (geteuid() == 0) {
            if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv not installed";
            prefix_ = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        }
        extcapDir_ = dir_.file("extcap");
        mkdir(extcapDir_.c_str(), 0755);
        std::string output;
        ASSERT_EQ(runProgram({"/bin/cp", extcapPath(), extcapDir_ + "/sentra_extcap"}, &output), 0) << output;
        chmod((extcapDir_ + "/sentra_extcap").c_str(), 0755);
        chmod(dir_.path().c_str(), 0777);  // tshark's working files and the default control files
    }

    int tshark(const std::vector<std::string> &args, std::string *output, int timeoutMs = 60000) {
        std::vector<std::string> argv = prefix_;
        argv.insert(argv.end(), {"/usr/bin/env", "HOME=" + dir_.path(), "WIRESHARK_EXTCAP_DIR=" + extcapDir_,
                                 "XDG_CONFIG_HOME=" + dir_.path(), "/usr/bin/tshark"});
        argv.insert(argv.end(), args.begin(), args.end());
        // The unprivileged user needs a working directory it may write.
        const std::string cwd = dir_.path();
        std::vector<std::string> shell = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", cwd};
        shell.insert(shell.end(), argv.begin(), argv.end());
        return runProgram(shell, output, timeoutMs);
    }

    TempDir dir_;
    std::string extcapDir_;
    std::vector<std::string> prefix_;
};

}  // namespace

TEST_F(RealWireshark, ListsBothInterfaces) {
    std::string output;
    ASSERT_EQ(tshark({"-D"}, &output), 0) << output;
    EXPECT_TRUE(contains(output, "sentra_ta5521_hwif (Q40TA5521 on auto - detect NIC)")) << output;
    EXPECT_TRUE(contains(output, "sentra_ta5521_file (Q40TA5521 on previous captured file)")) << output;
}

TEST_F(RealWireshark, DerivesTheReplayPreferencesFromTheConfigurationDialog) {
    std::string output;
    ASSERT_EQ(tshark({"-G", "currentprefs"}, &output), 0);
    for (const char *pref :
         {"extcap.sentra_ta5521_file.ta5521capturefile:", "extcap.sentra_ta5521_file.capturemode:",
          "extcap.sentra_ta5521_file.ta5521posttriggertime: 200", "extcap.sentra_ta5521_file.ta5521capturetrigger:"})
        EXPECT_TRUE(contains(output, pref)) << pref;
}

TEST_F(RealWireshark, CapturesAReplayedFileThroughTheFileInterface) {
    if (sharedCaptures().empty()) GTEST_SKIP() << "shared captures not found";
    const std::string raw = dir_.file("raw.pcapng");
    std::string output;
    ASSERT_TRUE(simulate(sharedCaptures() + "/powerlink_1cn_boot.pcapng", raw, {"--ports=mac", "--records=8"}, &output))
        << output;
    chmod(raw.c_str(), 0644);
    const std::string out = dir_.file("tshark_out.pcapng");
    const int status = tshark({"-i", "sentra_ta5521_file", "-o", "extcap.sentra_ta5521_file.ta5521capturefile:" + raw,
                               "-o", "extcap.sentra_ta5521_file.capturemode:livecapture", "-w", out},
                              &output);
    EXPECT_EQ(status, 0) << output;
    EXPECT_TRUE(contains(output, "834 packets captured")) << output;

    // Read back with Wireshark's own dissectors: POWERLINK frames, both directions.
    ASSERT_EQ(tshark({"-r", out, "-T", "fields", "-e", "frame.interface_name", "-e", "epl.mtyp", "-e",
                      "frame.packet_flags_direction"},
                     &output),
              0);
    // Only the field rows: tshark's own notes start otherwise.
    std::string table;
    std::istringstream all(output);
    for (std::string row; std::getline(all, row);)
        if (row.rfind("Q40TA5521", 0) == 0 || row.find('\t') != std::string::npos) table += row + "\n";
    output = table;
    size_t lines = 0, eplFrames = 0, inbound = 0, outbound = 0;
    std::istringstream rows(output);
    for (std::string row; std::getline(rows, row); ++lines) {
        const size_t first = row.find('\t'), second = row.find('\t', first + 1);
        ASSERT_NE(second, std::string::npos) << row;
        EXPECT_EQ(row.substr(0, first), "Q40TA5521");
        if (second > first + 1) ++eplFrames;
        const std::string direction = row.substr(second + 1);
        if (direction == "0x00000001" || direction == "0x1" || direction == "1") ++inbound;
        if (direction == "0x00000002" || direction == "0x2" || direction == "2") ++outbound;
    }
    EXPECT_EQ(lines, 834u);
    EXPECT_GT(eplFrames, 700u);
    EXPECT_GT(inbound, 0u);
    EXPECT_GT(outbound, 0u);
    EXPECT_EQ(inbound + outbound, 834u) << output.substr(0, 300);
}
