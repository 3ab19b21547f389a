// Describes one page of the analysis dialog: its list icon and title, which
// page widget it creates, and whether it is listed only when openSAFETY data
// were collected.
#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

class QListWidgetItem;
class QStackedWidget;
class QWidget;

class MainPageEntry : public QObject {
    Q_OBJECT
    Q_PROPERTY(QIcon image READ getImage CONSTANT)
    Q_PROPERTY(QString title READ getTitle CONSTANT)
    Q_PROPERTY(PageTypes pageType READ type CONSTANT)

public:
    enum PageTypes {
        PageNetwork = 0,
        PageAnalysis = 1,
        PageFrameDelta = 2,
        PageCounterDelta = 3,
        PageHelp = 4,
        PageNone = 5,
        PagePowerlinkCycle = 6
    };
    Q_ENUM(PageTypes)

    MainPageEntry(const QIcon &image, const QString &title, PageTypes pageType, bool needsData);
    ~MainPageEntry() override;

    // A new list item for the entry, or null when the entry is not listed
    // (PageNone, or data needed and none collected: no openSAFETY node for
    // the openSAFETY pages, no POWERLINK cycle for the cycle page). With
    // evenWithoutData the entry is listed without its data (the page then
    // says what is missing).
    QListWidgetItem *createListItem(bool evenWithoutData = false);
    // A new page of the entry's type, or null for PageNone.
    QWidget *createPage(QStackedWidget *stack);

    QIcon getImage() const { return image; }
    QString getTitle() const { return title; }
    PageTypes type() const { return pageType; }
    bool getNeedsData() const { return needsData; }

    // True when the openSAFETY collection holds nodes the pages would list.
    static bool openSafetyDataPresent();
    // True when the POWERLINK analysis kept cycles of a network.
    static bool powerlinkCyclesPresent();

private:
    QIcon image;
    QString title;
    PageTypes pageType;
    bool needsData;
};

Q_DECLARE_METATYPE(MainPageEntry *)
