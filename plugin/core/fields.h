// Header field and subtree ids of the analyzer-frame dissectors. They are
// registered as one array (Lanyx, then Q40TA5521, then Lanyx+) in
// registration.cpp; each starts at -1 until then (fields.cpp).
#pragma once

// Lanyx link analyzer (lyk.*)
extern int hf_lyk_status;
extern int hf_lyk_status_dir;
extern int hf_lyk_status_crc_error;
extern int hf_lyk_status_sync_error;
extern int hf_lyk_framecnt;
extern int hf_lyk_localios;
extern int hf_lyk_starttime;
extern int hf_lyk_stoptime;
extern int hf_lyk_frame_dir_and_type;
extern int hf_lyk_payload_framelen;
extern int hf_lyk_payload_cyclecnt;
extern int hf_lyk_payload_dataarea;
extern int hf_lyk_payload_sliced;
extern int hf_lyk_payload_crc32;
extern int hf_lyk_payload_f5;

// Q40TA5521 packed frames (ta5521.*)
extern int hf_ta5521_dump_size;
extern int hf_ta5521_dump_count;
extern int hf_ta5521_capture_id;
extern int hf_ta5521_dump_total;
extern int hf_ta5521_dump_lost;
extern int hf_ta5521_unique_id;
extern int hf_ta5521_ts_high;
extern int hf_ta5521_phy_info;
extern int hf_ta5521_protocol_version;
extern int hf_ta5521_reserved;
extern int hf_ta5521_frm_timestamp;
extern int hf_ta5521_frm_size;
extern int hf_ta5521_frm_flags;
extern int hf_ta5521_frm_data;

// Lanyx+ analyzer (lanyxplus.* / lanyxPlus.*)
extern int hf_lanyxplus_flags;
extern int hf_lanyxplus_flags_post_trigger;
extern int hf_lanyxplus_flags_trigger;
extern int hf_lanyxplus_flags_filter;
extern int hf_lanyxplus_flags_drop;
extern int hf_lanyxplus_flags_lineidx;
extern int hf_lanyxplus_flags_frametype;
extern int hf_lanyxplus_flags_pkglen;
extern int hf_lanyxplus_transfertime;
extern int hf_lanyxplus_hdr;
extern int hf_lanyxplus_dst;
extern int hf_lanyxplus_src;
extern int hf_lanyxplus_port;
extern int hf_lanyxplus_data;
extern int hf_lanyxplus_data_payload;
extern int hf_lanyxplus_cmdif_ackport;
extern int hf_lanyxplus_cmdif_type;
extern int hf_lanyxplus_cmdif_cmd;
extern int hf_lanyxplus_cmdif_info;
extern int hf_lanyxplus_pause;
extern int hf_lanyxplus_mgmt;
extern int hf_lanyxplus_mgmt_info;
extern int hf_lanyxplus_mgmt_info_link;
extern int hf_lanyxplus_mgmt_info_pause;
extern int hf_lanyxplus_mgmt_info_service;
extern int hf_lanyxplus_mgmt_payload;
extern int hf_lanyxplus_mgmt_payloadraw;

// Subtrees, in registration order.
extern int ett_lyk_frame;
extern int ett_lyk_status;
extern int ett_lyk_payload;
extern int ett_ta5521_frame;
extern int ett_lanyxplus_frame;
extern int ett_lanyxplus_flags;
extern int ett_lanyxplus_hdr;
extern int ett_lanyxplus_mgmt_info;
