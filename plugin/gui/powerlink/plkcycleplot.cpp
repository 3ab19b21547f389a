#include "plkcycleplot.h"

#include <cmath>

namespace {
// How far (pixels) from a point or mark the mouse may be to hit it.
constexpr double kHitTolerance = 8;
// How far (pixels) the mouse may move between press and release for a click.
constexpr double kClickSlack = 4;
// Height of the event marks on their own fixed axis (0 = bottom, 1 = top).
constexpr double kMarkLevel = 0.96;
constexpr double kMarkSize = 9;
// Legend entries per row below the plot, per column beside it.
constexpr int kLegendColumns = 6;
constexpr int kLegendRows = 9;

QPointF positionOf(const QMouseEvent *event) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return event->position();
#else
    return event->localPos();
#endif
}
}  // namespace

PlkCyclePlot::PlkCyclePlot(QWidget *parent)
    : ZelPlot(parent), errorGraph(nullptr), infoGraph(nullptr), homeX(0, 1), homeY(0, 1) {
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    // Captures hold up to a million cycles: without this every replot
    // strokes the whole outline of a wide pen.
    setPlottingHint(QCP::phFastPolylines, true);
    // The event marks' own axis: fixed, hidden, not dragged or zoomed.
    yAxis2->setRange(0, 1);
    yAxis2->setVisible(false);
    xAxis->setLabel(tr("Frame Nr"));
    legend->setBorderPen(Qt::NoPen);
    legend->setFont(QFont(font().family(), 8));
    legend->setVisible(true);
    setLegendBeside(false);
    connect(this, &QCustomPlot::mousePress, this, &PlkCyclePlot::pressed);
    connect(this, &QCustomPlot::mouseRelease, this, &PlkCyclePlot::released);
    connect(this, &QCustomPlot::mouseMove, this, &PlkCyclePlot::moved);
    connect(xAxis, QOverload<const QCPRange &>::of(&QCPAxis::rangeChanged), this, &PlkCyclePlot::guardRange);
}

PlkCyclePlot::~PlkCyclePlot() = default;

void PlkCyclePlot::setLegendBeside(bool beside) {
    // Outside the axis rect, so that it never covers points or marks.
    if (QCPLayoutInset *inset = axisRect()->insetLayout(); inset->elements(false).contains(legend))
        inset->take(legend);
    else if (QCPLayoutGrid *holder = qobject_cast<QCPLayoutGrid *>(legend->layout()))
        holder->take(legend);
    plotLayout()->simplify();
    if (beside) {
        // At the top of a column of its own; an empty cell below takes the
        // rest of the height, so the entries stay close together.
        auto *column = new QCPLayoutGrid;
        plotLayout()->addElement(0, 1, column);
        plotLayout()->setColumnStretchFactor(1, 0.001);
        column->addElement(0, 0, legend);
        column->addElement(1, 0, new QCPLayoutElement(this));
        column->setRowStretchFactor(0, 0.001);
        legend->setFillOrder(QCPLegend::foRowsFirst);
        legend->setWrap(kLegendRows);
    } else {
        plotLayout()->addElement(1, 0, legend);
        plotLayout()->setRowStretchFactor(1, 0.001);
        legend->setFillOrder(QCPLegend::foColumnsFirst);
        legend->setWrap(kLegendColumns);
    }
}

void PlkCyclePlot::clearData() {
    clearGraphs();
    units.clear();
    eventTexts.clear();
    errorGraph = infoGraph = nullptr;
}

QCPGraph *PlkCyclePlot::addFrameGraph(const QString &name, const QColor &color, const QString &unit) {
    QCPGraph *graph = addGraph(xAxis, yAxis);
    QPen pen(color);
    pen.setWidthF(1.2);
    graph->setPen(pen);
    graph->setLineStyle(QCPGraph::lsLine);
    graph->setName(name);
    units.insert(graph, unit);
    return graph;
}

QCPGraph *PlkCyclePlot::addGuideGraph(const QString &name, const QPen &pen) {
    QCPGraph *graph = addGraph(xAxis, yAxis);
    graph->setPen(pen);
    graph->setName(name);
    // Steps: the nominal value holds from its SoC up to the next one.
    graph->setLineStyle(QCPGraph::lsStepLeft);
    return graph;
}

