// The "Help" page of the analysis dialog: a title row with Back, Home and
// Forward buttons above the help browser.
#pragma once

#include <QWidget>

class QAbstractButton;
class QPushButton;

namespace Ui {
class HelpPage;
}

class HelpPage : public QWidget {
    Q_OBJECT

public:
    explicit HelpPage(QWidget *parent = nullptr);
    ~HelpPage() override;

private slots:
    void on_buttons_clicked(QAbstractButton *button);
    void on_helpContent_historyChanged();

private:
    void updateNavigation();

    Ui::HelpPage *ui;
    QPushButton *btnBack;
    QPushButton *btnHome;
    QPushButton *btnForward;
};
