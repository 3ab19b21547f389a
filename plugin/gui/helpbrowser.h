// A text browser for the plug-in's compiled-in help: finds pages by name
// among the resources, keeps its own history, loads images from the
// resources and sends web links to the system's browser.
#pragma once

#include <QStringList>
#include <QTextBrowser>

class HelpBrowser : public QTextBrowser {
    Q_OBJECT

public:
    explicit HelpBrowser(QWidget *parent = nullptr);
    ~HelpBrowser() override;

    QVariant loadResource(int type, const QUrl &name) override;

    bool canGoBackward() const;
    bool canGoForward() const;

    // Read access for the page and its tests.
    const QStringList &visitedPages() const { return history; }
    int offsetFromNewest() const { return historyOffset; }

public slots:
    void backward() override;
    void forward() override;
    void home() override;
    // Link activation. Hides QTextBrowser::setSource on purpose: every link
    // of the help pages must go through the resource lookup below.
    virtual void setSource(const QUrl &url);

private:
    void openPage(const QString &name, bool addToHistory);

    QStringList history;
    int historyOffset;
};
