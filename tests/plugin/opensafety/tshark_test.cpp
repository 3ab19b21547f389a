/* The generator's captures through the host's tshark: Wireshark's own
 * openSAFETY dissector must decode every frame as generated, and with the
 * plug-in loaded the "Zelmar/openSAFETY" statistics tree must count them
 * per node; fuzzed captures must not crash the plug-in. */
#include "osa_frame.h"
#include "osa_gen.h"

#include <ws_version.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string quote(const std::string &s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct result {
    int status = -1;
    std::string out, err;
};

/* A world-readable folder with the plug-in where tshark runs unprivileged
 * (as root it would ignore WIRESHARK_PLUGIN_DIR). */
class tshark_env {
public:
    tshark_env() {
        char pattern[] = "/tmp/osa-tshark-XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        dir_ = pattern;
        chmod(dir_.c_str(), 0777);
        const std::string ver = std::to_string(WIRESHARK_VERSION_MAJOR) + "." + std::to_string(WIRESHARK_VERSION_MINOR);
        const std::string epan = dir_ + "/plugins/" + ver + "/epan";
        run_shell("mkdir -p " + quote(epan) + " && cp " + quote(OSA_PLUGIN_PATH) + " " +
                  quote(epan + "/zelanalyzer.so") + " && chmod -R a+rX " + quote(dir_ + "/plugins"));
    }
    ~tshark_env() { run_shell("rm -rf " + quote(dir_)); }

    const std::string &dir() const { return dir_; }

    std::string write(const osa_gen::capture &cap, const std::string &name, bool pcapng) const {
        const std::string path = dir_ + "/" + name;
        std::string err;
        EXPECT_TRUE(osa_gen::write_pcap(cap, path, pcapng, &err)) << err;
        chmod(path.c_str(), 0644);
        return path;
    }

    result run(const std::string &program, const std::vector<std::string> &args) const {
        /* An extcap folder of our own keeps tshark from starting the host's
         * extcap programs, which would inherit the preloaded runtime. */
        std::string cmd = "cd " + quote(dir_) + " && env WIRESHARK_PLUGIN_DIR=" + quote(dir_ + "/plugins") +
                          " WIRESHARK_EXTCAP_DIR=" + quote(dir_ + "/extcap") + " HOME=" + quote(dir_) +
                          " XDG_CONFIG_HOME=" + quote(dir_ + "/config");
        /* Only tshark loads the plug-in; other tools run without the runtime
         * (editcap was seen to hang at exit with it preloaded). */
        if (const char *preload = std::getenv("ZEL_TSHARK_PRELOAD"); preload && *preload && program == "tshark")
            cmd += " LD_PRELOAD=" + quote(preload) + " ASAN_OPTIONS=detect_leaks=0:abort_on_error=1";
        if (geteuid() == 0) cmd += " setpriv --reuid=65534 --regid=65534 --clear-groups";
        cmd += " " + program;
        for (const auto &a : args) cmd += " " + quote(a);
        const std::string err_path = dir_ + "/stderr.txt";
        cmd += " 2>" + quote(err_path);
        result r;
        FILE *p = popen(cmd.c_str(), "r");
        if (!p) return r;
        char buf[65536];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
        const int st = pclose(p);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        std::ifstream in(err_path);
        std::ostringstream s;
        s << in.rdbuf();
        r.err = s.str();
        return r;
    }

private:
    static void run_shell(const std::string &cmd) {
        if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", cmd.c_str());
    }
    std::string dir_;
};

