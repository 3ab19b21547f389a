// The "POWERLINK Cycle" page of the analysis dialog: the cycle time of every
// SoC with the nominal cycle time and the deviation bands of the cycle
// check (and its histogram in a second tab), the PReq-to-PRes response time of every CN with a table of each
// CN's figures, and the analysis' events as marks on both plots. A click on
// a point or mark selects its frame in Wireshark. Data: the samples the
// POWERLINK analysis collected while the capture was read.
#pragma once

#include "plkcycleplot.h"
#include "plkhistogramplot.h"

#include <QMap>
#include <QWidget>

#include <cstdint>

class flowlens_cycle_samples;
class QComboBox;
class QLabel;
class QStackedWidget;
class QStandardItemModel;
class QTableView;

class PlkCyclePage : public QWidget {
    Q_OBJECT

public:
    // samples may be null (no analysis ran): the page says there are no cycles.
    PlkCyclePage(QWidget *parent, const flowlens_cycle_samples *samples);
    ~PlkCyclePage() override;

    // The samples of the running analysis inside Wireshark (null without).
    static const flowlens_cycle_samples *liveSamples();

    // The networks (0, 1) that have cycles, in order.
    QList<unsigned> networks() const { return shownNetworks; }
    static QList<unsigned> networksWithCycles(const flowlens_cycle_samples *samples);
    unsigned currentNetwork() const { return network; }
    bool isEmptyState() const;

    // How the cycle check judges a cycle: the whole per mille by which
    // cycleNs differs from the nominal cycle time (µs); reported above 50
    // (5 %) and above 100 (10 %).
    static int64_t deviationPermille(uint64_t cycleNs, uint32_t nominalUs);
    // The edge of a band in µs: the first cycle time beyond the nominal one
    // (sign +1 above, -1 below) that the check reports for this limit.
    static double bandEdgeUs(uint32_t nominalUs, int limitPermille, int sign);

public slots:
    void showNetwork(unsigned network);

private slots:
    void frameClicked(quint64 frame);
    void networkChosen(int index);
    void syncFrameRange(const QCPRange &range);
    void showSelectedNodes();

private:
    // Fill the plots; return the value range each starts with.
    QCPRange buildCyclePlot(unsigned network);
    QCPRange buildResponsePlot(unsigned network);
    void fillCnTable(unsigned network);
    void showEvents(unsigned network);
    QCPRange frameSpan(unsigned network) const;

    const flowlens_cycle_samples *samples;
    QList<unsigned> shownNetworks;
    unsigned network;
    QLabel *summary;
    QComboBox *networkBox;
    QStackedWidget *content;
    PlkCyclePlot *cyclePlot;
    PlkCyclePlot *responsePlot;
    PlkHistogramPlot *histogramPlot;
    QTableView *cnTable;
    QStandardItemModel *cnModel;
    QMap<int, QCPGraph *> cnGraphs;  // response graph of each CN
    bool syncing;
};
