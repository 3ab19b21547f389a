// The node table of the openSAFETY network and statistics pages: sorted view
// over a node model with a context menu that copies a cell, applies it as a
// display filter or stores a node's SCM UDID as the openSAFETY dissector's
// preference.
#pragma once

#include <QTableView>

class QAbstractItemModel;
class QMenu;
class QSortFilterProxyModel;

class OSTableView : public QTableView {
    Q_OBJECT

public:
    explicit OSTableView(QWidget *parent = nullptr);
    ~OSTableView() override;

    // Shows the source model sorted by its second column (Saddr).
    void setModel(QAbstractItemModel *model) override;

    QMenu *contextMenu() const { return menu; }

    // The display filter for a cell showing the given node property, or an
    // empty string for properties that have none.
    static QString filterFor(const QString &property, const QString &cellText);

public slots:
    void tableContextMenuRequested(const QPoint &pos);
    void copyActionTriggered();
    void applyActionTriggered();
    void saveSCMPrefActionTriggered();

private:
    // The one selected cell, or an invalid index with none or several.
    QModelIndex singleSelectedCell() const;

    QMenu *menu;
    QAbstractItemModel *sourceModel;
    QSortFilterProxyModel *proxy;
};
