// The "Network" page: every detected safety node with its addresses, state,
// SCM UDID and frame counts, as a snapshot taken when the page is opened.
#ifndef ZELANALYZER_OPENSAFETYNETWORKPAGE_H
#define ZELANALYZER_OPENSAFETYNETWORKPAGE_H

#include <QWidget>

class NodeInfoItemModel;

namespace Ui {
class openSAFETYNetworkPage;
}

class openSAFETYNetworkPage : public QWidget
{
    Q_OBJECT

public:
    explicit openSAFETYNetworkPage(QWidget *parent = nullptr);
    ~openSAFETYNetworkPage() override;

private:
    Ui::openSAFETYNetworkPage *ui;
    NodeInfoItemModel *model;
};

#endif
