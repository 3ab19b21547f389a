#include "nodeinfologmodel.h"

#include "nodeinfoitem.h"

NodeInfoLogModel::NodeInfoLogModel(NodeInfoItem *item, QObject *parent) : QAbstractTableModel(parent), item_(item) {
    if (item_) log_ = item_->log();
    frames_ = log_.keys();
}

int NodeInfoLogModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : static_cast<int>(frames_.size());
}

int NodeInfoLogModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : 2; }

QVariant NodeInfoLogModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= frames_.size() || index.column() < 0 ||
        index.column() > 1)
        return QVariant();
    if (role == Qt::TextAlignmentRole) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole) return QVariant();
    const unsigned int frame = frames_.at(index.row());
    if (index.column() == 0) return frame;
    return log_.value(frame);
}

QVariant NodeInfoLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    Q_UNUSED(orientation);
    if (role != Qt::DisplayRole) return QVariant();
    return section == 0 ? tr("Frame Nr") : tr("Log Text");
}
