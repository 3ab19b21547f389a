#include "gui_loader.h"

#include "../gui_api.h"

#include <dlfcn.h>
#include <glib.h>

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
    zel_gui_reset_fn reset = nullptr;
    bool failed = false; // tried once and failed: do not retry on every click
};

LoadedModule &module()
{
    static LoadedModule loaded;
    return loaded;
}

// The symbol versions Debian's and Qt's own builds put on QtCore's exports.
bool qtMajorMapped(const char *version)
{
    return dlvsym(RTLD_DEFAULT, "qVersion", version) != nullptr;
}

// Makes the plug-in module's own symbols visible to the window module. The
// host opens plug-ins with local binding, but the window module reads the
// openSAFETY collection that lives in the plug-in module; promoting the
// already loaded module to global binding (RTLD_NOLOAD) lets the dynamic
// linker resolve those references to the one collection instead of a copy.
void exposeOwnSymbols()
{
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&exposeOwnSymbols), &info) == 0 || !info.dli_fname)
        return;
    if (void *self = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_GLOBAL))
        dlclose(self); // drops only the reference RTLD_NOLOAD added
}

} // namespace

int hostQtMajor()
{
    if (qtMajorMapped("Qt_6"))
        return 6;
    if (qtMajorMapped("Qt_5"))
        return 5;
    return 0;
}

int chooseQtMajor(int hostMajor, int defaultMajor)
{
    if (hostMajor == 0)
        return defaultMajor;
    if (hostMajor == 5 || hostMajor == 6)
        return hostMajor;
    return 0;
}

std::string moduleFileName(int qtMajor)
{
    return "zelanalyzer_gui_qt" + std::to_string(qtMajor) + ".so";
}

std::string moduleDirectory()
{
    if (const char *dir = std::getenv("ZELANALYZER_GUI_DIR"); dir && *dir)
        return dir;
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&moduleDirectory), &info) == 0 || !info.dli_fname)
        return std::string();
    std::string path = info.dli_fname;
    const std::string::size_type slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    return folder + "/zelanalyzer-gui";
}

bool ensureLoaded()
{
    LoadedModule &m = module();
    if (m.handle)
        return true;
    if (m.failed)
        return false;

    const int host = hostQtMajor();
    const int major = chooseQtMajor(host, ZEL_GUI_DEFAULT_QT_MAJOR);
    if (major == 0) {
        g_log(nullptr, G_LOG_LEVEL_WARNING, "zelanalyzer: the host runs Qt %d, no window module exists for it", host);
        m.failed = true;
        return false;
    }
    const std::string dir = moduleDirectory();
    if (dir.empty()) {
        g_log(nullptr, G_LOG_LEVEL_WARNING, "zelanalyzer: cannot tell where the window module is installed");
        m.failed = true;
        return false;
    }
    const std::string path = dir + "/" + moduleFileName(major);

    exposeOwnSymbols();
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        g_log(nullptr, G_LOG_LEVEL_WARNING, "zelanalyzer: cannot load the window module %s: %s", path.c_str(),
              dlerror());
        m.failed = true;
        return false;
    }
    auto qtMajor = reinterpret_cast<zel_gui_qt_major_fn>(dlsym(handle, ZEL_GUI_SYM_QT_MAJOR));
    auto showMain = reinterpret_cast<zel_gui_show_fn>(dlsym(handle, ZEL_GUI_SYM_SHOW_MAIN));
    auto showAbout = reinterpret_cast<zel_gui_show_fn>(dlsym(handle, ZEL_GUI_SYM_SHOW_ABOUT));
    auto reset = reinterpret_cast<zel_gui_reset_fn>(dlsym(handle, ZEL_GUI_SYM_RESET));
    if (!qtMajor || !showMain || !showAbout || !reset || qtMajor() != major) {
        g_log(nullptr, G_LOG_LEVEL_WARNING, "zelanalyzer: %s is not a window module for Qt %d", path.c_str(), major);
        // Never unloaded: a Qt library's static state does not survive dlclose.
        m.failed = true;
        return false;
    }
    m.handle = handle;
    m.showMain = showMain;
    m.showAbout = showAbout;
    m.reset = reset;
    return true;
}

void showMainDialog(int guiType, void *guiObject)
{
    if (ensureLoaded())
        module().showMain(guiType, guiObject);
}

void showAboutDialog(int guiType, void *guiObject)
{
    if (ensureLoaded())
        module().showAbout(guiType, guiObject);
}

void doReset()
{
    if (module().handle)
        module().reset();
}

} // namespace zel_gui
