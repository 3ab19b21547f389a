// The cycle-time histogram of the "POWERLINK Cycle" page: how many cycles
// took how long, in bars over the cycle time, with the nominal cycle time
// and the edges of the deviation bands as vertical lines.
#pragma once

#include "zelplot.h"

#include <QVector>

#include <cstdint>
#include <vector>

class PlkHistogramPlot : public ZelPlot {
    Q_OBJECT

public:
    // Bars of equal width from `lower` on; the first and last bar also count
    // the few cycles below and above (the outermost 0.1 % on each side are
    // left out of the range, so that one lost SoC does not squeeze the rest
    // into a single bar).
    struct Bins {
        double lower = 0;
        double width = 1;
        QVector<double> counts;
    };
    static constexpr int kBins = 50;
    // The bins of these cycle times (ns); no bins without a cycle.
    static Bins binsOf(std::vector<uint64_t> cycleNs);

    explicit PlkHistogramPlot(QWidget *parent = nullptr);
    ~PlkHistogramPlot() override;

    // Draws the bins and, where they fall inside, the marks (µs).
    void setBins(const Bins &bins, const QVector<double> &marks);
    QCPBars *bars() const { return barGraph; }
    // The tool tip for a mouse position: "<n> cycles of <a> to <b> µs" or empty.
    QString toolTipAt(const QPointF &pos) const;

protected:
    void resetScale() override;

private slots:
    void moved(QMouseEvent *event);

private:
    QCPBars *barGraph;
    Bins shown;
};
