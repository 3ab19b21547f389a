#include "menu_actions.h"

namespace {
zelanalyzer_menu_handler about_handler = NULL;
zelanalyzer_menu_handler opensafety_analysis_handler = NULL;
}  // namespace

void zelanalyzer_set_menu_handlers(zelanalyzer_menu_handler about,
                                   zelanalyzer_menu_handler opensafety_analysis) {
  about_handler = about;
  opensafety_analysis_handler = opensafety_analysis;
}

void zelanalyzer_menu_about(ext_menubar_gui_type gui_type, gpointer gui_object, gpointer) {
  if (about_handler != NULL) about_handler(gui_type, gui_object);
}

void zelanalyzer_menu_opensafety_analysis(ext_menubar_gui_type gui_type, gpointer gui_object, gpointer) {
  if (opensafety_analysis_handler != NULL) opensafety_analysis_handler(gui_type, gui_object);
}
