/* One openSAFETY node of the collection as named, read-only Qt properties.
 * The item points at the collection's record and never owns it. */
#pragma once

#include <QMap>
#include <QObject>
#include <QString>

struct osa_node;
struct osa_connection;

class NodeInfoItem : public QObject {
    Q_OBJECT
    // Declaration order is the order views and tests see.
    Q_PROPERTY(unsigned int sdn READ sdn)
    Q_PROPERTY(unsigned int saddr READ saddr)
    Q_PROPERTY(unsigned int timesync READ timesync)
    Q_PROPERTY(QString scmudid READ scmudid)
    Q_PROPERTY(unsigned int snmt READ snmt)
    Q_PROPERTY(unsigned int ssdo READ ssdo)
    Q_PROPERTY(unsigned int spdo READ spdo)
    Q_PROPERTY(OpStatus status READ status)
    Q_PROPERTY(bool virtual READ isVirtual)
    Q_PROPERTY(unsigned int stat_netsync READ statNetsync)
    Q_PROPERTY(double stat_netsyncratio READ statNetsyncRatio)
    Q_PROPERTY(unsigned int stat_packetloss READ statPacketloss)
    Q_PROPERTY(double stat_packetloss_ratio READ statPacketlossRatio)
    Q_PROPERTY(double stat_timeguard READ statTimeguard)
    Q_PROPERTY(QString cmb_saddr READ cmbSaddr)

public:
    enum OpStatus { Operational = 0, PreOperational = 1 };
    Q_ENUM(OpStatus)

    explicit NodeInfoItem(osa_node *node, QObject *parent = nullptr);

    osa_node *node() const { return node_; }

    unsigned int sdn() const;
    unsigned int saddr() const;
    unsigned int timesync() const;
    QString scmudid() const;
    unsigned int snmt() const;
    unsigned int ssdo() const;
    unsigned int spdo() const;
    OpStatus status() const;
    bool isVirtual() const;
    unsigned int statNetsync() const;
    double statNetsyncRatio() const;
    unsigned int statPacketloss() const;
    double statPacketlossRatio() const;
    double statTimeguard() const;
    QString cmbSaddr() const;

    /* Frame number -> message of the node's connection log; one message per
     * frame, the older entry of a frame winning (a sync error over the
     * validity change of the same SPDO). */
    QMap<unsigned int, QString> log() const;

private:
    osa_connection *connection() const;

    osa_node *node_;
};

Q_DECLARE_METATYPE(NodeInfoItem::OpStatus)
