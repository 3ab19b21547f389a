#include "zelplot.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QMenu>
#include <QStandardPaths>

namespace {
// Width of exported images; the height keeps the widget's aspect ratio.
constexpr int kExportWidth = 800;
}  // namespace

ZelPlot::ZelPlot(QWidget *parent)
    : QCustomPlot(parent), menu(new QMenu(this)), legendAction(new QAction(tr("&Display Legend"), this)) {
    setContextMenuPolicy(Qt::CustomContextMenu);
    legendAction->setCheckable(true);
    legendAction->setChecked(true);
    connect(legendAction, &QAction::triggered, this, &ZelPlot::displayLegendActionTriggered);
    connect(this, &QWidget::customContextMenuRequested, this, &ZelPlot::customPlotMenuRequested);
}

ZelPlot::~ZelPlot() = default;

QCPRange ZelPlot::guardXRange(const QCPRange &requested, double firstFrame, double lastFrame) {
    if (requested.size() > lastFrame - firstFrame) return QCPRange(firstFrame, lastFrame);
    QCPRange r = requested;
    if (r.lower < firstFrame) r = QCPRange(firstFrame, firstFrame + requested.size());
    if (r.upper > lastFrame) r = QCPRange(lastFrame - requested.size(), lastFrame);
    return r;
}

void ZelPlot::customPlotMenuRequested(const QPoint &pos) {
    menu->clear();
    QAction *reset = menu->addAction(tr("&Reset Scale"));
    connect(reset, &QAction::triggered, this, &ZelPlot::resetActionTriggered);
    menu->addAction(legendAction);
    menu->addSeparator();
    QAction *save = menu->addAction(tr("&Save Image"));
    connect(save, &QAction::triggered, this, &ZelPlot::saveActionTriggered);
    QAction *clip = menu->addAction(tr("Save to &Clipboard"));
    connect(clip, &QAction::triggered, this, &ZelPlot::clipboardActionTriggered);
    menu->popup(mapToGlobal(pos));
}

QSize ZelPlot::exportSize() const {
    const int w = width() > 0 ? width() : 1;
    return QSize(kExportWidth, height() * kExportWidth / w);
}

bool ZelPlot::saveImage(const QString &fileName) {
    // A cancelled file dialog gives an empty name: nothing is written (not
    // even an image called ".png" in the current folder).
    if (fileName.isEmpty()) return false;
    QString name = fileName;
    if (!name.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) name += QStringLiteral(".png");
    const QSize size = exportSize();
    return savePng(name, size.width(), size.height(), 1.0, -1, 96);
}

void ZelPlot::saveActionTriggered() {
    const QStringList documents = QStandardPaths::standardLocations(QStandardPaths::DocumentsLocation);
    const QString fileName = QFileDialog::getSaveFileName(
        this, tr("Choose name for file"), documents.isEmpty() ? QString() : documents.last(), tr("PNG Files (*.png)"));
    saveImage(fileName);
    menu->hide();
}

void ZelPlot::clipboardActionTriggered() {
    const QSize size = exportSize();
    QApplication::clipboard()->setPixmap(toPixmap(size.width(), size.height(), 1.0));
    menu->hide();
}

void ZelPlot::displayLegendActionTriggered() {
    legend->setVisible(legendAction->isChecked());
    menu->hide();
    legendToggled();
}

void ZelPlot::resetActionTriggered() {
    menu->hide();
    resetScale();
}
