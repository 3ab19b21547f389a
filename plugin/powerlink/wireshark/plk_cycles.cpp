// `-z zel_epl,cycles[,csv]`: the analysis's cycle samples printed after the
// capture (tshark). A listener on "frame" only waits for the end of the
// capture; the samples come from the engine the heuristic feeds.
#include <glib.h>
#include <epan/packet.h>
#include <epan/stat_tap_ui.h>
#include <epan/tap.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cycle_report.h"
#include "plk_analyzer.h"
#include "plk_samples.h"

namespace {

constexpr char CLI[] = "zel_epl,cycles";
constexpr char CSV_OPTION[] = ",csv";

struct cycles_request {
    bool csv;
};

tap_packet_status cycles_packet(void *, packet_info *, epan_dissect_t *, const void *, tap_flags_t) {
    return TAP_PACKET_DONT_REDRAW;
}

void cycles_draw(void *data) {
    const auto *request = static_cast<const cycles_request *>(data);
    if (request->csv)
        flowlens_write_cycles_csv(stdout, plk_cycle_samples());
    else
        flowlens_write_cycles_text(stdout, plk_cycle_samples());
    std::fflush(stdout);
}

// Called when the listener is removed (the end of the run).
void cycles_finish(void *data) { delete static_cast<cycles_request *>(data); }

void cycles_init(const char *argument, void *) {
    const char *rest = argument + std::strlen(CLI);
    if (*rest != '\0' && std::strcmp(rest, CSV_OPTION) != 0) {
        std::fprintf(stderr, "tshark: invalid \"-z %s\" argument: use \"-z %s\" or \"-z %s%s\"\n", argument, CLI, CLI,
                     CSV_OPTION);
        std::exit(1);
    }
    auto *request = new cycles_request{*rest != '\0'};
    GString *error = register_tap_listener("frame", request, NULL, TL_REQUIRES_NOTHING, NULL, cycles_packet,
                                           cycles_draw, cycles_finish);
    if (error != NULL) {
        std::fprintf(stderr, "tshark: couldn't register the %s tap: %s\n", CLI, error->str);
        g_string_free(error, TRUE);
        delete request;
        std::exit(1);
    }
}

stat_tap_ui cycles_ui = {REGISTER_STAT_GROUP_GENERIC, "POWERLINK Cycles", CLI, cycles_init, 0, NULL};

}  // namespace

void plk_register_cycles_ui(void) { register_stat_tap_ui(&cycles_ui, NULL); }
