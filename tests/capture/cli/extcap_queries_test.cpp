// The extcap queries of the real sentra_extcap binary, compared as whole
// outputs, and Wireshark's own extcap handling (tshark) reading them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "process_runner.h"

namespace {

const std::string kExtcap = SENTRA_EXTCAP_PATH;

const char kInterfaces[] =
    "extcap {version=4.2.1}\n"
    "interface {value=sentra_ta5521_hwif}{display=Q40TA5521 on auto - detect NIC}\n"
    "interface {value=sentra_ta5521_file}{display=Q40TA5521 on previous captured file}\n"
    "control {number=0}{type=button}{role=control}{display=Force Trigger}"
    "{tooltip=Force trigger during a running capture.}\n"
    "control {number=1}{type=button}{role=logger}{display=Sentra Log}"
    "{tooltip=Log messages directly from sentra extcap capture engine.}\n";

// Wireshark needs the blank after "dlt" and a name to accept the link type.
const char kDlts[] = "dlt {number=147}{name=USER0}{display=DLT Description}";

const char kHardwareConfig[] =
    R"EXPECTED(arg {number=1}{call=--ta5521hwnode}{display=HW node number}{tooltip=Specifies the set node number. Set to 0 for 1st-detected Q40TA5521.}{type=integer}{range=0,15}{default=0}
arg {number=2}{call=--capturemode}{display=Capture mode}{type=selector}{tooltip=Definition of capture mode.}
value {arg=2}{value=singleshot}{display=Single Shot}{enabled=t}{default=true}
value {arg=2}{value=livecapture}{display=Live Capture}{enabled=t}{default=false}
arg {number=3}{call=--capturebuffersize}{display=Capture buffersize}{type=selector}{tooltip=Size of internal capture buffer.}
value {arg=3}{value=262144}{display=250.000 packets}{enabled=t}{default=true}
value {arg=3}{value=524288}{display=500.000 packets}{enabled=t}{default=false}
value {arg=3}{value=1048576}{display=1.000.000 packets}{enabled=t}{default=false}
value {arg=3}{value=2097152}{display=2.000.000 packets}{enabled=t}{default=false}
value {arg=3}{value=4194304}{display=4.000.000 packets}{enabled=t}{default=false}
arg {number=4}{call=--ta5521captureportconfig}{display=Capture configuration}{type=selector}{tooltip=Capture configuration parameters.}
value {arg=4}{value=portx}{display=All Ports}{enabled=t}{default=true}
value {arg=4}{value=port0}{display=Port 01}{enabled=t}{default=false}
value {arg=4}{value=port1}{display=Port 02}{enabled=t}{default=false}
arg {number=5}{call=--ta5521posttriggertime}{display=Capture time after trigger [ms]}{tooltip=Specifies the post-trigger time after a deteced trigger event.}{type=integer}{range=100,5000}{default=200}{enabled=t}
arg {number=6}{call=--ta5521capturetrigger}{display=Capture trigger}{type=multicheck}{tooltip=Trigger events for stopping capture process.}
value {arg=6}{value=destroyedPkt}{display=Destroyed packet}{enabled=t}{default=false}
value {arg=6}{value=droppedPkt}{display=Dropped packet}{enabled=t}{default=false}
value {arg=6}{value=di0_pos}{display=Digital input 01 (pos. edge)}{enabled=t}{default=false}
value {arg=6}{value=di1_pos}{display=Digital input 02 (pos. edge)}{enabled=t}{default=false}
value {arg=6}{value=di2_pos}{display=Digital input 03 (pos. edge)}{enabled=t}{default=false}
value {arg=6}{value=di3_pos}{display=Digital input 04 (pos. edge)}{enabled=t}{default=false}
value {arg=6}{value=di0_neg}{display=Digital input 01 (neg. edge)}{enabled=t}{default=false}
value {arg=6}{value=di1_neg}{display=Digital input 02 (neg. edge)}{enabled=t}{default=false}
value {arg=6}{value=di2_neg}{display=Digital input 03 (neg. edge)}{enabled=t}{default=false}
value {arg=6}{value=di3_neg}{display=Digital input 04 (neg. edge)}{enabled=t}{default=false}
)EXPECTED";

