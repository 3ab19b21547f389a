// Actions of the plug-in's two menu-bar entries. The module itself carries
// no Qt, so tshark loads it without a GUI; the plug-in's Qt part installs the
// handlers that open its windows when Wireshark's GUI loads it. Until a
// handler is installed an entry does nothing.
#pragma once

#include <epan/plugin_if.h>

#include "zelanalyzer.h"

// Help > "About Zelmar Analyzer" > "General information".
void zelanalyzer_menu_about(ext_menubar_gui_type gui_type, gpointer gui_object, gpointer user_data);
// Tools > "openSAFETY" > "openSAFETY Analysis".
void zelanalyzer_menu_opensafety_analysis(ext_menubar_gui_type gui_type, gpointer gui_object,
                                          gpointer user_data);

// What the Qt part runs for each entry; NULL removes a handler.
typedef void (*zelanalyzer_menu_handler)(ext_menubar_gui_type gui_type, gpointer gui_object);
ZELANALYZER_API void zelanalyzer_set_menu_handlers(zelanalyzer_menu_handler about,
                                                   zelanalyzer_menu_handler opensafety_analysis);
