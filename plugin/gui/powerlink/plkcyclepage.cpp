#include "plkcyclepage.h"

#include "cycle_samples.h"
#include "plk_samples.h"

#include <epan/plugin_if.h>

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QSet>
#include <QMap>
#include <QSplitter>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

// The plug-in module defines it; the window module binds to it when loaded.
__attribute__((weak)) const flowlens_cycle_samples *plk_cycle_samples(void);

namespace {
// The limits of the cycle check, in per mille of the nominal cycle time.
constexpr int kLimit5 = 50;
constexpr int kLimit10 = 100;
constexpr unsigned kNetworks = 2;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
// Sort key of the CN table's cells (the text shows rounded values).
constexpr int kSortRole = Qt::UserRole + 1;

const QColor kCycleColour(1, 92, 191);
const QColor kNominalColour(20, 20, 20);
const QColor kBand5Colour(40, 160, 60);
const QColor kBand10Colour(230, 140, 0);

double toUs(uint64_t ns) { return double(ns) / 1000.0; }

QString us(double value) { return QString::number(value, 'f', 3); }

// The graph colour of the i-th CN.
QColor cnColour(int i) {
    static const QColor colours[] = {
        QColor(1, 92, 191),  QColor(214, 39, 40),   QColor(44, 160, 44),  QColor(255, 127, 14), QColor(148, 103, 189),
        QColor(140, 86, 75), QColor(227, 119, 194), QColor(23, 190, 207), QColor(188, 189, 34), QColor(127, 127, 127)};
    return colours[i % int(sizeof colours / sizeof colours[0])];
}

// A value range around lo..hi with a margin, never empty.
QCPRange padded(double lo, double hi) {
    const double margin = hi > lo ? (hi - lo) * 0.05 : std::max(1.0, std::fabs(hi) * 0.05);
    return QCPRange(lo - margin, hi + margin);
}

QStandardItem *cell(const QString &text, double sortKey) {
    auto *item = new QStandardItem(text);
    item->setData(sortKey, kSortRole);
    item->setEditable(false);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}
}  // namespace

int64_t PlkCyclePage::deviationPermille(uint64_t cycleNs, uint32_t nominalUs) {
    // As the check does it: the difference in ns over the nominal time in
    // µs, a whole number of per mille (rounded down).
    if (nominalUs == 0) return 0;
    int64_t difference = int64_t(cycleNs) - int64_t(nominalUs) * 1000;
    if (difference < 0) difference = -difference;
    return difference / int64_t(nominalUs);
}

double PlkCyclePage::bandEdgeUs(uint32_t nominalUs, int limitPermille, int sign) {
    // Rounded down, the per mille exceed the limit from limit + 1 whole per
    // mille on: the first reported cycle differs by (limit + 1) * nominal ns.
    const double step = double(limitPermille + 1) * double(nominalUs) / 1000.0;
    return double(nominalUs) + sign * step;
}

