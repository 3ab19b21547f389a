// What the host sees once it has loaded the plug-in: protocol, the 56
// fields with their types and masks, value texts, expert fields, the
// preference page, taps, statistics and the ASnd services claimed.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "samples.h"
#include "tshark_runner.h"

using zeltest::lines;
using zeltest::shared_tshark;
using zeltest::split;

namespace {

std::vector<std::string> glossary(const std::string &report) {
    const zeltest::Result r = shared_tshark().run({"-G", report});
    EXPECT_EQ(r.status, 0) << r.err;
    return lines(r.out);
}

bool contains(const std::vector<std::string> &haystack, const std::string &line) {
    return std::find(haystack.begin(), haystack.end(), line) != haystack.end();
}

struct ExpectedField {
    const char *abbrev;
    const char *type;
    const char *display;  // as -G fields prints it
    const char *bitmask;
};

// Transcribed from the field tables of the three formats, in their order.
const ExpectedField kFields[] = {
    {"lyk.status", "FT_UINT16", "BASE_HEX", "0x0"},
    {"lyk.status.dir", "FT_BOOLEAN", "16", "0x8000"},
    {"lyk.status.error.cmrc", "FT_BOOLEAN", "16", "0x200"},
    {"lyk.status.error.synchronisation", "FT_BOOLEAN", "16", "0x100"},
    {"lyk.framecnt", "FT_UINT8", "BASE_DEC", "0x0"},
    {"lyk.localios", "FT_UINT8", "BASE_HEX", "0x0"},
    {"lyk.starttime", "FT_UINT32", "BASE_DEC", "0x0"},
    {"lyk.stoptime", "FT_UINT32", "BASE_DEC", "0x0"},
    {"lyk.frame.dir_and_type", "FT_STRINGZ", "", "0x0"},
    {"lyk.payload.framelen", "FT_UINT16", "BASE_DEC", "0x0"},
    {"lyk.payload.cyclecnt", "FT_UINT16", "BASE_DEC", "0x0"},
    {"lyk.payload.dataarea", "FT_BYTES", "", "0x0"},
    {"lyk.payload.sliced", "FT_BOOLEAN", "0", "0x0"},
    {"lyk.payload.crc32", "FT_UINT32", "BASE_HEX", "0x0"},
    {"lyk.payload.f5", "FT_UINT16", "BASE_DEC", "0x0"},
    {"ta5521.dumpSize", "FT_UINT16", "BASE_DEC", "0x0"},
    {"ta5521.dumpCount", "FT_UINT8", "BASE_DEC", "0x0"},
    {"ta5521.captureId", "FT_UINT8", "BASE_DEC", "0x0"},
    {"ta5521.dumpTotal", "FT_UINT16", "BASE_DEC", "0x0"},
    {"ta5521.dumpLost", "FT_UINT16", "BASE_DEC", "0x0"},
    {"ta5521.uniqueId", "FT_UINT16", "BASE_DEC", "0x0"},
    {"ta5521.tsHigh", "FT_UINT32", "BASE_DEC", "0x0"},
    {"ta5521.phyInfo", "FT_UINT8", "BASE_DEC", "0x0"},
    {"ta5521.protocolVersion", "FT_UINT8", "BASE_DEC", "0x0"},
    {"ta5521.reserved", "FT_UINT16", "BASE_DEC", "0x0"},
    {"ta5521.frm.timestamp", "FT_UINT32", "BASE_DEC", "0x0"},
    {"ta5521.frm.size", "FT_UINT16", "BASE_DEC", "0x0"},
    {"ta5521.frm.flags", "FT_UINT16", "BASE_HEX", "0x0"},
    {"ta5521.frm.data", "FT_BYTES", "", "0x0"},
    {"lanyxplus.flags", "FT_UINT32", "BASE_HEX", "0x0"},
    {"lanyxplus.flags.postTrigger", "FT_BOOLEAN", "32", "0x80000000"},
    {"lanyxplus.flags.trigger", "FT_BOOLEAN", "32", "0x40000000"},
    {"lanyxplus.flags.filter", "FT_BOOLEAN", "32", "0x2000000"},
    {"lanyxplus.flags.drop", "FT_BOOLEAN", "32", "0x1000000"},
    {"lanyxplus.flags.lineidx", "FT_UINT32", "BASE_DEC", "0xf00000"},
    {"lanyxplus.flags.frametype", "FT_UINT32", "BASE_DEC", "0x30000"},
    {"lanyxplus.flags.pkgLen", "FT_UINT32", "BASE_DEC", "0xffff"},
    {"lanyxplus.transfertime", "FT_UINT32", "BASE_DEC", "0x0"},
    {"lanyxplus.hdr", "FT_UINT32", "BASE_HEX", "0x0"},
    {"lanyxplus.dst", "FT_UINT32", "BASE_DEC", "0xfff00000"},
    {"lanyxplus.src", "FT_UINT32", "BASE_DEC", "0xfff00"},
    {"lanyxplus.port", "FT_UINT32", "BASE_DEC", "0xff"},
    {"lanyxplus.data", "FT_BOOLEAN", "0", "0x0"},
    {"lanyxPlus.data.payload", "FT_BYTES", "", "0x0"},
    {"lanyxPlus.data.cmdif.ackport", "FT_UINT8", "BASE_DEC", "0x0"},
    {"lanyxPlus.data.cmdif.type", "FT_UINT8", "BASE_DEC", "0x0"},
    {"lanyxPlus.data.cmdif.cmd", "FT_UINT8", "BASE_DEC", "0x0"},
    {"lanyxPlus.data.cmdif.info", "FT_UINT8", "BASE_DEC", "0x0"},
    {"lanyxplus.pause", "FT_BOOLEAN", "0", "0x0"},
    {"lanyxplus.mgmt", "FT_BOOLEAN", "0", "0x0"},
    {"lanyxplus.mgmt.info", "FT_UINT8", "BASE_HEX", "0x0"},
    {"lanyxplus.mgmt.info.link", "FT_BOOLEAN", "8", "0x80"},
    {"lanyxplus.mgmt.info.pause", "FT_BOOLEAN", "8", "0x40"},
    {"lanyxplus.mgmt.info.service", "FT_UINT8", "BASE_HEX", "0x3"},
    {"lanyxPlus.mgmt.payload", "FT_INT32", "BASE_DEC", "0x0"},
    {"lanyxPlus.mgmt.payloadraw", "FT_BYTES", "", "0x0"},
};

}  // namespace

