#include "oscustomplot.h"

#include "osa_collection.h"

#include <QMenu>

#include <algorithm>
#include <cmath>

namespace {
// Series shorter than this show an empty graph: too few points to judge.
constexpr int kMinimumSamples = 11;
// Frames shown at most when a node is plotted.
constexpr double kInitialFrameSpan = 20000;
// Diameter in pixels of the network-sync-error marks.
constexpr double kSyncMarkSize = 8;
// Decay factor of an outlier towards the next point: (1 - cos(2*pi/5)) / 2.
const double kDecay = (1.0 - std::cos(2.0 * M_PI / 5.0)) / 2.0;

const osa_node *findNode(unsigned int sadr) {
    const osa_node_map *table = osa_node_table();
    if (!table) return nullptr;
    auto it = table->find(sadr);
    return it == table->end() ? nullptr : it->second.get();
}

QVector<OSCustomPlot::Sample> samplesOf(const osa_delta_tracker &tracker) {
    QVector<OSCustomPlot::Sample> samples;
    samples.reserve(int(tracker.series.size()));
    for (const osa_delta_sample &s : tracker.series)
        samples.append({double(s.frame), double(s.delta), double(s.deviation), double(s.mean)});
    return samples;
}
}  // namespace

OSCustomPlot::OSCustomPlot(QWidget *parent)
    : ZelPlot(parent), valueLower(0), valueUpper(0), tracer(nullptr), nodeShown(0), showSyncError(false), mode(0) {
    QCPGraph *series = addGraph();
    QPen pen(QColor(1, 92, 191));
    pen.setWidthF(1.2);
    series->setPen(pen);
    series->setLineStyle(QCPGraph::lsLine);
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    // Series run to tens of thousands of points with a pen wider than one
    // pixel; without this every replot strokes the whole outline (seconds).
    setPlottingHint(QCP::phFastPolylines, true);

    connect(this, &QCustomPlot::mouseMove, this, &OSCustomPlot::showPointTooltip);
    connect(xAxis, QOverload<const QCPRange &>::of(&QCPAxis::rangeChanged), this, &OSCustomPlot::onXRangeChanged);
    connect(yAxis, QOverload<const QCPRange &>::of(&QCPAxis::rangeChanged), this, &OSCustomPlot::onYRangeChanged);
}

OSCustomPlot::~OSCustomPlot() = default;

void OSCustomPlot::setTitle(const QString &newTitle) {
    title = newTitle;
    graph(0)->setName(title);
}

void OSCustomPlot::setMode(unsigned int newMode) { mode = newMode; }

void OSCustomPlot::setShowSyncError(bool show) {
    showSyncError = show;
    menu->hide();
    if (nodeShown) plotNode(nodeShown);
}

void OSCustomPlot::buildPoints(const QVector<Sample> &newestFirst, unsigned int mode, QVector<double> &keys,
                               QVector<double> &values, double &minDelta, double &maxDelta) {
    // Built from the newest sample backwards, each point going in front, so
    // the result is in ascending frame order and every outlier knows the
    // point after it. Collected reversed, then turned around once.
    QVector<double> revKeys, revValues;
    minDelta = maxDelta = newestFirst.isEmpty() ? 0 : newestFirst.first().delta;
    for (const Sample &s : newestFirst) {
        minDelta = std::min(minDelta, s.delta);
        maxDelta = std::max(maxDelta, s.delta);
        const bool plain = revKeys.isEmpty() || mode == 1 || s.delta <= 2 * s.mean || s.deviation <= s.mean;
        if (plain) {
            revKeys.append(s.frame);
            revValues.append(s.delta);
            continue;
        }
        // An outlier: decay from it towards the next later point (F, V), in
        // tenths of a frame. The tail is prepended after the outlier, so in
        // the final order it follows the outlier.
        const double nextFrame = revKeys.last();
        const double nextValue = revValues.last();
        QVector<double> tailKeys, tailValues;
        double y = s.delta;
        for (int step = 1;; ++step) {
            const double x = s.frame + 0.1 * step;
            if (x >= nextFrame - 1e-9) break;
            y = y * (1 - kDecay) + kDecay * nextValue;
            tailKeys.append(x);
            tailValues.append(y);
        }
        for (int i = tailKeys.size() - 1; i >= 0; --i) {
            revKeys.append(tailKeys[i]);
            revValues.append(tailValues[i]);
        }
        revKeys.append(s.frame);
        revValues.append(s.delta);
    }
    keys.resize(revKeys.size());
    values.resize(revValues.size());
    std::reverse_copy(revKeys.begin(), revKeys.end(), keys.begin());
    std::reverse_copy(revValues.begin(), revValues.end(), values.begin());
}