PlkCyclePage::PlkCyclePage(QWidget *parent, const flowlens_cycle_samples *samples)
    : QWidget(parent), samples(samples), network(0), summary(new QLabel(this)), networkBox(new QComboBox(this)),
      content(new QStackedWidget(this)), cyclePlot(new PlkCyclePlot(this)), responsePlot(new PlkCyclePlot(this)),
      histogramPlot(new PlkHistogramPlot(this)), cnTable(new QTableView(this)), cnModel(new QStandardItemModel(this)),
      syncing(false) {
    setObjectName(QStringLiteral("PlkCyclePage"));
    setWindowTitle(tr("POWERLINK Cycle"));

    auto *title = new QLabel(windowTitle(), this);
    title->setObjectName(QStringLiteral("label"));
    QFont big = title->font();
    big.setPointSize(24);
    big.setBold(true);
    title->setFont(big);

    summary->setObjectName(QStringLiteral("lblSummary"));
    summary->setWordWrap(true);
    networkBox->setObjectName(QStringLiteral("comboNetwork"));
    auto *networkLabel = new QLabel(tr("Network:"), this);
    networkLabel->setObjectName(QStringLiteral("lblNetwork"));
    auto *top = new QHBoxLayout;
    top->addWidget(summary, 1);
    top->addWidget(networkLabel);
    top->addWidget(networkBox);

    cyclePlot->setObjectName(QStringLiteral("plotCycle"));
    responsePlot->setObjectName(QStringLiteral("plotResponse"));
    cyclePlot->yAxis->setLabel(tr("Cycle Time (µs)"));
    responsePlot->yAxis->setLabel(tr("Response Time (µs)"));
    cyclePlot->setMinimumHeight(180);
    responsePlot->setMinimumHeight(150);
    responsePlot->setMinimumWidth(440);
    responsePlot->setLegendBeside(true);
    responsePlot->xAxis->ticker()->setTickCount(4);

    cnTable->setObjectName(QStringLiteral("tableCn"));
    cnTable->setModel(cnModel);
    cnTable->setSortingEnabled(true);
    cnTable->setAlternatingRowColors(true);
    cnTable->verticalHeader()->hide();
    cnTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    cnModel->setSortRole(kSortRole);
    // Selected rows: only those CNs' answers are drawn.
    connect(cnTable->selectionModel(), &QItemSelectionModel::selectionChanged, this, &PlkCyclePage::showSelectedNodes);

    auto *lower = new QSplitter(Qt::Horizontal);
    lower->setChildrenCollapsible(false);
    lower->addWidget(responsePlot);
    lower->addWidget(cnTable);
    // The table keeps the width of its columns; the plot takes the rest.
    lower->setStretchFactor(0, 1);
    lower->setStretchFactor(1, 0);
    auto *plots = new QSplitter(Qt::Vertical);
    plots->setObjectName(QStringLiteral("splitter"));
    plots->setChildrenCollapsible(false);
    auto *cycleTabs = new QTabWidget;
    cycleTabs->setObjectName(QStringLiteral("tabsCycle"));
    cycleTabs->addTab(cyclePlot, tr("Cycle Time"));
    histogramPlot->setObjectName(QStringLiteral("plotHistogram"));
    cycleTabs->addTab(histogramPlot, tr("Histogram"));
    plots->addWidget(cycleTabs);
    plots->addWidget(lower);

    auto *empty = new QLabel(tr("No POWERLINK cycles in this capture.\n\nThe page shows the cycle time and the "
                                "response times once the capture holds SoC frames of a POWERLINK network."),
                             this);
    empty->setObjectName(QStringLiteral("lblEmpty"));
    empty->setAlignment(Qt::AlignCenter);
    empty->setWordWrap(true);
    content->addWidget(plots);
    content->addWidget(empty);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addLayout(top);
    layout->addWidget(content, 1);

    connect(cyclePlot, &PlkCyclePlot::frameClicked, this, &PlkCyclePage::frameClicked);
    connect(responsePlot, &PlkCyclePlot::frameClicked, this, &PlkCyclePage::frameClicked);
    // Both plots show the same frames: dragging or zooming one moves the other.
    connect(cyclePlot->xAxis, QOverload<const QCPRange &>::of(&QCPAxis::rangeChanged), this,
            &PlkCyclePage::syncFrameRange);
    connect(responsePlot->xAxis, QOverload<const QCPRange &>::of(&QCPAxis::rangeChanged), this,
            &PlkCyclePage::syncFrameRange);

    shownNetworks = networksWithCycles(samples);
    for (unsigned n : shownNetworks) networkBox->addItem(tr("Network %1").arg(n + 1), n);
    // A choice only when there is one to make.
    networkBox->setVisible(shownNetworks.size() > 1);
    networkLabel->setVisible(shownNetworks.size() > 1);
    connect(networkBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &PlkCyclePage::networkChosen);

    if (shownNetworks.isEmpty()) {
        content->setCurrentIndex(1);
        summary->hide();
        return;
    }
    showNetwork(shownNetworks.first());
}

