// The "Network" page: every detected safety node with its addresses, state,
// SCM UDID and frame counts, as a snapshot taken when the page is opened.
#pragma once

#include <QWidget>

class NodeInfoItemModel;

namespace Ui {
class openSAFETYNetworkPage;
}

class openSAFETYNetworkPage : public QWidget {
    Q_OBJECT

public:
    explicit openSAFETYNetworkPage(QWidget *parent = nullptr);
    ~openSAFETYNetworkPage() override;

private:
    Ui::openSAFETYNetworkPage *ui;
    NodeInfoItemModel *model;
};
