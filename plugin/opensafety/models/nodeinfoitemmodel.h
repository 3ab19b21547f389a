/* Table of the collection's nodes; the columns are chosen by NodeInfoItem
 * property name. The model takes a snapshot of the node table when it is
 * built (or rebuilt). */
#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QPair>
#include <QString>

class NodeInfoItem;

class NodeInfoItemModel : public QAbstractTableModel {
    Q_OBJECT

public:
    NodeInfoItemModel(bool showVirtual, bool showSilent, bool requireSdn, QObject *parent = nullptr);
    ~NodeInfoItemModel() override;

    /* Appends a column only if NodeInfoItem has a property of that name. */
    void addColumn(const QString &title, const QString &property);
    void setShowVirtual(bool show);

    NodeInfoItem *item(const QModelIndex &index) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    void rebuild();

    bool showVirtual_;
    bool showSilent_;
    bool requireSdn_;
    QList<QPair<QString, QString>> columns_;  // title, property name
    QList<NodeInfoItem *> items_;
};
