#include "opensafetystatspage.h"
#include "ui_opensafetystatspage.h"

#include "nodeinfoitemmodel.h"

#include <QStackedWidget>

namespace {
struct ModeTitle {
    unsigned int mode;
    const char *title;
};
// Ended by the mode value 2.
const ModeTitle kModeTitles[] = {
    {1, QT_TRANSLATE_NOOP("openSAFETYStatsPage", "Counter Delta")},
    {0, QT_TRANSLATE_NOOP("openSAFETYStatsPage", "Frame Delta")},
    {2, nullptr},
};
}  // namespace

QString openSAFETYStatsPage::modeTitle(unsigned int mode) {
    for (const ModeTitle *t = kModeTitles; t->mode != 2; ++t) {
        if (t->mode == mode) return tr(t->title);
    }
    return QString();
}

openSAFETYStatsPage::openSAFETYStatsPage(QWidget *parent, unsigned int mode)
    : QWidget(parent), ui(new Ui::openSAFETYStatsPage), mode(mode) {
    ui->setupUi(this);
    setWindowTitle(modeTitle(mode));
    // Sync errors are found from the counters: only the counter page has them.
    ui->checkShowNetworkSyncError->setVisible(mode == 1);
    ui->wdgCustomPlot->setTitle(windowTitle());
    // The plot gets the larger share of the page; the table scrolls.
    ui->wdgCustomPlot->setMinimumHeight(200);
    ui->splitter->setStretchFactor(0, 3);
    ui->splitter->setStretchFactor(1, 2);
    ui->wdgCustomPlot->setMode(mode);

    model = new NodeInfoItemModel(false, false, true);
    model->setParent(this);
    model->addColumn(tr("SDN"), QStringLiteral("sdn"));
    model->addColumn(tr("Saddr"), QStringLiteral("saddr"));
    model->addColumn(tr("Virtual"), QStringLiteral("virtual"));
    model->addColumn(tr("Network Sync / SPDO"), QStringLiteral("stat_netsyncratio"));
    model->addColumn(tr("Packet Loss / SPDO"), QStringLiteral("stat_packetloss_ratio"));
    ui->tableStats->setModel(model);
    ui->wdgCustomPlot->legend->setVisible(true);

    if (auto *stack = qobject_cast<QStackedWidget *>(parent))
        connect(stack, &QStackedWidget::currentChanged, this, &openSAFETYStatsPage::parentIndexChanged);
}

openSAFETYStatsPage::~openSAFETYStatsPage() { delete ui; }

void openSAFETYStatsPage::plotRow(int row) {
    const QModelIndex saddr = ui->tableStats->model()->index(row, 1);
    if (saddr.isValid()) ui->wdgCustomPlot->plotNode(saddr.data(Qt::DisplayRole).toUInt());
}

void openSAFETYStatsPage::parentIndexChanged(int) {
    auto *stack = qobject_cast<QStackedWidget *>(parentWidget());
    if (stack && stack->currentWidget() == this) plotRow(0);
}

void openSAFETYStatsPage::on_tableStats_clicked(const QModelIndex &index) {
    if (index.isValid()) plotRow(index.row());
}

void openSAFETYStatsPage::on_checkShowVirtual_clicked(bool checked) {
    model->setShowVirtual(checked);
    // The model rebuilds its rows without telling views: setting it again
    // makes the table take the new rows.
    ui->tableStats->setModel(model);
}

void openSAFETYStatsPage::on_checkShowNetworkSyncError_clicked(bool checked) {
    ui->wdgCustomPlot->setShowSyncError(checked);
}
