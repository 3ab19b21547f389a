#include "helpbrowser.h"

#include <QDesktopServices>
#include <QFile>
#include <QImage>
#include <QUrl>

namespace {
const QString kHomePage = QStringLiteral("introduction");
const QString kErrorPage = QStringLiteral("errorpage");
const QString kHelpPrefix = QStringLiteral(":/pluginhelp/");
}  // namespace

HelpBrowser::HelpBrowser(QWidget *parent) : QTextBrowser(parent), historyOffset(0) {
    setOpenExternalLinks(true);
    // Links are handled by our setSource; QTextBrowser must not try to load
    // them itself (it would look for files and clear the page).
    setOpenLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl &url) { setSource(url); });
    history.clear();
    openPage(kHomePage, true);
}

HelpBrowser::~HelpBrowser() = default;

bool HelpBrowser::canGoBackward() const { return history.size() - historyOffset - 1 > 0; }

bool HelpBrowser::canGoForward() const { return historyOffset > 0; }

void HelpBrowser::openPage(const QString &name, bool addToHistory) {
    const QString resource = kHelpPrefix + name;
    if (!QFile::exists(resource)) {
        // Without an error page there is nothing better to show: keep the content.
        if (name != kErrorPage) openPage(kErrorPage, true);
        return;
    }

    if (addToHistory) {
        if (historyOffset >= 1) {
            history = history.mid(0, history.size() - historyOffset);
            historyOffset = 0;
        }
        if (history.isEmpty() || history.last() != name) history.append(name);
        emit historyChanged();
    }

    QFile file(resource);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) setHtml(QString::fromUtf8(file.readAll()));
}

void HelpBrowser::setSource(const QUrl &url) {
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
        QDesktopServices::openUrl(url);
        return;
    }
    QString name = url.toString();
    name.remove(QStringLiteral(".html"));
    openPage(name, true);
}

void HelpBrowser::home() { openPage(kHomePage, true); }

void HelpBrowser::backward() {
    if (history.size() < 2) return;
    const int i = history.size() - historyOffset - 2;
    if (i < 0) return;
    ++historyOffset;
    openPage(history.at(i), false);
}

void HelpBrowser::forward() {
    if (historyOffset < 1) return;
    const int i = history.size() - historyOffset;
    if (i < 1) return;
    --historyOffset;
    openPage(history.at(i), false);
}

QVariant HelpBrowser::loadResource(int type, const QUrl &name) {
    if (type != QTextDocument::ImageResource) return QTextBrowser::loadResource(type, name);

    const QString text = name.toString();
    for (const QString &candidate : {QStringLiteral(":/") + text, kHelpPrefix + text}) {
        if (QFile::exists(candidate)) return QImage(candidate);
    }
    QImage blank(1, 1, QImage::Format_RGB32);
    blank.fill(Qt::white);
    return blank;
}
