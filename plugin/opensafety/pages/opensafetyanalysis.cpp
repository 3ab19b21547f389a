#include "opensafetyanalysis.h"
#include "ui_opensafetyanalysis.h"

#include "nodeinfoitemmodel.h"
#include "nodeinfologmodel.h"

#include <QSortFilterProxyModel>

openSAFETYAnalysis::openSAFETYAnalysis(QWidget *parent)
    : QWidget(parent), ui(new Ui::openSAFETYAnalysis), logModel(nullptr) {
    ui->setupUi(this);
    model = new NodeInfoItemModel(true, false, true);
    model->setParent(this);
    model->addColumn(tr("Saddr"), QStringLiteral("cmb_saddr"));
    // The labels are zero-padded, so text order is address order, with the
    // "Virtual - " entries after all others.
    proxy = new QSortFilterProxyModel(this);
    proxy->setSourceModel(model);
    proxy->sort(0, Qt::AscendingOrder);
    // Selects the first entry (and shows its log through the slot) when the
    // model is not empty.
    ui->cmbNodeInfoItem->setModel(proxy);
    setWindowTitle(tr("openSAFETY Analysis"));
}

openSAFETYAnalysis::~openSAFETYAnalysis() { delete ui; }

void openSAFETYAnalysis::on_cmbNodeInfoItem_currentIndexChanged(int index) {
    const QModelIndex source = proxy->mapToSource(proxy->index(index, 0));
    NodeInfoItem *item = model->item(source);
    if (!item) return;
    QAbstractItemModel *previous = logModel;
    logModel = new NodeInfoLogModel(item);
    logModel->setParent(this);
    ui->tableAnalysis->setModel(logModel);
    delete previous;  // the view now shows the new one
}
