// Answers to Wireshark's extcap queries, printed exactly as Wireshark parses them.
#pragma once

#include <cstdio>

// --extcap-interfaces: version line, the two interfaces, the two controls.
void printExtcapInterfaces(std::FILE *out);
// --extcap-dlts: the one link type, without a line end.
void printExtcapDlts(std::FILE *out);
// --extcap-config: the dialog of `interfaceName` (exact match); nothing for
// any other name.
void printExtcapConfig(std::FILE *out, const char *interfaceName);
