// The "Frame Delta" (mode 0) and "Counter Delta" (mode 1) pages: a node table
// with sync and loss ratios under a plot of the chosen node's delta series.
#pragma once

#include <QWidget>

class NodeInfoItemModel;
class QModelIndex;

namespace Ui {
class openSAFETYStatsPage;
}

class openSAFETYStatsPage : public QWidget {
    Q_OBJECT

public:
    // parent: the analysis dialog's page stack, whose page changes replot.
    openSAFETYStatsPage(QWidget *parent, unsigned int mode);
    ~openSAFETYStatsPage() override;

    // The title of a mode, empty for an unknown one.
    static QString modeTitle(unsigned int mode);

private slots:
    void parentIndexChanged(int index);
    void on_tableStats_clicked(const QModelIndex &index);
    void on_checkShowVirtual_clicked(bool checked);
    void on_checkShowNetworkSyncError_clicked(bool checked);

private:
    void plotRow(int row);

    Ui::openSAFETYStatsPage *ui;
    unsigned int mode;
    NodeInfoItemModel *model;
};
