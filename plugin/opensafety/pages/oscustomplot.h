// The plot of the statistics pages: one node's SPDO delta series (frame
// deltas or counter deltas) with an optional sync-error graph, a tracer with
// a tool tip and guarded axis ranges; menu and export come from ZelPlot.
#pragma once

#include "zelplot.h"

#include <QString>
#include <QVector>

class OSCustomPlot : public ZelPlot {
    Q_OBJECT

public:
    explicit OSCustomPlot(QWidget *parent = nullptr);
    ~OSCustomPlot() override;

    void setTitle(const QString &title);
    void setMode(unsigned int mode);
    void setShowSyncError(bool show);
    // Plots the node with this SADR; leaves the plot as it is when the node
    // or its connection is unknown.
    void plotNode(unsigned int sadr);

    unsigned int shownNode() const { return nodeShown; }
    QCPRange valueRange() const { return QCPRange(valueLower, valueUpper); }
    QCPItemTracer *pointTracer() const { return tracer; }

    // One sample of a delta series, oldest first.
    struct Sample {
        double frame;
        double delta;
        double deviation;
        double mean;
    };
    // The points of graph 0 for a series (newest sample first, as the
    // collection stores it); min/max receive the smallest and largest delta.
    static void buildPoints(const QVector<Sample> &newestFirst, unsigned int mode, QVector<double> &keys,
                            QVector<double> &values, double &minDelta, double &maxDelta);

public slots:
    void showPointTooltip(QMouseEvent *event);
    void onXRangeChanged(const QCPRange &range);
    void onYRangeChanged(const QCPRange &range);

protected:
    void resetScale() override;
    void legendToggled() override;

private:
    double valueLower;
    double valueUpper;
    QCPItemTracer *tracer;
    unsigned int nodeShown;
    bool showSyncError;
    QString title;
    unsigned int mode;
};
