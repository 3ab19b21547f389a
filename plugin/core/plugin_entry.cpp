// What Wireshark's plug-in loader looks for: the version strings it checks
// and plugin_register, which hands over the two registration routines.
#include <ws_version.h>

#include "ws_compat.h"
#include "zelanalyzer.h"

ZELANALYZER_API const char plugin_version[];
ZELANALYZER_API const int plugin_want_major;
ZELANALYZER_API const int plugin_want_minor;
ZELANALYZER_API void plugin_register(void);
#if ZEL_HAVE_PLUGIN_DESCRIBE
ZELANALYZER_API uint32_t plugin_describe(void);
#endif

const char plugin_version[] = "4.2.1";
// The host refuses a plug-in built for another major.minor, so these follow
// the Wireshark the plug-in is compiled against.
const int plugin_want_major = WIRESHARK_VERSION_MAJOR;
const int plugin_want_minor = WIRESHARK_VERSION_MINOR;

void plugin_register(void) {
    static proto_plugin plugin_zelanalyzer;
    plugin_zelanalyzer.register_protoinfo = proto_register_zelanalyzer;
    plugin_zelanalyzer.register_handoff = proto_reg_handoff_zelanalyzer;
    proto_register_plugin(&plugin_zelanalyzer);
}

#if ZEL_HAVE_PLUGIN_DESCRIBE
// Hosts that ask list the plug-in as a dissector plug-in (without this,
// "tshark -G plugins" shows its type as unknown).
uint32_t plugin_describe(void) { return WS_PLUGIN_DESC_DISSECTOR; }
#endif
