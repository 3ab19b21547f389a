// The protocol id, preference module, tap ids and expert fields of the
// plug-in, and the registration steps that fill them.
#include "protocol.h"

#include <epan/tap.h>

int proto_zelanalyzer = -1;
int zelanalyzer_lyk_tap = -1;
int zelanalyzer_epl_tap = -1;

expert_field ei_zel_severe = EI_INIT;
expert_field ei_zel_major = EI_INIT;
expert_field ei_zel_minor = EI_INIT;
expert_field ei_zel_info = EI_INIT;

namespace {

module_t *zelanalyzer_module = NULL;

ei_register_info zelanalyzer_expert_fields[] = {
    {&ei_zel_severe, {"zel.severe", PI_PROTOCOL, PI_ERROR, "Severe Error", EXPFILL}},
    {&ei_zel_major, {"zel.major", PI_PROTOCOL, PI_ERROR, "Major Error", EXPFILL}},
    {&ei_zel_minor, {"zel.minor", PI_PROTOCOL, PI_WARN, "Warning", EXPFILL}},
    {&ei_zel_info, {"zel.info", PI_PROTOCOL, PI_NOTE, "Informational", EXPFILL}},
};

}  // namespace

module_t *zelanalyzer_prefs_module(void) { return zelanalyzer_module; }

void zelanalyzer_register_protocol(void) {
    proto_zelanalyzer = proto_register_protocol("Zelmar Analyzer", "Zelmar Analyzer", "zelanalyzer");
}

void zelanalyzer_register_preferences(void) { zelanalyzer_module = prefs_register_protocol(proto_zelanalyzer, NULL); }

void zelanalyzer_register_taps(void) {
    zelanalyzer_lyk_tap = register_tap("zellyk");
    zelanalyzer_epl_tap = register_tap("zelepl");
}

void zelanalyzer_register_expert_fields(void) {
    expert_module_t *expert = expert_register_protocol(proto_zelanalyzer);
    expert_register_field_array(expert, zelanalyzer_expert_fields, array_length(zelanalyzer_expert_fields));
}
