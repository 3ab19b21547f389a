#include "nodeinfoitemmodel.h"

#include "nodeinfoitem.h"
#include "osa_collection.h"

#include <QMetaProperty>

namespace {

/* Addresses and domains from 766 up are outside what the pages show. */
constexpr uint32_t model_address_limit = 766;
/* A node that produced this many SPDOs is listed even without partner or SDN. */
constexpr uint32_t busy_spdo_count = 100;

/* A node belongs to the network when it takes part in time synchronisation,
 * belongs to a safety domain (its SDN is known), or is busy. The SDN counts
 * as well: in a short capture most producers have neither a partner nor
 * more than 100 SPDOs, yet they are nodes of the network all the same. */
bool is_member(const osa_node *n) {
    return (n->partner && n->partner->sadr != 0) || n->sdn != 0 || n->spdo_count > busy_spdo_count;
}

bool is_property(const QString &name) {
    return NodeInfoItem::staticMetaObject.indexOfProperty(name.toLatin1().constData()) >= 0;
}

}  // namespace

NodeInfoItemModel::NodeInfoItemModel(bool showVirtual, bool showSilent, bool requireSdn, QObject *parent)
    : QAbstractTableModel(parent), showVirtual_(showVirtual), showSilent_(showSilent), requireSdn_(requireSdn) {
    rebuild();
}

NodeInfoItemModel::~NodeInfoItemModel() { qDeleteAll(items_); }

void NodeInfoItemModel::addColumn(const QString &title, const QString &property) {
    if (!is_property(property)) return;
    const int at = static_cast<int>(columns_.size());
    beginInsertColumns(QModelIndex(), at, at);
    columns_.append(qMakePair(title, property));
    endInsertColumns();
}

void NodeInfoItemModel::setShowVirtual(bool show) {
    if (show == showVirtual_) return;
    showVirtual_ = show;
    rebuild();
}

/* Rebuilds the item list from the node table; views are told by a model
 * reset, so a page that keeps the model on its view follows. */
void NodeInfoItemModel::rebuild() {
    beginResetModel();
    qDeleteAll(items_);
    items_.clear();
    if (const osa_node_map *table = osa_node_table()) {
        for (const auto &entry : *table) {
            osa_node *n = entry.second.get();
            if (n->sadr >= model_address_limit || n->sdn >= model_address_limit) continue;
            if (!is_member(n)) continue;
            if (!showSilent_ && n->spdo_count == 0) continue;
            if (!showVirtual_ && n->is_virtual) continue;
            if (requireSdn_ && n->sdn == 0 && n->spdo_count <= busy_spdo_count) continue;
            items_.append(new NodeInfoItem(n));
        }
    }
    endResetModel();
}

NodeInfoItem *NodeInfoItemModel::item(const QModelIndex &index) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= items_.size()) return nullptr;
    return items_.at(index.row());
}

int NodeInfoItemModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : static_cast<int>(items_.size());
}

int NodeInfoItemModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant NodeInfoItemModel::data(const QModelIndex &index, int role) const {
    NodeInfoItem *it = item(index);
    if (!it || index.column() < 0 || index.column() >= columns_.size()) return QVariant();
    const QString &property = columns_.at(index.column()).second;
    switch (role) {
    case Qt::TextAlignmentRole: return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::UserRole: return property;
    case Qt::DisplayRole: {
        if (property == QLatin1String("status"))
            return it->status() == NodeInfoItem::Operational ? QStringLiteral("Operational")
                                                             : QStringLiteral("Pre-Operational");
        if (property == QLatin1String("virtual")) return it->isVirtual() ? QStringLiteral("Yes") : QStringLiteral("No");
        const QVariant value = it->property(property.toLatin1().constData());
        if (property.endsWith(QLatin1String("ratio")))
            return QString::number(value.toDouble() * 100.0, 'g', 3) + QStringLiteral(" %");
        return value;
    }
    default: return QVariant();
    }
}

QVariant NodeInfoItemModel::headerData(int section, Qt::Orientation orientation, int role) const {
    Q_UNUSED(orientation);
    if (role != Qt::DisplayRole || section < 0 || section >= columns_.size()) return QVariant();
    return columns_.at(section).first;
}
