/* Wireshark's real dissection in the test process, feeding the collection. */
#pragma once

#include <string>

/* Reads `path` with libwiretap and dissects every packet with libwireshark,
 * taps included; the collection sees exactly what Wireshark's openSAFETY
 * dissector reports. */
bool osa_ws_dissect_file(const std::string &path, std::string *err);

/* Sets a Wireshark preference ("opensafety.scm_udid", ...) and applies it. */
bool osa_ws_set_pref(const char *name, const char *value);
