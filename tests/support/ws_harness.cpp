/* Runs Wireshark's own dissection (libwireshark in this process) over a
 * capture file with the openSAFETY collection's tap listener registered, the
 * way Wireshark does when it reads a file: reset, dissect with taps, draw. */
#include "ws_harness.h"

#include "osa_tap.h"

#include <epan/epan.h>
#include <epan/epan_dissect.h>
#include <epan/frame_data.h>
#include <epan/prefs.h>
#include <epan/tap.h>
#include <epan/tvbuff.h>
#include <wiretap/wtap.h>
#include <wsutil/privileges.h>
#include <wsutil/report_message.h>
#include <wsutil/wslog.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

struct packet_provider_data {
    std::vector<nstime_t> times;
};

namespace {

void report_err(const char *fmt, va_list ap) {
    std::vfprintf(stderr, fmt, ap);
    std::fputc('\n', stderr);
}
// Templates where Wireshark releases differ in a parameter's type (gboolean
// or bool, a 32- or 64-bit frame number): each matches its slot's type.
template <typename Flag>
void report_open_failure(const char *name, int err, Flag) {
    std::fprintf(stderr, "cannot open %s: %d\n", name, err);
}
void report_read_failure(const char *name, int err) { std::fprintf(stderr, "cannot read %s: %d\n", name, err); }
void report_write_failure(const char *name, int err) { std::fprintf(stderr, "cannot write %s: %d\n", name, err); }
void report_cfile_open_failure(const char *name, int err, gchar *) { report_read_failure(name, err); }
void report_cfile_dump_open_failure(const char *name, int err, gchar *, int) { report_write_failure(name, err); }
void report_cfile_read_failure(const char *name, int err, gchar *) { report_read_failure(name, err); }
template <typename FrameNumber>
void report_cfile_write_failure(const char *, const char *name, int err, gchar *, FrameNumber, int) {
    report_write_failure(name, err);
}
void report_cfile_close_failure(const char *name, int err, gchar *) { report_write_failure(name, err); }

const report_message_routines routines = {
    report_err,
    report_err,
    report_open_failure,
    report_read_failure,
    report_write_failure,
    report_cfile_open_failure,
    report_cfile_dump_open_failure,
    report_cfile_read_failure,
    report_cfile_write_failure,
    report_cfile_close_failure,
};

const nstime_t *frame_ts(packet_provider_data *prov, guint32 num) {
    if (num == 0 || num > prov->times.size()) return nullptr;
    return &prov->times[num - 1];
}

bool g_initialised = false;

bool init_once(std::string *err) {
    if (g_initialised) return true;
    ws_log_init("osa_tests", nullptr);
    ws_log_set_level(LOG_LEVEL_WARNING);
    init_process_policies();
    init_report_message("osa_tests", &routines);
    wtap_init(FALSE);
    if (!epan_init(nullptr, nullptr, FALSE)) {
        *err = "epan_init failed";
        return false;
    }
    epan_load_settings();
    if (osa_register_opensafety() != 0) {
        *err = "tap listener not registered";
        return false;
    }
    g_initialised = true;
    return true;
}

}  // namespace

bool osa_ws_set_pref(const char *name, const char *value) {
    std::string err;
    if (!init_once(&err)) return false;
    char buf[256];
    std::snprintf(buf, sizeof buf, "%s:%s", name, value);
    char *errmsg = nullptr;
    const prefs_set_pref_e rc = prefs_set_pref(buf, &errmsg);
    g_free(errmsg);
    if (rc != PREFS_SET_OK) return false;
    prefs_apply_all();
    return true;
}

bool osa_ws_dissect_file(const std::string &path, std::string *err) {
    if (!init_once(err)) return false;

    int code = 0;
    gchar *info = nullptr;
    wtap *wth = wtap_open_offline(path.c_str(), WTAP_TYPE_AUTO, &code, &info, TRUE);
    if (!wth) {
        *err = "cannot open " + path;
        g_free(info);
        return false;
    }

    packet_provider_data prov;
    static const packet_provider_funcs funcs = {frame_ts, nullptr, nullptr, nullptr};
    epan_t *session = epan_new(&prov, &funcs);

    reset_tap_listeners();

    wtap_rec rec;
    Buffer buf;
    wtap_rec_init(&rec);
    ws_buffer_init(&buf, 1514);
    gint64 offset = 0;
    guint32 num = 0, cum_bytes = 0;
    frame_data prev{};
    bool have_prev = false;
    nstime_t elapsed = NSTIME_INIT_ZERO;
    const frame_data *ref = nullptr;

    while (wtap_read(wth, &rec, &buf, &code, &info, &offset)) {
        ++num;
        prov.times.push_back(rec.ts);
        frame_data fd;
        frame_data_init(&fd, num, &rec, offset, cum_bytes);
        epan_dissect_t *edt = epan_dissect_new(session, TRUE, FALSE);
        frame_data_set_before_dissect(&fd, &elapsed, &ref, have_prev ? &prev : nullptr);
        tvbuff_t *tvb = tvb_new_real_data(ws_buffer_start_ptr(&buf), rec.rec_header.packet_header.caplen,
                                          rec.rec_header.packet_header.len);
        epan_dissect_run_with_taps(edt, wtap_file_type_subtype(wth), &rec, tvb, &fd, nullptr);
        frame_data_set_after_dissect(&fd, &cum_bytes);
        epan_dissect_free(edt);
        if (have_prev) frame_data_destroy(&prev);
        prev = fd;
        have_prev = true;
        wtap_rec_reset(&rec);
    }
    g_free(info);
    draw_tap_listeners(TRUE);

    if (have_prev) frame_data_destroy(&prev);
    wtap_rec_cleanup(&rec);
    ws_buffer_free(&buf);
    epan_free(session);
    wtap_close(wth);
    if (code != 0) {
        *err = "read error in " + path;
        return false;
    }
    return true;
}
