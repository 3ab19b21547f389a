// The frame log table of the "Analysis" page: one node's connection events
// in frame order, with a context menu that copies one message.
#pragma once

#include <QTableView>

class QMenu;
class QSortFilterProxyModel;

class OSFrameLogView : public QTableView {
    Q_OBJECT

public:
    explicit OSFrameLogView(QWidget *parent = nullptr);
    ~OSFrameLogView() override;

    // Shows the log model sorted by ascending frame number.
    void setModel(QAbstractItemModel *model) override;

    QMenu *contextMenu() const { return menu; }

public slots:
    void tableContextMenuRequested(const QPoint &pos);
    void copyActionTriggered();

private:
    QMenu *menu;
    QSortFilterProxyModel *proxy;
};
