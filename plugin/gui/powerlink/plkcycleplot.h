// A plot of the "POWERLINK Cycle" page: series whose keys are frame numbers
// (cycle times over SoC frames, response times over PRes frames), guide
// lines that answer nothing (nominal cycle time, deviation bands) and event
// marks along the top edge. The point or mark nearest the mouse shows its
// frame and value as tool tip; a click on it reports its frame.
#pragma once

#include "zelplot.h"

#include <QMap>
#include <QPointF>
#include <QVector>

class PlkCyclePlot : public ZelPlot {
    Q_OBJECT

public:
    struct EventMark {
        quint64 frame;
        bool error;  // a report-table event (red), else information (grey)
        QString text;
    };

    explicit PlkCyclePlot(QWidget *parent = nullptr);
    ~PlkCyclePlot() override;

    // The legend below the plot in rows (the default), or beside it in
    // columns (many entries, little height).
    void setLegendBeside(bool beside);
    // Removes every graph and mark.
    void clearData();
    // A series of (frame, value) points in the given colour; its points
    // answer the tool tip ("<name> <value> <unit>") and clicks.
    QCPGraph *addFrameGraph(const QString &name, const QColor &color, const QString &unit);
    // A line that only guides the eye (no tool tip, no click).
    QCPGraph *addGuideGraph(const QString &name, const QPen &pen);
    // Marks at the top edge of the plot, which stay there when the value
    // axis is dragged; marks of one frame share one mark and one tool tip.
    void setEvents(const QVector<EventMark> &events);
    // The ranges "&Reset Scale" returns to; the frame axis never leaves
    // frameSpan. Applies them.
    void setHomeRanges(const QCPRange &frameSpan, const QCPRange &values);

    QCPRange homeXRange() const { return homeX; }
    QCPRange homeYRange() const { return homeY; }
    QCPGraph *errorMarks() const { return errorGraph; }
    QCPGraph *infoMarks() const { return infoGraph; }

    // The frame of the point or event mark nearest to pos (widget pixels),
    // within a few pixels; 0 when there is none.
    quint64 frameAt(const QPointF &pos) const;
    // The tool tip for pos: "Frame <n>: ..." or empty.
    QString toolTipAt(const QPointF &pos) const;

signals:
    void frameClicked(quint64 frame);

protected:
    void resetScale() override;

private slots:
    void pressed(QMouseEvent *event);
    void released(QMouseEvent *event);
    void moved(QMouseEvent *event);
    void guardRange(const QCPRange &range);

private:
    struct Hit {
        QCPGraph *graph = nullptr;
        double key = 0;
        double value = 0;
    };
    Hit nearest(const QPointF &pos) const;
    QCPGraph *addMarkGraph(const QString &name, const QColor &color);

    QMap<QCPGraph *, QString> units;  // graphs that answer, with their unit
    QMap<quint64, QString> eventTexts;
    QCPGraph *errorGraph;
    QCPGraph *infoGraph;
    QCPRange homeX;
    QCPRange homeY;
    QPointF pressPos;
};
