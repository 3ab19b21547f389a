/* Item models over the collection: properties, rebuild rules, texts, log
 * map, and the sort/filter proxies the pages put in front of them. */
#include "nodeinfoitem.h"
#include "nodeinfoitemmodel.h"
#include "nodeinfologmodel.h"
#include "osa_collection.h"

#include <QMetaEnum>
#include <QMetaProperty>
#include <QRegularExpression>
#include <QSortFilterProxyModel>
#include <QtTest>

#include <cstring>

namespace {

osa_node *add_node(uint32_t sadr, uint16_t sdn, uint32_t spdo, uint32_t partner = 0) {
    osa_node *n = osa_get_node(sadr);
    n->sdn = sdn;
    n->spdo_count = spdo;
    if (partner) osa_link_nodes(sadr, partner);
    return n;
}

QStringList column_texts(const QAbstractItemModel &m, int column) {
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r) out << m.data(m.index(r, column)).toString();
    return out;
}

}  // namespace

class ModelsTest : public QObject {
    Q_OBJECT

private slots:
    void init() { osa_tap_reset(); }
    void cleanup() { osa_tap_destroy(); }

    void propertiesInDeclarationOrder() {
        const QMetaObject &mo = NodeInfoItem::staticMetaObject;
        QStringList names;
        for (int i = mo.propertyOffset(); i < mo.propertyCount(); ++i)
            names << QString::fromLatin1(mo.property(i).name());
        QCOMPARE(names, QStringList({"sdn", "saddr", "timesync", "scmudid", "snmt", "ssdo", "spdo", "status", "virtual",
                                     "stat_netsync", "stat_netsyncratio", "stat_packetloss", "stat_packetloss_ratio",
                                     "stat_timeguard", "cmb_saddr"}));
        for (QString readonly : names) QVERIFY(!mo.property(mo.indexOfProperty(readonly.toLatin1())).isWritable());
        const QMetaEnum e = QMetaEnum::fromType<NodeInfoItem::OpStatus>();
        QCOMPARE(e.keyToValue("Operational"), 0);
        QCOMPARE(e.keyToValue("PreOperational"), 1);
        NodeInfoItem probe(nullptr);
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        QVERIFY(QMetaType::fromName("OpStatus").isValid());
#else
        QVERIFY(QMetaType::type("OpStatus") != QMetaType::UnknownType);
#endif
    }

    void itemTexts() {
        osa_node *n = add_node(12, 1, 5, 2);
        const uint8_t udid[6] = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
        std::memcpy(n->scm_udid, udid, 6);
        NodeInfoItem item(n);
        QCOMPARE(item.scmudid(), QStringLiteral("0A:0B:0C:0D:0E:0F"));
        QCOMPARE(item.property("scmudid").toString().size(), 17);
        QVERIFY(item.isVirtual());
        QCOMPARE(item.cmbSaddr(), QStringLiteral("Virtual - Saddr 012 [SDN: 1]"));
        QCOMPARE(item.timesync(), 2u);
        NodeInfoItem plain(add_node(5, 1, 0));
        QCOMPARE(plain.cmbSaddr(), QStringLiteral("Saddr 005 [SDN: 1]"));
        QCOMPARE(plain.status(), NodeInfoItem::PreOperational);
        osa_get_node(5)->operational = 1;
        QCOMPARE(plain.property("status").value<NodeInfoItem::OpStatus>(), NodeInfoItem::Operational);

        NodeInfoItem none(nullptr);
        QCOMPARE(none.sdn(), 0u);
        QCOMPARE(none.scmudid(), QString());
        QCOMPARE(none.cmbSaddr(), QString());
        QCOMPARE(none.status(), NodeInfoItem::PreOperational);
        QCOMPARE(none.statNetsyncRatio(), 0.0);
        QVERIFY(none.log().isEmpty());
        QCOMPARE(none.statTimeguard(), 0.0);
    }

