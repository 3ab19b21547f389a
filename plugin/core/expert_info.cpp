#include "expert_info.h"

#include <epan/expert.h>

#include "protocol.h"

namespace {

expert_field *expert_field_for(unsigned int severity) {
    switch (severity) {
    case 0: return &ei_zel_info;
    case 1: return &ei_zel_minor;
    case 2: return &ei_zel_major;
    case 3: return &ei_zel_severe;
    default: return NULL;
    }
}

}  // namespace

void zelanalyzer_expert_info(packet_info *pinfo, proto_item *tree, unsigned int severity, const char *msg) {
    if (pinfo == NULL) {
        g_log(NULL, G_LOG_LEVEL_DEBUG, "pinfo in zelanalyzer_expert_info is NULL");
        return;
    }
    if (tree == NULL) {
        g_log(NULL, G_LOG_LEVEL_DEBUG, "tree in zelanalyzer_expert_info is NULL");
        return;
    }
    if (msg == NULL) {
        g_log(NULL, G_LOG_LEVEL_DEBUG, "msg in zelanalyzer_expert_info is NULL");
        return;
    }
    expert_field *field = expert_field_for(severity);
    if (field == NULL) {
        g_log(NULL, G_LOG_LEVEL_WARNING, "Unknown severity of message.");
        return;
    }
    expert_add_info_format(pinfo, tree, field, "%s", msg);
}

void zelanalyzer_expert_tap_info(packet_info *pinfo, unsigned int severity, const char *msg) {
    expert_field *field = expert_field_for(severity);
    if (pinfo == NULL || msg == NULL || field == NULL) return;
    expert_add_info_format(pinfo, NULL, field, "%s", msg);
}
