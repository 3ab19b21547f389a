// About dialog, analysis dialog and the GUI handler, with a running
// QApplication as inside Wireshark.
#include "guihandler.h"
#include "mainpageentry.h"
#include "zelanalyzer_about.h"
#include "zelanalyzer_main.h"

#include <QDialogButtonBox>
#include <QGraphicsPixmapItem>
#include <QGraphicsView>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

// The compiled-in resource collection's own (un)registration.
int qInitResources_zelanalyzer();
int qCleanupResources_zelanalyzer();

namespace {
// Runs fn on the next modal dialog once it is shown (exec blocks the caller).
void onModalDialog(std::function<void(QDialog *)> fn) {
    QTimer::singleShot(0, [fn]() {
        QTRY_VERIFY(QApplication::activeModalWidget() != nullptr);
        fn(qobject_cast<QDialog *>(QApplication::activeModalWidget()));
    });
}
}  // namespace

class TestShellDialogs : public QObject {
    Q_OBJECT

private slots:
    void resourcesAreRegistered() {
        for (const char *path :
             {":/general/back.png", ":/general/forward.png", ":/general/home.png", ":/general/help_browser.png",
              ":/opensafety/logo.png", ":/opensafety/aboutdialog.png", ":/pluginhelp/introduction",
              ":/pluginhelp/analysis", ":/pluginhelp/ta5521", ":/pluginhelp/errorpage", ":/pluginhelp/img/ta5521.png",
              ":/pluginhelp/img/opensafety_framedelta.png", ":/pluginhelp/img/opensafety_counterdelta.png",
              ":/powerlink/cycle.png", ":/pluginhelp/powerlink_cycle", ":/pluginhelp/img/powerlink_cycle.png"}) {
            QVERIFY2(QFile::exists(QString::fromLatin1(path)), path);
        }
        QCOMPARE(QImage(QStringLiteral(":/opensafety/aboutdialog.png")).size(), QSize(545, 91));
        QCOMPARE(QImage(QStringLiteral(":/opensafety/logo.png")).size(), QSize(96, 50));
        QCOMPARE(QImage(QStringLiteral(":/powerlink/cycle.png")).size(), QSize(96, 50));
    }

