// The C entry points of the window module (see gui_api.h).
#include "gui_api.h"
#include "guihandler.h"

#include <QString>
#include <QtGlobal>

#define ZEL_GUI_EXPORT extern "C" __attribute__((visibility("default")))

ZEL_GUI_EXPORT int zelanalyzer_gui_qt_major(void) { return QT_VERSION_MAJOR; }

ZEL_GUI_EXPORT void zelanalyzer_gui_show_main_dialog(int gui_type, void *gui_object) {
    GuiHandler::getInstance()->showMainDialog(gui_type, gui_object);
}

ZEL_GUI_EXPORT void zelanalyzer_gui_show_main_dialog_page(int gui_type, void *gui_object, const char *page) {
    GuiHandler::getInstance()->showMainDialog(gui_type, gui_object, QString::fromUtf8(page ? page : ""));
}

ZEL_GUI_EXPORT void zelanalyzer_gui_show_about_dialog(int gui_type, void *gui_object) {
    GuiHandler::getInstance()->showAboutDialog(gui_type, gui_object);
}

ZEL_GUI_EXPORT void zelanalyzer_gui_do_reset(void) { GuiHandler::getInstance()->doReset(); }