TEST(PluginLoad, HostLoadsThePluginAndListsTheProtocol) {
    const auto plugins = glossary("plugins");
    // name, version, type, path; newer hosts take the type from the plug-in
    // itself and list one that does not describe itself as "unknown".
    const auto line = std::find_if(plugins.begin(), plugins.end(),
                                   [](const std::string &l) { return l.rfind("zelanalyzer.so", 0) == 0; });
    ASSERT_NE(line, plugins.end()) << "zelanalyzer.so missing from -G plugins";
    const auto columns = split(*line, '\t');
    ASSERT_GE(columns.size(), 3u) << *line;
    EXPECT_EQ(columns[1], "4.2.1") << *line;
    EXPECT_EQ(columns[2], "dissector") << *line;
    // name, short name, filter name (4.4 adds the protocol's enabled flags)
    const auto protocols = glossary("protocols");
    EXPECT_TRUE(std::any_of(protocols.begin(), protocols.end(), [](const std::string &l) {
        const auto columns = split(l, '\t');
        return columns.size() >= 3 && columns[0] == "Zelmar Analyzer" && columns[1] == "Zelmar Analyzer" &&
               columns[2] == "zelanalyzer";
    }));
}

TEST(PluginLoad, AllFiftySixFieldsInOrderWithTypesAndMasks) {
    std::vector<std::vector<std::string>> ours;
    for (const std::string &line : glossary("fields")) {
        const auto cols = split(line, '\t');
        if (cols.size() >= 7 && cols[0] == "F" && cols[4] == "zelanalyzer" && cols[2].rfind("zel.", 0) != 0)
            ours.push_back(cols);
    }
    ASSERT_EQ(ours.size(), std::size(kFields));
    for (size_t i = 0; i < ours.size(); ++i) {
        SCOPED_TRACE(kFields[i].abbrev);
        EXPECT_EQ(ours[i][2], kFields[i].abbrev);
        EXPECT_EQ(ours[i][3], kFields[i].type);
        EXPECT_EQ(ours[i][5], kFields[i].display);
        EXPECT_EQ(ours[i][6], kFields[i].bitmask);
        EXPECT_EQ(ours[i].size() > 7 ? ours[i][7] : "", "") << "fields carry no description";
    }
    EXPECT_EQ(ours[12][1], "Packet sliced");
    EXPECT_EQ(ours[42][1], "Lanyx+ Data");
    EXPECT_EQ(ours[54][1], "Payload");
}

