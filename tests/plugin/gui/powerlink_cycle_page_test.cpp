// The "POWERLINK Cycle" page on samples filled through the collector's own
// recording functions (exact shapes: decimation, two networks, no cycles)
// and on the samples the engine collects from the real robot capture. The
// page's frame selections are caught through Wireshark's plug-in interface.
#include "plkcyclepage.h"
#include "plkcycleplot.h"
#include "plkhistogramplot.h"
#include "zelanalyzer_main.h"

#include "cycle_samples.h"
#include "plk_robot_samples.h"
#include "plk_samples.h"

#include <epan/plugin_if.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <map>
#include <numeric>
#include <set>

namespace {

// What the page handed to Wireshark's "goto frame".
QList<quint32> g_gotoFrames;

void captureGoto(GHashTable *data) { g_gotoFrames << GPOINTER_TO_UINT(g_hash_table_lookup(data, "frame_nr")); }

// The samples the page finds as the running analysis' (the plug-in module
// defines this function inside Wireshark; here the test does).
const flowlens_cycle_samples *g_live = nullptr;

QPointF pixelOf(const QCPGraph *graph, double key, double value) {
    return QPointF(graph->keyAxis()->coordToPixel(key), graph->valueAxis()->coordToPixel(value));
}

QCPGraph *graphNamed(const QCustomPlot *plot, const QString &name) {
    for (int i = 0; i < plot->graphCount(); ++i) {
        if (plot->graph(i)->name() == name) return plot->graph(i);
    }
    return nullptr;
}

QVector<double> keysOf(const QCPGraph *graph) {
    QVector<double> keys;
    for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it) keys << it->key;
    return keys;
}

QVector<double> valuesOf(const QCPGraph *graph) {
    QVector<double> values;
    for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it) values << it->value;
    return values;
}

QStringList row(const QAbstractItemModel *model, int r) {
    QStringList cells;
    for (int c = 0; c < model->columnCount(); ++c) cells << model->index(r, c).data().toString();
    return cells;
}

// A network of one MN polling CN 1 and CN 2 each cycle: SoC at frame 10k,
// PReq/PRes pairs after it; cycle k takes 400 µs + k * 3 µs.
void fillNetwork(flowlens_cycle_samples &s, unsigned network, int cycles, uint64_t firstFrame = 10) {
    uint64_t t = 1'000'000'000;
    for (int k = 0; k < cycles; ++k) {
        const uint64_t cycle = k == 0 ? 0 : 400'000 + uint64_t(k) * 3'000;
        t += cycle;
        const uint64_t soc = firstFrame + uint64_t(k) * 10;
        s.add_cycle(network, soc, t, cycle, 400);
        s.add_response(network, 1, soc + 1, soc + 2, t + 20'000, 8'000 + uint64_t(k) * 10);
        s.add_response(network, 2, soc + 3, soc + 4, t + 40'000, 12'000);
    }
}

}  // namespace

const flowlens_cycle_samples *plk_cycle_samples(void) { return g_live; }

