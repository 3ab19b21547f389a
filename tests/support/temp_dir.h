// A world-readable scratch folder removed with everything in it, and a way to
// run the real Wireshark tools on files in it.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/capture_core_XXXXXX";
        const char *made = mkdtemp(pattern);
        if (made != nullptr) {
            path_ = made;
            chmod(made, 0755);  // the tools may run as an unprivileged user
        }
    }
    ~TempDir() {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::vector<uint8_t> readWholeFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string readText(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline bool toolAvailable(const char *tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

struct ToolResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a Wireshark tool on files of `dir`. As root it runs as nobody: tshark
// warns about running as root, and the folder is world-readable for this.
inline ToolResult runTool(const TempDir &dir, const std::string &arguments) {
    const std::string outPath = dir.file("tool.out");
    const std::string errPath = dir.file("tool.err");
    std::string prefix = "env HOME='" + dir.path() + "' ";
    if (geteuid() == 0) prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups " + prefix;
    const std::string command =
        "cd '" + dir.path() + "' && " + prefix + arguments + " >'" + outPath + "' 2>'" + errPath + "'";
    ToolResult result;
    const int raw = std::system(command.c_str());
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = readText(outPath);
    result.err = readText(errPath);
    return result;
}
