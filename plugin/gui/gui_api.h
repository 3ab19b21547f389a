/* Entry points of the plug-in's Qt window module (zelanalyzer_gui_qt5.so or
 * zelanalyzer_gui_qt6.so).
 *
 * The window module is a library of its own because the plug-in module that
 * Wireshark loads must not depend on Qt: tshark loads the same plug-in without
 * any Qt, and a Wireshark built with one Qt major must never get a second Qt
 * major mapped into its process. The plug-in's menu actions load the window
 * module built for the host's Qt major on first use (see loader/gui_loader.h)
 * and reach it only through these C functions.
 *
 * This header is plain C and free of Qt and Wireshark headers. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* Qt major version the module was built against (5 or 6). */
typedef int (*zel_gui_qt_major_fn)(void);
/* Opens the openSAFETY analysis dialog and returns when it has closed.
 * gui_type and gui_object are the host's menu-bar arguments, handed on as they are. */
typedef void (*zel_gui_show_fn)(int gui_type, void *gui_object);
/* Opens the analysis dialog on the named page and returns when it has closed.
 * page is one of the ZEL_GUI_PAGE_* names below. */
typedef void (*zel_gui_show_page_fn)(int gui_type, void *gui_object, const char *page);
/* Relays a reset of the "opensafety" tap to the open windows (closes the analysis dialog). */
typedef void (*zel_gui_reset_fn)(void);

#define ZEL_GUI_SYM_QT_MAJOR "zelanalyzer_gui_qt_major"
#define ZEL_GUI_SYM_SHOW_MAIN "zelanalyzer_gui_show_main_dialog"
#define ZEL_GUI_SYM_SHOW_ABOUT "zelanalyzer_gui_show_about_dialog"
#define ZEL_GUI_SYM_RESET "zelanalyzer_gui_do_reset"
#define ZEL_GUI_SYM_SHOW_PAGE "zelanalyzer_gui_show_main_dialog_page"

/* Pages the dialog can open on. */
#define ZEL_GUI_PAGE_POWERLINK_CYCLE "powerlink-cycle"

#ifdef __cplusplus
}
#endif
