#include "plk_analyzer.h"

#include <epan/prefs.h>
#include <epan/prefs-int.h>
#include <glib.h>
#include <wiretap/wtap.h>
#include <wsutil/pint.h>
#include <ws_version.h>

#include <cstring>

#include "expert_info.h"
#include "fcs_crc32.h"
#include "flowlens.h"
#include "frame_results.h"
#include "plk_samples.h"
#include "frame_text.h"
#include "ws_compat.h"
#include "protocol.h"

namespace {

flowlens_packet_info *packet_record = NULL;
uint64_t last_processed_frame = 0;
packet_info *current_pinfo = NULL;  // the frame being analysed
flowlens_instance *instance = NULL;
int creation = -1;  // -1 not tried, 0 created, 255 failed
void (*reset_hook)(void) = NULL;
// Each analysed frame's messages and text, shown on every dissection of it.
flowlens_frame_results results;
char text_buffer[FLOWLENS_TEXT_BUFFER_SIZE];

constexpr guint32 FCS_LENGTH = 4;
constexpr guint32 DIRECTION_INBOUND = 1;   // port 01
constexpr guint32 DIRECTION_OUTBOUND = 2;  // port 02

tap_packet_status plk_tap_packet(void *, packet_info *, epan_dissect_t *, const void *, tap_flags_t) {
    return TAP_PACKET_DONT_REDRAW;
}

void plk_tap_draw(void *) {}

zel_option_walk_result take_packet_flags(wtap_block_t, guint option_id, wtap_opttype_e type, wtap_optval_t *value,
                                         void *flags) {
    if (option_id != OPT_PKT_FLAGS || type != WTAP_OPTTYPE_UINT32) return true;
    *static_cast<guint32 *>(flags) = value->uint32val;
    return false;  // the first flags option counts
}

// The capture engine writes its packet flags as the pcapng epb_flags option.
// Walking the block's few options finds it without the option-type table
// look-up a lookup by id costs, which every frame would pay (most packet
// blocks carry no option at all).
guint32 packet_flags_of(packet_info *pinfo) {
    guint32 flags = 0;
    if (pinfo->rec == NULL || pinfo->rec->block == NULL) return 0;
    wtap_block_foreach_option(pinfo->rec->block, take_packet_flags, &flags);
    return flags;
}

uint8_t port_of(guint32 flags) {
    switch (flags & FLOWLENS_FLAG_DIRECTION_MASK) {
    case DIRECTION_OUTBOUND: return 1;
    case DIRECTION_INBOUND:
    default: return 0;
    }
}

}  // namespace

void plk_set_reset_hook(void (*hook)(void)) { reset_hook = hook; }

flowlens_instance *plk_analyzer_instance(void) { return instance; }
const flowlens_cycle_samples *plk_cycle_samples(void) { return flowlens_samples(instance); }
uint64_t plk_last_processed_frame(void) { return last_processed_frame; }
void plk_set_last_processed_frame(uint64_t frame) { last_processed_frame = frame; }

// The analysis needs no protocol tree (its results are kept per frame), so
// the listener asks for none: a run that needs no tree, such as
// "tshark -q -z expert", is not made to build one for every frame.
void plk_register_tap_listener(void) {
    GString *error = register_tap_listener("eth", packet_record, NULL, TL_REQUIRES_NOTHING, plk_tap_reset,
                                           plk_tap_packet, plk_tap_draw, NULL);
    if (error != NULL) {
        g_log(NULL, G_LOG_LEVEL_WARNING, "Could not register the POWERLINK tap listener: %s", error->str);
        g_string_free(error, TRUE);
    }
}

void plk_register_heuristic(void) {
    heur_dissector_add("eth", dissect_plk_analyzer, "Zelmar POWERLINK Analyzer", "zel_plk_analyzer", proto_zelanalyzer,
                       HEURISTIC_ENABLE);
}

void set_options(void) {
    if (instance == NULL) {
        g_log(NULL, G_LOG_LEVEL_WARNING, "Can't set options with an unintialized interface.");
        return;
    }
    flowlens_set_timemode(instance, FLOWLENS_TIMEMODE_DETECT);
    module_t *module = zelanalyzer_prefs_module();
    if (module == NULL) {
        g_log(NULL, G_LOG_LEVEL_DEBUG, "mod_settings is NULL in set_options\n");
        return;
    }
    // Neither preference is registered by the plug-in, so both lookups find
    // nothing and the defaults hold (port marks on, time mode detected).
    if (pref_t *portmarking = prefs_find_preference(module, "portmarking"))
        flowlens_set_portmarking(instance, uint8_t(prefs_get_uint_value_real(portmarking, pref_current) & 0xFF));
    if (pref_t *timemode = prefs_find_preference(module, "timemode"))
        flowlens_set_timemode(instance, prefs_get_bool_value(timemode, pref_current) ? FLOWLENS_TIMEMODE_HIGH_RESOLUTION
                                                                                     : FLOWLENS_TIMEMODE_DETECT);
}