TEST(PluginLoad, ValueTextsOfFlagsAndEnumerations) {
    const auto values = glossary("values");
    EXPECT_TRUE(contains(values, "T\tlyk.status.dir\tInput\tOutput"));
    EXPECT_TRUE(contains(values, "T\tlyk.status.error.cmrc\tSet\tNot Set"));
    EXPECT_TRUE(contains(values, "T\tlanyxplus.flags.drop\tSet\tNot set"));
    EXPECT_TRUE(contains(values, "V\tlanyxplus.flags.frametype\t2\tManagement Frame"));
    EXPECT_TRUE(contains(values, "T\tlanyxplus.mgmt.info.pause\tRequested\tNot Requested"));
    EXPECT_TRUE(contains(values, "V\tlanyxplus.mgmt.info.service\t0x0\tRemote time(neighbours local time)"));
    EXPECT_TRUE(contains(values, "V\tlanyxplus.mgmt.info.service\t0x3\tExtended function"));
}

TEST(PluginLoad, FourExpertFieldsOfTheProtocol) {
    const auto fields = glossary("fields");
    for (const char *line : {"F\tSevere Error\tzel.severe\tFT_NONE\tzelanalyzer\t\t0x0\t",
                             "F\tMajor Error\tzel.major\tFT_NONE\tzelanalyzer\t\t0x0\t",
                             "F\tWarning\tzel.minor\tFT_NONE\tzelanalyzer\t\t0x0\t",
                             "F\tInformational\tzel.info\tFT_NONE\tzelanalyzer\t\t0x0\t"})
        EXPECT_TRUE(contains(fields, line)) << line;
}

TEST(PluginLoad, PreferencePageHoldsOnlyTheEmptyStaticText) {
    // The host resolves "zelanalyzer." to the page's one, nameless entry; any
    // other name on the page is unknown.
    const std::string capture = shared_tshark().write_capture("prefs", zelbuild::asnd162_samples());
    const zeltest::Result empty_name = shared_tshark().run({"-o", "zelanalyzer.:x", "-r", capture});
    EXPECT_EQ(empty_name.status, 0) << empty_name.err;
    const zeltest::Result other = shared_tshark().run({"-o", "zelanalyzer.portmarking:1", "-r", capture});
    EXPECT_NE(other.status, 0);
    EXPECT_NE(other.err.find("unknown preference"), std::string::npos) << other.err;
}

TEST(PluginLoad, AnalyzerServicesAreClaimedOnPowerlinkAsnd) {
    const auto decodes = glossary("decodes");
    for (const char *service : {"161", "163", "164", "165"})
        EXPECT_TRUE(contains(decodes, std::string("epl.asnd\t") + service + "\tzelanalyzer")) << service;
    EXPECT_FALSE(contains(decodes, "epl.asnd\t162\tzelanalyzer"));
}

TEST(PluginLoad, LanyxStatisticsTreeIsOffered) {
    const zeltest::Result r = shared_tshark().run({"-z", "help"});
    EXPECT_NE((r.out + r.err).find("     zel_lyk,tree\n"), std::string::npos) << r.out << r.err;
}

TEST(PluginLoad, AsndService162IsLeftToPowerlink) {
    const std::string capture = shared_tshark().write_capture("asnd162", zelbuild::asnd162_samples());
    const auto rows = zeltest::field_rows(shared_tshark(), capture, {"_ws.col.Protocol", "frame.protocols"});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "POWERLINK");
    EXPECT_EQ(rows[0][1].find("zelanalyzer"), std::string::npos) << rows[0][1];
    EXPECT_TRUE(zeltest::matching_frames(shared_tshark(), capture, "zelanalyzer").empty());
}
