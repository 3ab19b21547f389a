// What every plot of the analysis dialog shares: the context menu (Reset
// Scale, Display Legend, Save Image, Save to Clipboard), PNG export at a
// fixed width and the guard that keeps the frame axis inside the capture.
// The pages' plots derive from it and say what a scale reset redraws.
#pragma once

#include <qcustomplot.h>

#include <QSize>
#include <QString>

class QAction;
class QMenu;

class ZelPlot : public QCustomPlot {
    Q_OBJECT

public:
    explicit ZelPlot(QWidget *parent = nullptr);
    ~ZelPlot() override;

    QMenu *contextMenu() const { return menu; }
    // The size "&Save Image" and "Save to &Clipboard" render at.
    QSize exportSize() const;
    // Writes the plot as PNG at exportSize(); appends ".png" when missing.
    // An empty name (a cancelled file dialog) writes nothing.
    bool saveImage(const QString &fileName);

    // The x range a requested range is corrected to, for first/last frame.
    static QCPRange guardXRange(const QCPRange &requested, double firstFrame, double lastFrame);

public slots:
    void customPlotMenuRequested(const QPoint &pos);
    void saveActionTriggered();
    void clipboardActionTriggered();
    void displayLegendActionTriggered();
    void resetActionTriggered();

protected:
    // Redraws the plot at its initial ranges ("&Reset Scale").
    virtual void resetScale() = 0;
    // Redraws after the legend was shown or hidden.
    virtual void legendToggled() { replot(); }

    QMenu *menu;
    QAction *legendAction;
};
