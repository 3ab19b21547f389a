#include "ostableview.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QMenu>
#include <QSortFilterProxyModel>

#include <epan/plugin_if.h>

OSTableView::OSTableView(QWidget *parent)
    : QTableView(parent), menu(new QMenu(this)), sourceModel(nullptr), proxy(nullptr) {
    setSortingEnabled(true);
    setAlternatingRowColors(true);
    setContextMenuPolicy(Qt::CustomContextMenu);
    // Rows are nodes (or frames), not numbered records; the node models also
    // answer header requests for rows with their column titles.
    verticalHeader()->hide();
    connect(this, &QWidget::customContextMenuRequested, this, &OSTableView::tableContextMenuRequested);
}

OSTableView::~OSTableView() = default;

void OSTableView::setModel(QAbstractItemModel *model) {
    sourceModel = model;
    // The previous proxy goes with its model: setting the model again (after
    // the statistics page rebuilt it) must not pile proxies up on the view.
    QSortFilterProxyModel *old = proxy;
    proxy = new QSortFilterProxyModel(this);
    proxy->setSourceModel(model);
    proxy->sort(1, Qt::AscendingOrder);
    QTableView::setModel(proxy);
    sortByColumn(1, Qt::AscendingOrder);
    horizontalHeader()->setStretchLastSection(true);
    delete old;
}

QString OSTableView::filterFor(const QString &property, const QString &cellText) {
    const auto nodeFilter = [](const QString &text) {
        const uint sadr = text.toUInt();
        return QStringLiteral("(opensafety.msg.node == 0x%1)").arg(sadr, 2, 16, QLatin1Char('0'));
    };
    if (property == QLatin1String("sdn"))
        return QStringLiteral("opensafety.msg.network == ") + QString::number(cellText.toUInt());
    if (property == QLatin1String("saddr")) return nodeFilter(cellText);
    if (property == QLatin1String("timesync"))
        return nodeFilter(cellText) + QStringLiteral(" && (opensafety.spdo.time.request_counter)");
    // The table shows the UDID in upper case, the dissector writes the
    // detected one in lower case and the configured one as it was typed:
    // compared in lower case, both match.
    if (property == QLatin1String("scmudid")) {
        const QString udid = cellText.toLower();
        return QStringLiteral("(lower(opensafety.scm_udid.auto) == \"") + udid +
               QStringLiteral("\") or (lower(opensafety.scm_udid) == \"") + udid + QStringLiteral("\")");
    }
    return QString();
}

void OSTableView::tableContextMenuRequested(const QPoint &pos) {
    menu->clear();
    // Actions are children of the menu, so clearing it releases them.
    auto *copyAction = new QAction(tr("&Copy Value"), menu);
    connect(copyAction, &QAction::triggered, this, &OSTableView::copyActionTriggered);
    auto *applyAction = new QAction(tr("&Apply as Filter"), menu);
    connect(applyAction, &QAction::triggered, this, &OSTableView::applyActionTriggered);

    const QString property = indexAt(pos).data(Qt::UserRole).toString();
    static const QStringList filterable = {QStringLiteral("sdn"), QStringLiteral("saddr"), QStringLiteral("timesync"),
                                           QStringLiteral("scmudid")};
    if (filterable.contains(property)) menu->addAction(applyAction);
    menu->addSeparator();
    if (property == QLatin1String("scmudid")) {
        auto *scmAction = new QAction(tr("Set as SCM UDID"), menu);
        connect(scmAction, &QAction::triggered, this, &OSTableView::saveSCMPrefActionTriggered);
        menu->addAction(scmAction);
    }
    menu->addAction(copyAction);
    menu->popup(viewport()->mapToGlobal(pos));
}

QModelIndex OSTableView::singleSelectedCell() const {
    if (!selectionModel()) return QModelIndex();
    const QModelIndexList cells = selectionModel()->selectedIndexes();
    return cells.size() == 1 ? cells.first() : QModelIndex();
}

void OSTableView::copyActionTriggered() {
    const QModelIndex cell = singleSelectedCell();
    if (cell.isValid())
        QApplication::clipboard()->setText(cell.data(Qt::DisplayRole).toString(), QClipboard::Clipboard);
    menu->hide();
}

void OSTableView::applyActionTriggered() {
    const QModelIndex cell = singleSelectedCell();
    if (!cell.isValid()) return;
    const QString filter = filterFor(cell.data(Qt::UserRole).toString(), cell.data(Qt::DisplayRole).toString());
    if (filter.isEmpty()) return;
    plugin_if_apply_filter(filter.toUtf8().constData(), TRUE);
}

void OSTableView::saveSCMPrefActionTriggered() {
    const QModelIndex cell = singleSelectedCell();
    if (!cell.isValid() || cell.data(Qt::UserRole).toString() != QLatin1String("scmudid")) return;
    plugin_if_save_preference("opensafety", "scm_udid", cell.data(Qt::DisplayRole).toString().toUtf8().constData());
}
