#include "guihandler.h"

#include "zelanalyzer_about.h"
#include "zelanalyzer_main.h"

#include <QApplication>
#include <QDialog>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <new>

// Created when the library is loaded, before any menu action can run; stays
// null if the allocation fails, in which case creation is simply unguarded.
QMutex *GuiHandler::singletonMutex = new (std::nothrow) QMutex();
GuiHandler *GuiHandler::instance = nullptr;

GuiHandler::GuiHandler() : QObject(nullptr) {}

GuiHandler::~GuiHandler() = default;

GuiHandler *GuiHandler::getInstance() {
    if (singletonMutex) singletonMutex->lock();
    if (!instance) instance = new GuiHandler();
    GuiHandler *result = instance;
    if (singletonMutex) singletonMutex->unlock();
    return result;
}

void GuiHandler::showMainDialog(int, void *, const QString &page) {
    executeDialog([this, page] {
        auto *dialog = new ZELAnalyzer_Main(nullptr, page);
        // A reset of the "opensafety" tap closes the analysis dialog.
        connect(this, &GuiHandler::reset, dialog, &QDialog::close);
        return dialog;
    });
}

void GuiHandler::showAboutDialog(int, void *) {
    executeDialog([] { return new ZELAnalyzer_About(nullptr); });
}

void GuiHandler::doReset() { emit reset(); }

// Runs the dialog to its end and releases it: every menu activation creates a
// new dialog, so keeping closed ones would leak one per activation.
void GuiHandler::executeDialog(const std::function<QDialog *()> &createDialog) {
    if (qobject_cast<QApplication *>(QCoreApplication::instance())) {
        // Guarded: should anything delete the dialog while it runs, we must
        // not delete it again.
        QPointer<QDialog> dialog(createDialog());
        dialog->exec();
        delete dialog.data();
        return;
    }

    // No GUI application in this process (a host without Qt GUI, or a test
    // driver): run one just for this dialog. It has to exist before the
    // dialog is built, since no widget can be constructed without it.
    // argc must outlive the application.
    static int argc = 1;
    static char programName[] = "Test";
    static char *argv[] = {programName, nullptr};
    auto *app = new QApplication(argc, argv);
    QPointer<QDialog> dialog(createDialog());
    dialog->show();
    app->exec();
    // Widgets must go before the application object that owns their resources.
    delete dialog.data();
    delete app;
}
