#include "menu_actions.h"

#include <epan/tap.h>
#include <wsutil/report_message.h>

#include "gui_loader.h"

namespace {
zelanalyzer_menu_handler about_handler = NULL;
zelanalyzer_menu_handler opensafety_analysis_handler = NULL;
zelanalyzer_menu_handler powerlink_cycle_handler = NULL;

// The only callback of the listener each activation adds: a reset of the
// "opensafety" tap (new file, retap) closes the open analysis dialog.
void opensafety_gui_reset(void *) { zel_gui::doReset(); }

// One more listener per activation, never removed: after n activations a
// reset relays n times, which closes at most the one open dialog.
void listen_for_dialog_reset() {
    GString *error = register_tap_listener("opensafety", NULL, NULL, 0, opensafety_gui_reset, NULL, NULL, NULL);
    if (error != NULL) g_string_free(error, TRUE);
}

// Whether the window module is loaded; if not, says why in the host's error
// dialog (Wireshark shows report_failure in a message box; the GLib warning
// alone would only reach a terminal the user never sees).
bool window_module_ready() {
    if (zel_gui::ensureLoaded()) return true;
    report_failure("The Zelmar Analyzer windows cannot be opened: %s.", zel_gui::loadFailure().c_str());
    return false;
}
}  // namespace

void zelanalyzer_set_menu_handlers(zelanalyzer_menu_handler about, zelanalyzer_menu_handler opensafety_analysis,
                                   zelanalyzer_menu_handler powerlink_cycle) {
    about_handler = about;
    opensafety_analysis_handler = opensafety_analysis;
    powerlink_cycle_handler = powerlink_cycle;
}

void zelanalyzer_menu_about(ext_menubar_gui_type gui_type, gpointer gui_object, gpointer) {
    if (about_handler != NULL) {
        about_handler(gui_type, gui_object);
        return;
    }
    if (window_module_ready()) zel_gui::showAboutDialog(static_cast<int>(gui_type), gui_object);
}

void zelanalyzer_menu_opensafety_analysis(ext_menubar_gui_type gui_type, gpointer gui_object, gpointer) {
    listen_for_dialog_reset();
    if (opensafety_analysis_handler != NULL) {
        opensafety_analysis_handler(gui_type, gui_object);
        return;
    }
    if (window_module_ready()) zel_gui::showMainDialog(static_cast<int>(gui_type), gui_object);
}

void zelanalyzer_menu_powerlink_cycle(ext_menubar_gui_type gui_type, gpointer gui_object, gpointer) {
    // Every tap is reset on a new file or a retap, "opensafety" too: the same
    // listener closes the dialog, whose cycle page shows the analysis before it.
    listen_for_dialog_reset();
    if (powerlink_cycle_handler != NULL) {
        powerlink_cycle_handler(gui_type, gui_object);
        return;
    }
    if (window_module_ready()) zel_gui::showPowerlinkCycle(static_cast<int>(gui_type), gui_object);
}
