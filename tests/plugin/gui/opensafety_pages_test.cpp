// The openSAFETY pages on data that Wireshark's own openSAFETY dissector
// produced from generated captures (libwireshark in this process, feeding the
// collection through the plug-in's tap adapter), plus plot cases on exactly
// shaped series fed straight into the collection.
#include "mainpageentry.h"
#include "opensafetyanalysis.h"
#include "opensafetynetworkpage.h"
#include "opensafetystatspage.h"
#include "oscustomplot.h"
#include "osframelogview.h"
#include "ostableview.h"
#include "zelanalyzer_main.h"

#include "osa_collection.h"
#include "osa_frame.h"
#include "osa_gen.h"
#include "ws_harness.h"

#include <epan/plugin_if.h>

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstring>

namespace {

// What the pages handed to Wireshark's plug-in interface.
QStringList g_filters;
QStringList g_preferences;

void captureFilter(GHashTable *data) {
    g_filters << QString::fromUtf8(static_cast<const char *>(g_hash_table_lookup(data, "filter_string")));
}

void capturePreference(GHashTable *data) {
    g_preferences << QStringLiteral("%1.%2=%3")
                         .arg(QString::fromUtf8(static_cast<const char *>(g_hash_table_lookup(data, "pref_module"))),
                              QString::fromUtf8(static_cast<const char *>(g_hash_table_lookup(data, "pref_key"))),
                              QString::fromUtf8(static_cast<const char *>(g_hash_table_lookup(data, "pref_value"))));
}

QStringList actionTexts(const QMenu *menu) {
    QStringList texts;
    for (const QAction *a : menu->actions()) texts << (a->isSeparator() ? QStringLiteral("--") : a->text());
    return texts;
}

QStringList headers(const QAbstractItemModel *model) {
    QStringList h;
    for (int c = 0; c < model->columnCount(); ++c)
        h << model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    return h;
}

QStringList column(const QAbstractItemModel *model, int col) {
    QStringList values;
    for (int r = 0; r < model->rowCount(); ++r) values << model->index(r, col).data().toString();
    return values;
}

// The plot's answer to the mouse at x (y = 100).
void moveMouse(OSCustomPlot &plot, double x) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QMouseEvent move(QEvent::MouseMove, QPointF(x, 100), plot.mapToGlobal(QPointF(x, 100)), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
#else
    QMouseEvent move(QEvent::MouseMove, QPointF(x, 100), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
#endif
    plot.showPointTooltip(&move);
}

// An SPDO of a node whose UDID the dissector knew (SDN 1).
osa_frame_record spdo(uint16_t sender, uint32_t frame, uint16_t counter) {
    static const uint8_t udid[6] = {0x02, 0xD7, 0xA5, 0x3C, 0x5A, 0x96};
    osa_frame_record r;
    r.sender = sender;
    r.msg_type = osa_frame::type_spdo;
    r.msg_id = osa_frame::spdo_data_only;
    r.udid_valid = true;
    std::memcpy(r.scm_udid, udid, 6);
    r.sdn = 1;
    r.frame_number = frame;
    r.has_payload = true;
    r.spdo_counter16 = counter;
    r.spdo_conn_valid = true;
    return r;
}

}  // namespace

class TestOpenSafetyPages : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    bool haveCapture = false;

    // Fills the collection from a generated capture through Wireshark.
    void loadGeneratedCapture() {
        osa_gen::config cfg = osa_gen::default_config();
        cfg.cycles = 160;  // more than 100 SPDOs per producer: every node is listed
        const std::string path = dir.filePath(QStringLiteral("osa.pcapng")).toStdString();
        std::string err;
        QVERIFY2(osa_gen::write_pcap(osa_gen::generate(cfg), path, true, &err), err.c_str());
        QVERIFY2(osa_ws_dissect_file(path, &err), err.c_str());
        haveCapture = true;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        plugin_if_register_gui_cb(PLUGIN_IF_FILTER_ACTION_APPLY, captureFilter);
        plugin_if_register_gui_cb(PLUGIN_IF_PREFERENCE_SAVE, capturePreference);
        loadGeneratedCapture();
    }