const char kFileConfig[] =
    R"EXPECTED(arg {number=1}{call=--ta5521capturefile}{display=Capture file}{tooltip=Select capture file which includes raw-frames from Q40TA5521.}{type=fileselect}{mustexist=true}
arg {number=2}{call=--ta5521hwnode}{display=HW node number}{tooltip=Specifies the set node number. Set to 0 for 1st-detected Q40TA5521.}{type=integer}{range=0,15}{default=0}
arg {number=3}{call=--capturemode}{display=Capture mode}{type=selector}{tooltip=Definition of capture mode.}
value {arg=3}{value=singleshot}{display=Single Shot}{enabled=t}{default=true}
value {arg=3}{value=livecapture}{display=Live Capture}{enabled=t}{default=false}
arg {number=4}{call=--capturebuffersize}{display=Capture buffersize}{type=selector}{tooltip=Size of internal capture buffer.}
value {arg=4}{value=262144}{display=250.000 packets}{enabled=t}{default=true}
value {arg=4}{value=524288}{display=500.000 packets}{enabled=t}{default=false}
value {arg=4}{value=1048576}{display=1.000.000 packets}{enabled=t}{default=false}
value {arg=4}{value=2097152}{display=2.000.000 packets}{enabled=t}{default=false}
value {arg=4}{value=4194304}{display=4.000.000 packets}{enabled=t}{default=false}
arg {number=5}{call=--ta5521captureportconfig}{display=Capture configuration}{type=selector}{tooltip=Capture configuration parameters.}
value {arg=5}{value=portx}{display=All Ports}{enabled=t}{default=true}
value {arg=5}{value=port0}{display=Port 01}{enabled=t}{default=false}
value {arg=5}{value=port1}{display=Port 02}{enabled=t}{default=false}
arg {number=6}{call=--ta5521posttriggertime}{display=Capture time after trigger [ms]}{tooltip=Specifies the post-trigger time after a deteced trigger event.}{type=integer}{range=100,5000}{default=200}{enabled=t}
arg {number=7}{call=--ta5521capturetrigger}{display=Capture trigger}{type=multicheck}{tooltip=Trigger events for stopping capture process.}
value {arg=7}{value=destroyedPkt}{display=Destroyed packet}{enabled=t}{default=false}
value {arg=7}{value=droppedPkt}{display=Dropped packet}{enabled=t}{default=false}
value {arg=7}{value=di0_pos}{display=Digital input 01 (pos. edge)}{enabled=t}{default=false}
value {arg=7}{value=di1_pos}{display=Digital input 02 (pos. edge)}{enabled=t}{default=false}
value {arg=7}{value=di2_pos}{display=Digital input 03 (pos. edge)}{enabled=t}{default=false}
value {arg=7}{value=di3_pos}{display=Digital input 04 (pos. edge)}{enabled=t}{default=false}
value {arg=7}{value=di0_neg}{display=Digital input 01 (neg. edge)}{enabled=t}{default=false}
value {arg=7}{value=di1_neg}{display=Digital input 02 (neg. edge)}{enabled=t}{default=false}
value {arg=7}{value=di2_neg}{display=Digital input 03 (neg. edge)}{enabled=t}{default=false}
value {arg=7}{value=di3_neg}{display=Digital input 04 (neg. edge)}{enabled=t}{default=false}
)EXPECTED";

ProcessResult extcap(const std::vector<std::string> &args) {
    std::vector<std::string> argv{kExtcap};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv);
}

