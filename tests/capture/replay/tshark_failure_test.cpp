// tshark drives the file interface with a capture file that is missing: the
// engine's reason reaches tshark's own error output.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "replay_harness.h"

using namespace replaytest;

TEST(TsharkFailure, MissingCaptureFileShowsTheReasonInTsharksErrorOutput) {
    if (access("/usr/bin/tshark", X_OK) != 0) GTEST_SKIP() << "tshark not installed";
    std::vector<std::string> asUser;
    // Root's tshark ignores WIRESHARK_EXTCAP_DIR: run it as nobody.
    if (geteuid() == 0) {
        if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv not installed";
        asUser = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    }
    TempDir dir;
    chmod(dir.path().c_str(), 0777);
    const std::string extcapDir = dir.file("extcap");
    mkdir(extcapDir.c_str(), 0755);
    std::string output;
    ASSERT_EQ(runProgram({"/bin/cp", extcapPath(), extcapDir + "/sentra_extcap"}, &output), 0) << output;
    chmod((extcapDir + "/sentra_extcap").c_str(), 0755);

    const std::string missing = dir.file("missing.pcapng");
    std::vector<std::string> argv = {"/usr/bin/env",
                                     "-C",
                                     dir.path(),
                                     "HOME=" + dir.path(),
                                     "XDG_CONFIG_HOME=" + dir.path(),
                                     "WIRESHARK_EXTCAP_DIR=" + extcapDir};
    argv.insert(argv.end(), asUser.begin(), asUser.end());
    argv.insert(argv.end(), {"/usr/bin/tshark", "-i", "sentra_ta5521_file", "-o",
                             "extcap.sentra_ta5521_file.ta5521capturefile:" + missing, "-o",
                             "extcap.sentra_ta5521_file.capturemode:livecapture", "-w", dir.file("out.pcapng")});
    runProgram(argv, &output, 60000);
    EXPECT_NE(output.find("File open failed! Given filename: [" + missing + "] (No such file or directory)"),
              std::string::npos)
        << output;
}