    void mainDialogListsFiveEntriesWithData() {
        ZELAnalyzer_Main dialog;
        auto *list = dialog.findChild<QListWidget *>(QStringLiteral("listOptions"));
        QStringList titles;
        for (int i = 0; i < list->count(); ++i) titles << list->item(i)->text();
        QCOMPARE(titles, (QStringList{"Network", "Analysis", "Frame Delta", "Counter Delta", "Help"}));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Zelmar Analyzer:: openSAFETY Network"));
        auto *stack = dialog.findChild<QStackedWidget *>(QStringLiteral("stackTools"));
        QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("openSAFETYNetworkPage"));
        const QStringList expectTitles = {"openSAFETY Network", "openSAFETY Analysis", "Frame Delta", "Counter Delta",
                                          "Form"};
        for (int i = 0; i < list->count(); ++i) {
            emit list->itemClicked(list->item(i));
            QCOMPARE(stack->count(), 1);
            QCOMPARE(dialog.windowTitle(), QStringLiteral("Zelmar Analyzer:: ") + expectTitles[i]);
        }
    }

    void networkPage() {
        openSAFETYNetworkPage page;
        QCOMPARE(page.windowTitle(), QStringLiteral("openSAFETY Network"));
        QCOMPARE(page.size(), QSize(640, 480));
        QCOMPARE(page.findChild<QLabel *>(QStringLiteral("label"))->text(), QStringLiteral("openSAFETY Network"));
        QCOMPARE(page.findChild<QLabel *>(QStringLiteral("lblTabelHeader"))->text(),
                 QStringLiteral("Detected Network Topology:"));
        QVERIFY(page.findChild<QLabel *>(QStringLiteral("lblInfo"))
                    ->text()
                    .startsWith(QStringLiteral("This is the logical representation")));
        auto *table = page.findChild<OSTableView *>(QStringLiteral("tableNetwork"));
        QVERIFY(table);
        QAbstractItemModel *model = table->model();
        QCOMPARE(headers(model),
                 (QStringList{"SDN", "Saddr", "TSync", "Virtual", "Status", "SCM UDID", "#SNMT", "#SSDO", "#SPDO"}));
        QVERIFY(model->rowCount() >= 6);
        QVERIFY(table->isSortingEnabled());
        QVERIFY(table->alternatingRowColors());
        QVERIFY(table->horizontalHeader()->stretchLastSection());

        // sorted by Saddr ascending, numerically (the model gives numbers)
        QList<uint> saddrs;
        for (const QString &s : column(model, 1)) saddrs << s.toUInt();
        QVERIFY(std::is_sorted(saddrs.begin(), saddrs.end()));
        QVERIFY(saddrs.contains(2) && saddrs.contains(7));
        // the SCM UDID Wireshark reported, in the table's form
        QVERIFY(column(model, 5).contains(QStringLiteral("02:D7:A5:3C:5A:96")));
        // a header click re-sorts
        table->sortByColumn(8, Qt::DescendingOrder);
        QList<uint> spdos;
        for (const QString &s : column(model, 8)) spdos << s.toUInt();
        QVERIFY(std::is_sorted(spdos.rbegin(), spdos.rend()));
    }

    void contextMenuPerColumn() {
        openSAFETYNetworkPage page;
        page.show();
        auto *table = page.findChild<OSTableView *>(QStringLiteral("tableNetwork"));
        const QStringList withFilter = {"&Apply as Filter", "--", "&Copy Value"};
        const QStringList expected[] = {withFilter,
                                        withFilter,
                                        withFilter,
                                        {"--", "&Copy Value"},
                                        {"--", "&Copy Value"},
                                        {"&Apply as Filter", "--", "Set as SCM UDID", "&Copy Value"},
                                        {"--", "&Copy Value"},
                                        {"--", "&Copy Value"},
                                        {"--", "&Copy Value"}};
        for (int col = 0; col < 9; ++col) {
            const QRect cell = table->visualRect(table->model()->index(0, col));
            table->tableContextMenuRequested(cell.center());
            QCOMPARE(actionTexts(table->contextMenu()), expected[col]);
            table->contextMenu()->hide();
        }
    }

    void filtersForCells() {
        QCOMPARE(OSTableView::filterFor("saddr", "5"), QStringLiteral("(opensafety.msg.node == 0x05)"));
        QCOMPARE(OSTableView::filterFor("saddr", "300"), QStringLiteral("(opensafety.msg.node == 0x12c)"));
        QCOMPARE(OSTableView::filterFor("timesync", "7"),
                 QStringLiteral("(opensafety.msg.node == 0x07) && (opensafety.spdo.time.request_counter)"));
        QCOMPARE(OSTableView::filterFor("sdn", "1"), QStringLiteral("opensafety.msg.network == 1"));
        QCOMPARE(OSTableView::filterFor("scmudid", "0A:0B:0C:0D:0E:0F"),
                 QStringLiteral("(lower(opensafety.scm_udid.auto) == \"0a:0b:0c:0d:0e:0f\") or "
                                "(lower(opensafety.scm_udid) == \"0a:0b:0c:0d:0e:0f\")"));
        QVERIFY(OSTableView::filterFor("spdo", "12").isEmpty());
    }

    // The filter an SCM UDID cell applies selects, in the host's tshark, the
    // frames whose SCM UDID Wireshark's dissector decoded.
    void scmUdidFilterMatchesTheDecodedFrames() {
        const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
        if (tshark.isEmpty()) QSKIP("tshark not installed");
        const QString path = dir.filePath(QStringLiteral("osa.pcapng"));
        const auto frames = [&](const QString &filter) {
            QProcess p;
            p.start(tshark, {QStringLiteral("-r"), path, QStringLiteral("-Y"), filter, QStringLiteral("-T"),
                             QStringLiteral("fields"), QStringLiteral("-e"), QStringLiteral("frame.number")});
            const bool finished = p.waitForFinished(60000);
            return finished && p.exitCode() == 0 ? p.readAllStandardOutput().count('\n') : -1;
        };
        const int decoded = frames(QStringLiteral("opensafety.scm_udid.auto"));
        QVERIFY(decoded > 0);

        openSAFETYNetworkPage page;
        auto *table = page.findChild<OSTableView *>(QStringLiteral("tableNetwork"));
        const QString udid = table->model()->index(0, 5).data().toString();
        QCOMPARE(udid, QStringLiteral("02:D7:A5:3C:5A:96"));
        QCOMPARE(frames(OSTableView::filterFor(QStringLiteral("scmudid"), udid)), decoded);
        QCOMPARE(frames(OSTableView::filterFor(QStringLiteral("scmudid"), QStringLiteral("02:D7:A5:3C:5A:97"))), 0);
    }

    void applyFilterCopyAndPreferenceGoToWireshark() {
        openSAFETYNetworkPage page;
        auto *table = page.findChild<OSTableView *>(QStringLiteral("tableNetwork"));
        QAbstractItemModel *model = table->model();
        g_filters.clear();
        g_preferences.clear();

        // nothing selected: nothing happens
        table->clearSelection();
        table->applyActionTriggered();
        table->saveSCMPrefActionTriggered();
        QVERIFY(g_filters.isEmpty() && g_preferences.isEmpty());

        const QModelIndex saddr = model->index(0, 1);
        table->setCurrentIndex(saddr);
        table->applyActionTriggered();
        QCOMPARE(g_filters, QStringList{OSTableView::filterFor("saddr", saddr.data().toString())});
        QVERIFY(g_filters.first().startsWith(QStringLiteral("(opensafety.msg.node == 0x0")));
        table->copyActionTriggered();
        QCOMPARE(QApplication::clipboard()->text(), saddr.data().toString());
        // the preference only from an SCM UDID cell
        table->saveSCMPrefActionTriggered();
        QVERIFY(g_preferences.isEmpty());

        const QModelIndex udid = model->index(0, 5);
        table->setCurrentIndex(udid);
        table->saveSCMPrefActionTriggered();
        QCOMPARE(g_preferences, QStringList{"opensafety.scm_udid=" + udid.data().toString()});

        // two cells selected: nothing happens
        g_filters.clear();
        table->selectionModel()->select(model->index(1, 1), QItemSelectionModel::Select);
        table->applyActionTriggered();
        QVERIFY(g_filters.isEmpty());
    }

    void statsPages() {
        QStackedWidget stack;
        auto *frame = new openSAFETYStatsPage(&stack, 0);
        auto *counter = new openSAFETYStatsPage(&stack, 1);
        QCOMPARE(frame->windowTitle(), QStringLiteral("Frame Delta"));
        QCOMPARE(counter->windowTitle(), QStringLiteral("Counter Delta"));
        QCOMPARE(openSAFETYStatsPage::modeTitle(7), QString());
        auto *frameSync = frame->findChild<QCheckBox *>(QStringLiteral("checkShowNetworkSyncError"));
        auto *counterSync = counter->findChild<QCheckBox *>(QStringLiteral("checkShowNetworkSyncError"));
        QVERIFY(!frameSync->isVisibleTo(frame));
        QVERIFY(counterSync->isVisibleTo(counter));
        QVERIFY(!counterSync->isChecked());
        QCOMPARE(frame->findChild<QCheckBox *>(QStringLiteral("checkShowVirtual"))->text(),
                 QStringLiteral("Show virtual Nodes"));

        auto *table = frame->findChild<OSTableView *>(QStringLiteral("tableStats"));
        QCOMPARE(headers(table->model()),
                 (QStringList{"SDN", "Saddr", "Virtual", "Network Sync / SPDO", "Packet Loss / SPDO"}));
        const int rowsWithoutVirtual = table->model()->rowCount();
        QVERIFY(rowsWithoutVirtual > 0);
        QVERIFY(!column(table->model(), 2).contains(QStringLiteral("Yes")));
        for (const QString &ratio : column(table->model(), 3))
            QVERIFY2(ratio.endsWith(QStringLiteral(" %")), qPrintable(ratio));

        // the ratio columns hold text, and sort as text ("9.1 %" after "12.3 %")
        table->sortByColumn(3, Qt::AscendingOrder);
        const QStringList ratios = column(table->model(), 3);
        QVERIFY(std::is_sorted(ratios.begin(), ratios.end()));
        table->sortByColumn(1, Qt::AscendingOrder);

        // becoming the current page plots the first row's node
        auto *plot = frame->findChild<OSCustomPlot *>(QStringLiteral("wdgCustomPlot"));
        stack.addWidget(frame);
        stack.addWidget(counter);
        stack.setCurrentWidget(frame);
        // (the first row may be a node without SPDO series of its own, the SCM)
        const uint firstNode = table->model()->index(0, 1).data().toUInt();
        const osa_connection *firstConnection = osa_find_connection(firstNode);
        const bool firstPlottable = firstConnection && firstConnection->frame_delta.series.size() >= 11;
        QCOMPARE(plot->shownNode(), firstPlottable ? firstNode : 0u);
        QMetaObject::invokeMethod(frame, "on_tableStats_clicked",
                                  Q_ARG(QModelIndex, table->model()->index(column(table->model(), 1).indexOf("2"), 0)));
        QCOMPARE(plot->shownNode(), 2u);
        QVERIFY(plot->graph(0)->dataCount() >= 11);
        QCOMPARE(plot->graph(0)->name(), QStringLiteral("Frame Delta"));
        QVERIFY(plot->legend->visible());
        // a click on a row plots that row's node
        const QModelIndex second = table->model()->index(1, 0);
        QMetaObject::invokeMethod(frame, "on_tableStats_clicked", Q_ARG(QModelIndex, second));
        QCOMPARE(plot->shownNode(), table->model()->index(1, 1).data().toUInt());

        // virtual nodes come in on request (node 2's additional address 12)
        auto *showVirtual = frame->findChild<QCheckBox *>(QStringLiteral("checkShowVirtual"));
        showVirtual->click();
        QVERIFY(table->model()->rowCount() > rowsWithoutVirtual);
        QVERIFY(column(table->model(), 2).contains(QStringLiteral("Yes")));

        // counter page: the sync-error graph on request
        auto *counterPlot = counter->findChild<OSCustomPlot *>(QStringLiteral("wdgCustomPlot"));
        stack.setCurrentWidget(counter);
        QCOMPARE(counterPlot->yAxis->label(), QStringLiteral("Delta Time (100µs)"));
        QCOMPARE(plot->yAxis->label(), QStringLiteral("Frame Delta (packets)"));
        // node 3 loses cycles in the generated network: it has sync errors
        counterPlot->plotNode(3);
        QCOMPARE(counterPlot->shownNode(), 3u);
        QCOMPARE(counterPlot->graphCount(), 1);
        counterSync->click();
        QCOMPARE(counterPlot->graphCount(), 2);
        QCOMPARE(counterPlot->graph(1)->name(), QStringLiteral("Network Sync Error"));
        QCOMPARE(counterPlot->graph(1)->pen().color(), QColor(Qt::red));
        counterSync->click();
        QCOMPARE(counterPlot->graphCount(), 1);
    }

    void analysisPage() {
        openSAFETYAnalysis page;
        QCOMPARE(page.windowTitle(), QStringLiteral("openSAFETY Analysis"));
        QCOMPARE(page.findChild<QLabel *>(QStringLiteral("lblTabelHeader"))->text(),
                 QStringLiteral("SafetyNode Address:"));
        auto *combo = page.findChild<QComboBox *>(QStringLiteral("cmbNodeInfoItem"));
        QStringList entries;
        for (int i = 0; i < combo->count(); ++i) entries << combo->itemText(i);
        QVERIFY(entries.size() >= 6);
        QVERIFY(entries.indexOf(QStringLiteral("Saddr 002 [SDN: 1]")) <
                entries.indexOf(QStringLiteral("Saddr 007 [SDN: 1]")));
        QVERIFY(entries.indexOf(QStringLiteral("Saddr 002 [SDN: 1]")) >= 0);
        // address order, virtual nodes after all others
        QStringList sorted = entries;
        std::sort(sorted.begin(), sorted.end());
        QCOMPARE(entries, sorted);
        QVERIFY(entries.last().startsWith(QStringLiteral("Virtual - ")));
        QCOMPARE(combo->currentIndex(), 0);

        auto *log = page.findChild<OSFrameLogView *>(QStringLiteral("tableAnalysis"));
        QVERIFY(log->model());
        QCOMPARE(headers(log->model()), (QStringList{"Frame Nr", "Log Text"}));

        // node 3 lost cycles: its log has messages, in ascending frame order
        combo->setCurrentIndex(entries.indexOf(QStringLiteral("Saddr 003 [SDN: 1]")));
        QAbstractItemModel *model = log->model();
        QVERIFY(model->rowCount() > 0);
        QList<uint> frames;
        for (const QString &f : column(model, 0)) frames << f.toUInt();
        QVERIFY(std::is_sorted(frames.begin(), frames.end()));
        QVERIFY(column(model, 1).join('\n').contains(QStringLiteral("Frame(s) missing")));

        log->tableContextMenuRequested(QPoint(5, 5));
        QCOMPARE(actionTexts(log->contextMenu()), QStringList{"&Copy Logmessage"});
        log->contextMenu()->hide();
        log->setCurrentIndex(model->index(0, 1));
        log->copyActionTriggered();
        QCOMPARE(QApplication::clipboard()->text(),
                 model->index(0, 0).data().toString() + ": " + model->index(0, 1).data().toString());
    }

    // ---- plots on exactly shaped series ----

    void plotRangesAndGuards() {
        osa_tap_reset();
        // node 5: SPDOs from frame 10 to 30000, deltas alternating 10 and 20
        uint32_t frame = 10;
        uint16_t counter = 100;
        bool small = true;
        while (frame <= 30000) {
            const osa_frame_record r = spdo(5, frame, counter);
            QCOMPARE(osa_tap_packet(&r), OSA_TAP_DONT_REDRAW);
            frame += small ? 10 : 20;
            counter += 10;
            small = !small;
        }
        const osa_frame_record last = spdo(5, 30000, counter);
        osa_tap_packet(&last);
        osa_tap_draw();
        QCOMPARE(osa_first_frame(), 10u);
        QCOMPARE(osa_last_frame(), 30000u);

        OSCustomPlot plot;
        plot.resize(640, 300);
        plot.setTitle(QStringLiteral("Frame Delta"));
        plot.plotNode(5);
        QCOMPARE(plot.shownNode(), 5u);
        QCOMPARE(plot.xAxis->range().lower, 10000.0);
        QCOMPARE(plot.xAxis->range().upper, 30000.0);
        QCOMPARE(plot.valueRange().lower, 9.0);
        QCOMPARE(plot.valueRange().upper, 21.0);
        QCOMPARE(plot.yAxis->range().lower, 9.0);
        QCOMPARE(plot.xAxis->label(), QStringLiteral("Frame Nr"));

        // dragging left of the first frame snaps back, keeping the width
        plot.xAxis->setRange(-500, 4500);
        QCOMPARE(plot.xAxis->range().lower, 10.0);
        QCOMPARE(plot.xAxis->range().upper, 5010.0);
        // beyond the last frame
        plot.xAxis->setRange(29000, 31000);
        QCOMPARE(plot.xAxis->range().upper, 30000.0);
        QCOMPARE(plot.xAxis->range().lower, 28000.0);
        // zooming out beyond the capture shows exactly first to last frame
        plot.xAxis->setRange(-100000, 100000);
        QCOMPARE(plot.xAxis->range().lower, 10.0);
        QCOMPARE(plot.xAxis->range().upper, 30000.0);
        // the value axis cannot be moved
        plot.yAxis->setRange(0, 100);
        QCOMPARE(plot.yAxis->range().lower, 9.0);
        QCOMPARE(plot.yAxis->range().upper, 21.0);

        // tracer and tool tip: the key is the frame under the mouse
        plot.xAxis->setRange(19950, 20050);
        QVERIFY(plot.pointTracer());
        const double x = std::round(plot.xAxis->coordToPixel(20005));
        const int key = int(plot.xAxis->pixelToCoord(x));
        QVERIFY(key >= 20003 && key <= 20007);
        moveMouse(plot, x);
        // between the points (20000, 10) and (20020, 20)
        QVERIFY2(QRegularExpression(QStringLiteral("^Frame: %1 - Frame Delta 1[0-2]$").arg(key))
                     .match(plot.toolTip())
                     .hasMatch(),
                 qPrintable(plot.toolTip()));
        QCOMPARE(plot.pointTracer()->graphKey(), double(key));

        // unknown SADR, or too few samples: the plot stays as it was
        plot.plotNode(99);
        QCOMPARE(plot.shownNode(), 5u);
        osa_frame_record few = spdo(9, 30000, 1);
        osa_tap_packet(&few);
        few.frame_number = 30000;
        few.spdo_counter16 = 11;
        osa_tap_packet(&few);
        plot.plotNode(9);
        QCOMPARE(plot.shownNode(), 5u);
        QCOMPARE(plot.graph(0)->dataCount(), 0);

        // small capture: the whole of it
        osa_tap_reset();
        for (uint32_t f = 10; f <= 5000; f += 10) {
            const osa_frame_record r = spdo(6, f, uint16_t(f));
            osa_tap_packet(&r);
        }
        plot.plotNode(6);
        QCOMPARE(plot.xAxis->range().lower, 10.0);
        QCOMPARE(plot.xAxis->range().upper, 5000.0);
    }

    void syncErrorMarksFollowTheFrames() {
        osa_tap_reset();
        // node 4: counter steps of 10 per SPDO, one jump (a single sync error)
        uint16_t counter = 100;
        for (uint32_t frame = 10; frame <= 400; frame += 10) {
            counter = uint16_t(counter + (frame == 200 ? 3000 : 10));
            const osa_frame_record r = spdo(4, frame, counter);
            osa_tap_packet(&r);
        }
        const osa_connection *connection = osa_find_connection(4);
        QVERIFY(connection);
        QCOMPARE(connection->sync_errors.series.size(), size_t(1));

        OSCustomPlot plot;
        plot.resize(640, 300);
        plot.setMode(1);
        plot.setTitle(QStringLiteral("Counter Delta"));
        plot.plotNode(4);
        const QImage without = plot.toPixmap(640, 300).toImage();
        plot.setShowSyncError(true);
        QCOMPARE(plot.graphCount(), 2);
        QCPGraph *marks = plot.graph(1);
        // the plot's own axes: drag and zoom move the marks with the frames
        QCOMPARE(marks->keyAxis(), plot.xAxis);
        QCOMPARE(marks->valueAxis(), plot.yAxis);
        QVERIFY(marks->scatterStyle().shape() != QCPScatterStyle::ssNone);
        QCOMPARE(marks->dataCount(), 1);
        // the one error is drawn: red pixels in the column of its frame
        auto redAround = [](const QImage &image, int cx) {
            int n = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = std::max(0, cx - 6); x <= std::min(image.width() - 1, cx + 6); ++x) {
                    const QColor c = image.pixelColor(x, y);
                    n += c.red() > 200 && c.green() < 80 && c.blue() < 80;
                }
            return n;
        };
        const auto markColumn = [&] { return int(std::lround(plot.xAxis->coordToPixel(200))); };
        int at = markColumn();
        QVERIFY(redAround(plot.toPixmap(640, 300).toImage(), at) > 10);
        QCOMPARE(redAround(without, at), 0);
        // after a zoom the mark is still at frame 200
        plot.xAxis->setRange(150, 260);
        at = markColumn();
        QVERIFY(at > 100 && at < 540);
        QVERIFY(redAround(plot.toPixmap(640, 300).toImage(), at) > 10);
    }

    void emptyPlotHidesItsTracer() {
        osa_tap_reset();
        for (uint32_t frame = 10; frame <= 50; frame += 10) {  // too few samples to plot
            const osa_frame_record r = spdo(1, frame, uint16_t(frame));
            osa_tap_packet(&r);
        }
        static QStringList messages;
        messages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &text) { messages << text; });
        OSCustomPlot plot;
        plot.resize(640, 300);
        plot.plotNode(1);
        QCOMPARE(plot.graph(0)->dataCount(), 0);
        QVERIFY(plot.pointTracer());
        QVERIFY(!plot.pointTracer()->visible());
        for (int x = 100; x < 600; x += 50) {
            moveMouse(plot, x);
        }
        plot.replot();
        qInstallMessageHandler(previous);
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join('\n')));
        QVERIFY(plot.toolTip().isEmpty());
    }

    void outlierRule() {
        using S = OSCustomPlot::Sample;
        QVector<double> keys, values;
        double lo = 0, hi = 0;
        // newest first: a plain point at 110, then the sample at 100
        OSCustomPlot::buildPoints({S{110, 10, 0, 10}, S{100, 40, 15, 10}}, 0, keys, values, lo, hi);
        QCOMPARE(lo, 10.0);
        QCOMPARE(hi, 40.0);
        QCOMPARE(keys.first(), 100.0);
        QCOMPARE(values.first(), 40.0);
        QCOMPARE(keys.last(), 110.0);
        QVERIFY(keys.size() > 2);  // decay points between the outlier and the next point
        QVERIFY(std::is_sorted(keys.begin(), keys.end()));
        const double a = (1 - std::cos(2 * M_PI / 5)) / 2;
        QCOMPARE(keys[1], 100.1);
        QCOMPARE(values[1], 40 * (1 - a) + a * 10);
        for (int i = 2; i < keys.size() - 1; ++i) QVERIFY(values[i] <= values[i - 1] && values[i] >= 10);
        QVERIFY(values[keys.size() - 2] < 10.001);  // settled on the next point's value

        // deviation 8 (not above the mean): a plain point
        OSCustomPlot::buildPoints({S{110, 10, 0, 10}, S{100, 40, 8, 10}}, 0, keys, values, lo, hi);
        QCOMPARE(keys, (QVector<double>{100, 110}));
        // counter mode never decays
        OSCustomPlot::buildPoints({S{110, 10, 0, 10}, S{100, 40, 15, 10}}, 1, keys, values, lo, hi);
        QCOMPARE(keys, (QVector<double>{100, 110}));
        // the newest sample is always plain
        OSCustomPlot::buildPoints({S{100, 40, 15, 10}}, 0, keys, values, lo, hi);
        QCOMPARE(keys, (QVector<double>{100}));
    }

    void pngExportAndCancelledSave() {
        osa_tap_reset();
        for (uint32_t f = 10; f <= 2000; f += 10) {
            const osa_frame_record r = spdo(4, f, uint16_t(f));
            osa_tap_packet(&r);
        }
        OSCustomPlot plot;
        plot.resize(640, 300);
        plot.plotNode(4);
        QCOMPARE(plot.exportSize(), QSize(800, 375));  // 300 * 800 / 640

        const QString base = dir.filePath(QStringLiteral("plot"));
        QVERIFY(plot.saveImage(base));
        QImage image(base + QStringLiteral(".png"));
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), QSize(800, 375));
        QVERIFY(plot.saveImage(dir.filePath(QStringLiteral("upper.PNG"))));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("upper.PNG"))));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("upper.PNG.png"))));

        // the real menu action with the file dialog cancelled writes nothing
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const QStringList before = QDir(dir.path()).entryList(QDir::Files);
        QTimer::singleShot(0, [] {
            QTRY_VERIFY(qobject_cast<QFileDialog *>(QApplication::activeModalWidget()));
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Choose name for file"));
            dialog->reject();
        });
        plot.saveActionTriggered();
        QDir::setCurrent(cwd);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), before);

        plot.clipboardActionTriggered();
        QCOMPARE(QApplication::clipboard()->pixmap().size(), QSize(800, 375));

        plot.customPlotMenuRequested(QPoint(10, 10));
        QCOMPARE(actionTexts(plot.contextMenu()),
                 (QStringList{"&Reset Scale", "&Display Legend", "--", "&Save Image", "Save to &Clipboard"}));
        plot.contextMenu()->hide();
    }

    // The generator's default network is a short capture (60 cycles): no
    // node produces more than 100 SPDOs and only some take part in time
    // synchronisation. The Network page lists every node the statistics
    // tree shows, and the delta pages every producer of the safety domain.
    void shortCaptureListsEveryNode() {
        const std::string path = dir.filePath(QStringLiteral("osa_default.pcapng")).toStdString();
        std::string err;
        QVERIFY2(osa_gen::write_pcap(osa_gen::generate(osa_gen::default_config()), path, true, &err), err.c_str());
        QVERIFY2(osa_ws_dissect_file(path, &err), err.c_str());

        openSAFETYNetworkPage network;
        auto *table = network.findChild<OSTableView *>(QStringLiteral("tableNetwork"));
        QCOMPARE(column(table->model(), 1), (QStringList{"1", "2", "3", "4", "5", "6", "7", "12"}));
        for (const QString &spdos : column(table->model(), 8)) QVERIFY(spdos.toUInt() <= 100);

        openSAFETYStatsPage frameDelta(nullptr, 0);
        auto *stats = frameDelta.findChild<OSTableView *>(QStringLiteral("tableStats"));
        QVERIFY(stats);
        QStringList producers = column(stats->model(), 1);
        for (const char *sadr : {"2", "3", "4", "5", "6", "7"}) QVERIFY2(producers.contains(QLatin1String(sadr)), sadr);
    }
};

QTEST_MAIN(TestOpenSafetyPages)
#include "opensafety_pages_test.moc"
