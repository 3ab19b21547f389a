#include "osframelogview.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QMenu>
#include <QSortFilterProxyModel>

OSFrameLogView::OSFrameLogView(QWidget *parent) : QTableView(parent), menu(new QMenu(this)), proxy(nullptr) {
    setSortingEnabled(true);
    setAlternatingRowColors(true);
    setContextMenuPolicy(Qt::CustomContextMenu);
    // Rows are nodes (or frames), not numbered records; the node models also
    // answer header requests for rows with their column titles.
    verticalHeader()->hide();
    connect(this, &QWidget::customContextMenuRequested, this, &OSFrameLogView::tableContextMenuRequested);
}

OSFrameLogView::~OSFrameLogView() = default;

void OSFrameLogView::setModel(QAbstractItemModel *model) {
    // Each node chosen brings a new log model; its predecessor's proxy goes.
    QSortFilterProxyModel *old = proxy;
    proxy = new QSortFilterProxyModel(this);
    proxy->setSourceModel(model);
    QTableView::setModel(proxy);
    sortByColumn(0, Qt::AscendingOrder);
    horizontalHeader()->setStretchLastSection(true);
    delete old;
}

void OSFrameLogView::tableContextMenuRequested(const QPoint &pos) {
    menu->hide();
    menu->clear();
    auto *copyAction = new QAction(tr("&Copy Logmessage"), menu);
    connect(copyAction, &QAction::triggered, this, &OSFrameLogView::copyActionTriggered);
    menu->addAction(copyAction);
    menu->popup(viewport()->mapToGlobal(pos));
}

void OSFrameLogView::copyActionTriggered() {
    const QModelIndexList cells = selectionModel() ? selectionModel()->selectedIndexes() : QModelIndexList();
    if (cells.size() == 1) {
        const QModelIndex cell = cells.first();
        const QString frame = cell.sibling(cell.row(), 0).data(Qt::DisplayRole).toString();
        const QString message = cell.sibling(cell.row(), 1).data(Qt::DisplayRole).toString();
        QApplication::clipboard()->setText(frame + QStringLiteral(": ") + message);
    }
    menu->hide();
}
