// The plug-in inside a Wireshark-like host: this program links libwireshark
// and Qt as Wireshark does, loads the built zelanalyzer.so the way Wireshark
// loads plug-ins (local binding), lets it register, dissects a generated
// openSAFETY capture with Wireshark's own dissectors, and then drives the
// plug-in's menu entries as Wireshark's menu bar would. The windows come from
// the window module that the plug-in loads from beside itself; a tap reset
// (what reloading the file does) must close the analysis dialog.
#include <epan/epan.h>
#include <epan/epan_dissect.h>
#include <epan/frame_data.h>
#include <epan/plugin_if.h>
#include <epan/tap.h>
#include <epan/prefs.h>
#include <wiretap/wtap.h>
#include <wsutil/privileges.h>
#include <wsutil/report_message.h>
#include <wsutil/wslog.h>

#include "osa_gen.h"

#include <QAbstractItemView>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <gmodule.h>

#include <functional>
#include <vector>

#ifndef ZEL_PLUGIN_PATH
#error "ZEL_PLUGIN_PATH must name the built zelanalyzer.so"
#endif

namespace {

// Frame times for libwireshark's packet provider. Wireshark's own provider
// record (cfile.h, pulled in by plugin_if.h) is the capture file's; this host
// hands its own record through the opaque pointer instead.
struct HostProvider {
    std::vector<nstime_t> times;
};

void reportError(const char *fmt, va_list ap) {
    vfprintf(stderr, fmt, ap);
    fputc('\n', stderr);
}
// Templates where Wireshark releases differ in a parameter's type (gboolean
// or bool, a 32- or 64-bit frame number): each matches its slot's type.
template <typename Flag>
void reportFile(const char *name, int err, Flag) {
    fprintf(stderr, "%s: %d\n", name, err);
}
void reportFile2(const char *name, int err) { fprintf(stderr, "%s: %d\n", name, err); }
void reportCfile(const char *name, int err, gchar *) { reportFile2(name, err); }
void reportCfileDump(const char *name, int err, gchar *, int) { reportFile2(name, err); }
template <typename FrameNumber>
void reportCfileWrite(const char *, const char *name, int err, gchar *, FrameNumber, int) {
    reportFile2(name, err);
}

const report_message_routines kRoutines = {reportError, reportError,     reportFile,  reportFile2,      reportFile2,
                                           reportCfile, reportCfileDump, reportCfile, reportCfileWrite, reportCfile};

const nstime_t *frameTime(packet_provider_data *opaque, guint32 num) {
    auto *prov = reinterpret_cast<HostProvider *>(opaque);
    return num == 0 || num > prov->times.size() ? nullptr : &prov->times[num - 1];
}

// Reads a capture file and dissects every packet with the taps running, as
// Wireshark does when it opens a file.
bool dissectFile(const std::string &path) {
    int code = 0;
    gchar *info = nullptr;
    wtap *wth = wtap_open_offline(path.c_str(), WTAP_TYPE_AUTO, &code, &info, TRUE);
    if (!wth) return false;
    HostProvider prov;
    static const packet_provider_funcs funcs = {frameTime, nullptr, nullptr, nullptr};
    epan_t *session = epan_new(reinterpret_cast<packet_provider_data *>(&prov), &funcs);
    reset_tap_listeners();
    wtap_rec rec;
    Buffer buf;
    wtap_rec_init(&rec);
    ws_buffer_init(&buf, 1514);
    gint64 offset = 0;
    guint32 num = 0, cumBytes = 0;
    frame_data prev{};
    bool havePrev = false;
    nstime_t elapsed = NSTIME_INIT_ZERO;
    const frame_data *ref = nullptr;
    while (wtap_read(wth, &rec, &buf, &code, &info, &offset)) {
        prov.times.push_back(rec.ts);
        frame_data fd;
        frame_data_init(&fd, ++num, &rec, offset, cumBytes);
        epan_dissect_t *edt = epan_dissect_new(session, TRUE, FALSE);
        frame_data_set_before_dissect(&fd, &elapsed, &ref, havePrev ? &prev : nullptr);
        tvbuff_t *tvb = tvb_new_real_data(ws_buffer_start_ptr(&buf), rec.rec_header.packet_header.caplen,
                                          rec.rec_header.packet_header.len);
        epan_dissect_run_with_taps(edt, wtap_file_type_subtype(wth), &rec, tvb, &fd, nullptr);
        frame_data_set_after_dissect(&fd, &cumBytes);
        epan_dissect_free(edt);
        if (havePrev) frame_data_destroy(&prev);
        prev = fd;
        havePrev = true;
        wtap_rec_reset(&rec);
    }
    g_free(info);
    draw_tap_listeners(TRUE);
    if (havePrev) frame_data_destroy(&prev);
    ws_buffer_free(&buf);
    wtap_rec_cleanup(&rec);
    epan_free(session);
    wtap_close(wth);
    return num > 0;
}

// The menu-bar entry "<menu label> > <entry label>" the plug-in registered
// under the given parent menu.
ext_menubar_action_cb findMenuEntry(const char *parent, const char *menu, const char *entry) {
    for (GList *m = ext_menubar_get_entries(); m; m = m->next) {
        auto *top = static_cast<ext_menu_t *>(m->data);
        if (g_strcmp0(top->label, menu) != 0 || g_strcmp0(top->parent_menu, parent) != 0 || !top->is_plugin) continue;
        for (GList *c = top->children; c; c = c->next) {
            auto *item = static_cast<ext_menu_t *>(c->data);
            if (item->type == EXT_MENUBAR_ITEM && g_strcmp0(item->label, entry) == 0) return item->callback;
        }
    }
    return nullptr;
}

// Runs fn on the modal dialog the next menu action opens.
void onModalDialog(std::function<void(QDialog *)> fn) {
    QTimer::singleShot(0, [fn]() {
        QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeModalWidget() != nullptr, 10000);
        fn(qobject_cast<QDialog *>(QApplication::activeModalWidget()));
    });
}