void reset_capture(void) {
    if (instance == NULL) {
        g_log(NULL, G_LOG_LEVEL_DEBUG, "flowlens_instance is a NULL in reset_capture");
        return;
    }
    set_options();
    flowlens_reset(instance);
}

void start_capture(void) {
    if (instance == NULL) {
        g_log(NULL, G_LOG_LEVEL_DEBUG, "flowlens_instance is a NULL in start_capture");
        return;
    }
    set_options();
    flowlens_start(instance);
}

void plk_tap_reset(void *) {
    if (creation < 0) {
        if (flowlens_create(&instance, _event_callback, NULL) != 0) {
            instance = NULL;
            creation = 255;
            g_log(NULL, G_LOG_LEVEL_WARNING, "Could not create instance for flowlens.");
            return;
        }
        creation = 0;
    }
    if (instance == NULL) return;
    if (reset_hook != NULL) reset_hook();
    last_processed_frame = 0;
    results.clear();
    if (packet_record != NULL) {
        reset_capture();
        std::memset(packet_record, 0, sizeof *packet_record);
        g_log(NULL, G_LOG_LEVEL_DEBUG, "tap reset.");
    } else {
        start_capture();
        packet_record = static_cast<flowlens_packet_info *>(wmem_alloc0(wmem_epan_scope(), sizeof *packet_record));
        g_log(NULL, G_LOG_LEVEL_DEBUG, "tap initialized.");
    }
}

void process_packet(flowlens_packet_info *packet, packet_info *pinfo, proto_tree *) {
    if (pinfo != NULL) current_pinfo = pinfo;
    // A frame analysed without a protocol tree is the usual case (packet list
    // rows, tshark without details): its messages are kept, not added here.
    if (pinfo == NULL) g_log(NULL, G_LOG_LEVEL_DEBUG, "pinfo in process_packet is a NULL");
    if (instance == NULL) {
        g_log(NULL, G_LOG_LEVEL_DEBUG, "flowlens_instance is a NULL in process_packet");
        return;
    }
    if (packet == NULL) {
        g_log(NULL, G_LOG_LEVEL_DEBUG, "p_packet_info is a NULL in process_packet");
        return;
    }
    flowlens_process_packet(instance, packet);
    // The remembered frame is only valid while it is being dissected.
    current_pinfo = NULL;
}

void write_ext_info(const char *text, packet_info *pinfo, int column) {
    if (text == NULL || pinfo == NULL) {
        g_log(NULL, G_LOG_LEVEL_DEBUG, "NULL while writing to the ext info text column");
        return;
    }
    col_add_str(pinfo->cinfo, column, text);
    // Wireshark writes the frame's highest expert severity into this column
    // when a later dissector adds an expert item; the text stays instead (the
    // severity remains in the expert information).
    col_set_writable(pinfo->cinfo, column, FALSE);
}

void _event_callback(void *, uint64_t, uint8_t severity, const char *text, uint64_t) {
    if (text == NULL || text[0] == '\0') {
        g_log(NULL, G_LOG_LEVEL_DEBUG, "pText is a NULL or empty in _event_callback");
        return;
    }
    const size_t length = strlen(text);
    char *copy = static_cast<char *>(wmem_alloc(wmem_packet_scope(), length + 1));
    if (copy == NULL) {
        g_log(NULL, G_LOG_LEVEL_CRITICAL, "Could not allocate memory for string operations");
        return;
    }
    memcpy(copy, text, length + 1);
    char *dash = g_strstr_len(copy, -1, "-");
    if (dash == NULL) {
        g_log(NULL, G_LOG_LEVEL_DEBUG, "token is NULL in _event_callback. Is there no '-' in the callback string?");
        return;
    }
    // "Powerlink: Packet #0000042 - <message>": the message follows the dash
    // and its blank (a dash at the very end leaves an empty message).
    char *message = dash[1] != '\0' ? dash + 2 : dash + 1;
    size_t message_length = strlen(message);
    if (message_length > 0 && message[message_length - 1] == ' ') message[--message_length] = '\0';
    // A per-cent sign would read as a format in the expert column's filters;
    // "5 %" becomes "5 p", "5 % of" becomes "5 pcof".
    if (char *percent = strchr(message, '%')) {
        *percent = 'p';
        if (percent[1] == ' ') percent[1] = 'c';
    }
    // Kept with the frame being analysed; every dissection of it adds it.
    if (current_pinfo != NULL) results.add_message(severity, message);
}

