// Help browser and help page: navigation and history, error page, external
// links, resource images, and the page's buttons.
#include "helpbrowser.h"
#include "helppage.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextDocument>
#include <QtTest>

// Receives the links that would go to the system's browser.
int qInitResources_zelanalyzer();
int qCleanupResources_zelanalyzer();

class UrlSink : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

class TestHelpBrowser : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &sink, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &sink, "open");
    }
    void cleanupTestCase() {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    }

    void startsAtIntroduction() {
        HelpBrowser browser;
        QCOMPARE(browser.visitedPages(), QStringList{QStringLiteral("introduction")});
        QCOMPARE(browser.offsetFromNewest(), 0);
        QVERIFY(!browser.canGoBackward());
        QVERIFY(!browser.canGoForward());
        QVERIFY(browser.toPlainText().contains(QStringLiteral("Zelmar Network Analysis Tools")));
        // the start page links to the other pages and to the maker's site
        const QString html = browser.toHtml();
        QVERIFY(html.contains(QStringLiteral("ta5521.html")));
        QVERIFY(html.contains(QStringLiteral("analysis.html")));
        QVERIFY(html.contains(QStringLiteral("https://www.zelmar.example")));
    }

    void linkBackAndForward() {
        HelpBrowser browser;
        browser.setSource(QUrl(QStringLiteral("analysis.html")));
        QCOMPARE(browser.visitedPages(), (QStringList{"introduction", "analysis"}));
        QVERIFY(browser.toPlainText().contains(QStringLiteral("Frame Delta")));
        QVERIFY(browser.canGoBackward());
        QVERIFY(!browser.canGoForward());

        browser.backward();
        QVERIFY(browser.toPlainText().contains(QStringLiteral("Zelmar Network Analysis Tools")));
        QCOMPARE(browser.offsetFromNewest(), 1);
        QVERIFY(!browser.canGoBackward());
        QVERIFY(browser.canGoForward());
        browser.backward();  // at the oldest entry: nothing happens
        QCOMPARE(browser.offsetFromNewest(), 1);

        browser.forward();
        QCOMPARE(browser.offsetFromNewest(), 0);
        QVERIFY(browser.toPlainText().contains(QStringLiteral("Counter Delta")));
        browser.forward();  // at the newest entry: nothing happens
        QCOMPARE(browser.offsetFromNewest(), 0);
        QCOMPARE(browser.visitedPages().size(), 2);
    }

    void reopeningNewestAddsNoEntry() {
        HelpBrowser browser;
        QSignalSpy changed(&browser, &QTextBrowser::historyChanged);
        browser.home();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(browser.visitedPages(), QStringList{QStringLiteral("introduction")});
    }

    void followingALinkDropsForwardEntries() {
        HelpBrowser browser;
        browser.setSource(QUrl(QStringLiteral("analysis.html")));
        browser.setSource(QUrl(QStringLiteral("ta5521.html")));
        browser.backward();
        browser.backward();
        QCOMPARE(browser.offsetFromNewest(), 2);
        browser.setSource(QUrl(QStringLiteral("ta5521.html")));
        QCOMPARE(browser.visitedPages(), (QStringList{"introduction", "ta5521"}));
        QCOMPARE(browser.offsetFromNewest(), 0);
        QVERIFY(!browser.canGoForward());
    }

    void missingPageShowsErrorPage() {
        HelpBrowser browser;
        browser.setSource(QUrl(QStringLiteral("nosuchpage.html")));
        QCOMPARE(browser.visitedPages(), (QStringList{"introduction", "errorpage"}));
        QVERIFY(browser.toPlainText().contains(QStringLiteral("Help not found")));
        QVERIFY(browser.toPlainText().contains(QStringLiteral("The help page you where looking for, does not exist")));
        // page names are case-sensitive
        browser.setSource(QUrl(QStringLiteral("Analysis.html")));
        QCOMPARE(browser.visitedPages().last(), QStringLiteral("errorpage"));
        QCOMPARE(browser.visitedPages().size(), 2);
    }

    void missingErrorPageKeepsTheContent() {
        HelpBrowser browser;
        browser.setSource(QUrl(QStringLiteral("analysis.html")));
        const QString before = browser.toHtml();
        qCleanupResources_zelanalyzer();  // no pages at all, the error page neither
        browser.setSource(QUrl(QStringLiteral("ta5521.html")));
        QCOMPARE(browser.toHtml(), before);
        QCOMPARE(browser.visitedPages(), (QStringList{"introduction", "analysis"}));
        // nothing to show at start-up either: an empty browser, no history
        HelpBrowser empty;
        QVERIFY(empty.visitedPages().isEmpty());
        QVERIFY(!empty.canGoBackward());
        qInitResources_zelanalyzer();
    }

    void externalLinkIsNotFollowed() {
        sink.opened.clear();
        HelpBrowser browser;
        browser.setSource(QUrl(QStringLiteral("analysis.html")));
        const QString before = browser.toHtml();
        browser.setSource(QUrl(QStringLiteral("https://www.zelmar.example/analyzer")));
        QCOMPARE(sink.opened, QList<QUrl>{QUrl(QStringLiteral("https://www.zelmar.example/analyzer"))});
        QCOMPARE(browser.toHtml(), before);
        QCOMPARE(browser.visitedPages(), (QStringList{"introduction", "analysis"}));
    }

    void clickedAnchorGoesThroughSetSource() {
        HelpBrowser browser;
        emit browser.anchorClicked(QUrl(QStringLiteral("ta5521.html")));
        QCOMPARE(browser.visitedPages().last(), QStringLiteral("ta5521"));
        QVERIFY(browser.toPlainText().contains(QStringLiteral("Capture time after trigger [ms]")));
    }

    void cyclePageHelpIsLinkedWithThePagesPicture() {
        HelpBrowser browser;
        emit browser.anchorClicked(QUrl(QStringLiteral("powerlink_cycle.html")));
        QCOMPARE(browser.visitedPages().last(), QStringLiteral("powerlink_cycle"));
        QVERIFY(browser.toPlainText().contains(QStringLiteral("Tools > POWERLINK > Cycle Analysis")));
        // the page itself, rendered when the resources were built
        const QImage shot =
            browser
                .loadResource(QTextDocument::ImageResource, QUrl(QStringLiteral("pluginhelp/img/powerlink_cycle.png")))
                .value<QImage>();
        QVERIFY(shot.width() >= 820 && shot.height() >= 540);
    }

    void imagesComeFromResources() {
        HelpBrowser browser;
        const QImage plot = browser
                                .loadResource(QTextDocument::ImageResource,
                                              QUrl(QStringLiteral("pluginhelp/img/opensafety_framedelta.png")))
                                .value<QImage>();
        QVERIFY(plot.width() > 100);
        const QImage viaPrefix =
            browser.loadResource(QTextDocument::ImageResource, QUrl(QStringLiteral("img/ta5521.png"))).value<QImage>();
        QVERIFY(viaPrefix.width() > 100);
        const QImage missing =
            browser.loadResource(QTextDocument::ImageResource, QUrl(QStringLiteral("pluginhelp/img/none.png")))
                .value<QImage>();
        QCOMPARE(missing.size(), QSize(1, 1));
        QCOMPARE(missing.format(), QImage::Format_RGB32);
    }

    void everyPageIsWellFormedAndItsLinksResolve() {
        // Every relative link of every page must lead to a page, and every
        // image to a resource: a broken link would show the error page.
        for (const char *page : {"introduction", "analysis", "powerlink_cycle", "ta5521", "errorpage"}) {
            HelpBrowser browser;
            browser.setSource(QUrl(QString::fromLatin1(page) + QStringLiteral(".html")));
            QCOMPARE(browser.visitedPages().last(), QString::fromLatin1(page));
            const QString html = browser.toHtml();
            QRegularExpression link(QStringLiteral("href=\"([a-z0-9_]+)\\.html\""));
            for (auto it = link.globalMatch(html); it.hasNext();) {
                const QString target = it.next().captured(1);
                QVERIFY2(QFile::exists(QStringLiteral(":/pluginhelp/") + target), qPrintable(target));
            }
            QRegularExpression img(QStringLiteral("src=\"([^\"]+)\""));
            for (auto it = img.globalMatch(html); it.hasNext();) {
                const QString src = it.next().captured(1);
                QVERIFY2(QFile::exists(QStringLiteral(":/") + src), qPrintable(src));
            }
        }
    }

    void pageLayoutAndButtons() {
        HelpPage page;
        QCOMPARE(page.objectName(), QStringLiteral("HelpPage"));
        QCOMPARE(page.windowTitle(), QStringLiteral("Form"));
        QCOMPARE(page.size(), QSize(640, 480));
        auto *label = page.findChild<QLabel *>(QStringLiteral("label"));
        QVERIFY(label);
        QCOMPARE(label->text(), QStringLiteral("Help"));
        QCOMPARE(label->font().pointSize(), 24);
        QVERIFY(label->font().bold());
        auto *box = page.findChild<QDialogButtonBox *>(QStringLiteral("buttons"));
        QVERIFY(box);
        const QList<QAbstractButton *> buttons = box->buttons();
        QCOMPARE(buttons.size(), 3);
        QStringList texts;
        for (QAbstractButton *b : buttons) {
            texts << b->text();
            QCOMPARE(box->buttonRole(b), QDialogButtonBox::ActionRole);
            QVERIFY(static_cast<QPushButton *>(b)->isFlat());
            QVERIFY(!b->icon().isNull());
        }
        QCOMPARE(texts, (QStringList{"&Back", "&Home", "&Forward"}));
        auto *back = static_cast<QPushButton *>(buttons[0]);
        auto *home = static_cast<QPushButton *>(buttons[1]);
        auto *fwd = static_cast<QPushButton *>(buttons[2]);
        QVERIFY(!back->isEnabled());
        QVERIFY(!fwd->isEnabled());
        QVERIFY(home->isDefault());

        auto *browser = page.findChild<HelpBrowser *>(QStringLiteral("helpContent"));
        QVERIFY(browser);
        // a followed link enables Back through the history signal
        browser->setSource(QUrl(QStringLiteral("analysis.html")));
        QVERIFY(back->isEnabled());
        QVERIFY(!fwd->isEnabled());
        back->click();
        QVERIFY(!back->isEnabled());
        QVERIFY(fwd->isEnabled());
        QCOMPARE(browser->visitedPages().at(browser->visitedPages().size() - 1 - browser->offsetFromNewest()),
                 QStringLiteral("introduction"));
        fwd->click();
        QVERIFY(back->isEnabled());
        QVERIFY(!fwd->isEnabled());
        home->click();
        QCOMPARE(browser->visitedPages(), (QStringList{"introduction", "analysis", "introduction"}));
    }

private:
    UrlSink sink;
};

QTEST_MAIN(TestHelpBrowser)
#include "help_browser_test.moc"
