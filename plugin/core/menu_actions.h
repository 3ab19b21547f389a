// Actions of the plug-in's menu-bar entries. The module itself carries
// no Qt, so tshark loads it without a GUI; the entries open the windows of the
// plug-in's Qt window module, which the actions load on first use for the Qt
// major the host runs (plugin/gui/loader/gui_loader.h). Where no suitable
// window module can be loaded, an entry shows a message box that says which
// module is missing and where it was looked for, and opens nothing.
#pragma once

#include <epan/plugin_if.h>

#include "protocol.h"

// Help > "About Zelmar Analyzer" > "General information".
void zelanalyzer_menu_about(ext_menubar_gui_type gui_type, gpointer gui_object, gpointer user_data);
// Tools > "openSAFETY" > "openSAFETY Analysis": adds one more "opensafety"
// tap listener whose reset closes the analysis dialog, then opens the dialog.
void zelanalyzer_menu_opensafety_analysis(ext_menubar_gui_type gui_type, gpointer gui_object, gpointer user_data);
// Tools > "POWERLINK" > "Cycle Analysis": the same dialog, opened on its
// "POWERLINK Cycle" page (closed by the same reset).
void zelanalyzer_menu_powerlink_cycle(ext_menubar_gui_type gui_type, gpointer gui_object, gpointer user_data);

// Replaces what an entry runs instead of loading the window module (an
// embedding host or a test); NULL restores the window module.
typedef void (*zelanalyzer_menu_handler)(ext_menubar_gui_type gui_type, gpointer gui_object);
ZELANALYZER_API void zelanalyzer_set_menu_handlers(zelanalyzer_menu_handler about,
                                                   zelanalyzer_menu_handler opensafety_analysis,
                                                   zelanalyzer_menu_handler powerlink_cycle);