class TestPowerlinkCyclePage : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { plugin_if_register_gui_cb(PLUGIN_IF_GOTO_FRAME, captureGoto); }

    void init() {
        g_gotoFrames.clear();
        g_live = nullptr;
    }

    // The bands sit where the cycle check starts to report: the check takes
    // the difference in ns over the nominal time in µs, rounded down, and
    // reports above 50 and above 100 per mille.
    void bandEdgesAreTheFirstReportedCycleTimes() {
        for (uint32_t nominal : {1u, 200u, 333u, 400u, 1000u, 12345u, 100000u}) {
            for (int limit : {50, 100}) {
                for (int sign : {1, -1}) {
                    const double edgeUs = PlkCyclePage::bandEdgeUs(nominal, limit, sign);
                    const int64_t edgeNs = std::llround(edgeUs * 1000);
                    QCOMPARE(double(edgeNs), edgeUs * 1000);  // whole ns
                    QVERIFY2(PlkCyclePage::deviationPermille(uint64_t(edgeNs), nominal) > limit,
                             qPrintable(QStringLiteral("%1 us, %2, %3").arg(nominal).arg(limit).arg(sign)));
                    // one ns closer to the nominal time is not reported
                    QVERIFY(PlkCyclePage::deviationPermille(uint64_t(edgeNs - sign), nominal) <= limit);
                }
            }
        }
        QCOMPARE(PlkCyclePage::bandEdgeUs(400, 50, 1), 420.4);
        QCOMPARE(PlkCyclePage::bandEdgeUs(400, 100, -1), 359.6);
        QCOMPARE(PlkCyclePage::deviationPermille(420'399, 400), int64_t(50));
        QCOMPARE(PlkCyclePage::deviationPermille(0, 0), int64_t(0));
    }

    void fillsEveryPlotFromTheSamples() {
        flowlens_cycle_samples s;
        fillNetwork(s, 0, 6);
        s.add_late(0, 2);
        s.add_event(0, 30, 2, "Loss of SoA");
        s.add_event(0, 30, 0, "Multiple ASnd (2 Slots)");
        s.add_event(0, 41, 0, "Informational");
        PlkCyclePage page(nullptr, &s);
        QVERIFY(!page.isEmptyState());
        QCOMPARE(page.windowTitle(), QStringLiteral("POWERLINK Cycle"));

        auto *cyclePlot = page.findChild<PlkCyclePlot *>(QStringLiteral("plotCycle"));
        QCPGraph *cycle = graphNamed(cyclePlot, QStringLiteral("Cycle time"));
        QVERIFY(cycle);
        // every SoC but the first, which closes no cycle
        QCOMPARE(keysOf(cycle), (QVector<double>{20, 30, 40, 50, 60}));
        QCOMPARE(valuesOf(cycle), (QVector<double>{403, 406, 409, 412, 415}));
        // nominal and the four band lines, as steps from the first to the last SoC
        QCPGraph *nominal = graphNamed(cyclePlot, QStringLiteral("Nominal"));
        QVERIFY(nominal);
        QCOMPARE(keysOf(nominal), (QVector<double>{10, 60}));
        QCOMPARE(valuesOf(nominal), (QVector<double>{400, 400}));
        QCPGraph *band5 = graphNamed(cyclePlot, QStringLiteral("±5 %"));
        QCPGraph *band10 = graphNamed(cyclePlot, QStringLiteral("±10 %"));
        QVERIFY(band5 && band10);
        QCOMPARE(valuesOf(band5).first(), 420.4);
        QCOMPARE(valuesOf(band10).first(), 440.4);
        QCOMPARE(band5->channelFillGraph()->data()->constBegin()->value, 379.6);

        auto *responsePlot = page.findChild<PlkCyclePlot *>(QStringLiteral("plotResponse"));
        QCPGraph *cn1 = graphNamed(responsePlot, QStringLiteral("CN 1"));
        QCPGraph *cn2 = graphNamed(responsePlot, QStringLiteral("CN 2"));
        QVERIFY(cn1 && cn2);
        QCOMPARE(keysOf(cn1), (QVector<double>{12, 22, 32, 42, 52, 62}));
        QCOMPARE(valuesOf(cn1), (QVector<double>{8, 8.01, 8.02, 8.03, 8.04, 8.05}));
        QCOMPARE(valuesOf(cn2), QVector<double>(6, 12));
        QVERIFY(responsePlot->legend->visible());

        // events: one mark per frame on both plots, red when any of its events is reported
        for (PlkCyclePlot *plot : {cyclePlot, responsePlot}) {
            QVERIFY(plot->errorMarks() && plot->infoMarks());
            QCOMPARE(keysOf(plot->errorMarks()), QVector<double>{30});
            QCOMPARE(keysOf(plot->infoMarks()), QVector<double>{41});
        }

        auto *table = page.findChild<QTableView *>(QStringLiteral("tableCn"));
        QAbstractItemModel *model = table->model();
        QCOMPARE(model->columnCount(), 6);
        QCOMPARE(model->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Avg (µs)"));
        QCOMPARE(model->rowCount(), 2);
        QCOMPARE(row(model, 0), (QStringList{"1", "6", "8.000", "8.025", "8.050", "0"}));
        QCOMPARE(row(model, 1), (QStringList{"2", "6", "12.000", "12.000", "12.000", "1"}));
        // a CN chosen in the table: only its answers are drawn (and answer clicks)
        table->selectRow(1);
        QVERIFY(!cn1->visible() && cn2->visible());
        table->clearSelection();
        QVERIFY(cn1->visible() && cn2->visible());
        // the table shows every column without scrolling
        int columns = 0;
        for (int c = 0; c < model->columnCount(); ++c) columns += table->columnWidth(c);
        QVERIFY(table->minimumWidth() >= columns);

        auto *summary = page.findChild<QLabel *>(QStringLiteral("lblSummary"));
        QCOMPARE(summary->text(), QStringLiteral("5 cycles: mean 409.000 µs, min 403.000 µs, max 415.000 µs; "
                                                 "nominal 400 µs."));
        // one network: no choice offered
        QVERIFY(page.findChild<QComboBox *>(QStringLiteral("comboNetwork"))->isHidden());
    }

    void rangesCoverDataBandsAndFrames() {
        flowlens_cycle_samples s;
        fillNetwork(s, 0, 6);
        s.add_event(0, 75, 2, "Loss of SoC");
        PlkCyclePage page(nullptr, &s);
        page.resize(900, 700);
        auto *cyclePlot = page.findChild<PlkCyclePlot *>(QStringLiteral("plotCycle"));
        auto *responsePlot = page.findChild<PlkCyclePlot *>(QStringLiteral("plotResponse"));
        // frames: from the first SoC to the last frame anything happened at
        QCOMPARE(cyclePlot->xAxis->range(), QCPRange(10, 75));
        QCOMPARE(responsePlot->xAxis->range(), QCPRange(10, 75));
        // values: the ±10 % band (359.6 .. 440.4) holds every cycle; 5 % margin
        const QCPRange y = cyclePlot->yAxis->range();
        QCOMPARE(y.lower, 359.6 - 0.05 * 80.8);
        QCOMPARE(y.upper, 440.4 + 0.05 * 80.8);
        QCOMPARE(responsePlot->yAxis->range(), QCPRange(0, 12 * 1.1));

        // the frame axis never leaves the capture; both plots move together
        cyclePlot->xAxis->setRange(-100, 20);
        QCOMPARE(cyclePlot->xAxis->range(), QCPRange(10, 75));
        cyclePlot->xAxis->setRange(30, 40);
        QCOMPARE(responsePlot->xAxis->range(), QCPRange(30, 40));
        cyclePlot->xAxis->setRange(70, 90);
        QCOMPARE(cyclePlot->xAxis->range(), QCPRange(55, 75));
        QCOMPARE(responsePlot->xAxis->range(), QCPRange(55, 75));
        cyclePlot->yAxis->setRange(0, 1);

        // "&Reset Scale" from the context menu returns to the start
        cyclePlot->customPlotMenuRequested(QPoint(10, 10));
        QStringList texts;
        for (QAction *a : cyclePlot->contextMenu()->actions())
            texts << (a->isSeparator() ? QStringLiteral("--") : a->text());
        QCOMPARE(texts, (QStringList{"&Reset Scale", "&Display Legend", "--", "&Save Image", "Save to &Clipboard"}));
        cyclePlot->contextMenu()->actions().first()->trigger();
        QCOMPARE(cyclePlot->xAxis->range(), QCPRange(10, 75));
        QCOMPARE(cyclePlot->yAxis->range(), y);

        // a cycle far off the band widens the value range to it
        flowlens_cycle_samples spike;
        spike.add_cycle(0, 5, 0, 0, 400);
        spike.add_cycle(0, 9, 0, 1'200'000, 400);
        PlkCyclePage spikePage(nullptr, &spike);
        const QCPRange spikeY = spikePage.findChild<PlkCyclePlot *>(QStringLiteral("plotCycle"))->yAxis->range();
        QVERIFY(spikeY.lower < 359.6 && spikeY.upper > 1200);
    }

    void imageIsSavedAsPng() {
        flowlens_cycle_samples s;
        fillNetwork(s, 0, 4);
        PlkCyclePage page(nullptr, &s);
        page.resize(900, 700);
        auto *plot = page.findChild<PlkCyclePlot *>(QStringLiteral("plotCycle"));
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("cycle"));
        QVERIFY(plot->saveImage(name));
        QImage image(name + QStringLiteral(".png"));
        QCOMPARE(image.width(), 800);
        QVERIFY(!plot->saveImage(QString()));
    }

    // A click on a point or a mark selects its frame in Wireshark; a drag
    // or a click beside everything selects nothing.
    void clicksSelectFrames() {
        flowlens_cycle_samples s;
        fillNetwork(s, 0, 6);
        s.add_event(0, 35, 2, "Loss of PRes");
        PlkCyclePage page(nullptr, &s);
        page.resize(1000, 800);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        auto *cyclePlot = page.findChild<PlkCyclePlot *>(QStringLiteral("plotCycle"));
        auto *responsePlot = page.findChild<PlkCyclePlot *>(QStringLiteral("plotResponse"));
        cyclePlot->replot();
        responsePlot->replot();

        QCPGraph *cycle = graphNamed(cyclePlot, QStringLiteral("Cycle time"));
        const QPoint p40 = pixelOf(cycle, 40, 409).toPoint();
        QCOMPARE(cyclePlot->frameAt(p40), quint64(40));
        QCOMPARE(cyclePlot->toolTipAt(p40), QStringLiteral("Frame 40: Cycle time 409.000 µs"));
        QTest::mouseClick(cyclePlot, Qt::LeftButton, Qt::NoModifier, p40);
        QCOMPARE(g_gotoFrames, QList<quint32>{40});

        const QPoint mark = pixelOf(cyclePlot->errorMarks(), 35, 0.96).toPoint();
        QCOMPARE(cyclePlot->toolTipAt(mark), QStringLiteral("Frame 35: Loss of PRes"));
        QTest::mouseClick(cyclePlot, Qt::LeftButton, Qt::NoModifier, mark);
        QCOMPARE(g_gotoFrames.last(), quint32(35));

        // the response of CN 2 answered in frame 24
        QCPGraph *cn2 = graphNamed(responsePlot, QStringLiteral("CN 2"));
        const QPoint p24 = pixelOf(cn2, 24, 12).toPoint();
        QCOMPARE(responsePlot->toolTipAt(p24), QStringLiteral("Frame 24: CN 2 12.000 µs"));
        QTest::mouseClick(responsePlot, Qt::LeftButton, Qt::NoModifier, p24);
        QCOMPARE(g_gotoFrames.last(), quint32(24));

        // beside every point: nothing; a drag: nothing
        const int before = g_gotoFrames.size();
        const QPoint empty = pixelOf(cycle, 40, 380).toPoint();
        QCOMPARE(cyclePlot->frameAt(empty), quint64(0));
        QCOMPARE(cyclePlot->toolTipAt(empty), QString());
        QTest::mouseClick(cyclePlot, Qt::LeftButton, Qt::NoModifier, empty);
        QTest::mousePress(cyclePlot, Qt::LeftButton, Qt::NoModifier, p40);
        QTest::mouseRelease(cyclePlot, Qt::LeftButton, Qt::NoModifier, p40 + QPoint(30, 0));
        QCOMPARE(g_gotoFrames.size(), before);

        // a hidden graph (legend toggled off by the user) answers nothing
        cycle->setVisible(false);
        QCOMPARE(cyclePlot->frameAt(p40), quint64(0));
    }

    // Bars over the cycle times: every cycle counted once, the rare extreme
    // ones in the outer bars instead of stretching the range.
    void histogramCountsEveryCycle() {
        std::vector<uint64_t> times;
        for (int i = 0; i < 1999; ++i) times.push_back(398'000 + uint64_t(i % 5) * 1'000);  // 398..402 µs
        times.push_back(800'000);                                                           // a lost SoC
        const PlkHistogramPlot::Bins bins = PlkHistogramPlot::binsOf(times);
        QCOMPARE(bins.counts.size(), PlkHistogramPlot::kBins);
        QCOMPARE(bins.lower, 398.0);
        QCOMPARE(bins.width, 4.0 / PlkHistogramPlot::kBins);
        QCOMPARE(std::accumulate(bins.counts.cbegin(), bins.counts.cend(), 0.0), 2000.0);
        QCOMPARE(bins.counts.first(), 400.0);
        QCOMPARE(bins.counts.last(), 400.0);  // 399 times 402 µs and the lost SoC
        QVERIFY(PlkHistogramPlot::binsOf({}).counts.isEmpty());
        // one value: one bar of it
        const PlkHistogramPlot::Bins one = PlkHistogramPlot::binsOf({400'000, 400'000});
        QCOMPARE(one.counts.first(), 2.0);

        // on the page: its own tab, the bars of the shown cycles, the
        // nominal time and the four band edges as lines
        flowlens_cycle_samples s;
        fillNetwork(s, 0, 30);
        PlkCyclePage page(nullptr, &s);
        page.resize(900, 700);
        auto *tabs = page.findChild<QTabWidget *>(QStringLiteral("tabsCycle"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("Histogram"));
        auto *plot = page.findChild<PlkHistogramPlot *>(QStringLiteral("plotHistogram"));
        double counted = 0;
        for (auto it = plot->bars()->data()->constBegin(); it != plot->bars()->data()->constEnd(); ++it)
            counted += it->value;
        QCOMPARE(counted, 29.0);
        // 403..487 µs: the nominal time (400) lies outside; 420.4 and 440.4 inside
        QCOMPARE(plot->itemCount(), 2);
        tabs->setCurrentIndex(1);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        plot->replot();
        const double firstBar = plot->bars()->data()->constBegin()->key;
        const QPointF at(plot->xAxis->coordToPixel(firstBar), plot->yAxis->coordToPixel(0.5));
        QVERIFY2(plot->toolTipAt(at).startsWith(QStringLiteral("1 cycles of 403.000 to ")),
                 qPrintable(plot->toolTipAt(at)));
    }

    void decimatedSamplesArePlottedAsKept() {
        flowlens_cycle_samples s;
        // the smallest caps: 8 cycles, 512 answers (the collector's floor)
        s.set_caps(8, 8, 8);
        fillNetwork(s, 0, 300);
        QVERIFY(s.cycle_stride(0) > 1);
        QVERIFY(s.response_stride(0) > 1);
        PlkCyclePage page(nullptr, &s);
        auto *cyclePlot = page.findChild<PlkCyclePlot *>(QStringLiteral("plotCycle"));
        QVector<double> keys, values;
        for (const flowlens_cycle_point &c : s.cycles(0)) {
            if (c.cycle_time == 0) continue;
            keys << double(c.soc_frame);
            values << double(c.cycle_time) / 1000.0;
        }
        QVERIFY(keys.size() <= 8);
        QCOMPARE(keysOf(graphNamed(cyclePlot, QStringLiteral("Cycle time"))), keys);
        QCOMPARE(valuesOf(graphNamed(cyclePlot, QStringLiteral("Cycle time"))), values);
        // the frame axis spans every kept sample, answers too
        double first = 1e18, last = 0;
        for (const flowlens_cycle_point &c : s.cycles(0)) {
            first = std::min(first, double(c.soc_frame));
            last = std::max(last, double(c.soc_frame));
        }
        for (const flowlens_response_point &r : s.responses(0)) {
            first = std::min(first, double(r.pres_frame));
            last = std::max(last, double(r.pres_frame));
        }
        QCOMPARE(cyclePlot->xAxis->range(), QCPRange(first, last));
        QVERIFY(last - first > 2000);  // 300 cycles of 10 frames, decimated to a few
        auto *responsePlot = page.findChild<PlkCyclePlot *>(QStringLiteral("plotResponse"));
        int responses = 0;
        for (const char *name : {"CN 1", "CN 2"})
            responses += graphNamed(responsePlot, QString::fromLatin1(name))->data()->size();
        QCOMPARE(responses, int(s.responses(0).size()));
        // the summary says so; the table counts every answer
        const QString summary = page.findChild<QLabel *>(QStringLiteral("lblSummary"))->text();
        QVERIFY2(summary.contains(QStringLiteral("(one cycle in %1 kept)").arg(s.cycle_stride(0))),
                 qPrintable(summary));
        QVERIFY2(summary.contains(QStringLiteral("(one response in %1 kept)").arg(s.response_stride(0))),
                 qPrintable(summary));
        QAbstractItemModel *model = page.findChild<QTableView *>(QStringLiteral("tableCn"))->model();
        QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("300"));
    }

    void secondNetworkIsChosenInTheList() {
        flowlens_cycle_samples s;
        fillNetwork(s, 0, 5, 10);
        fillNetwork(s, 1, 3, 1000);
        s.add_event(1, 1005, 2, "Two networks");
        PlkCyclePage page(nullptr, &s);
        auto *box = page.findChild<QComboBox *>(QStringLiteral("comboNetwork"));
        QVERIFY(!box->isHidden());
        QCOMPARE(box->count(), 2);
        QCOMPARE(box->itemText(1), QStringLiteral("Network 2"));
        QCOMPARE(page.currentNetwork(), 0u);
        auto *cyclePlot = page.findChild<PlkCyclePlot *>(QStringLiteral("plotCycle"));
        QCOMPARE(keysOf(graphNamed(cyclePlot, QStringLiteral("Cycle time"))).size(), 4);
        QVERIFY(!cyclePlot->errorMarks());

        box->setCurrentIndex(1);
        QCOMPARE(page.currentNetwork(), 1u);
        QCOMPARE(keysOf(graphNamed(cyclePlot, QStringLiteral("Cycle time"))), (QVector<double>{1010, 1020}));
        QCOMPARE(keysOf(cyclePlot->errorMarks()), QVector<double>{1005});
        QCOMPARE(cyclePlot->xAxis->range(), QCPRange(1000, 1024));
        QAbstractItemModel *model = page.findChild<QTableView *>(QStringLiteral("tableCn"))->model();
        QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("3"));

        page.showNetwork(0);
        QCOMPARE(box->currentIndex(), 0);
        QCOMPARE(keysOf(graphNamed(cyclePlot, QStringLiteral("Cycle time"))).size(), 4);

        // only the second network has cycles: shown without a choice
        flowlens_cycle_samples second;
        fillNetwork(second, 1, 3, 50);
        PlkCyclePage secondPage(nullptr, &second);
        QCOMPARE(secondPage.networks(), QList<unsigned>{1});
        QCOMPARE(secondPage.currentNetwork(), 1u);
        QVERIFY(secondPage.findChild<QComboBox *>(QStringLiteral("comboNetwork"))->isHidden());
    }

    void withoutCyclesThePageSaysSo() {
        flowlens_cycle_samples noCycles;
        // answers and events alone make no cycle to show
        noCycles.add_response(0, 1, 1, 2, 0, 5000);
        noCycles.add_event(0, 3, 2, "Loss of SoC");
        flowlens_cycle_samples none;
        const flowlens_cycle_samples *cases[] = {nullptr, &none, &noCycles};
        for (const flowlens_cycle_samples *samples : cases) {
            PlkCyclePage page(nullptr, samples);
            page.show();
            QVERIFY(page.isEmptyState());
            auto *empty = page.findChild<QLabel *>(QStringLiteral("lblEmpty"));
            QVERIFY(empty->isVisible());
            QVERIFY(empty->text().startsWith(QStringLiteral("No POWERLINK cycles in this capture.")));
            QVERIFY(!page.findChild<PlkCyclePlot *>(QStringLiteral("plotCycle"))->isVisible());
            QVERIFY(page.findChild<QComboBox *>(QStringLiteral("comboNetwork"))->isHidden());
            QVERIFY(page.networks().isEmpty());
        }
        // a single SoC: a page with its frame, no cycle
        flowlens_cycle_samples one;
        one.add_cycle(0, 7, 0, 0, 0);
        PlkCyclePage page(nullptr, &one);
        QVERIFY(!page.isEmptyState());
        auto *plot = page.findChild<PlkCyclePlot *>(QStringLiteral("plotCycle"));
        QCOMPARE(plot->xAxis->range(), QCPRange(6, 8));
        QVERIFY(plot->yAxis->range().size() > 0);
        QVERIFY(!graphNamed(plot, QStringLiteral("Nominal")));
        QCOMPARE(page.findChild<QLabel *>(QStringLiteral("lblSummary"))->text(),
                 QStringLiteral("One SoC, no complete cycle; nominal cycle time unknown."));
    }

    // The dialog lists the page and, asked for it, opens on it with the
    // running analysis' samples.
    void dialogOpensOnTheCyclePage() {
        flowlens_cycle_samples s;
        fillNetwork(s, 0, 4);
        g_live = &s;
        ZELAnalyzer_Main dialog(nullptr, QStringLiteral("powerlink-cycle"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Zelmar Analyzer:: POWERLINK Cycle"));
        auto *stack = dialog.findChild<QStackedWidget *>(QStringLiteral("stackTools"));
        auto *page = qobject_cast<PlkCyclePage *>(stack->currentWidget());
        QVERIFY(page);
        QVERIFY(!page->isEmptyState());
        auto *list = dialog.findChild<QListWidget *>(QStringLiteral("listOptions"));
        QCOMPARE(list->currentItem()->text(), QStringLiteral("POWERLINK Cycle"));

        // without a page name: the first page listed; the cycle page is listed
        // since there are cycles
        ZELAnalyzer_Main plain(nullptr);
        auto *plainList = plain.findChild<QListWidget *>(QStringLiteral("listOptions"));
        QCOMPARE(plainList->currentRow(), 0);
        QVERIFY(!plainList->findItems(QStringLiteral("POWERLINK Cycle"), Qt::MatchExactly).isEmpty());
        ZELAnalyzer_Main unknown(nullptr, QStringLiteral("no-such-page"));
        QCOMPARE(unknown.findChild<QListWidget *>(QStringLiteral("listOptions"))->currentRow(), 0);

        // no cycles: listed only when asked for, where it says there are none
        g_live = nullptr;
        ZELAnalyzer_Main without(nullptr);
        QVERIFY(without.findChild<QListWidget *>(QStringLiteral("listOptions"))
                    ->findItems(QStringLiteral("POWERLINK Cycle"), Qt::MatchExactly)
                    .isEmpty());
        ZELAnalyzer_Main asked(nullptr, QStringLiteral("powerlink-cycle"));
        QCOMPARE(asked.windowTitle(), QStringLiteral("Zelmar Analyzer:: POWERLINK Cycle"));
        auto *emptyPage = qobject_cast<PlkCyclePage *>(
            asked.findChild<QStackedWidget *>(QStringLiteral("stackTools"))->currentWidget());
        QVERIFY(emptyPage && emptyPage->isEmptyState());
    }

    // The robot capture through the engine: the page shows exactly what the
    // engine kept, and its bands agree with the engine's deviation reports.
    void robotCaptureThroughTheEngine() {
        const analysed_capture robot("powerlink_robot_with_iperf.pcapng.gz");
        if (robot.skipped()) QSKIP("the shared captures are not there");
        QVERIFY2(robot.error().empty(), robot.error().c_str());
        const flowlens_cycle_samples *s = robot.samples();
        QVERIFY(s && s->cycles(0).size() > 100);

        PlkCyclePage page(nullptr, s);
        auto *cyclePlot = page.findChild<PlkCyclePlot *>(QStringLiteral("plotCycle"));
        QCPGraph *cycle = graphNamed(cyclePlot, QStringLiteral("Cycle time"));
        QVector<double> keys, values;
        for (const flowlens_cycle_point &c : s->cycles(0)) {
            if (c.cycle_time == 0) continue;
            keys << double(c.soc_frame);
            values << double(c.cycle_time) / 1000.0;
        }
        QCOMPARE(keysOf(cycle), keys);
        QCOMPARE(valuesOf(cycle), values);

        // one graph per CN with that CN's answers; the table row per CN
        auto *responsePlot = page.findChild<PlkCyclePlot *>(QStringLiteral("plotResponse"));
        std::map<int, int> answers;
        for (const flowlens_response_point &r : s->responses(0)) answers[r.node] += 1;
        QVERIFY(!answers.empty());
        for (const auto &[node, count] : answers) {
            QCPGraph *g = graphNamed(responsePlot, QStringLiteral("CN %1").arg(node));
            QVERIFY(g);
            QCOMPARE(g->data()->size(), count);
        }
        QAbstractItemModel *model = page.findChild<QTableView *>(QStringLiteral("tableCn"))->model();
        const std::vector<flowlens_cn_response_summary> summaries = s->cn_summaries(0);
        QCOMPARE(model->rowCount(), int(summaries.size()));
        for (int r = 0; r < model->rowCount(); ++r) {
            const flowlens_cn_response_summary &cn = summaries[size_t(r)];
            QCOMPARE(row(model, r)[0], QString::number(cn.node));
            QCOMPARE(row(model, r)[1], QString::number(cn.count));
            QCOMPARE(row(model, r)[3], QString::number(double(cn.sum) / 1000.0 / double(cn.count), 'f', 3));
            QCOMPARE(row(model, r)[5], QString::number(cn.late));
        }

        // Every cycle the engine reported as off by 5 % lies on or beyond the
        // band's edge, and every cycle beyond it that the check measured was reported.
        std::set<uint64_t> reported5, reported10;
        for (const flowlens_event_point &e : s->events(0)) {
            if (std::strcmp(e.text, analysed_capture::deviation5Text()) == 0) reported5.insert(e.frame);
            if (std::strcmp(e.text, analysed_capture::deviation10Text()) == 0) reported10.insert(e.frame);
        }
        int beyond5 = 0;
        for (const flowlens_cycle_point &c : s->cycles(0)) {
            const bool off5 = c.nominal_us && c.cycle_time &&
                              double(c.cycle_time) / 1000.0 >= PlkCyclePage::bandEdgeUs(c.nominal_us, 50, 1) - 1e-9;
            const bool under5 = c.nominal_us && c.cycle_time &&
                                double(c.cycle_time) / 1000.0 <= PlkCyclePage::bandEdgeUs(c.nominal_us, 50, -1) + 1e-9;
            if (reported5.count(c.soc_frame))
                QVERIFY2(off5 || under5, qPrintable(QStringLiteral("frame %1").arg(c.soc_frame)));
            if (reported10.count(c.soc_frame))
                QVERIFY(PlkCyclePage::deviationPermille(c.cycle_time, c.nominal_us) > 100);
            beyond5 += (off5 || under5) ? 1 : 0;
        }
        qInfo("robot capture: %d cycles, %d beyond the 5 %% band, %d reported (5 %%), %d (10 %%)", int(keys.size()),
              beyond5, int(reported5.size()), int(reported10.size()));
    }
};

QTEST_MAIN(TestPowerlinkCyclePage)
#include "powerlink_cycle_page_test.moc"
