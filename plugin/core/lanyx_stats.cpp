// "Zelmar/Lanyx": Lanyx reports by kind (SI, SO, AI, AO), the bytes they
// carried, and the reports the analyzer flagged with a CRC32 or sync error.
#include "lanyx_stats.h"

#include <glib.h>

#include "lanyx_tap.h"

namespace {

int frames_node = -1;
int bytes_node = -1;

constexpr char kFramesNode[] = "Lanyk Frames";
constexpr char kBytesNode[] = "Lanyk Bytes";
constexpr gsize kNodeNameSize = 128;

}  // namespace

void lyk_stats_tree_init(stats_tree *st) {
    frames_node = stats_tree_create_node(st, kFramesNode, 0, STAT_DT_INT, TRUE);
    bytes_node = stats_tree_create_node(st, kBytesNode, 0, STAT_DT_INT, TRUE);
}

tap_packet_status lyk_stats_tree_packet(stats_tree *st, packet_info *, epan_dissect_t *, const void *data,
                                        tap_flags_t) {
    const lyk_tap_info *info = static_cast<const lyk_tap_info *>(data);
    const char *sync = info->sync_frame ? "S" : "A";
    const char *direction = info->inbound ? "I" : "O";

    char kind_frames[kNodeNameSize];
    char kind_total[kNodeNameSize];
    char kind_captured[kNodeNameSize];
    g_snprintf(kind_frames, sizeof kind_frames, "%s%s Frames", sync, direction);
    g_snprintf(kind_total, sizeof kind_total, "Bytes total %s%s Frames", sync, direction);
    g_snprintf(kind_captured, sizeof kind_captured, "Bytes captured %s%s Frames", sync, direction);

    tick_stat_node(st, kFramesNode, 0, TRUE);
    tick_stat_node(st, kind_frames, frames_node, FALSE);
    increase_stat_node(st, kind_total, bytes_node, FALSE, info->bytes_total);
    increase_stat_node(st, kind_captured, bytes_node, FALSE, info->bytes_captured);
    if (info->crc_error) tick_stat_node(st, "CRC Errors", frames_node, FALSE);
    if (info->sync_error) tick_stat_node(st, "Sync Errors", frames_node, FALSE);
    return TAP_PACKET_DONT_REDRAW;
}
