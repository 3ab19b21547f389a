#include "zelanalyzer_main.h"
#include "ui_zelanalyzer_main.h"

#include "gui_api.h"
#include "mainpageentry.h"

#include <QListWidgetItem>
#include <QStackedWidget>

namespace {
// The page type a ZEL_GUI_PAGE_* name opens; PageNone for any other name.
MainPageEntry::PageTypes pageNamed(const QString &name) {
    if (name == QLatin1String(ZEL_GUI_PAGE_POWERLINK_CYCLE)) return MainPageEntry::PagePowerlinkCycle;
    return MainPageEntry::PageNone;
}
}  // namespace

ZELAnalyzer_Main::ZELAnalyzer_Main(QWidget *parent, const QString &page)
    : QDialog(parent), ui(new Ui::ZELAnalyzer_Main) {
    ui->setupUi(this);

    const QIcon safetyIcon(QStringLiteral(":/opensafety/logo.png"));
    entries << new MainPageEntry(safetyIcon, tr("Network"), MainPageEntry::PageNetwork, true)
            << new MainPageEntry(safetyIcon, tr("Analysis"), MainPageEntry::PageAnalysis, true)
            << new MainPageEntry(safetyIcon, tr("Frame Delta"), MainPageEntry::PageFrameDelta, true)
            << new MainPageEntry(safetyIcon, tr("Counter Delta"), MainPageEntry::PageCounterDelta, true)
            << new MainPageEntry(QIcon(QStringLiteral(":/powerlink/cycle.png")), tr("POWERLINK Cycle"),
                                 MainPageEntry::PagePowerlinkCycle, true)
            << new MainPageEntry(QIcon(QStringLiteral(":/general/help_browser.png")), tr("Help"),
                                 MainPageEntry::PageHelp, false);

    // The page asked for is listed even without its data: it says so itself.
    const MainPageEntry::PageTypes wanted = pageNamed(page);
    for (MainPageEntry *entry : entries) {
        if (QListWidgetItem *item = entry->createListItem(entry->type() == wanted)) ui->listOptions->addItem(item);
    }

    int first = 0;
    for (int i = 0; i < ui->listOptions->count(); ++i) {
        auto *entry = ui->listOptions->item(i)->data(Qt::UserRole).value<MainPageEntry *>();
        if (wanted != MainPageEntry::PageNone && entry && entry->type() == wanted) first = i;
    }
    if (ui->listOptions->count() > 0) {
        ui->listOptions->setCurrentRow(first);
        showPage(ui->listOptions->item(first));
    }
}

ZELAnalyzer_Main::~ZELAnalyzer_Main() {
    delete ui;
    qDeleteAll(entries);
}

void ZELAnalyzer_Main::on_listOptions_itemClicked(QListWidgetItem *item) { showPage(item); }

void ZELAnalyzer_Main::on_buttonBox_clicked(QAbstractButton *) { close(); }

void ZELAnalyzer_Main::showPage(QListWidgetItem *item) {
    if (!item) return;
    auto *entry = item->data(Qt::UserRole).value<MainPageEntry *>();
    if (!entry) return;
    QWidget *page = entry->createPage(ui->stackTools);
    if (!page) return;

    // A replaced page is released as it leaves the stack: pages are never
    // reused, so keeping them until the dialog closes would only pile them up.
    // deleteLater, because the click that got us here may come from inside it.
    while (ui->stackTools->count() > 0) {
        ui->stackTools->setCurrentIndex(0);
        QWidget *old = ui->stackTools->currentWidget();
        ui->stackTools->removeWidget(old);
        old->hide();
        old->deleteLater();
    }

    ui->stackTools->addWidget(page);
    ui->stackTools->setCurrentWidget(page);
    // A page that needs more room than the dialog has gets it.
    resize(size().expandedTo(minimumSizeHint()));
    setWindowTitle(QStringLiteral("Zelmar Analyzer:: ") + page->windowTitle());
}
