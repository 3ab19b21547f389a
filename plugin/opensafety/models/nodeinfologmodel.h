/* The connection events of one node: frame number and message, in frame order. */
#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QMap>
#include <QString>

class NodeInfoItem;

class NodeInfoLogModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit NodeInfoLogModel(NodeInfoItem *item, QObject *parent = nullptr);

    NodeInfoItem *item() const { return item_; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    NodeInfoItem *item_;
    QMap<unsigned int, QString> log_;
    QList<unsigned int> frames_;  // keys of log_, ascending, for row access
};
