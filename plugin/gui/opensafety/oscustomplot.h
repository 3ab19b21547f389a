// The plot of the statistics pages: one node's SPDO delta series (frame
// deltas or counter deltas) with an optional sync-error graph, a tracer with
// a tool tip, guarded axis ranges and PNG / clipboard export.
#ifndef ZELANALYZER_OSCUSTOMPLOT_H
#define ZELANALYZER_OSCUSTOMPLOT_H

#include <qcustomplot.h>

#include <QString>
#include <QVector>

class QAction;
class QMenu;

class OSCustomPlot : public QCustomPlot
{
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
    QMenu *contextMenu() const { return menu; }
    QCPItemTracer *pointTracer() const { return tracer; }
    // The size "&Save Image" and "Save to &Clipboard" render at.
    QSize exportSize() const;
    // Writes the plot as PNG at exportSize(); appends ".png" when missing.
    // An empty name (a cancelled file dialog) writes nothing.
    bool saveImage(const QString &fileName);

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
    // The x range a requested range is corrected to, for first/last frame.
    static QCPRange guardXRange(const QCPRange &requested, double firstFrame, double lastFrame);

public slots:
    void customPlotMenuRequested(const QPoint &pos);
    void saveActionTriggered();
    void clipboardActionTriggered();
    void displayLegendActionTriggered();
    void resetActionTriggered();
    void showPointTooltip(QMouseEvent *event);
    void onXRangeChanged(const QCPRange &range);
    void onYRangeChanged(const QCPRange &range);

private:
    QMenu *menu;
    QAction *legendAction;
    double valueLower;
    double valueUpper;
    QCPItemTracer *tracer;
    unsigned int nodeShown;
    bool showSyncError;
    QString title;
    unsigned int mode;
};

#endif
