#include "tshark_runner.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <ws_version.h>

namespace zeltest {

namespace {

std::string quote(const std::string &s) {
    std::string q = "'";
    for (char c : s) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string read_all(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void copy_file(const std::string &from, const std::string &to) {
    std::ifstream in(from, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + from);
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
    if (!out) throw std::runtime_error("cannot write " + to);
    chmod(to.c_str(), 0644);
}

void make_dir(const std::string &path) {
    if (mkdir(path.c_str(), 0755) != 0) throw std::runtime_error("cannot create " + path);
    chmod(path.c_str(), 0755);
}

}  // namespace

Tshark::Tshark() {
    char pattern[] = "/tmp/zelanalyzer-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    chmod(folder_.c_str(), 0777);
    const std::string version = std::to_string(WIRESHARK_VERSION_MAJOR) + "." + std::to_string(WIRESHARK_VERSION_MINOR);
    // No extcap programs: tshark would start every installed one at start-up
    // (slow, and a sanitizer preload would be inherited by them).
    make_dir(folder_ + "/extcap");
    make_dir(folder_ + "/plugins");
    make_dir(folder_ + "/plugins/" + version);
    make_dir(folder_ + "/plugins/" + version + "/epan");
    copy_file(ZEL_PLUGIN_PATH, folder_ + "/plugins/" + version + "/epan/zelanalyzer.so");
}

Tshark::~Tshark() {
    const std::string command = "rm -rf " + quote(folder_);
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", folder_.c_str());
}

std::string Tshark::write_capture(const std::string &name, const std::vector<zelbuild::Packet> &packets) {
    const std::string path = folder_ + "/" + name + ".pcapng";
    zelbuild::write_pcapng(path, packets);
    chmod(path.c_str(), 0644);
    return path;
}

std::string Tshark::copy_in(const std::string &source, const std::string &name) {
    const std::string path = folder_ + "/" + name;
    copy_file(source, path);
    return path;
}

Result Tshark::run(const std::vector<std::string> &args, const std::string &plugin_dir) const {
    return run_program("tshark", args, false, plugin_dir);
}

Result Tshark::run_program(const std::string &program, const std::vector<std::string> &args, bool as_caller,
                           const std::string &plugin_dir) const {
    const std::string plugins = plugin_dir.empty() ? folder_ + "/plugins" : plugin_dir;
    std::string command = "cd " + quote(folder_) + " && env WIRESHARK_PLUGIN_DIR=" + quote(plugins) +
                          " WIRESHARK_EXTCAP_DIR=" + quote(folder_ + "/extcap") + " HOME=" + quote(folder_) +
                          " XDG_CONFIG_HOME=" + quote(folder_ + "/config");
    // A sanitized plug-in needs the sanitizer runtime first in tshark; the
    // other tools do not load it (and some hang with the runtime preloaded).
    const char *preload = std::getenv("ZEL_TSHARK_PRELOAD");
    if (program == "tshark" && preload != nullptr && *preload != '\0')
        command += " LD_PRELOAD=" + quote(preload) + " ASAN_OPTIONS=detect_leaks=0:abort_on_error=1";
    if (geteuid() == 0 && !as_caller) command += " setpriv --reuid=65534 --regid=65534 --clear-groups";
    command += " " + program;
    for (const std::string &a : args) command += " " + quote(a);
    const std::string err_path = folder_ + "/stderr.txt";
    command += " 2>" + quote(err_path);

    Result result;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("cannot start " + program);
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = read_all(err_path);
    return result;
}

std::vector<zelbuild::Packet> asnd_packets(uint8_t service_id, const std::vector<zelbuild::Bytes> &payloads) {
    std::vector<zelbuild::Packet> packets;
    uint64_t t = 1700000000000000000ull;
    for (const zelbuild::Bytes &payload : payloads) {
        packets.push_back({t, zelbuild::epl_asnd_frame(service_id, payload)});
        t += 1000000;
    }
    return packets;
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

std::vector<std::string> split(const std::string &line, char separator) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : line) {
        if (c == separator) {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    parts.push_back(part);
    return parts;
}

std::vector<std::vector<std::string>> field_rows(const Tshark &tshark, const std::string &capture,
                                                 const std::vector<std::string> &fields, const std::string &filter) {
    std::vector<std::string> args = {"-r", capture, "-T", "fields", "-E", "occurrence=a", "-E", "aggregator=,"};
    for (const std::string &f : fields) {
        args.push_back("-e");
        args.push_back(f);
    }
    if (!filter.empty()) {
        args.push_back("-Y");
        args.push_back(filter);
    }
    const Result r = tshark.run(args);
    if (r.status != 0) throw std::runtime_error("tshark failed: " + r.err);
    std::vector<std::vector<std::string>> rows;
    for (const std::string &line : lines(r.out)) {
        rows.push_back(split(line, '\t'));
        for (std::string &cell : rows.back()) {
            if (cell == "True") cell = "1";
            if (cell == "False") cell = "0";
        }
    }
    return rows;
}

std::string expert_column_field(const std::string &title) {
    const bool by_type = WIRESHARK_VERSION_MAJOR > 4 || (WIRESHARK_VERSION_MAJOR == 4 && WIRESHARK_VERSION_MINOR >= 4);
    return "_ws.col." + (by_type ? std::string("expert") : title);
}

std::vector<int> matching_frames(const Tshark &tshark, const std::string &capture, const std::string &filter) {
    std::vector<int> frames;
    for (const auto &row : field_rows(tshark, capture, {"frame.number"}, filter)) frames.push_back(std::stoi(row[0]));
    return frames;
}

bool has_line_with(const std::string &text, const std::vector<std::string> &pieces) {
    for (const std::string &line : lines(text)) {
        bool all = true;
        for (const std::string &piece : pieces) all = all && line.find(piece) != std::string::npos;
        if (all) return true;
    }
    return false;
}

Tshark &shared_tshark() {
    static Tshark tshark;
    return tshark;
}

}  // namespace zeltest