TEST(ExtcapQueries, InterfacesAreFiveExactLines) {
    ProcessResult r = extcap({"--extcap-interfaces"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, kInterfaces);
}

TEST(ExtcapQueries, DltsHaveNoLineEnd) {
    ProcessResult r = extcap({"--extcap-dlts", "--extcap-interface", "sentra_ta5521_hwif"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, kDlts);
}

TEST(ExtcapQueries, HardwareConfigNumbersTriggerSix) {
    ProcessResult r = extcap({"--extcap-config", "--extcap-interface", "sentra_ta5521_hwif"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, kHardwareConfig);
    EXPECT_NE(r.out.find("arg {number=6}{call=--ta5521capturetrigger}"), std::string::npos);
}

TEST(ExtcapQueries, FileConfigPutsCaptureFileFirst) {
    ProcessResult r = extcap({"--extcap-config", "--extcap-interface=sentra_ta5521_file"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, kFileConfig);
    EXPECT_EQ(r.out.rfind("arg {number=1}{call=--ta5521capturefile}", 0), 0u);
    EXPECT_NE(r.out.find("arg {number=7}{call=--ta5521capturetrigger}"), std::string::npos);
}

TEST(ExtcapQueries, ConfigMatchesTheInterfaceNameExactly) {
    for (const char *name : {"xsentra_ta5521_hwify", "foo", "sentra_ta5521_hwi", ""}) {
        ProcessResult r = extcap({"--extcap-config", "--extcap-interface", name});
        EXPECT_EQ(r.exitStatus, 0) << name;
        EXPECT_EQ(r.out, "") << name;
    }
}

TEST(ExtcapQueries, DefaultInterfaceIsTheHardwareOne) { EXPECT_EQ(extcap({"--extcap-config"}).out, kHardwareConfig); }

TEST(ExtcapQueries, AnswersComeInFixedOrderWhateverTheCommandLineOrder) {
    ProcessResult r =
        extcap({"--extcap-config", "--extcap-interface", "sentra_ta5521_file", "--extcap-dlts", "--extcap-interfaces"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, std::string(kInterfaces) + kDlts + kFileConfig);
}

TEST(ExtcapQueries, PrefixesAndUnknownOptionsAreAccepted) {
    ProcessResult r = extcap({"--bogus", "--extcap-conf", "-x", "stray", "--extcap-d", "--fifo"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, std::string(kDlts) + kHardwareConfig);
    // "--extcap-interfa" could be --extcap-interface or --extcap-interfaces:
    // ambiguous, so it is skipped without a word.
    r = extcap({"--extcap-interfa"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
}

TEST(ExtcapExitStatus, CaptureOnUnknownInterfaceEndsWithMinusOne) {
    ProcessResult r = extcap({"--capture", "--extcap-interface", "foo"});
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_EQ(r.out, "");
}

TEST(ExtcapExitStatus, TooLongInterfaceNameIsRefusedNotCut) {
    // 300 characters that start with a valid name: cut to 259 it would still
    // match; refused, it matches nothing.
    std::string name = std::string("sentra_ta5521_hwif") + std::string(282, 'x');
    ProcessResult r = extcap({"--capture", "--extcap-interface", name});
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_NE(r.err.find("--extcap-interface"), std::string::npos);
}

TEST(ExtcapExitStatus, NoOptionsAtAllIsAQuietSuccess) {
    ProcessResult r = extcap({});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "");
}

// Wireshark's extcap layer, through tshark run as an unprivileged user (tshark
// run as root ignores WIRESHARK_EXTCAP_DIR).
class TsharkExtcap : public ::testing::Test {
protected:
    void SetUp() override {
        if (access("/usr/bin/tshark", X_OK) != 0 || access("/usr/bin/setpriv", X_OK) != 0) {
            GTEST_SKIP() << "tshark or setpriv is not installed";
        }
        chmod(dir.path.c_str(), 0755);
        const std::string copy = dir.file("sentra_extcap");
        ProcessResult cp = runProcess({"/bin/cp", kExtcap, copy});
        ASSERT_EQ(cp.exitStatus, 0);
        chmod(copy.c_str(), 0755);
    }
    ProcessResult tshark(const std::vector<std::string> &args) {
        std::vector<std::string> argv{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                      "/usr/bin/tshark"};
        argv.insert(argv.end(), args.begin(), args.end());
        return runProcess(argv, {"WIRESHARK_EXTCAP_DIR=" + dir.path, "HOME=" + dir.path}, dir.path);
    }
    TempDir dir;
};

TEST_F(TsharkExtcap, ListsBothInterfaces) {
    ProcessResult r = tshark({"-D"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("sentra_ta5521_hwif (Q40TA5521 on auto - detect NIC)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("sentra_ta5521_file (Q40TA5521 on previous captured file)"), std::string::npos) << r.out;
}

TEST_F(TsharkExtcap, ReadsTheLinkType) {
    ProcessResult r = tshark({"-i", "sentra_ta5521_file", "-L"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.termSignal, 0);
    EXPECT_NE(r.out.find("USER0 (DLT Description)"), std::string::npos) << r.out << r.err;
}

}  // namespace
