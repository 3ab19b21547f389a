// What each view of a frame shows, however Wireshark comes to dissect it:
// the analysis runs once per frame, in frame order, and every dissection of
// the frame (one pass or two, with or without a protocol tree, filtered or
// not) shows its expert items and its extended text.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "tshark_runner.h"

namespace {

const std::vector<std::string> kColumn = {"-o", "gui.column.format:\"No.\",\"%m\",\"Ext\",\"%a\""};

std::string boot_capture(zeltest::Tshark &tshark) {
    const std::string source = std::string(SENTRA_SHARED_CAPTURES) + "/powerlink_1cn_boot.pcapng";
    struct stat st;
    if (stat(source.c_str(), &st) != 0) return "";
    return tshark.copy_in(source, "boot.pcapng");
}

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string> &more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// Frame number -> column text of a run printing "number<TAB>text" lines.
std::map<int, std::string> texts_of(const zeltest::Result &r) {
    EXPECT_EQ(r.status, 0) << r.err;
    std::map<int, std::string> texts;
    for (const std::string &line : zeltest::lines(r.out)) {
        const size_t tab = line.find('\t');
        if (tab != std::string::npos) texts[std::stoi(line.substr(0, tab))] = line.substr(tab + 1);
    }
    return texts;
}

// The Zelmar lines of a "-z expert" summary.
std::vector<std::string> zelmar_expert_lines(const zeltest::Result &r) {
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> found;
    for (const std::string &line : zeltest::lines(r.out))
        if (line.find("Zelmar Analyzer") != std::string::npos) found.push_back(line);
    return found;
}

}  // namespace

TEST(PlkViews, OnePassShowsTheTextOfEveryPowerlinkFrameAsTwoPassesDo) {
    zeltest::Tshark &tshark = zeltest::shared_tshark();
    const std::string capture = boot_capture(tshark);
    if (capture.empty()) GTEST_SKIP() << "shared captures not found";
    const std::vector<std::string> fields = {"-T",           "fields", "-e",
                                             "frame.number", "-e",     zeltest::expert_column_field("Ext")};
    const auto one = texts_of(tshark.run(with(with({"-r", capture}, kColumn), fields)));
    const auto two = texts_of(tshark.run(with(with({"-r", capture, "-2"}, kColumn), fields)));
    const auto powerlink = zeltest::matching_frames(tshark, capture, "epl");
    ASSERT_GT(powerlink.size(), 500u);
    for (int n : powerlink) {
        ASSERT_EQ(one.count(n), 1u) << n;
        EXPECT_FALSE(one.at(n).empty()) << "frame " << n;
    }
    EXPECT_EQ(one, two);
}

TEST(PlkViews, ExpertItemsInEveryPassWithAndWithoutFilters) {
    zeltest::Tshark &tshark = zeltest::shared_tshark();
    const std::string capture = boot_capture(tshark);
    if (capture.empty()) GTEST_SKIP() << "shared captures not found";
    const auto one = zeltest::matching_frames(tshark, capture, "zel.major");
    ASSERT_FALSE(one.empty());
    const zeltest::Result two =
        tshark.run({"-r", capture, "-2", "-Y", "zel.major", "-T", "fields", "-e", "frame.number"});
    ASSERT_EQ(two.status, 0) << two.err;
    std::vector<int> second;
    for (const std::string &line : zeltest::lines(two.out)) second.push_back(std::stoi(line));
    EXPECT_EQ(second, one);

    // The details of each such frame, picked out in the second pass, show
    // the messages one pass gives it.
    for (const auto &row : zeltest::field_rows(tshark, capture, {"frame.number", "_ws.expert.message"}, "zel.major")) {
        ASSERT_EQ(row.size(), 2u);
        const zeltest::Result details = tshark.run({"-r", capture, "-2", "-Y", "frame.number==" + row[0], "-V"});
        ASSERT_EQ(details.status, 0) << details.err;
        for (const std::string &message : zeltest::split(row[1], ','))
            EXPECT_NE(details.out.find("[Expert Info (Error/Protocol): " + message + "]"), std::string::npos)
                << "frame " << row[0] << ": " << message;
    }

    // Without a tree (one pass, "-q -z expert") and in a filtered second pass.
    const auto summary = zelmar_expert_lines(tshark.run({"-r", capture, "-q", "-z", "expert"}));
    EXPECT_GE(summary.size(), one.size());
    EXPECT_EQ(zelmar_expert_lines(tshark.run({"-r", capture, "-q", "-2", "-z", "expert", "-Y", "epl"})), summary);
    EXPECT_EQ(zelmar_expert_lines(tshark.run({"-r", capture, "-q", "-2", "-z", "expert", "-R", "epl"})), summary);
    EXPECT_EQ(zelmar_expert_lines(tshark.run({"-r", capture, "-q", "-z", "expert", "-Y", "epl"})), summary);
}