QCPGraph *PlkCyclePlot::addMarkGraph(const QString &name, const QColor &color) {
    QCPGraph *graph = addGraph(xAxis, yAxis2);
    graph->setName(name);
    graph->setLineStyle(QCPGraph::lsNone);
    graph->setPen(QPen(color));
    graph->setScatterStyle(
        QCPScatterStyle(QCPScatterStyle::ssTriangleInverted, QPen(color.darker(130)), QBrush(color), kMarkSize));
    return graph;
}

void PlkCyclePlot::setEvents(const QVector<EventMark> &events) {
    eventTexts.clear();
    QMap<quint64, bool> errorAt;  // one mark per frame, red when any of its events is
    for (const EventMark &e : events) {
        QString &text = eventTexts[e.frame];
        if (!text.isEmpty()) text += QLatin1Char('\n');
        text += e.text;
        errorAt[e.frame] = errorAt.value(e.frame) || e.error;
    }
    QVector<double> errorKeys, infoKeys;
    for (auto it = errorAt.cbegin(); it != errorAt.cend(); ++it)
        (it.value() ? errorKeys : infoKeys).append(double(it.key()));
    if (!errorKeys.isEmpty()) {
        errorGraph = addMarkGraph(tr("Events"), QColor(220, 30, 30));
        errorGraph->setData(errorKeys, QVector<double>(errorKeys.size(), kMarkLevel), true);
    }
    if (!infoKeys.isEmpty()) {
        infoGraph = addMarkGraph(tr("Information"), QColor(140, 140, 140));
        infoGraph->setData(infoKeys, QVector<double>(infoKeys.size(), kMarkLevel), true);
    }
}

void PlkCyclePlot::setHomeRanges(const QCPRange &frameSpan, const QCPRange &values) {
    homeX = frameSpan;
    homeY = values;
    resetScale();
}

void PlkCyclePlot::resetScale() {
    xAxis->setRange(homeX);
    yAxis->setRange(homeY);
    replot();
}

void PlkCyclePlot::guardRange(const QCPRange &range) {
    const QCPRange guarded = guardXRange(range, homeX.lower, homeX.upper);
    if (guarded != range) xAxis->setRange(guarded);
}

PlkCyclePlot::Hit PlkCyclePlot::nearest(const QPointF &pos) const {
    Hit best;
    double bestDistance = kHitTolerance;
    const double keyA = xAxis->pixelToCoord(pos.x() - kHitTolerance);
    const double keyB = xAxis->pixelToCoord(pos.x() + kHitTolerance);
    for (int i = 0; i < graphCount(); ++i) {
        QCPGraph *g = graph(i);
        if (!units.contains(g) && g != errorGraph && g != infoGraph) continue;
        if (!g->visible()) continue;
        const auto data = g->data();
        for (auto it = data->findBegin(std::min(keyA, keyB)), end = data->findEnd(std::max(keyA, keyB)); it != end;
             ++it) {
            if (std::isnan(it->value)) continue;
            const double dx = g->keyAxis()->coordToPixel(it->key) - pos.x();
            const double dy = g->valueAxis()->coordToPixel(it->value) - pos.y();
            const double distance = std::hypot(dx, dy);
            if (distance <= bestDistance) {
                bestDistance = distance;
                best.graph = g;
                best.key = it->key;
                best.value = it->value;
            }
        }
    }
    return best;
}

quint64 PlkCyclePlot::frameAt(const QPointF &pos) const {
    const Hit hit = nearest(pos);
    return hit.graph ? quint64(std::llround(hit.key)) : 0;
}

QString PlkCyclePlot::toolTipAt(const QPointF &pos) const {
    const Hit hit = nearest(pos);
    if (!hit.graph) return QString();
    const quint64 frame = quint64(std::llround(hit.key));
    if (hit.graph == errorGraph || hit.graph == infoGraph)
        return tr("Frame %1: %2").arg(frame).arg(eventTexts.value(frame));
    return tr("Frame %1: %2 %3 %4")
        .arg(frame)
        .arg(hit.graph->name())
        .arg(hit.value, 0, 'f', 3)
        .arg(units.value(hit.graph));
}

void PlkCyclePlot::pressed(QMouseEvent *event) { pressPos = positionOf(event); }

void PlkCyclePlot::released(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) return;
    const QPointF pos = positionOf(event);
    // A drag moves the plot; only a click selects a frame.
    if (std::hypot(pos.x() - pressPos.x(), pos.y() - pressPos.y()) > kClickSlack) return;
    if (const quint64 frame = frameAt(pos)) emit frameClicked(frame);
}

void PlkCyclePlot::moved(QMouseEvent *event) { setToolTip(toolTipAt(positionOf(event))); }
