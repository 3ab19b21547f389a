// The small modal "About" dialog: banner, name, version and legal notice.
#pragma once

#include <QDialog>
#include <QPixmap>

class QAbstractButton;
class QGraphicsScene;

namespace Ui {
class ZELAnalyzer_About;
}

class ZELAnalyzer_About : public QDialog {
    Q_OBJECT

public:
    explicit ZELAnalyzer_About(QWidget *parent = nullptr);
    ~ZELAnalyzer_About() override;

private slots:
    void on_buttonBox_clicked(QAbstractButton *button);

private:
    Ui::ZELAnalyzer_About *ui;
    QPixmap banner;
    QGraphicsScene *scene;
};
