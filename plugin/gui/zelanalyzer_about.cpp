#include "zelanalyzer_about.h"
#include "ui_zelanalyzer_about.h"

#include <QGraphicsScene>

ZELAnalyzer_About::ZELAnalyzer_About(QWidget *parent)
    : QDialog(parent), ui(new Ui::ZELAnalyzer_About), banner(QStringLiteral(":/opensafety/aboutdialog.png")) {
    ui->setupUi(this);
    // A missing banner leaves a null pixmap: the scene is then empty and the
    // dialog opens with a blank banner area.
    scene = new QGraphicsScene(this);
    scene->addPixmap(banner);
    scene->setSceneRect(banner.rect());
    ui->bannerImage->setScene(scene);
}

ZELAnalyzer_About::~ZELAnalyzer_About() {
    delete scene;
    delete ui;
}

void ZELAnalyzer_About::on_buttonBox_clicked(QAbstractButton *) { close(); }
