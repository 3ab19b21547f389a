/* Finds and loads the plug-in's Qt window module on first use.
 *
 * The plug-in module itself never links Qt (tshark loads it too). Its menu
 * actions call these functions; they load zelanalyzer_gui_qt<N>.so from the
 * folder "zelanalyzer-gui" beside the plug-in module (Wireshark does not scan
 * subfolders for plug-ins), where N is the Qt major already running in the
 * process. A process with a different Qt major than any module we have, or a
 * module that fails to load, gets a GLib warning and no window (mapping a
 * second Qt major into a Qt application crashes it); loadFailure() then tells
 * the menu actions what to show the user.
 *
 * Plain C++ without Qt and Wireshark headers. */
#pragma once

#include <string>

namespace zel_gui {

/* Qt major version mapped into this process (5 or 6), or 0 when there is none. */
int hostQtMajor();

/* Folder the window modules are looked up in: $ZELANALYZER_GUI_DIR when set
 * (tests, odd installations), else "zelanalyzer-gui" beside the module that
 * holds this code. Empty when that cannot be found out. */
std::string moduleDirectory();

/* File name of the window module for a Qt major: "zelanalyzer_gui_qt6.so". */
std::string moduleFileName(int qtMajor);

/* The Qt major whose window module should be loaded: the host's when one is
 * running, else the default major of this build. 0 when the host runs a Qt
 * major we do not build for. */
int chooseQtMajor(int hostMajor, int defaultMajor);

/* Loads the window module once (thread-unsafe: menu actions run on the GUI
 * thread). Returns false, after logging why, when no usable module exists. */
bool ensureLoaded();

/* Why the window module could not be loaded (what is missing and where it was
 * looked for), or "" while no load has failed. */
const std::string &loadFailure();

/* Menu actions. Each loads the module if needed and does nothing (beyond the
 * warning) when it cannot be loaded. */
void showMainDialog(int guiType, void *guiObject);
void showAboutDialog(int guiType, void *guiObject);
/* The analysis dialog opened on its "POWERLINK Cycle" page. */
void showPowerlinkCycle(int guiType, void *guiObject);
/* Relays a tap reset; does nothing while no module is loaded (no window can
 * be open then). */
void doReset();

}  // namespace zel_gui