namespace {

// Fills the engine record from the frame; false when its bytes are missing.
bool read_frame(tvbuff_t *tvb, packet_info *pinfo) {
    const guint32 flags = packet_flags_of(pinfo);
    packet_record->port = port_of(flags);
    packet_record->packet_flags = flags;
    packet_record->time =
        uint64_t(pinfo->abs_ts.secs) * 1000000000ull + uint64_t(int64_t(int32_t(pinfo->abs_ts.nsecs)));

    const guint captured = tvb_captured_length(tvb);
    guint reported = tvb_reported_length(tvb);
    // The frame's own bytes, valid while the packet is dissected (no copy:
    // every Ethernet frame of a capture passes here).
    const guint8 *data = captured != 0 ? tvb_get_ptr(tvb, 0, captured) : NULL;
    if (data == NULL && captured != 0) {
        g_log(NULL, G_LOG_LEVEL_WARNING, "Could not get pointer to data from tvb");
        return false;
    }
    packet_record->data = data;
    // A frame captured with its FCS ends in the CRC of what comes before it
    // (the same IEEE 802.3 CRC as crc32_802_tvb, computed many times faster);
    // the FCS goes on the wire least significant byte first.
    if (captured > FCS_LENGTH &&
        pletoh32(data + captured - FCS_LENGTH) == flowlens_fcs_crc32(data, captured - FCS_LENGTH))
        reported -= FCS_LENGTH;
    // The engine record holds 16-bit lengths; larger frames (jumbo or
    // reassembled) are analysed by their first 65535 bytes.
    packet_record->length = uint16_t(reported > 0xFFFF ? 0xFFFF : reported);
    packet_record->captured_length = uint16_t(captured > 0xFFFF ? 0xFFFF : captured);
    return true;
}

// The frame's text, built from the engine's state now and kept with it.
void keep_text(uint64_t number) {
    text_buffer[0] = '\0';
    flowlens_frame_text(instance, packet_record, text_buffer);
    results.set_text(number, text_buffer);
}

// The analysis of the next frame in order: its messages are kept with it.
// Its text is built as well when this dissection shows columns (one pass);
// building every text costs more than the analysis itself, so without
// columns (a first pass, tshark -q) it waits for the first view that shows it.
void analyse(packet_info *pinfo, proto_tree *tree, uint64_t number) {
    last_processed_frame = number;
    packet_record->frame_number = number;
    if (number == 1) results.clear();
    results.begin(number);
    process_packet(packet_record, pinfo, tree);
    if (pinfo->cinfo != NULL) keep_text(number);
}

// What every dissection of an analysed frame shows: its expert items (in the
// tree when there is one, else for the expert tap alone) and its text.
void show_results(tvbuff_t *tvb, packet_info *pinfo, proto_tree *tree, uint64_t number) {
    results.for_each_message(number, [&](uint8_t severity, const char *message) {
        if (tree != NULL)
            zelanalyzer_expert_info(pinfo, tree, severity, message);
        else
            zelanalyzer_expert_tap_info(pinfo, severity, message);
    });
    if (pinfo->cinfo == NULL) return;
    if (!results.has_text(number)) {
        if (!read_frame(tvb, pinfo)) return;
        packet_record->frame_number = number;
        keep_text(number);
    }
    write_ext_info(results.text(number), pinfo, COL_EXPERT);
}

}  // namespace

zel_heur_result dissect_plk_analyzer(tvbuff_t *tvb, packet_info *pinfo, proto_tree *tree, void *) {
    if (packet_record == NULL) plk_tap_reset(NULL);
    if (tvb == NULL || pinfo == NULL || packet_record == NULL) return 0;

    const uint64_t number = pinfo->num;
    if (number == last_processed_frame + 1) {
        if (!read_frame(tvb, pinfo)) return 0;
        analyse(pinfo, tree, number);
    }
    // Frames past a gap wait for the next pass from frame 1.
    if (number <= last_processed_frame) show_results(tvb, pinfo, tree, number);
    return 0;
}
