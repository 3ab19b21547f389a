#include "helppage.h"
#include "ui_helppage.h"

#include <QPushButton>

namespace {
QPushButton *makeNavigationButton(const QString &text, const QString &icon, bool enabled) {
    auto *button = new QPushButton(QIcon(icon), text);
    button->setFlat(true);
    button->setEnabled(enabled);
    return button;
}
}  // namespace

HelpPage::HelpPage(QWidget *parent) : QWidget(parent), ui(new Ui::HelpPage) {
    ui->setupUi(this);

    btnBack = makeNavigationButton(tr("&Back"), QStringLiteral(":/general/back.png"), false);
    btnHome = makeNavigationButton(tr("&Home"), QStringLiteral(":/general/home.png"), true);
    btnForward = makeNavigationButton(tr("&Forward"), QStringLiteral(":/general/forward.png"), false);
    btnBack->setObjectName(QStringLiteral("btnBack"));
    btnHome->setObjectName(QStringLiteral("btnHome"));
    btnForward->setObjectName(QStringLiteral("btnForward"));
    btnHome->setDefault(true);
    ui->buttons->addButton(btnBack, QDialogButtonBox::ActionRole);
    ui->buttons->addButton(btnHome, QDialogButtonBox::ActionRole);
    ui->buttons->addButton(btnForward, QDialogButtonBox::ActionRole);
}

HelpPage::~HelpPage() { delete ui; }

void HelpPage::on_buttons_clicked(QAbstractButton *button) {
    if (button == btnHome)
        ui->helpContent->home();
    else if (button == btnBack)
        ui->helpContent->backward();
    else if (button == btnForward)
        ui->helpContent->forward();
    updateNavigation();
}

void HelpPage::on_helpContent_historyChanged() { updateNavigation(); }

void HelpPage::updateNavigation() {
    btnBack->setEnabled(ui->helpContent->canGoBackward());
    btnForward->setEnabled(ui->helpContent->canGoForward());
}
