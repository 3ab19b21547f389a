#include "nodeinfoitem.h"

#include "osa_collection.h"

NodeInfoItem::NodeInfoItem(osa_node *node, QObject *parent) : QObject(parent), node_(node) {
    static const int registered = qRegisterMetaType<NodeInfoItem::OpStatus>("OpStatus");
    (void)registered;
}

osa_connection *NodeInfoItem::connection() const { return node_ ? osa_get_connection(node_) : nullptr; }

unsigned int NodeInfoItem::sdn() const { return node_ ? node_->sdn : 0; }

unsigned int NodeInfoItem::saddr() const { return node_ ? node_->sadr : 0; }

unsigned int NodeInfoItem::timesync() const { return node_ && node_->partner ? node_->partner->sadr : 0; }

QString NodeInfoItem::scmudid() const {
    if (!node_) return QString();
    QStringList parts;
    for (uint8_t b : node_->scm_udid) parts << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    return parts.join(QLatin1Char(':'));
}

unsigned int NodeInfoItem::snmt() const { return node_ ? node_->snmt_count : 0; }

unsigned int NodeInfoItem::ssdo() const { return node_ ? node_->ssdo_count : 0; }

unsigned int NodeInfoItem::spdo() const { return node_ ? node_->spdo_count : 0; }

NodeInfoItem::OpStatus NodeInfoItem::status() const {
    return node_ && node_->operational == 1 ? Operational : PreOperational;
}

bool NodeInfoItem::isVirtual() const { return node_ && node_->is_virtual != 0; }

unsigned int NodeInfoItem::statNetsync() const {
    const osa_connection *c = connection();
    return c ? static_cast<unsigned int>(c->netsync_count) : 0;
}

double NodeInfoItem::statNetsyncRatio() const {
    const osa_connection *c = connection();
    if (!c || !node_ || node_->spdo_count == 0) return 0.0;
    return static_cast<double>(c->netsync_count) / node_->spdo_count;
}

unsigned int NodeInfoItem::statPacketloss() const {
    const osa_connection *c = connection();
    return c ? static_cast<unsigned int>(c->failure_count) : 0;
}

double NodeInfoItem::statPacketlossRatio() const {
    const osa_connection *c = connection();
    if (!c || !node_ || node_->spdo_count == 0) return 0.0;
    return static_cast<double>(c->failure_count) / node_->spdo_count;
}

double NodeInfoItem::statTimeguard() const {
    /* The collection keeps the tracker but never fills it: reads 0. */
    const osa_connection *c = connection();
    if (!c || c->timeguard.series.empty()) return 0.0;
    return c->timeguard.series.front().mean;
}

QString NodeInfoItem::cmbSaddr() const {
    if (!node_) return QString();
    QString label = isVirtual() ? QStringLiteral("Virtual - ") : QString();
    return label + QStringLiteral("Saddr %1 [SDN: %2]").arg(saddr(), 3, 10, QLatin1Char('0')).arg(sdn());
}

QMap<unsigned int, QString> NodeInfoItem::log() const {
    QMap<unsigned int, QString> map;
    const osa_connection *c = connection();
    if (!c) return map;
    for (const osa_log_entry &e : c->log) {
        QString text;
        switch (e.kind) {
        case OSA_LOG_VALID_CHANGED:
            text = QStringLiteral("Connection Validation Change ") +
                   (e.value == 1 ? QStringLiteral("Invalid => Valid") : QStringLiteral("Valid => Invalid"));
            break;
        case OSA_LOG_MAY_COMPENSATE:
            text = QStringLiteral("Frame(s) missing, but network may compensate - %1 cycle(s) missing").arg(e.value);
            break;
        case OSA_LOG_WILL_FAIL: text = QStringLiteral("Frame(s) missing, network will fail"); break;
        default: continue;
        }
        map.insert(e.frame, text);
    }
    return map;
}