QStringList listedPages(QDialog *dialog) {
    QStringList titles;
    if (auto *list = dialog->findChild<QListWidget *>(QStringLiteral("listOptions")))
        for (int i = 0; i < list->count(); ++i) titles << list->item(i)->text();
    return titles;
}

}  // namespace

class TestWiresharkHost : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    ext_menubar_action_cb analysis = nullptr;
    ext_menubar_action_cb about = nullptr;
    ext_menubar_action_cb cycle = nullptr;

private slots:
    void initTestCase() {
        ws_log_init("zel_gui_host", nullptr);
        ws_log_set_level(LOG_LEVEL_WARNING);
        init_process_policies();
        init_report_message("zel_gui_host", &kRoutines);
        wtap_init(FALSE);

        // As Wireshark's plug-in loader does: local binding, then plugin_register.
        GModule *plugin = g_module_open(ZEL_PLUGIN_PATH, G_MODULE_BIND_LOCAL);
        QVERIFY2(plugin, g_module_error());
        gpointer registerFn = nullptr;
        QVERIFY(g_module_symbol(plugin, "plugin_register", &registerFn));
        reinterpret_cast<void (*)(void)>(registerFn)();
        QVERIFY(epan_init(nullptr, nullptr, FALSE));
        epan_load_settings();

        analysis = findMenuEntry("Tools", "openSAFETY", "openSAFETY Analysis");
        about = findMenuEntry("Help", "About Zelmar Analyzer", "General information");
        cycle = findMenuEntry("Tools", "POWERLINK", "Cycle Analysis");
        QVERIFY(analysis);
        QVERIFY(about);
        QVERIFY(cycle);
        QVERIFY(dir.isValid());
    }

    void analysisWithoutDataOffersHelpAndClosesOnTapReset() {
        reset_tap_listeners();  // an empty file
        QStringList pages;
        QString title;
        onModalDialog([&](QDialog *dialog) {
            QCOMPARE(dialog->objectName(), QStringLiteral("ZELAnalyzer_Main"));
            pages = listedPages(dialog);
            title = dialog->windowTitle();
            reset_tap_listeners();  // what reloading the capture does
        });
        analysis(EXT_MENUBAR_QT_GUI, nullptr, nullptr);  // returns when the dialog closed
        QCOMPARE(pages, QStringList{"Help"});
        QCOMPARE(title, QStringLiteral("Zelmar Analyzer:: Form"));
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void analysisShowsTheCollectedNetwork() {
        osa_gen::config cfg = osa_gen::default_config();
        cfg.cycles = 160;
        const std::string path = dir.filePath(QStringLiteral("osa.pcapng")).toStdString();
        std::string err;
        QVERIFY2(osa_gen::write_pcap(osa_gen::generate(cfg), path, true, &err), err.c_str());
        QVERIFY(dissectFile(path));

        QStringList pages;
        QString title;
        int networkRows = -1;
        onModalDialog([&](QDialog *dialog) {
            pages = listedPages(dialog);
            title = dialog->windowTitle();
            // the page reads the collection the plug-in's tap filled
            if (auto *table = dialog->findChild<QAbstractItemView *>(QStringLiteral("tableNetwork")))
                networkRows = table->model()->rowCount();
            reset_tap_listeners();
        });
        analysis(EXT_MENUBAR_QT_GUI, nullptr, nullptr);
        QCOMPARE(pages, (QStringList{"Network", "Analysis", "Frame Delta", "Counter Delta", "Help"}));
        QCOMPARE(title, QStringLiteral("Zelmar Analyzer:: openSAFETY Network"));
        QVERIFY2(networkRows >= 6, qPrintable(QString::number(networkRows)));
    }

    void aboutDialog() {
        QString title;
        onModalDialog([&](QDialog *dialog) {
            title = dialog->windowTitle();
            dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Ok)->click();
        });
        about(EXT_MENUBAR_QT_GUI, nullptr, nullptr);
        QCOMPARE(title, QStringLiteral("About Zelmar Analysis Tools"));
    }

    // Tools > POWERLINK > Cycle Analysis on the real robot capture: the
    // dialog opens on the cycle page, which draws the samples of the
    // plug-in's own analysis (bound from the plug-in module, not empty).
    void cycleAnalysisShowsThePluginsSamples() {
        const QString capture = QStringLiteral(SENTRA_SHARED_CAPTURES "/powerlink_robot_with_iperf.pcapng.gz");
        if (!QFile::exists(capture)) QSKIP("the shared captures are not there");
        QVERIFY(dissectFile(capture.toStdString()));
        QStringList pages;
        QString title, summary;
        bool empty = true;
        onModalDialog([&](QDialog *dialog) {
            pages = listedPages(dialog);
            title = dialog->windowTitle();
            if (auto *label = dialog->findChild<QLabel *>(QStringLiteral("lblSummary"))) summary = label->text();
            if (auto *label = dialog->findChild<QLabel *>(QStringLiteral("lblEmpty"))) empty = !label->isHidden();
            reset_tap_listeners();
        });
        cycle(EXT_MENUBAR_QT_GUI, nullptr, nullptr);
        QCOMPARE(title, QStringLiteral("Zelmar Analyzer:: POWERLINK Cycle"));
        QVERIFY(pages.contains(QStringLiteral("POWERLINK Cycle")));
        QVERIFY(!empty);
        QVERIFY2(summary.section(QLatin1Char(' '), 0, 0).toInt() > 1000, qPrintable(summary));

        // without cycles the entry still opens the page, which says so
        reset_tap_listeners();
        onModalDialog([&](QDialog *dialog) {
            title = dialog->windowTitle();
            if (auto *label = dialog->findChild<QLabel *>(QStringLiteral("lblEmpty"))) empty = !label->isHidden();
            reset_tap_listeners();
        });
        cycle(EXT_MENUBAR_QT_GUI, nullptr, nullptr);
        QCOMPARE(title, QStringLiteral("Zelmar Analyzer:: POWERLINK Cycle"));
        QVERIFY(empty);
    }
};

QTEST_MAIN(TestWiresharkHost)
#include "wireshark_host_test.moc"
