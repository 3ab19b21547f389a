// Header field and subtree ids of the analyzer-frame dissectors; registration
// fills them.
#include "fields.h"

int hf_lyk_status = -1;
int hf_lyk_status_dir = -1;
int hf_lyk_status_crc_error = -1;
int hf_lyk_status_sync_error = -1;
int hf_lyk_framecnt = -1;
int hf_lyk_localios = -1;
int hf_lyk_starttime = -1;
int hf_lyk_stoptime = -1;
int hf_lyk_frame_dir_and_type = -1;
int hf_lyk_payload_framelen = -1;
int hf_lyk_payload_cyclecnt = -1;
int hf_lyk_payload_dataarea = -1;
int hf_lyk_payload_sliced = -1;
int hf_lyk_payload_crc32 = -1;
int hf_lyk_payload_f5 = -1;

int hf_ta5521_dump_size = -1;
int hf_ta5521_dump_count = -1;
int hf_ta5521_capture_id = -1;
int hf_ta5521_dump_total = -1;
int hf_ta5521_dump_lost = -1;
int hf_ta5521_unique_id = -1;
int hf_ta5521_ts_high = -1;
int hf_ta5521_phy_info = -1;
int hf_ta5521_protocol_version = -1;
int hf_ta5521_reserved = -1;
int hf_ta5521_frm_timestamp = -1;
int hf_ta5521_frm_size = -1;
int hf_ta5521_frm_flags = -1;
int hf_ta5521_frm_data = -1;

int hf_lanyxplus_flags = -1;
int hf_lanyxplus_flags_post_trigger = -1;
int hf_lanyxplus_flags_trigger = -1;
int hf_lanyxplus_flags_filter = -1;
int hf_lanyxplus_flags_drop = -1;
int hf_lanyxplus_flags_lineidx = -1;
int hf_lanyxplus_flags_frametype = -1;
int hf_lanyxplus_flags_pkglen = -1;
int hf_lanyxplus_transfertime = -1;
int hf_lanyxplus_hdr = -1;
int hf_lanyxplus_dst = -1;
int hf_lanyxplus_src = -1;
int hf_lanyxplus_port = -1;
int hf_lanyxplus_data = -1;
int hf_lanyxplus_data_payload = -1;
int hf_lanyxplus_cmdif_ackport = -1;
int hf_lanyxplus_cmdif_type = -1;
int hf_lanyxplus_cmdif_cmd = -1;
int hf_lanyxplus_cmdif_info = -1;
int hf_lanyxplus_pause = -1;
int hf_lanyxplus_mgmt = -1;
int hf_lanyxplus_mgmt_info = -1;
int hf_lanyxplus_mgmt_info_link = -1;
int hf_lanyxplus_mgmt_info_pause = -1;
int hf_lanyxplus_mgmt_info_service = -1;
int hf_lanyxplus_mgmt_payload = -1;
int hf_lanyxplus_mgmt_payloadraw = -1;

int ett_lyk_frame = -1;
int ett_lyk_status = -1;
int ett_lyk_payload = -1;
int ett_ta5521_frame = -1;
int ett_lanyxplus_frame = -1;
int ett_lanyxplus_flags = -1;
int ett_lanyxplus_hdr = -1;
int ett_lanyxplus_mgmt_info = -1;
