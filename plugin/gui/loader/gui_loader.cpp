#include "gui_loader.h"

#include "../gui_api.h"

#include <dlfcn.h>
#include <glib.h>

#include <sys/stat.h>

#include <cstdlib>
#include <string>

#ifndef ZEL_GUI_DEFAULT_QT_MAJOR
#define ZEL_GUI_DEFAULT_QT_MAJOR 6
#endif

namespace zel_gui {

namespace {

struct LoadedModule {
    void *handle = nullptr;
    zel_gui_show_fn showMain = nullptr;
    zel_gui_show_fn showAbout = nullptr;
    zel_gui_show_page_fn showPage = nullptr;
    zel_gui_reset_fn reset = nullptr;
    bool failed = false;  // tried once and failed: do not retry on every click
    std::string failure;  // why, in words for the user
};

LoadedModule &module() {
    static LoadedModule loaded;
    return loaded;
}

// The symbol versions Debian's and Qt's own builds put on QtCore's exports.
bool qtMajorMapped(const char *version) { return dlvsym(RTLD_DEFAULT, "qVersion", version) != nullptr; }

// Makes the plug-in module's own symbols visible to the window module. The
// host opens plug-ins with local binding, but the window module reads the
// openSAFETY collection that lives in the plug-in module; promoting the
// already loaded module to global binding (RTLD_NOLOAD) lets the dynamic
// linker resolve those references to the one collection instead of a copy.
void exposeOwnSymbols() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&exposeOwnSymbols), &info) == 0 || !info.dli_fname) return;
    if (void *self = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_GLOBAL))
        dlclose(self);  // drops only the reference RTLD_NOLOAD added
}

// Logs the reason a load failed and keeps it for the menu actions to show.
bool fail(LoadedModule &m, std::string why) {
    g_log(nullptr, G_LOG_LEVEL_WARNING, "zelanalyzer: %s", why.c_str());
    m.failed = true;
    m.failure = std::move(why);
    return false;
}

bool fileExists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

}  // namespace

int hostQtMajor() {
    if (qtMajorMapped("Qt_6")) return 6;
    if (qtMajorMapped("Qt_5")) return 5;
    return 0;
}

int chooseQtMajor(int hostMajor, int defaultMajor) {
    if (hostMajor == 0) return defaultMajor;
    if (hostMajor == 5 || hostMajor == 6) return hostMajor;
    return 0;
}

std::string moduleFileName(int qtMajor) { return "zelanalyzer_gui_qt" + std::to_string(qtMajor) + ".so"; }

std::string moduleDirectory() {
    if (const char *dir = std::getenv("ZELANALYZER_GUI_DIR"); dir && *dir) return dir;
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&moduleDirectory), &info) == 0 || !info.dli_fname) return std::string();
    std::string path = info.dli_fname;
    const std::string::size_type slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    return folder + "/zelanalyzer-gui";
}

bool ensureLoaded() {
    LoadedModule &m = module();
    if (m.handle) return true;
    if (m.failed) return false;

    const int host = hostQtMajor();
    const int major = chooseQtMajor(host, ZEL_GUI_DEFAULT_QT_MAJOR);
    if (major == 0) return fail(m, "the host runs Qt " + std::to_string(host) + ", no window module exists for it");
    const std::string dir = moduleDirectory();
    if (dir.empty()) return fail(m, "cannot tell where the window module is installed");
    const std::string path = dir + "/" + moduleFileName(major);
    const std::string qt = "Qt " + std::to_string(major);

    exposeOwnSymbols();
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char *error = dlerror();
        const std::string cannot = "cannot load the window module for " + qt + ": ";
        if (!fileExists(path)) return fail(m, cannot + path + " is missing");
        return fail(m, cannot + (error ? error : path));
    }
    auto qtMajor = reinterpret_cast<zel_gui_qt_major_fn>(dlsym(handle, ZEL_GUI_SYM_QT_MAJOR));
    auto showMain = reinterpret_cast<zel_gui_show_fn>(dlsym(handle, ZEL_GUI_SYM_SHOW_MAIN));
    auto showAbout = reinterpret_cast<zel_gui_show_fn>(dlsym(handle, ZEL_GUI_SYM_SHOW_ABOUT));
    auto reset = reinterpret_cast<zel_gui_reset_fn>(dlsym(handle, ZEL_GUI_SYM_RESET));
    auto showPage = reinterpret_cast<zel_gui_show_page_fn>(dlsym(handle, ZEL_GUI_SYM_SHOW_PAGE));
    // Never unloaded when wrong: a Qt library's static state does not survive dlclose.
    if (!qtMajor || !showMain || !showAbout || !reset || !showPage || qtMajor() != major)
        return fail(m, path + " is not a window module for " + qt);
    m.handle = handle;
    m.showMain = showMain;
    m.showAbout = showAbout;
    m.reset = reset;
    m.showPage = showPage;
    return true;
}

const std::string &loadFailure() { return module().failure; }

void showMainDialog(int guiType, void *guiObject) {
    if (ensureLoaded()) module().showMain(guiType, guiObject);
}

void showPowerlinkCycle(int guiType, void *guiObject) {
    if (ensureLoaded()) module().showPage(guiType, guiObject, ZEL_GUI_PAGE_POWERLINK_CYCLE);
}

void showAboutDialog(int guiType, void *guiObject) {
    if (ensureLoaded()) module().showAbout(guiType, guiObject);
}

void doReset() {
    if (module().handle) module().reset();
}

}  // namespace zel_gui