PlkCyclePage::~PlkCyclePage() = default;

QList<unsigned> PlkCyclePage::networksWithCycles(const flowlens_cycle_samples *samples) {
    QList<unsigned> networks;
    for (unsigned n = 0; samples && n < kNetworks; ++n) {
        if (!samples->cycles(n).empty()) networks << n;
    }
    return networks;
}

bool PlkCyclePage::isEmptyState() const { return content->currentIndex() == 1; }

void PlkCyclePage::networkChosen(int index) {
    if (index >= 0) showNetwork(networkBox->itemData(index).toUInt());
}

void PlkCyclePage::showNetwork(unsigned n) {
    if (!shownNetworks.contains(n)) return;
    network = n;
    const int index = networkBox->findData(n);
    if (networkBox->currentIndex() != index) {
        const QSignalBlocker quiet(networkBox);
        networkBox->setCurrentIndex(index);
    }
    const QCPRange cycleValues = buildCyclePlot(n);
    const QCPRange responseValues = buildResponsePlot(n);
    showEvents(n);
    fillCnTable(n);
    const QCPRange span = frameSpan(n);
    cyclePlot->setHomeRanges(span, cycleValues);
    responsePlot->setHomeRanges(span, responseValues);
}

QCPRange PlkCyclePage::frameSpan(unsigned n) const {
    double first = std::numeric_limits<double>::max();
    double last = 0;
    const auto take = [&](uint64_t frame) {
        first = std::min(first, double(frame));
        last = std::max(last, double(frame));
    };
    for (const flowlens_cycle_point &c : samples->cycles(n)) take(c.soc_frame);
    for (const flowlens_response_point &r : samples->responses(n)) take(r.pres_frame);
    for (const flowlens_event_point &e : samples->events(n)) take(e.frame);
    // One frame alone still gets an axis of its own width.
    return first < last ? QCPRange(first, last) : QCPRange(first - 1, first + 1);
}

