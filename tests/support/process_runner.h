// Runs the real programs under test and collects what they print.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct ProcessResult {
    std::string out;
    std::string err;
    int exitStatus = -1;  // exit code, or -1 when ended by a signal
    int termSignal = 0;
};

// Runs `argv` to completion (argv[0] is the program path), optionally with
// extra environment entries "NAME=value" and a working directory.
ProcessResult runProcess(const std::vector<std::string> &argv, const std::vector<std::string> &extraEnv = {},
                         const std::string &workDir = "");

// A running child whose standard output is read through a pipe.
struct ChildProcess {
    pid_t pid = -1;
    int outFd = -1;
    std::string out;
    // Reads standard output until `text` has appeared or `timeoutMs` passed.
    bool waitForOutput(const std::string &text, int timeoutMs);
    // Waits for the end, reading the rest of standard output.
    ProcessResult finish();
};

ChildProcess startProcess(const std::vector<std::string> &argv, const std::string &workDir = "");

// A fresh temporary folder (removed with its content by the destructor).
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    std::string path;
    std::string file(const std::string &name) const { return path + "/" + name; }
};

std::string readWholeFile(const std::string &path);
