#include "plkhistogramplot.h"

#include <algorithm>
#include <cmath>

namespace {
// The share of cycles on each side kept out of the bars' range.
constexpr double kTail = 0.001;
}  // namespace

PlkHistogramPlot::Bins PlkHistogramPlot::binsOf(std::vector<uint64_t> cycleNs) {
    Bins bins;
    if (cycleNs.empty()) return bins;
    std::sort(cycleNs.begin(), cycleNs.end());
    const size_t last = cycleNs.size() - 1;
    const double lo = double(cycleNs[size_t(std::floor(kTail * double(last)))]) / 1000.0;
    double hi = double(cycleNs[size_t(std::ceil((1 - kTail) * double(last)))]) / 1000.0;
    if (hi <= lo) hi = lo + 1;  // one value: one µs of bars around it
    bins.lower = lo;
    bins.width = (hi - lo) / kBins;
    bins.counts.fill(0, kBins);
    for (uint64_t ns : cycleNs) {
        const int i = int(std::floor((double(ns) / 1000.0 - lo) / bins.width));
        bins.counts[std::clamp(i, 0, kBins - 1)] += 1;
    }
    return bins;
}

PlkHistogramPlot::PlkHistogramPlot(QWidget *parent) : ZelPlot(parent), barGraph(new QCPBars(xAxis, yAxis)) {
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    barGraph->setName(tr("Cycles"));
    barGraph->setPen(QPen(QColor(1, 92, 191)));
    barGraph->setBrush(QColor(1, 92, 191, 120));
    xAxis->setLabel(tr("Cycle Time (µs)"));
    yAxis->setLabel(tr("Cycles"));
    legend->setVisible(true);
    connect(this, &QCustomPlot::mouseMove, this, &PlkHistogramPlot::moved);
}

PlkHistogramPlot::~PlkHistogramPlot() = default;

void PlkHistogramPlot::setBins(const Bins &bins, const QVector<double> &marks) {
    shown = bins;
    QVector<double> keys;
    for (int i = 0; i < bins.counts.size(); ++i) keys << bins.lower + (i + 0.5) * bins.width;
    barGraph->setWidth(bins.width);
    barGraph->setData(keys, bins.counts, true);
    clearItems();
    const double upper = bins.lower + bins.width * bins.counts.size();
    for (double mark : marks) {
        if (mark < bins.lower || mark > upper) continue;
        auto *line = new QCPItemStraightLine(this);
        line->point1->setCoords(mark, 0);
        line->point2->setCoords(mark, 1);
        line->setPen(QPen(QColor(90, 90, 90), 1, Qt::DashLine));
    }
    resetScale();
}

void PlkHistogramPlot::resetScale() {
    const int n = shown.counts.size();
    const double most = n ? *std::max_element(shown.counts.cbegin(), shown.counts.cend()) : 0;
    xAxis->setRange(shown.lower, shown.lower + shown.width * std::max(n, 1));
    yAxis->setRange(0, std::max(1.0, most * 1.1));
    replot();
}

QString PlkHistogramPlot::toolTipAt(const QPointF &pos) const {
    const double us = xAxis->pixelToCoord(pos.x());
    const int i = int(std::floor((us - shown.lower) / shown.width));
    if (i < 0 || i >= shown.counts.size()) return QString();
    return tr("%1 cycles of %2 to %3 µs")
        .arg(shown.counts[i])
        .arg(shown.lower + i * shown.width, 0, 'f', 3)
        .arg(shown.lower + (i + 1) * shown.width, 0, 'f', 3);
}

void PlkHistogramPlot::moved(QMouseEvent *event) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    setToolTip(toolTipAt(event->position()));
#else
    setToolTip(toolTipAt(event->localPos()));
#endif
}
