// The one handler for SIGINT, SIGTERM and SIGABRT.
#pragma once

// Installs the handler. On a signal it prints "signal <n> received" on
// standard output and counts the signal in g_signalCount (the capture's main
// loop then stops the capture and writes out what it may); 500 ms later the
// process ends with status 255 (-1) unless it has finished by itself.
// Answers 0, or -1 when the handler or its watchdog could not be set up.
int installSignalGuard();
