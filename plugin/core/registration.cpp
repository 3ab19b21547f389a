// Everything the plug-in registers with Wireshark, in one place and in a
// fixed order: protocol, fields, subtrees, preferences, dissectors, taps,
// expert fields, tap listeners, menus and statistics trees; then the
// hand-off that hangs the dissectors on POWERLINK.
#include "zelanalyzer.h"

#include <epan/expert.h>
#include <epan/plugin_if.h>
#include <epan/prefs.h>
#include <epan/stats_tree.h>
#include <epan/tap.h>

#include "analyzer_frames.h"
#include "fields.h"
#include "lanyx_stats.h"
#include "menu_actions.h"
#include "osa_tap.h"
#include "plk_analyzer.h"
#include "plk_stats.h"
#include "protocol.h"

namespace {

const true_false_string tfs_input_output = {"Input", "Output"};
const true_false_string tfs_set_notset_lyk = {"Set", "Not Set"};
const true_false_string tfs_set_notset_lanyxplus = {"Set", "Not set"};
const true_false_string tfs_link_ok_error = {"OK", "Error"};
const true_false_string tfs_pause_requested = {"Requested", "Not Requested"};

const value_string lanyxplus_frametype_vals[] = {
    {lanyxplus::Data, "Data Frame"},
    {lanyxplus::Pause, "Pause Frame"},
    {lanyxplus::Management, "Management Frame"},
    {0, NULL},
};

const value_string lanyxplus_mgmt_service_vals[] = {
    {0, "Remote time(neighbours local time)"},
    {1, "Remote diff (neighbours local diff)"},
    {2, "Remote nettime offset"},
    {3, "Extended function"},
    {0, NULL},
};

// One array, in wire order: 15 Lanyx, 14 Q40TA5521, 27 Lanyx+ fields.
hf_register_info zelanalyzer_fields[] = {
    // Lanyx link analyzer
    {&hf_lyk_status, {"Status", "lyk.status", FT_UINT16, BASE_HEX, NULL, 0x0, NULL, HFILL}},
    {&hf_lyk_status_dir,
     {"Direction", "lyk.status.dir", FT_BOOLEAN, 16, TFS(&tfs_input_output), lyk::kStatusDirectionIn, NULL, HFILL}},
    {&hf_lyk_status_crc_error,
     {"CRC32 Error", "lyk.status.error.cmrc", FT_BOOLEAN, 16, TFS(&tfs_set_notset_lyk), lyk::kStatusCrcError, NULL,
      HFILL}},
    {&hf_lyk_status_sync_error,
     {"Sync Error", "lyk.status.error.synchronisation", FT_BOOLEAN, 16, TFS(&tfs_set_notset_lyk), lyk::kStatusSyncError,
      NULL, HFILL}},
    {&hf_lyk_framecnt, {"FrameCnt", "lyk.framecnt", FT_UINT8, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_lyk_localios, {"Local-IOs", "lyk.localios", FT_UINT8, BASE_HEX, NULL, 0x0, NULL, HFILL}},
    {&hf_lyk_starttime, {"Start Time (20ns)", "lyk.starttime", FT_UINT32, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_lyk_stoptime, {"Stop Time (20ns)", "lyk.stoptime", FT_UINT32, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_lyk_frame_dir_and_type, {"FT", "lyk.frame.dir_and_type", FT_STRINGZ, BASE_NONE, NULL, 0x0, NULL, HFILL}},
    {&hf_lyk_payload_framelen, {"Frame Length", "lyk.payload.framelen", FT_UINT16, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_lyk_payload_cyclecnt, {"CycleCnt", "lyk.payload.cyclecnt", FT_UINT16, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_lyk_payload_dataarea, {"Data", "lyk.payload.dataarea", FT_BYTES, BASE_NONE, NULL, 0x0, NULL, HFILL}},
    {&hf_lyk_payload_sliced, {"Packet sliced", "lyk.payload.sliced", FT_BOOLEAN, BASE_NONE, NULL, 0x0, NULL, HFILL}},
    {&hf_lyk_payload_crc32, {"CRC32", "lyk.payload.crc32", FT_UINT32, BASE_HEX, NULL, 0x0, NULL, HFILL}},
    {&hf_lyk_payload_f5, {"F5 Count", "lyk.payload.f5", FT_UINT16, BASE_DEC, NULL, 0x0, NULL, HFILL}},

    // Q40TA5521 packed frames
    {&hf_ta5521_dump_size, {"Dump size", "ta5521.dumpSize", FT_UINT16, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_ta5521_dump_count, {"Dump count", "ta5521.dumpCount", FT_UINT8, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_ta5521_capture_id, {"Capture id", "ta5521.captureId", FT_UINT8, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_ta5521_dump_total, {"Dump total", "ta5521.dumpTotal", FT_UINT16, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_ta5521_dump_lost, {"Dump lost", "ta5521.dumpLost", FT_UINT16, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_ta5521_unique_id, {"Unique id", "ta5521.uniqueId", FT_UINT16, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_ta5521_ts_high, {"Timestamp high", "ta5521.tsHigh", FT_UINT32, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_ta5521_phy_info, {"Phy info", "ta5521.phyInfo", FT_UINT8, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_ta5521_protocol_version,
     {"Protocol version", "ta5521.protocolVersion", FT_UINT8, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_ta5521_reserved, {"Reserved", "ta5521.reserved", FT_UINT16, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_ta5521_frm_timestamp, {"Timestamp", "ta5521.frm.timestamp", FT_UINT32, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_ta5521_frm_size, {"Size", "ta5521.frm.size", FT_UINT16, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_ta5521_frm_flags, {"Flags", "ta5521.frm.flags", FT_UINT16, BASE_HEX, NULL, 0x0, NULL, HFILL}},
    {&hf_ta5521_frm_data, {"Data", "ta5521.frm.data", FT_BYTES, BASE_NONE, NULL, 0x0, NULL, HFILL}},

    // Lanyx+ analyzer
    {&hf_lanyxplus_flags, {"Flags", "lanyxplus.flags", FT_UINT32, BASE_HEX, NULL, 0x0, NULL, HFILL}},
    {&hf_lanyxplus_flags_post_trigger,
     {"Post-trigger", "lanyxplus.flags.postTrigger", FT_BOOLEAN, 32, TFS(&tfs_set_notset_lanyxplus),
      lanyxplus::kFlagPostTrigger, NULL, HFILL}},
    {&hf_lanyxplus_flags_trigger,
     {"Trigger", "lanyxplus.flags.trigger", FT_BOOLEAN, 32, TFS(&tfs_set_notset_lanyxplus), lanyxplus::kFlagTrigger,
      NULL, HFILL}},
    {&hf_lanyxplus_flags_filter,
     {"Filter", "lanyxplus.flags.filter", FT_BOOLEAN, 32, TFS(&tfs_set_notset_lanyxplus), lanyxplus::kFlagFilter, NULL,
      HFILL}},
    {&hf_lanyxplus_flags_drop,
     {"Drop", "lanyxplus.flags.drop", FT_BOOLEAN, 32, TFS(&tfs_set_notset_lanyxplus), lanyxplus::kFlagDrop, NULL,
      HFILL}},
    {&hf_lanyxplus_flags_lineidx,
     {"Line index", "lanyxplus.flags.lineidx", FT_UINT32, BASE_DEC, NULL, lanyxplus::kFlagLineIndex, NULL, HFILL}},
    {&hf_lanyxplus_flags_frametype,
     {"Frame type", "lanyxplus.flags.frametype", FT_UINT32, BASE_DEC, VALS(lanyxplus_frametype_vals),
      lanyxplus::kFlagFrameType, NULL, HFILL}},
    {&hf_lanyxplus_flags_pkglen,
     {"Package length", "lanyxplus.flags.pkgLen", FT_UINT32, BASE_DEC, NULL, lanyxplus::kFlagPackageLength, NULL,
      HFILL}},
    {&hf_lanyxplus_transfertime,
     {"Transfer time", "lanyxplus.transfertime", FT_UINT32, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_lanyxplus_hdr, {"Header", "lanyxplus.hdr", FT_UINT32, BASE_HEX, NULL, 0x0, NULL, HFILL}},
    {&hf_lanyxplus_dst,
     {"Destination", "lanyxplus.dst", FT_UINT32, BASE_DEC, NULL, lanyxplus::kHeaderDestination, NULL, HFILL}},
    {&hf_lanyxplus_src, {"Source", "lanyxplus.src", FT_UINT32, BASE_DEC, NULL, lanyxplus::kHeaderSource, NULL, HFILL}},
    {&hf_lanyxplus_port, {"Port", "lanyxplus.port", FT_UINT32, BASE_DEC, NULL, lanyxplus::kHeaderPort, NULL, HFILL}},
    {&hf_lanyxplus_data, {"Lanyx+ Data", "lanyxplus.data", FT_BOOLEAN, BASE_NONE, NULL, 0x0, NULL, HFILL}},
    {&hf_lanyxplus_data_payload, {"Payload", "lanyxPlus.data.payload", FT_BYTES, BASE_NONE, NULL, 0x0, NULL, HFILL}},
    {&hf_lanyxplus_cmdif_ackport,
     {"AckPort", "lanyxPlus.data.cmdif.ackport", FT_UINT8, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_lanyxplus_cmdif_type, {"Type", "lanyxPlus.data.cmdif.type", FT_UINT8, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_lanyxplus_cmdif_cmd, {"Command", "lanyxPlus.data.cmdif.cmd", FT_UINT8, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_lanyxplus_cmdif_info, {"Info", "lanyxPlus.data.cmdif.info", FT_UINT8, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_lanyxplus_pause, {"Lanyx+ Pause", "lanyxplus.pause", FT_BOOLEAN, BASE_NONE, NULL, 0x0, NULL, HFILL}},
    {&hf_lanyxplus_mgmt, {"Lanyx+ Mgmt", "lanyxplus.mgmt", FT_BOOLEAN, BASE_NONE, NULL, 0x0, NULL, HFILL}},
    {&hf_lanyxplus_mgmt_info, {"Info", "lanyxplus.mgmt.info", FT_UINT8, BASE_HEX, NULL, 0x0, NULL, HFILL}},
    {&hf_lanyxplus_mgmt_info_link,
     {"Link", "lanyxplus.mgmt.info.link", FT_BOOLEAN, 8, TFS(&tfs_link_ok_error), lanyxplus::kMgmtLink, NULL, HFILL}},
    {&hf_lanyxplus_mgmt_info_pause,
     {"Pause", "lanyxplus.mgmt.info.pause", FT_BOOLEAN, 8, TFS(&tfs_pause_requested), lanyxplus::kMgmtPause, NULL,
      HFILL}},
    {&hf_lanyxplus_mgmt_info_service,
     {"Service", "lanyxplus.mgmt.info.service", FT_UINT8, BASE_HEX, VALS(lanyxplus_mgmt_service_vals),
      lanyxplus::kMgmtService, NULL, HFILL}},
    {&hf_lanyxplus_mgmt_payload, {"Payload", "lanyxPlus.mgmt.payload", FT_INT32, BASE_DEC, NULL, 0x0, NULL, HFILL}},
    {&hf_lanyxplus_mgmt_payloadraw,
     {"Payload", "lanyxPlus.mgmt.payloadraw", FT_BYTES, BASE_NONE, NULL, 0x0, NULL, HFILL}},
};

gint *zelanalyzer_subtrees[] = {
    &ett_lyk_frame,       &ett_lyk_status,      &ett_lyk_payload,   &ett_ta5521_frame,
    &ett_lanyxplus_frame, &ett_lanyxplus_flags, &ett_lanyxplus_hdr, &ett_lanyxplus_mgmt_info,
};

void reset_field_ids() {
    for (hf_register_info &field : zelanalyzer_fields) *field.p_id = -1;
    for (gint *subtree : zelanalyzer_subtrees) *subtree = -1;
}

}  // namespace

void proto_register_zelanalyzer(void) {
    // Field and subtree ids start unregistered.
    reset_field_ids();

    // The protocol.
    zelanalyzer_register_protocol();

    // Header fields, then subtrees.
    proto_register_field_array(proto_zelanalyzer, zelanalyzer_fields, array_length(zelanalyzer_fields));
    proto_register_subtree_array(zelanalyzer_subtrees, array_length(zelanalyzer_subtrees));

    // Preference module (no apply callback).
    zelanalyzer_register_preferences();

    // The analyzer-frame dissectors.
    register_dissector("lyk_analyzer", dissect_lyk_analyzer, proto_zelanalyzer);
    register_dissector("ta5521raw_analyzer", dissect_ta5521raw_analyzer, proto_zelanalyzer);
    register_dissector("lanyxplus_analyzer", dissect_lanyxplus_analyzer, proto_zelanalyzer);

    // Taps.
    zelanalyzer_register_taps();

    // Expert fields.
    zelanalyzer_register_expert_fields();

    // The page's one entry: an empty static text, so the page exists
    // without settings.
    prefs_register_static_text_preference(zelanalyzer_prefs_module(), "", "", "");

    // POWERLINK analysis: tap listener on "eth".
    plk_register_tap_listener();

    // Menus, "About Zelmar Analyzer" first. Tools lists them in this
    // order: "POWERLINK", then "openSAFETY" (the last entry of the menu).
    ext_menu_t *about_menu = ext_menubar_register_menu(proto_zelanalyzer, "About Zelmar Analyzer", TRUE);
    ext_menubar_set_parentmenu(about_menu, "Help");
    ext_menubar_add_entry(about_menu, "General information", NULL, zelanalyzer_menu_about, NULL);
    ext_menu_t *powerlink_menu = ext_menubar_register_menu(proto_zelanalyzer, "POWERLINK", TRUE);
    ext_menubar_set_parentmenu(powerlink_menu, "Tools");
    ext_menubar_add_entry(powerlink_menu, "Cycle Analysis", NULL, zelanalyzer_menu_powerlink_cycle, NULL);
    ext_menu_t *opensafety_menu = ext_menubar_register_menu(proto_zelanalyzer, "openSAFETY", TRUE);
    ext_menubar_set_parentmenu(opensafety_menu, "Tools");
    ext_menubar_add_entry(opensafety_menu, "openSAFETY Analysis", NULL, zelanalyzer_menu_opensafety_analysis, NULL);

    // Statistics tree "Zelmar/Lanyx".
    stats_tree_register_plugin("zellyk", "zel_lyk", "Zelmar/Lanyx", TL_REQUIRES_PROTO_TREE, lyk_stats_tree_packet,
                               lyk_stats_tree_init, NULL);
    // POWERLINK statistics tree "Zelmar/POWERLINK" on "eth".
    plk_register_stats_tree();

    // openSAFETY collection: tap listener on "opensafety", then the
    // statistics tree "Zelmar/openSAFETY".
    osa_register_opensafety();
}

void proto_reg_handoff_zelanalyzer(void) {
    // POWERLINK analysis: heuristic "zel_plk_analyzer" on "eth".
    plk_register_heuristic();

    // The analyzer frames, told apart by their ASnd service identifier.
    dissector_add_uint("epl.asnd", 0xA1, find_dissector("lyk_analyzer"));
    dissector_add_uint("epl.asnd", 0xA4, find_dissector("lyk_analyzer"));
    dissector_add_uint("epl.asnd", 0xA3, find_dissector("ta5521raw_analyzer"));
    dissector_add_uint("epl.asnd", 0xA5, find_dissector("lanyxplus_analyzer"));

    lyk_analyzer_resolve_payload_dissector();
}