    void rebuildRules() {
        add_node(2, 1, 100);       // no partner, 100 SPDOs, SDN known: listed
        add_node(3, 1, 101);       // no partner, 101 SPDOs: listed
        add_node(5, 0, 100);       // no partner, no SDN, 100 SPDOs: hidden
        add_node(766, 1, 500);     // out of range
        add_node(4, 766, 500);     // SDN out of range
        add_node(6, 0, 50, 1);     // no SDN, few SPDOs
        add_node(7, 0, 150);       // no SDN, busy
        add_node(8, 1, 10, 9);     // 9 becomes virtual
        osa_get_node(9)->sdn = 1;  // partner of 8, no SPDOs (silent)

        NodeInfoItemModel all(true, true, false);
        all.addColumn("Saddr", "saddr");
        QCOMPARE(column_texts(all, 0), QStringList({"1", "2", "3", "6", "7", "8", "9"}));  // 1: partner of 6

        NodeInfoItemModel network(true, false, false);
        network.addColumn("Saddr", "saddr");
        QCOMPARE(column_texts(network, 0), QStringList({"2", "3", "6", "7", "8"}));

        NodeInfoItemModel statistics(false, false, true);
        statistics.addColumn("Saddr", "saddr");
        QCOMPARE(column_texts(statistics, 0), QStringList({"2", "3", "7", "8"}));

        osa_get_node(8)->is_virtual = 1;
        NodeInfoItemModel combo(true, false, true);
        combo.addColumn("Saddr", "cmb_saddr");
        QCOMPARE(column_texts(combo, 0), QStringList({"Saddr 002 [SDN: 1]", "Saddr 003 [SDN: 1]", "Saddr 007 [SDN: 0]",
                                                      "Virtual - Saddr 008 [SDN: 1]"}));
        QSignalSpy reset(&combo, &QAbstractItemModel::modelReset);
        combo.setShowVirtual(false);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(combo.rowCount(), 3);
        combo.setShowVirtual(false);  // unchanged: no rebuild
        QCOMPARE(reset.count(), 1);

        osa_tap_destroy();
        NodeInfoItemModel empty(true, true, false);
        QCOMPARE(empty.rowCount(), 0);
        QVERIFY(empty.item(empty.index(0, 0)) == nullptr);
    }

    void cellTextsAndRoles() {
        osa_node *n = add_node(3, 1, 1000, 1);
        n->operational = 1;
        osa_connection *c = osa_get_connection(n);
        c->netsync_count = 123;  // 0.123 -> 12.3 %
        c->failure_count = 0;
        osa_node *m = add_node(4, 1, 3, 1);
        osa_get_connection(m)->failure_count = 1;  // 1/3 -> 33.3 %
        m->is_virtual = 1;

        NodeInfoItemModel model(true, false, false);
        model.addColumn("Status", "status");
        model.addColumn("Virtual", "virtual");
        model.addColumn("Network Sync / SPDO", "stat_netsyncratio");
        model.addColumn("Packet Loss / SPDO", "stat_packetloss_ratio");
        model.addColumn("Nonsense", "no_such_property");
        model.addColumn("#SPDO", "spdo");
        QCOMPARE(model.columnCount(), 5);
        QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("Network Sync / SPDO"));
        QVERIFY(!model.headerData(2, Qt::Horizontal, Qt::ToolTipRole).isValid());
        QCOMPARE(model.rowCount(), 2);

        QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("Operational"));
        QCOMPARE(model.data(model.index(1, 0)).toString(), QStringLiteral("Pre-Operational"));
        QCOMPARE(model.data(model.index(0, 1)).toString(), QStringLiteral("No"));
        QCOMPARE(model.data(model.index(1, 1)).toString(), QStringLiteral("Yes"));
        QCOMPARE(model.data(model.index(0, 2)).toString(), QStringLiteral("12.3 %"));
        QCOMPARE(model.data(model.index(0, 3)).toString(), QStringLiteral("0 %"));
        QCOMPARE(model.data(model.index(1, 3)).toString(), QStringLiteral("33.3 %"));
        QCOMPARE(model.data(model.index(0, 4)).toUInt(), 1000u);
        QCOMPARE(model.data(model.index(0, 4), Qt::UserRole).toString(), QStringLiteral("spdo"));
        QCOMPARE(model.data(model.index(0, 4), Qt::TextAlignmentRole).toInt(),
                 static_cast<int>(Qt::AlignRight | Qt::AlignVCenter));
        QVERIFY(!model.data(model.index(0, 4), Qt::ToolTipRole).isValid());
        QVERIFY(!model.data(model.index(5, 0)).isValid());
        QCOMPARE(model.item(model.index(1, 0))->saddr(), 4u);
    }

    void logModel() {
        osa_node *n = add_node(3, 1, 200);
        osa_connection *c = osa_get_connection(n);
        auto log = [c](uint32_t frame, uint32_t kind, uint64_t value) {
            osa_log_entry e;
            e.frame = frame;
            e.kind = kind;
            e.value = value;
            c->log.push_front(e);  // the collection prepends
        };
        log(10, OSA_LOG_VALID_CHANGED, 1);
        log(50, OSA_LOG_MAY_COMPENSATE, 7);  // same SPDO: sync error first ...
        log(50, OSA_LOG_VALID_CHANGED, 0);   // ... then the validity change
        log(80, OSA_LOG_WILL_FAIL, 30);
        log(60, OSA_LOG_VALID_CHANGED, 1);

        NodeInfoItem item(n);
        NodeInfoLogModel model(&item);
        QCOMPARE(model.rowCount(), 4);
        QCOMPARE(model.columnCount(), 2);
        QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Frame Nr"));
        QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Log Text"));
        QCOMPARE(column_texts(model, 0), QStringList({"10", "50", "60", "80"}));
        QCOMPARE(column_texts(model, 1),
                 QStringList({"Connection Validation Change Invalid => Valid",
                              "Frame(s) missing, but network may compensate - 7 cycle(s) missing",
                              "Connection Validation Change Invalid => Valid", "Frame(s) missing, network will fail"}));
        QCOMPARE(model.data(model.index(0, 0)).toUInt(), 10u);

        NodeInfoItem silent(add_node(9, 0, 0));
        NodeInfoLogModel empty(&silent);
        QCOMPARE(empty.rowCount(), 0);
        NodeInfoLogModel none(nullptr);
        QCOMPARE(none.rowCount(), 0);
    }

    void sortAndFilterProxies() {
        for (uint32_t sadr : {7u, 3u, 12u, 5u}) {
            osa_node *n = add_node(sadr, 1, 200 + sadr);
            n->operational = sadr % 2;
        }
        NodeInfoItemModel model(true, false, false);
        model.addColumn("Saddr", "saddr");
        model.addColumn("Status", "status");
        model.addColumn("#SPDO", "spdo");

        QSortFilterProxyModel sorted;
        sorted.setSourceModel(&model);
        sorted.sort(0, Qt::DescendingOrder);
        QCOMPARE(column_texts(sorted, 0), QStringList({"12", "7", "5", "3"}));
        sorted.sort(2, Qt::AscendingOrder);  // numbers, not text
        QCOMPARE(column_texts(sorted, 2), QStringList({"203", "205", "207", "212"}));

        QSortFilterProxyModel filtered;
        filtered.setSourceModel(&model);
        filtered.setFilterKeyColumn(1);
        filtered.setFilterRegularExpression(QRegularExpression("^Pre-"));
        QCOMPARE(filtered.rowCount(), 1);
        QCOMPARE(model.item(filtered.mapToSource(filtered.index(0, 0)))->saddr(), 12u);
    }
};

QTEST_GUILESS_MAIN(ModelsTest)
#include "models_test.moc"
