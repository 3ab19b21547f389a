// The singleton behind the plug-in's menu actions: creates the requested
// dialog, runs it, and relays resets of the "opensafety" tap to open windows.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QDialog;
class QMutex;

class GuiHandler : public QObject {
    Q_OBJECT

public:
    static GuiHandler *getInstance();

    // guiType and guiObject are the host's menu-bar arguments; the dialogs do
    // not need them. page names the page the dialog opens on (a ZEL_GUI_PAGE_*
    // name of gui_api.h); empty or unknown: the first page listed.
    void showMainDialog(int guiType, void *guiObject, const QString &page = QString());
    void showAboutDialog(int guiType, void *guiObject);

public slots:
    void doReset();

signals:
    void reset();

private:
    GuiHandler();
    ~GuiHandler() override;
    // Takes a factory, not a dialog: without a running application the
    // application must exist before any widget is constructed.
    void executeDialog(const std::function<QDialog *()> &createDialog);

    static QMutex *singletonMutex;
    static GuiHandler *instance;
};
