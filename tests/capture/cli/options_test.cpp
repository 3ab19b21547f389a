// Command-line parsing into the capture context: the option rules and the
// getopt_long behaviour Wireshark's command lines depend on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "capture_context.h"
#include "options.h"

namespace {

struct Parsed {
    CaptureContext context{};
    std::vector<std::string> words;  // argv after parsing (getopt_long permutes it)
};

std::unique_ptr<Parsed> parse(std::vector<std::string> args) {
    auto parsed = std::make_unique<Parsed>();
    captureContextInit(&parsed->context);
    args.insert(args.begin(), "sentra_extcap");
    std::vector<std::string> storage = args;
    std::vector<char *> argv;
    for (std::string &s : storage) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    parseOptions(&parsed->context, static_cast<int>(storage.size()), argv.data());
    for (size_t i = 0; i < storage.size(); ++i) parsed->words.push_back(argv[i]);
    return parsed;
}

TEST(OptionDefaults, MatchTheUnparsedCommandLine) {
    auto p = parse({});
    const CaptureContext &c = p->context;
    EXPECT_STREQ(c.interfaceName, "sentra_ta5521_hwif");
    EXPECT_STREQ(c.fifoPath, "sentra_capture.pcapng");
    EXPECT_STREQ(c.controlInPath, "sentra_tbIn.txt");
    EXPECT_STREQ(c.controlOutPath, "sentra_tbOut.txt");
    EXPECT_EQ(c.loggerControlNumber, 1);
    EXPECT_EQ(c.statusControlNumber, 0);
    EXPECT_EQ(c.forceTriggerControlNumber, 0);
    EXPECT_EQ(c.captureMode, kCaptureLive);
    EXPECT_EQ(c.bufferSize, 327680u);
    EXPECT_EQ(c.hwNode, 0);
    EXPECT_EQ(c.trigger.postTriggerTimeNs, 200000000);
    EXPECT_EQ(c.trigger.port01Enabled, 1u);
    EXPECT_EQ(c.trigger.port02Enabled, 1u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(c.trigger.diPositive[i], 0u);
        EXPECT_EQ(c.trigger.diNegative[i], 0u);
    }
    EXPECT_EQ(c.trigger.destroyedPacket, 0u);
    EXPECT_EQ(c.trigger.droppedPacket, 0u);
    EXPECT_STREQ(c.captureFile, "");
    EXPECT_STREQ(c.deviceName, "Q40TA5521");
    EXPECT_FALSE(c.queryInterfaces || c.queryDlts || c.queryConfig || c.capture || c.standalone);
}

TEST(OptionBufferSize, IsClampedAndGetsTheHeadroom) {
    EXPECT_EQ(parse({"--capturebuffersize", "1000"})->context.bufferSize, 327680u);
    EXPECT_EQ(parse({"--capturebuffersize", "9999999"})->context.bufferSize, 4259840u);
    EXPECT_EQ(parse({"--capturebuffersize=524288"})->context.bufferSize, 589824u);
    EXPECT_EQ(parse({"--capturebuffersize", "2097152packets"})->context.bufferSize, 2162688u);
    EXPECT_EQ(parse({"--capturebuffersize", "-5"})->context.bufferSize, 327680u);
    EXPECT_EQ(parse({"--capturebuffersize", "abc"})->context.bufferSize, 327680u);
    // Far beyond 64 bits: saturates high instead of wrapping to a small size.
    EXPECT_EQ(parse({"--capturebuffersize", "99999999999999999999999"})->context.bufferSize, 4259840u);
}

TEST(OptionHwNode, OutsideZeroToFifteenMeansFirstDetected) {
    EXPECT_EQ(parse({"--ta5521hwnode", "15"})->context.hwNode, 15);
    EXPECT_EQ(parse({"--ta5521hwnode", "16"})->context.hwNode, 0);
    EXPECT_EQ(parse({"--ta5521hwnode", "-1"})->context.hwNode, 0);
    EXPECT_EQ(parse({"--ta5521hwnode", "4294967299"})->context.hwNode, 0);  // would be 3 if cut to 32 bits
    EXPECT_EQ(parse({"--ta5521hwnode=7", "--ta5521hwnode", "3"})->context.hwNode, 3);
}

TEST(OptionPostTrigger, ClampedToOneHundredToFiveThousandMs) {
    EXPECT_EQ(parse({"--ta5521posttriggertime", "50"})->context.trigger.postTriggerTimeNs, 100000000);
    EXPECT_EQ(parse({"--ta5521posttriggertime", "99999"})->context.trigger.postTriggerTimeNs, 5000000000);
    EXPECT_EQ(parse({"--ta5521posttriggertime", "200"})->context.trigger.postTriggerTimeNs, 200000000);
    EXPECT_EQ(parse({"--ta5521posttriggertime", "-300"})->context.trigger.postTriggerTimeNs, 100000000);
}

TEST(OptionPortConfig, KeywordsBySubstring) {
    auto onlyPort02 = parse({"--ta5521captureportconfig", "port1"});
    EXPECT_EQ(onlyPort02->context.trigger.port01Enabled, 0u);
    EXPECT_EQ(onlyPort02->context.trigger.port02Enabled, 1u);
    auto both = parse({"--ta5521captureportconfig", "port0,portx"});
    EXPECT_EQ(both->context.trigger.port01Enabled, 1u);
    EXPECT_EQ(both->context.trigger.port02Enabled, 1u);
    auto none = parse({"--ta5521captureportconfig", "nothing"});
    EXPECT_EQ(none->context.trigger.port01Enabled, 0u);
    EXPECT_EQ(none->context.trigger.port02Enabled, 0u);
    // A repeated option overwrites the earlier one.
    auto last = parse({"--ta5521captureportconfig", "portx", "--ta5521captureportconfig", "port0"});
    EXPECT_EQ(last->context.trigger.port01Enabled, 1u);
    EXPECT_EQ(last->context.trigger.port02Enabled, 0u);
}

TEST(OptionTrigger, MulticheckValueSetsEveryNamedFlagAndAccumulates) {
    auto p = parse({"--ta5521capturetrigger", "destroyedPkt,di0_pos,di3_neg", "--ta5521capturetrigger", "di1_pos"});
    const TriggerSettings &t = p->context.trigger;
    EXPECT_EQ(t.destroyedPacket, 1u);
    EXPECT_EQ(t.droppedPacket, 0u);
    EXPECT_EQ(t.diPositive[0], 1u);
    EXPECT_EQ(t.diPositive[1], 1u);
    EXPECT_EQ(t.diPositive[2], 0u);
    EXPECT_EQ(t.diPositive[3], 0u);
    EXPECT_EQ(t.diNegative[0], 0u);
    EXPECT_EQ(t.diNegative[3], 1u);
    auto all = parse({"--ta5521capturetrigger=droppedPkt di2_neg di2_pos"});
    EXPECT_EQ(all->context.trigger.droppedPacket, 1u);
    EXPECT_EQ(all->context.trigger.diNegative[2], 1u);
    EXPECT_EQ(all->context.trigger.diPositive[2], 1u);
}

TEST(OptionCaptureMode, SingleShotOnlyWhenNamed) {
    EXPECT_EQ(parse({"--capturemode", "singleshot"})->context.captureMode, kCaptureSingleShot);
    EXPECT_EQ(parse({"--capturemode", "livecapture"})->context.captureMode, kCaptureLive);
    EXPECT_EQ(parse({"--capturemode", "singleshot", "--capturemode", "x"})->context.captureMode, kCaptureLive);
}

TEST(OptionParsing, WiresharkStyleCommandLine) {
    auto p = parse({"--capture", "--extcap-interface", "sentra_ta5521_file", "--fifo", "/tmp/wireshark_fifo",
                    "--extcap-control-in", "/tmp/in", "--extcap-control-out=/tmp/out", "--ta5521capturefile",
                    "/data/raw dump.pcapng", "--standalone"});
    const CaptureContext &c = p->context;
    EXPECT_TRUE(c.capture);
    EXPECT_TRUE(c.standalone);
    EXPECT_STREQ(c.interfaceName, "sentra_ta5521_file");
    EXPECT_STREQ(c.fifoPath, "/tmp/wireshark_fifo");
    EXPECT_STREQ(c.controlInPath, "/tmp/in");
    EXPECT_STREQ(c.controlOutPath, "/tmp/out");
    EXPECT_STREQ(c.captureFile, "/data/raw dump.pcapng");
}

TEST(OptionParsing, UniquePrefixesMissingArgumentsAndStrayWords) {
    auto p = parse({"stray", "--ta5521hw=9", "--capturem", "singleshot", "-q", "--unknown=1", "--fifo"});
    const CaptureContext &c = p->context;
    EXPECT_EQ(c.hwNode, 9);
    EXPECT_EQ(c.captureMode, kCaptureSingleShot);
    EXPECT_STREQ(c.fifoPath, "sentra_capture.pcapng");  // missing argument: skipped, default kept
    // Non-options are permuted to the end.
    EXPECT_EQ(p->words.back(), "stray");
}

TEST(OptionParsing, AnOptionLikeWordIsTakenAsTheArgument) {
    // getopt_long semantics: the next word is the argument, whatever it looks like.
    auto p = parse({"--fifo", "--capture"});
    EXPECT_STREQ(p->context.fifoPath, "--capture");
    EXPECT_FALSE(p->context.capture);
}

TEST(OptionParsing, ParsingTwiceStartsAfresh) {
    parse({"--extcap-dlts", "--fifo"});
    auto p = parse({"--extcap-interfaces"});
    EXPECT_TRUE(p->context.queryInterfaces);
    EXPECT_FALSE(p->context.queryDlts);
}

TEST(OptionTexts, LongestFittingTextIsKeptLongerIsRefused) {
    const std::string fits(259, 'a');
    const std::string tooLong(260, 'b');
    auto kept =
        parse({"--fifo", fits, "--extcap-interface", fits, "--extcap-control-in", fits, "--extcap-control-out", fits});
    EXPECT_EQ(std::string(kept->context.fifoPath), fits);
    EXPECT_EQ(std::string(kept->context.interfaceName), fits);
    EXPECT_EQ(std::string(kept->context.controlInPath), fits);
    EXPECT_EQ(std::string(kept->context.controlOutPath), fits);

    testing::internal::CaptureStderr();
    auto refused = parse({"--fifo", tooLong, "--extcap-interface", tooLong, "--extcap-control-in", tooLong,
                          "--extcap-control-out", tooLong, "--ta5521capturefile", std::string(512, 'c')});
    const std::string notes = testing::internal::GetCapturedStderr();
    EXPECT_STREQ(refused->context.fifoPath, "");
    EXPECT_STREQ(refused->context.interfaceName, "");
    EXPECT_STREQ(refused->context.controlInPath, "");
    EXPECT_STREQ(refused->context.controlOutPath, "");
    EXPECT_STREQ(refused->context.captureFile, "");
    EXPECT_NE(notes.find("--ta5521capturefile"), std::string::npos);

    auto file = parse({"--ta5521capturefile", std::string(511, 'd')});
    EXPECT_EQ(std::string(file->context.captureFile), std::string(511, 'd'));
}

TEST(OptionParsing, PosixlyCorrectStopsAtTheFirstNonOption) {
    setenv("POSIXLY_CORRECT", "1", 1);
    auto p = parse({"--extcap-dlts", "stray", "--extcap-interfaces"});
    unsetenv("POSIXLY_CORRECT");
    EXPECT_TRUE(p->context.queryDlts);
    EXPECT_FALSE(p->context.queryInterfaces);
}

TEST(InterfaceKind, SubstringDecides) {
    EXPECT_EQ(interfaceKindFromName("sentra_ta5521_hwif"), kInterfaceHardware);
    EXPECT_EQ(interfaceKindFromName("xsentra_ta5521_hwify"), kInterfaceHardware);
    EXPECT_EQ(interfaceKindFromName("sentra_ta5521_file"), kInterfaceFile);
    EXPECT_EQ(interfaceKindFromName("foo"), -1);
    EXPECT_EQ(interfaceKindFromName(""), -1);
}

}  // namespace