    void aboutDialogLayoutAndTexts() {
        ZELAnalyzer_About about;
        QCOMPARE(about.objectName(), QStringLiteral("ZELAnalyzer_About"));
        QCOMPARE(about.windowTitle(), QStringLiteral("About Zelmar Analysis Tools"));
        QCOMPARE(about.minimumSize(), QSize(545, 401));
        QCOMPARE(about.maximumSize(), QSize(545, 401));
        QVERIFY(about.isModal());
        QCOMPARE(about.contextMenuPolicy(), Qt::NoContextMenu);

        auto *text = about.findChild<QLabel *>(QStringLiteral("lblAboutDialog"));
        QVERIFY(text);
        QVERIFY(text->wordWrap());
        QCOMPARE(text->textFormat(), Qt::RichText);
        QVERIFY(text->text().contains(QStringLiteral("Version: 4.2.1")));
        QVERIFY(text->text().contains(QStringLiteral("Zelmar")));
        QVERIFY(text->text().contains(QStringLiteral("font-size:10pt")));
        QVERIFY(text->text().contains(QStringLiteral("href=\"https://www.zelmar.example\"")));

        auto *tabs = about.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        QVERIFY(tabs);
        QCOMPARE(tabs->count(), 1);
        QCOMPARE(tabs->tabText(0), QStringLiteral("License Information"));
        auto *license = about.findChild<QLabel *>(QStringLiteral("lblLicense"));
        QVERIFY(license);
        QCOMPARE(license->geometry(), QRect(10, 0, 511, 102));
        QVERIFY(license->wordWrap());
        QVERIFY(license->text().contains(QStringLiteral("Unauthorised copying or distribution")));

        auto *banner = about.findChild<QGraphicsView *>(QStringLiteral("bannerImage"));
        QVERIFY(banner && banner->scene());
        QCOMPARE(banner->minimumHeight(), 91);
        QCOMPARE(banner->maximumHeight(), 91);
        QCOMPARE(banner->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(banner->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QVERIFY(!banner->isInteractive());
        QCOMPARE(banner->scene()->sceneRect(), QRectF(0, 0, 545, 91));
        QCOMPARE(banner->scene()->items().size(), 1);
        QVERIFY(qgraphicsitem_cast<QGraphicsPixmapItem *>(banner->scene()->items().first()));

        auto *box = about.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        QVERIFY(box);
        QCOMPARE(box->standardButtons(), QDialogButtonBox::Ok);
        about.show();
        QVERIFY(about.isVisible());
        box->button(QDialogButtonBox::Ok)->click();
        QVERIFY(!about.isVisible());
    }

    void withoutResourcesTheDialogsStillOpen() {
        qCleanupResources_zelanalyzer();
        QVERIFY(!QFile::exists(QStringLiteral(":/opensafety/aboutdialog.png")));
        {
            ZELAnalyzer_About about;
            auto *banner = about.findChild<QGraphicsView *>(QStringLiteral("bannerImage"));
            QVERIFY(banner->scene()->sceneRect().isEmpty());  // an empty banner area
            about.show();
            QVERIFY(about.isVisible());
        }
        {
            ZELAnalyzer_Main dialog;  // help page without help resources
            QCOMPARE(dialog.windowTitle(), QStringLiteral("Zelmar Analyzer:: Form"));
        }
        qInitResources_zelanalyzer();
        QVERIFY(QFile::exists(QStringLiteral(":/opensafety/aboutdialog.png")));
    }

    void mainDialogWithoutDataListsOnlyHelp() {
        ZELAnalyzer_Main dialog;
        QCOMPARE(dialog.objectName(), QStringLiteral("ZELAnalyzer_Main"));
        QCOMPARE(dialog.size(), QSize(860, 600));
        QCOMPARE(dialog.minimumSize(), QSize(860, 600));
        auto *list = dialog.findChild<QListWidget *>(QStringLiteral("listOptions"));
        auto *stack = dialog.findChild<QStackedWidget *>(QStringLiteral("stackTools"));
        QVERIFY(list && stack);
        QCOMPARE(list->viewMode(), QListView::IconMode);
        QCOMPARE(list->maximumWidth(), 150);
        QCOMPARE(list->iconSize(), QSize(96, 50));
        QCOMPARE(list->movement(), QListView::Static);
        QCOMPARE(list->spacing(), 12);
        QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);

        QCOMPARE(list->count(), 1);
        QListWidgetItem *help = list->item(0);
        QCOMPARE(help->text(), QStringLiteral("Help"));
        QCOMPARE(help->sizeHint(), QSize(125, 70));
        QCOMPARE(help->textAlignment(), int(Qt::AlignCenter));
        QVERIFY(!help->icon().isNull());
        QCOMPARE(list->currentRow(), 0);

        // the help page is shown at once
        QCOMPARE(stack->count(), 1);
        QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("HelpPage"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Zelmar Analyzer:: Form"));

        auto *box = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        QCOMPARE(box->standardButtons(), QDialogButtonBox::Close);
    }

    void clickingAnEntryReplacesAndReleasesItsPage() {
        ZELAnalyzer_Main dialog;
        auto *list = dialog.findChild<QListWidget *>(QStringLiteral("listOptions"));
        auto *stack = dialog.findChild<QStackedWidget *>(QStringLiteral("stackTools"));
        QPointer<QWidget> first = stack->currentWidget();
        emit list->itemClicked(list->item(0));
        QCOMPARE(stack->count(), 1);
        QVERIFY(stack->currentWidget() != first.data());
        QVERIFY(first && first->isHidden());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(first.isNull());          // no page left behind per click
        emit list->itemClicked(nullptr);  // tolerated
        QCOMPARE(stack->count(), 1);
    }

    void pageEntries() {
        MainPageEntry none(QIcon(), QStringLiteral("None"), MainPageEntry::PageNone, false);
        QVERIFY(none.createListItem() == nullptr);
        QVERIFY(none.createPage(nullptr) == nullptr);
        MainPageEntry help(QIcon(), QStringLiteral("Help"), MainPageEntry::PageHelp, false);
        std::unique_ptr<QListWidgetItem> item(help.createListItem());
        QVERIFY(item);
        QCOMPARE(item->data(Qt::UserRole).value<MainPageEntry *>(), &help);
        std::unique_ptr<QWidget> page(help.createPage(nullptr));
        QVERIFY(page);
        QCOMPARE(help.property("title").toString(), QStringLiteral("Help"));
        QCOMPARE(help.property("pageType").value<MainPageEntry::PageTypes>(), MainPageEntry::PageHelp);
        // Entries that need data are not listed while the collection is empty.
        MainPageEntry network(QIcon(), QStringLiteral("Network"), MainPageEntry::PageNetwork, true);
        QVERIFY(network.createListItem() == nullptr);
    }

    void singletonIsUnique() {
        QVERIFY(GuiHandler::getInstance() != nullptr);
        QCOMPARE(GuiHandler::getInstance(), GuiHandler::getInstance());
    }

    void tapResetClosesAndReleasesTheMainDialog() {
        QPointer<QDialog> shown;
        bool closedByReset = false;
        onModalDialog([&](QDialog *dialog) {
            shown = dialog;
            QCOMPARE(dialog->objectName(), QStringLiteral("ZELAnalyzer_Main"));
            GuiHandler::getInstance()->doReset();
            closedByReset = true;
        });
        GuiHandler::getInstance()->showMainDialog(0, nullptr);  // returns when the dialog closed
        QVERIFY(closedByReset);
        QVERIFY(shown.isNull());  // released, not kept per activation
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void resetWithoutOpenDialogIsHarmless() {
        QSignalSpy spy(GuiHandler::getInstance(), &GuiHandler::reset);
        GuiHandler::getInstance()->doReset();
        QCOMPARE(spy.count(), 1);
    }

    void closeButtonEndsTheMainDialog() {
        QPointer<QDialog> shown;
        onModalDialog([&](QDialog *dialog) {
            shown = dialog;
            dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))
                ->button(QDialogButtonBox::Close)
                ->click();
        });
        GuiHandler::getInstance()->showMainDialog(0, nullptr);
        QVERIFY(shown.isNull());
    }

    void aboutDialogRunsModalAndIsReleased() {
        QPointer<QDialog> shown;
        onModalDialog([&](QDialog *dialog) {
            shown = dialog;
            QCOMPARE(dialog->objectName(), QStringLiteral("ZELAnalyzer_About"));
            // the about dialog does not react to tap resets
            GuiHandler::getInstance()->doReset();
            QVERIFY(dialog->isVisible());
            dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Ok)->click();
        });
        GuiHandler::getInstance()->showAboutDialog(0, nullptr);
        QVERIFY(shown.isNull());
    }
};

QTEST_MAIN(TestShellDialogs)
#include "shell_dialogs_test.moc"
