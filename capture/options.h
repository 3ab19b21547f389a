// Command line of sentra_extcap: long options only, parsed into the context.
#pragma once

struct CaptureContext;

// Parses argv into `context` (which must already hold its defaults). Uses
// getopt_long with the short-option string ":" and reorders argv the way
// getopt_long does. Never fails: unknown options and missing arguments are
// skipped silently. A text argument longer than its field is refused (see
// options.cpp) with a note on standard error.
void parseOptions(CaptureContext *context, int argc, char **argv);
