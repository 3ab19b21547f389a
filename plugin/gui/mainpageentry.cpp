#include "mainpageentry.h"

#include "helppage.h"

#include <QListWidgetItem>
#include <QStackedWidget>
#include <QVariant>

#ifdef ZEL_WITH_OPENSAFETY_PAGES
#include "opensafetyanalysis.h"
#include "opensafetynetworkpage.h"
#include "opensafetystatspage.h"
#include "nodeinfoitemmodel.h"
#endif
#ifdef ZEL_WITH_POWERLINK_PAGES
#include "powerlink/plkcyclepage.h"
#endif

MainPageEntry::MainPageEntry(const QIcon &image, const QString &title, PageTypes pageType, bool needsData)
    : QObject(nullptr), image(image), title(title), pageType(pageType), needsData(needsData) {}

MainPageEntry::~MainPageEntry() = default;

bool MainPageEntry::openSafetyDataPresent() {
#ifdef ZEL_WITH_OPENSAFETY_PAGES
    // The same selection the pages start from, without their extra filters:
    // the model serves only this test.
    NodeInfoItemModel model(false, false, false);
    return model.rowCount(QModelIndex()) > 0;
#else
    // Built without the openSAFETY pages: nothing they could show.
    return false;
#endif
}

bool MainPageEntry::powerlinkCyclesPresent() {
#ifdef ZEL_WITH_POWERLINK_PAGES
    return !PlkCyclePage::networksWithCycles(PlkCyclePage::liveSamples()).isEmpty();
#else
    return false;
#endif
}

QListWidgetItem *MainPageEntry::createListItem(bool evenWithoutData) {
    if (pageType == PageNone) return nullptr;
#ifndef ZEL_WITH_POWERLINK_PAGES
    if (pageType == PagePowerlinkCycle) return nullptr;
#endif
    if (needsData && !evenWithoutData &&
        !(pageType == PagePowerlinkCycle ? powerlinkCyclesPresent() : openSafetyDataPresent()))
        return nullptr;
    auto *item = new QListWidgetItem(image, title);
    item->setSizeHint(QSize(125, 70));
    item->setTextAlignment(Qt::AlignCenter);
    item->setData(Qt::UserRole, QVariant::fromValue(this));
    return item;
}

QWidget *MainPageEntry::createPage(QStackedWidget *stack) {
    switch (pageType) {
#ifdef ZEL_WITH_OPENSAFETY_PAGES
    case PageNetwork: return new openSAFETYNetworkPage(nullptr);
    case PageAnalysis: return new openSAFETYAnalysis(nullptr);
    case PageFrameDelta: return new openSAFETYStatsPage(stack, 0);
    case PageCounterDelta: return new openSAFETYStatsPage(stack, 1);
#else
    case PageNetwork:
    case PageAnalysis:
    case PageFrameDelta:
    case PageCounterDelta: (void)stack; return nullptr;
#endif
#ifdef ZEL_WITH_POWERLINK_PAGES
    case PagePowerlinkCycle: return new PlkCyclePage(nullptr, PlkCyclePage::liveSamples());
#else
    case PagePowerlinkCycle: return nullptr;
#endif
    case PageHelp: return new HelpPage(nullptr);
    case PageNone: break;
    }
    return nullptr;
}
