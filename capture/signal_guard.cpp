#include "signal_guard.h"

#include <semaphore.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <initializer_list>
#include <thread>

#include "capture_context.h"

namespace {

constexpr long kGraceNanoseconds = 500L * 1000 * 1000;
constexpr int kSignalExitStatus = -1 & 0xff;  // what exit(-1) reports

// The handler may only use async-signal-safe calls, so it cannot sleep and
// exit itself without stalling the thread it interrupted (the main loop that
// has to write out the capture). It wakes a watchdog thread through a
// semaphore instead (sem_post is async-signal-safe); the watchdog gives the
// capture its grace time and then ends the process.
sem_t g_watchdogWake;

void watchdog() {
    while (sem_wait(&g_watchdogWake) != 0) {
        // EINTR: a signal arrived on this thread; sem_post will follow or has come
    }
    struct timespec grace {
        0, kGraceNanoseconds
    };
    while (nanosleep(&grace, &grace) != 0 && errno == EINTR) {
    }
    _exit(kSignalExitStatus);
}

// "signal %d received\n" without stdio.
void writeSignalLine(int signalNumber) {
    char line[32] = "signal ";
    size_t length = 7;
    char digits[12];
    size_t count = 0;
    unsigned value = static_cast<unsigned>(signalNumber);
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value && count < sizeof digits);
    while (count) line[length++] = digits[--count];
    for (const char *tail = " received\n"; *tail; ++tail) line[length++] = *tail;
    ssize_t ignored = write(STDOUT_FILENO, line, length);
    (void)ignored;
}

void onSignal(int signalNumber) {
    const int savedErrno = errno;
    writeSignalLine(signalNumber);
    g_signalCount.fetch_add(1);
    sem_post(&g_watchdogWake);
    errno = savedErrno;
}

}  // namespace

int installSignalGuard() {
    static_assert(std::atomic<int>::is_always_lock_free, "the signal counter must be safe to touch in a handler");
    if (sem_init(&g_watchdogWake, 0, 0) != 0) return -1;
    try {
        std::thread(watchdog).detach();
    } catch (...) {
        return -1;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Blocking calls (opening a FIFO nobody reads yet, writing into it) resume
    // after the handler; the main loop or the watchdog ends the run.
    action.sa_flags = SA_RESTART;
    for (int signalNumber : {SIGINT, SIGTERM, SIGABRT}) {
        if (sigaction(signalNumber, &action, nullptr) != 0) return -1;
    }
    return 0;
}
