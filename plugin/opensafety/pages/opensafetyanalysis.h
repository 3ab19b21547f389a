// The "Analysis" page: pick a safety node, see its connection events frame
// by frame.
#pragma once

#include <QWidget>

class NodeInfoItemModel;
class QAbstractItemModel;
class QSortFilterProxyModel;

namespace Ui {
class openSAFETYAnalysis;
}

class openSAFETYAnalysis : public QWidget {
    Q_OBJECT

public:
    explicit openSAFETYAnalysis(QWidget *parent = nullptr);
    ~openSAFETYAnalysis() override;

private slots:
    void on_cmbNodeInfoItem_currentIndexChanged(int index);

private:
    Ui::openSAFETYAnalysis *ui;
    NodeInfoItemModel *model;
    QSortFilterProxyModel *proxy;
    QAbstractItemModel *logModel;  // the shown node's log; replaced per choice
};