QCPRange PlkCyclePage::buildCyclePlot(unsigned n) {
    cyclePlot->clearData();
    const std::vector<flowlens_cycle_point> &cycles = samples->cycles(n);
    QVector<double> keys, values;
    keys.reserve(int(cycles.size()));
    values.reserve(int(cycles.size()));
    std::vector<uint64_t> cycleNs;
    cycleNs.reserve(cycles.size());
    // The guides change only where the nominal cycle time does: one point
    // per change (and one at the end) draws the same steps.
    QVector<double> guideKeys, nominal, upper5, lower5, upper10, lower10;
    const auto addGuide = [&](double frame, uint32_t nominalUs) {
        guideKeys << frame;
        if (nominalUs == 0) {
            nominal << kNaN;
            upper5 << kNaN;
            lower5 << kNaN;
            upper10 << kNaN;
            lower10 << kNaN;
            return;
        }
        nominal << nominalUs;
        upper5 << bandEdgeUs(nominalUs, kLimit5, 1);
        lower5 << bandEdgeUs(nominalUs, kLimit5, -1);
        upper10 << bandEdgeUs(nominalUs, kLimit10, 1);
        lower10 << bandEdgeUs(nominalUs, kLimit10, -1);
    };
    double lo = std::numeric_limits<double>::max(), hi = std::numeric_limits<double>::lowest();
    double sum = 0;
    uint32_t nominalMin = 0, nominalMax = 0;
    for (size_t i = 0; i < cycles.size(); ++i) {
        const flowlens_cycle_point &c = cycles[i];
        if (i == 0 || c.nominal_us != cycles[i - 1].nominal_us || i + 1 == cycles.size())
            addGuide(double(c.soc_frame), c.nominal_us);
        if (c.nominal_us != 0) {
            nominalMin = nominalMin ? std::min(nominalMin, c.nominal_us) : c.nominal_us;
            nominalMax = std::max(nominalMax, c.nominal_us);
            lo = std::min(lo, bandEdgeUs(c.nominal_us, kLimit10, -1));
            hi = std::max(hi, bandEdgeUs(c.nominal_us, kLimit10, 1));
        }
        if (c.cycle_time == 0)  // the first SoC: no cycle before it
            continue;
        const double value = toUs(c.cycle_time);
        cycleNs.push_back(c.cycle_time);
        keys << double(c.soc_frame);
        values << value;
        lo = std::min(lo, value);
        hi = std::max(hi, value);
        sum += value;
    }

    QCPGraph *cycle = cyclePlot->addFrameGraph(tr("Cycle time"), kCycleColour, tr("µs"));
    cycle->setData(keys, values, true);
    if (nominalMax != 0) {
        QPen nominalPen(kNominalColour);
        nominalPen.setWidthF(1.0);
        cyclePlot->addGuideGraph(tr("Nominal"), nominalPen)->setData(guideKeys, nominal, true);
        const auto band = [&](const QString &name, const QColor &colour, const QVector<double> &up,
                              const QVector<double> &down) {
            QPen pen(colour, 1.0, Qt::DashLine);
            QCPGraph *top = cyclePlot->addGuideGraph(name, pen);
            top->setData(guideKeys, up, true);
            QCPGraph *bottom = cyclePlot->addGuideGraph(name, pen);
            bottom->setData(guideKeys, down, true);
            bottom->removeFromLegend();
            return std::make_pair(top, bottom);
        };
        auto b5 = band(tr("±5 %"), kBand5Colour, upper5, lower5);
        band(tr("±10 %"), kBand10Colour, upper10, lower10);
        // The band inside which no deviation is reported, lightly filled.
        QColor fill = kBand5Colour;
        fill.setAlpha(28);
        b5.first->setBrush(QBrush(fill));
        b5.first->setChannelFillGraph(b5.second);
    }
    if (lo > hi)  // no value at all (a single SoC)
        lo = hi = 0;
    // The histogram marks the nominal time and the band edges when the
    // nominal time stayed the same over the capture.
    QVector<double> marks;
    if (nominalMax != 0 && nominalMin == nominalMax) {
        marks << nominalMax;
        for (int limit : {kLimit5, kLimit10})
            marks << bandEdgeUs(nominalMax, limit, -1) << bandEdgeUs(nominalMax, limit, 1);
    }
    histogramPlot->setBins(PlkHistogramPlot::binsOf(std::move(cycleNs)), marks);

    QString text;
    if (!keys.isEmpty()) {
        const auto [minIt, maxIt] = std::minmax_element(values.cbegin(), values.cend());
        text = tr("%1 cycles: mean %2 µs, min %3 µs, max %4 µs")
                   .arg(keys.size())
                   .arg(us(sum / keys.size()), us(*minIt), us(*maxIt));
    } else {
        text = tr("One SoC, no complete cycle");
    }
    if (nominalMax == 0)
        text += tr("; nominal cycle time unknown");
    else if (nominalMin == nominalMax)
        text += tr("; nominal %1 µs").arg(nominalMax);
    else
        text += tr("; nominal %1 to %2 µs").arg(nominalMin).arg(nominalMax);
    const uint32_t stride = samples->cycle_stride(n);
    if (stride > 1) text += tr(" (one cycle in %1 kept)").arg(stride);
    const uint32_t responseStride = samples->response_stride(n);
    if (responseStride > 1) text += tr(" (one response in %1 kept)").arg(responseStride);
    summary->setText(text + QLatin1Char('.'));
    return padded(lo, hi);
}

