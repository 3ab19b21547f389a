// The analysis dialog: an icon list of pages on the left and the page of the
// clicked entry on the right.
#pragma once

#include <QDialog>
#include <QList>

class MainPageEntry;
class QAbstractButton;
class QListWidgetItem;

namespace Ui {
class ZELAnalyzer_Main;
}

class ZELAnalyzer_Main : public QDialog {
    Q_OBJECT

public:
    // page: the ZEL_GUI_PAGE_* name (gui_api.h) of the page to open on; empty
    // or not listed: the first page.
    explicit ZELAnalyzer_Main(QWidget *parent = nullptr, const QString &page = QString());
    ~ZELAnalyzer_Main() override;

private slots:
    void on_listOptions_itemClicked(QListWidgetItem *item);
    void on_buttonBox_clicked(QAbstractButton *button);

private:
    void showPage(QListWidgetItem *item);

    Ui::ZELAnalyzer_Main *ui;
    QList<MainPageEntry *> entries;
};