std::vector<std::string> split(const std::string &s, char sep) {
    std::vector<std::string> parts(1);
    for (char c : s) {
        if (c == sep)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

/* The sender the dissector names for a generated frame (UDID known). */
uint16_t sender_of(const osa_gen::frame_info &f, bool udid_known) {
    if (f.msg_type == osa_frame::type_spdo) return f.adr;
    if (f.msg_type == osa_frame::type_snmt || udid_known) return f.tadr;
    return f.response ? 0 : f.adr;
}

unsigned long hex(const std::string &s) { return std::strtoul(s.c_str(), nullptr, 16); }

class Tshark : public ::testing::TestWithParam<bool> {};

}  // namespace

TEST_P(Tshark, DissectorDecodesEveryGeneratedFrame) {
    const bool powerlink = GetParam();
    tshark_env env;
    osa_gen::config cfg = osa_gen::default_config();
    cfg.via = powerlink ? osa_gen::transport::powerlink : osa_gen::transport::udp;
    cfg.sdn = 3;
    cfg.pre_op_at_end = true;
    const osa_gen::capture cap = osa_gen::generate(cfg);
    const std::string path = env.write(cap, "gen.pcapng", true);

    const result r = env.run("tshark", {"-r", path,
                                        "-T", "fields",
                                        "-E", "occurrence=f",
                                        "-e", "frame.number",
                                        "-e", "opensafety.msg.id",
                                        "-e", "opensafety.crc.valid",
                                        "-e", "opensafety.crc2.valid",
                                        "-e", "opensafety.msg.sender",
                                        "-e", "opensafety.msg.network",
                                        "-e", "opensafety.scm_udid.auto",
                                        "-e", "opensafety.spdo.ct",
                                        "-e", "opensafety.spdo.ct40bit",
                                        "-e", "opensafety.snmt.service_id",
                                        "-e", "opensafety.spdo.connection_valid"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        rows.push_back(split(line, '\t'));
        // Wireshark 4.4 prints booleans True and False, 4.0 as 1 and 0
        for (std::string &cell : rows.back()) cell = cell == "True" ? "1" : cell == "False" ? "0" : cell;
    }
    ASSERT_EQ(rows.size(), cap.frames.size());

    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto &row = rows[i];
        const auto &f = cap.frames[i];
        ASSERT_EQ(row.size(), 11u);
        SCOPED_TRACE("packet " + row[0]);
        const uint8_t shown_id = f.msg_type == osa_frame::type_spdo ? (f.msg_id & 0xF8) : f.msg_id;
        EXPECT_EQ(hex(row[1]), shown_id);
        EXPECT_EQ(row[2], "1");                     // CRC of sub-frame 1
        EXPECT_EQ(row[3], f.counter40 ? "" : "1");  // sub-frame 2 (40-bit: not checked by Wireshark)
        EXPECT_EQ(hex(row[4]), sender_of(f, true));
        EXPECT_EQ(hex(row[5]), f.counter40 ? 1u : cfg.sdn);  // 40-bit: Wireshark assumes domain 1
        if (f.msg_type != osa_frame::type_snmt) {
            EXPECT_EQ(row[6], "02:d7:a5:3c:5a:96");  // the dissector's own UDID detection
        }
        if (f.msg_type == osa_frame::type_spdo) {
            if (f.counter40) {
                EXPECT_EQ(std::strtoull(row[8].c_str(), nullptr, 16), f.counter);
            } else {
                EXPECT_EQ(hex(row[7]), f.counter);
            }
            EXPECT_EQ(row[10], f.conn_valid ? "1" : "0");
        }
        if (f.msg_type == osa_frame::type_snmt) {
            EXPECT_EQ(hex(row[9]), f.snmt_ext);
        }
    }
}

TEST(TsharkLongRun, EveryFrameOfALongRunDecodesAsGenerated) {
    /* Over thousands of datagrams the transport header's counter takes every
     * value; none may make the dissector find another frame in front of the
     * one generated (sequence 1006 once read as a slim SSDO). */
    tshark_env env;
    osa_gen::config cfg = osa_gen::default_config();
    cfg.cycles = 6000;
    const osa_gen::capture cap = osa_gen::generate(cfg);
    const std::string path = env.write(cap, "long.pcapng", true);
    const result r =
        env.run("tshark", {"-r", path, "-T", "fields", "-E", "occurrence=f", "-e", "frame.number", "-e",
                           "opensafety.msg.id", "-e", "opensafety.crc.valid", "-e", "opensafety.msg.sender"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream in(r.out);
    std::size_t i = 0, wrong = 0;
    for (std::string line; std::getline(in, line); ++i) {
        ASSERT_LT(i, cap.frames.size());
        const auto row = split(line, '\t');
        ASSERT_EQ(row.size(), 4u);
        const auto &f = cap.frames[i];
        const uint8_t shown_id = f.msg_type == osa_frame::type_spdo ? (f.msg_id & 0xF8) : f.msg_id;
        const bool crc_valid = row[2] == "1" || row[2] == "True";  // 4.0 prints 1, 4.4 True
        if (hex(row[1]) != shown_id || !crc_valid || hex(row[3]) != sender_of(f, true)) {
            if (++wrong <= 5) ADD_FAILURE() << "packet " << row[0] << " decodes as " << row[1] << " from " << row[3];
        }
    }
    EXPECT_EQ(i, cap.frames.size());
    EXPECT_EQ(wrong, 0u);
}

TEST_P(Tshark, StatisticsTreeCountsPerNode) {
    const bool announce = GetParam();
    tshark_env env;
    osa_gen::config cfg = osa_gen::default_config();
    cfg.announce_udid = announce;
    const osa_gen::capture cap = osa_gen::generate(cfg);
    const std::string path = env.write(cap, "gen.pcap", false);
    const result r = env.run(
        "tshark", {"-r", path, "-q", "-o", std::string("opensafety.scm_udid_autoset:") + (announce ? "TRUE" : "FALSE"),
                   "-z", "openSAFETY,tree"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_NE(r.out.find("Zelmar/openSAFETY:"), std::string::npos) << r.out;

    /* Expected counts, by the dissector's sender. */
    std::map<std::string, unsigned> want;
    for (const auto &f : cap.frames) {
        const uint16_t s = sender_of(f, announce);
        char sn[32];
        std::snprintf(sn, sizeof sn, "SN: %02d", s);
        want[sn]++;
        const std::string prefix = std::string(sn) + "/";
        if (f.msg_type == osa_frame::type_spdo) {
            const std::string spdo = prefix + "SPDO [Producer: " + std::to_string(s) + "]";
            want[spdo]++;
            if (f.msg_id == osa_frame::spdo_time_request && announce)
                want[spdo + "/Time Request to [Producer: " + std::to_string(f.tadr) + "]"]++;
            else if (f.msg_id == osa_frame::spdo_time_response && announce)
                want[spdo + "/Time Response to [Consumer: " + std::to_string(f.tadr) + "]"]++;
            else if (f.msg_id == osa_frame::spdo_data_only)
                want[spdo + "/Data Only"]++;
        } else if (f.msg_type == osa_frame::type_snmt) {
            want[prefix + "SNMT"]++;
        } else {
            want[prefix + "SSDO"]++;
        }
    }
    want["openSAFETY Nodes"] = static_cast<unsigned>(cap.frames.size());

    /* Parse the indented tree: one space per level. */
    std::map<std::string, unsigned> got;
    std::vector<std::string> path_stack;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        /* "<indent><name><two or more blanks><count> ..." */
        const std::size_t depth = line.find_first_not_of(' ');
        const std::size_t gap = line.find("  ", depth == std::string::npos ? 0 : depth);
        if (depth == std::string::npos || gap == std::string::npos) continue;
        const std::size_t count_at = line.find_first_not_of(' ', gap);
        if (count_at == std::string::npos || !std::isdigit(static_cast<unsigned char>(line[count_at]))) continue;
        path_stack.resize(depth);
        path_stack.push_back(line.substr(depth, gap - depth));
        std::string key;
        for (std::size_t i = depth > 0 ? 1 : 0; i < path_stack.size(); ++i)
            key += (key.empty() ? "" : "/") + path_stack[i];
        got[key] = static_cast<unsigned>(std::stoul(line.substr(count_at)));
    }
    for (const auto &w : want) {
        if (!announce && w.first.find("Time R") != std::string::npos)
            continue;  // partners read without UDID are not the generated ones
        auto it = got.find(w.first);
        ASSERT_NE(it, got.end()) << w.first << "\n" << r.out;
        EXPECT_EQ(it->second, w.second) << w.first;
    }
    if (!announce) {
        EXPECT_GT(got["SN: 00"], 0u);
    }  // SSDO responses whose sender the dissector could not read
}

INSTANTIATE_TEST_SUITE_P(Variants, Tshark, ::testing::Values(false, true));

TEST(TsharkFuzz, FuzzedCapturesDoNotCrashThePlugin) {
    tshark_env env;
    osa_gen::config cfg = osa_gen::default_config();
    cfg.cycles = 30;
    const std::string udp = env.write(osa_gen::generate(cfg), "udp.pcap", false);
    cfg.via = osa_gen::transport::powerlink;
    cfg.announce_udid = false;
    const std::string plk = env.write(osa_gen::generate(cfg), "plk.pcapng", true);
    unsigned runs = 0;
    for (const std::string &src : {udp, plk}) {
        for (int seed = 1; seed <= 4; ++seed) {
            const std::string fuzzed = src + ".fuzz" + std::to_string(seed) + ".pcapng";
            const result e = env.run("editcap", {"-E", "0.05", "--seed", std::to_string(seed), src, fuzzed});
            ASSERT_EQ(e.status, 0) << e.err;
            const result r = env.run("tshark", {"-r", fuzzed, "-q", "-z", "openSAFETY,tree", "-V"});
            EXPECT_EQ(r.status, 0) << "seed " << seed << ": " << r.err;
            EXPECT_EQ(r.err.find("AddressSanitizer"), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
            EXPECT_NE(r.out.find("openSAFETY Nodes"), std::string::npos);
            ++runs;
        }
    }
    EXPECT_EQ(runs, 8u);
}
