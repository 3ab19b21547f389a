#include "opensafetynetworkpage.h"
#include "ui_opensafetynetworkpage.h"

#include "nodeinfoitemmodel.h"

openSAFETYNetworkPage::openSAFETYNetworkPage(QWidget *parent) : QWidget(parent), ui(new Ui::openSAFETYNetworkPage) {
    ui->setupUi(this);
    // Virtual nodes are part of the topology; silent nodes are not.
    model = new NodeInfoItemModel(true, false, false);
    model->setParent(this);
    model->addColumn(tr("SDN"), QStringLiteral("sdn"));
    model->addColumn(tr("Saddr"), QStringLiteral("saddr"));
    model->addColumn(tr("TSync"), QStringLiteral("timesync"));
    model->addColumn(tr("Virtual"), QStringLiteral("virtual"));
    model->addColumn(tr("Status"), QStringLiteral("status"));
    model->addColumn(tr("SCM UDID"), QStringLiteral("scmudid"));
    model->addColumn(tr("#SNMT"), QStringLiteral("snmt"));
    model->addColumn(tr("#SSDO"), QStringLiteral("ssdo"));
    model->addColumn(tr("#SPDO"), QStringLiteral("spdo"));
    ui->tableNetwork->setModel(model);
    setWindowTitle(tr("openSAFETY Network"));
}

openSAFETYNetworkPage::~openSAFETYNetworkPage() { delete ui; }