QCPRange PlkCyclePage::buildResponsePlot(unsigned n) {
    responsePlot->clearData();
    struct Series {
        QVector<double> keys, values;
    };
    QMap<int, Series> byNode;
    double hi = 0;
    for (const flowlens_response_point &r : samples->responses(n)) {
        Series &s = byNode[r.node];
        s.keys << double(r.pres_frame);
        s.values << toUs(r.response_time);
        hi = std::max(hi, toUs(r.response_time));
    }
    cnGraphs.clear();
    int i = 0;
    for (auto it = byNode.cbegin(); it != byNode.cend(); ++it, ++i) {
        QCPGraph *g = responsePlot->addFrameGraph(tr("CN %1").arg(it.key()), cnColour(i), tr("µs"));
        g->setData(it.value().keys, it.value().values, true);
        cnGraphs.insert(it.key(), g);
    }
    return QCPRange(0, hi > 0 ? hi * 1.1 : 1);
}

void PlkCyclePage::showEvents(unsigned n) {
    QVector<PlkCyclePlot::EventMark> marks;
    const std::vector<flowlens_event_point> &events = samples->events(n);
    marks.reserve(int(events.size()));
    for (const flowlens_event_point &e : events)
        marks.append({e.frame, e.severity == 2, QString::fromUtf8(e.text ? e.text : "")});
    cyclePlot->setEvents(marks);
    responsePlot->setEvents(marks);
}

void PlkCyclePage::fillCnTable(unsigned n) {
    cnModel->clear();
    cnModel->setHorizontalHeaderLabels(
        {tr("Node"), tr("Count"), tr("Min (µs)"), tr("Avg (µs)"), tr("Max (µs)"), tr("Late")});
    for (const flowlens_cn_response_summary &s : samples->cn_summaries(n)) {
        const double avg = s.count ? toUs(s.sum) / double(s.count) : 0;
        cnModel->appendRow({cell(QString::number(s.node), s.node), cell(QString::number(s.count), double(s.count)),
                            cell(us(toUs(s.min)), toUs(s.min)), cell(us(avg), avg), cell(us(toUs(s.max)), toUs(s.max)),
                            cell(QString::number(s.late), double(s.late))});
    }
    cnTable->sortByColumn(0, Qt::AscendingOrder);
    cnTable->resizeColumnsToContents();
    // As wide as its columns: the dialog grows rather than hiding the late
    // answers behind a scroll bar, and the plot gets the rest.
    int width = 2 * cnTable->frameWidth() + cnTable->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < cnModel->columnCount(); ++c) width += cnTable->columnWidth(c);
    cnTable->setMinimumWidth(width);
    cnTable->setMaximumWidth(width);
}

void PlkCyclePage::showSelectedNodes() {
    QSet<int> chosen;
    for (const QModelIndex &index : cnTable->selectionModel()->selectedRows(0))
        chosen.insert(index.data(kSortRole).toInt());
    for (auto it = cnGraphs.cbegin(); it != cnGraphs.cend(); ++it)
        it.value()->setVisible(chosen.isEmpty() || chosen.contains(it.key()));
    responsePlot->replot();
}

void PlkCyclePage::frameClicked(quint64 frame) {
    if (frame > 0 && frame <= std::numeric_limits<guint32>::max()) plugin_if_goto_frame(guint32(frame));
}

void PlkCyclePage::syncFrameRange(const QCPRange &range) {
    // The other plot's change comes back here: it must not be handed on again
    // (each plot guards the range to its own frames, which could differ while
    // a network is being built).
    if (syncing) return;
    PlkCyclePlot *other = sender() == cyclePlot->xAxis ? responsePlot : cyclePlot;
    if (other->xAxis->range() == range) return;
    syncing = true;
    other->xAxis->setRange(range);
    syncing = false;
    other->replot(QCustomPlot::rpQueuedReplot);
}

const flowlens_cycle_samples *PlkCyclePage::liveSamples() {
    // Weak: a program that embeds the windows without the plug-in (the
    // window tests) has no analysis, and the page then shows no cycles.
    return plk_cycle_samples ? plk_cycle_samples() : nullptr;
}
