#include "process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char **environ;

namespace {

pid_t spawn(const std::vector<std::string> &argv, const std::vector<std::string> &extraEnv, const std::string &workDir,
            int outFd, int errFd) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) dup2(devNull, STDIN_FILENO);
    // The test runner may ignore or block signals; the program under test
    // starts with the defaults like any program started by Wireshark.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int s : {SIGINT, SIGTERM, SIGABRT, SIGPIPE}) sigaction(s, &defaults, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
    for (const std::string &entry : extraEnv) putenv(strdup(entry.c_str()));
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

void drain(int fd, std::string &into) {
    char chunk[4096];
    ssize_t got;
    while ((got = read(fd, chunk, sizeof chunk)) > 0) into.append(chunk, static_cast<size_t>(got));
}

ProcessResult statusOf(int status) {
    ProcessResult result;
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.termSignal = WTERMSIG(status);
    return result;
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string> &argv, const std::vector<std::string> &extraEnv,
                         const std::string &workDir) {
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return {};
    pid_t pid = spawn(argv, extraEnv, workDir, outPipe[1], errPipe[1]);
    close(outPipe[1]);
    close(errPipe[1]);
    std::string out, err;
    struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    while (open > 0 && poll(fds, 2, 20000) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char chunk[4096];
            ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
            if (got > 0) {
                (i == 0 ? out : err).append(chunk, static_cast<size_t>(got));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto &f : fds)
        if (f.fd >= 0) close(f.fd);
    int status = 0;
    waitpid(pid, &status, 0);
    ProcessResult result = statusOf(status);
    result.out = out;
    result.err = err;
    return result;
}

ChildProcess startProcess(const std::vector<std::string> &argv, const std::string &workDir) {
    ChildProcess child;
    int outPipe[2];
    if (pipe(outPipe) != 0) return child;
    int devNull = open("/dev/null", O_WRONLY);
    child.pid = spawn(argv, {}, workDir, outPipe[1], devNull);
    close(devNull);
    close(outPipe[1]);
    child.outFd = outPipe[0];
    return child;
}

bool ChildProcess::waitForOutput(const std::string &text, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.find(text) == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        struct pollfd fd = {outFd, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) return false;
        char chunk[4096];
        ssize_t got = read(outFd, chunk, sizeof chunk);
        if (got <= 0) return out.find(text) != std::string::npos;
        out.append(chunk, static_cast<size_t>(got));
    }
    return true;
}

ProcessResult ChildProcess::finish() {
    drain(outFd, out);
    close(outFd);
    int status = 0;
    waitpid(pid, &status, 0);
    ProcessResult result = statusOf(status);
    result.out = out;
    return result;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/sentra_cli_XXXXXX";
    const char *made = mkdtemp(pattern);
    path = made ? made : "/tmp";
}

TempDir::~TempDir() {
    if (path.rfind("/tmp/sentra_cli_", 0) == 0) {
        std::string command = "rm -rf '" + path + "'";
        int ignored = std::system(command.c_str());
        (void)ignored;
    }
}

std::string readWholeFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}