void OSCustomPlot::plotNode(unsigned int sadr) {
    const osa_node *node = findNode(sadr);
    if (!node) return;
    const osa_connection *connection = osa_find_connection(sadr);
    if (!connection) return;

    const osa_delta_tracker &tracker = mode == 1 ? connection->counter_delta : connection->frame_delta;
    if (int(tracker.series.size()) >= kMinimumSamples) {
        nodeShown = sadr;
        QVector<double> keys, values;
        double minDelta = 0, maxDelta = 0;
        buildPoints(samplesOf(tracker), mode, keys, values, minDelta, maxDelta);
        graph(0)->setData(keys, values, false);
        const double span = maxDelta - minDelta;
        valueLower = minDelta - 0.1 * span;
        valueUpper = maxDelta + 0.1 * span;
    } else {
        graph(0)->data()->clear();
    }

    const double first = osa_first_frame();
    const double last = osa_last_frame();
    xAxis->setRange(std::max(first, last - kInitialFrameSpan), last);
    xAxis->setLabel(tr("Frame Nr"));
    yAxis->setLabel(mode == 1 ? tr("Delta Time (100µs)") : tr("Frame Delta (packets)"));
    yAxis->setRange(valueLower, valueUpper);

    if (graphCount() > 1) removeGraph(1);
    if (showSyncError && !connection->sync_errors.series.empty()) {
        // On the plot's own axes, so drag and zoom keep the marks on their
        // frames; each error is marked, so a single one shows as well.
        QCPGraph *sync = addGraph(xAxis, yAxis);
        QVector<double> keys, values;
        for (auto it = connection->sync_errors.series.rbegin(); it != connection->sync_errors.series.rend(); ++it) {
            keys.append(it->frame);
            values.append(double(it->delta));
        }
        sync->setData(keys, values);
        QPen pen(Qt::red);
        pen.setStyle(Qt::DotLine);
        pen.setWidthF(2.0);
        sync->setPen(pen);
        sync->setLineStyle(QCPGraph::lsLine);
        sync->setScatterStyle(
            QCPScatterStyle(QCPScatterStyle::ssCircle, QPen(Qt::red, 2.0), QBrush(Qt::red), kSyncMarkSize));
        sync->setName(tr("Network Sync Error"));
    }

    if (tracer) removeItem(tracer);
    tracer = new QCPItemTracer(this);
    // Without data the tracer has nothing to follow (and would complain on
    // every position update): it gets the graph only when there is data.
    const bool hasData = !graph(0)->data()->isEmpty();
    if (hasData) tracer->setGraph(graph(0));
    tracer->setInterpolating(true);
    tracer->setStyle(QCPItemTracer::tsCircle);
    tracer->setPen(QPen(Qt::red));
    tracer->setBrush(QBrush(Qt::red));
    tracer->setSize(5);
    tracer->setVisible(hasData);
    replot();
}

void OSCustomPlot::onXRangeChanged(const QCPRange &range) {
    const QCPRange guarded = guardXRange(range, osa_first_frame(), osa_last_frame());
    if (guarded != range) xAxis->setRange(guarded);
}

void OSCustomPlot::onYRangeChanged(const QCPRange &range) {
    // The value axis is fixed to the series' range: no drag, no zoom.
    const QCPRange fixed(valueLower, valueUpper);
    if (range != fixed) yAxis->setRange(fixed);
}

void OSCustomPlot::showPointTooltip(QMouseEvent *event) {
    if (!tracer || graph(0)->data()->isEmpty()) {
        setToolTip(QString());
        return;
    }
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const double mouseX = event->position().x();
#else
    const double mouseX = event->pos().x();
#endif
    const int key = int(xAxis->pixelToCoord(mouseX));
    tracer->setGraphKey(key);
    replot();
    tracer->updatePosition();
    setToolTip(
        QStringLiteral("Frame: %1 - %2 %3").arg(key).arg(title).arg(uint(std::max(0.0, tracer->position->value()))));
}

void OSCustomPlot::legendToggled() {
    if (nodeShown)
        plotNode(nodeShown);
    else
        replot();
}

void OSCustomPlot::resetScale() {
    if (nodeShown) plotNode(nodeShown);
}
