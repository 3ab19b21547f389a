// The Qt-free loader the plug-in's menu actions use: which window module it
// picks, where it looks, and that a failed load leaves the process without a
// second Qt. Each load scenario runs in a child process, because a loaded (or
// failed) module stays so for the life of the process.
#include "gui_loader.h"

#include <dlfcn.h>
#include <glib.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#ifndef ZEL_TEST_GUI_DIR
#error "ZEL_TEST_GUI_DIR must name the folder of the built window module"
#endif
#ifndef ZEL_TEST_FAKE_GUI_DIR
#error "ZEL_TEST_FAKE_GUI_DIR must name the folder of the impostor module"
#endif
#ifndef ZEL_TEST_QT_MAJOR
#error "ZEL_TEST_QT_MAJOR must name the Qt major of the built window module"
#endif

namespace {

std::string g_warnings;

void recordWarning(const gchar *, GLogLevelFlags, const gchar *message, gpointer) {
    g_warnings += message;
    g_warnings += '\n';
}

void captureWarnings() {
    g_warnings.clear();
    g_log_set_handler(nullptr, G_LOG_LEVEL_WARNING, recordWarning, nullptr);
}

// Ends a child scenario; the warnings explain a failure in the test output.
[[noreturn]] void finish(bool ok) {
    if (!ok) std::fprintf(stderr, "warnings: %s\n", g_warnings.c_str());
    std::exit(ok ? 0 : 1);
}

bool qtMapped(const char *version) { return dlvsym(RTLD_DEFAULT, "qVersion", version) != nullptr; }

}  // namespace

TEST(GuiLoader, PicksTheHostsQtMajor) {
    EXPECT_EQ(zel_gui::chooseQtMajor(0, 6), 6);
    EXPECT_EQ(zel_gui::chooseQtMajor(0, 5), 5);
    EXPECT_EQ(zel_gui::chooseQtMajor(5, 6), 5);
    EXPECT_EQ(zel_gui::chooseQtMajor(6, 5), 6);
    EXPECT_EQ(zel_gui::chooseQtMajor(7, 6), 0);
    EXPECT_EQ(zel_gui::moduleFileName(5), "zelanalyzer_gui_qt5.so");
    EXPECT_EQ(zel_gui::moduleFileName(6), "zelanalyzer_gui_qt6.so");
}

TEST(GuiLoader, ThisProcessHasNoQt) {
    // The loader itself must not drag Qt in: tshark loads it too.
    EXPECT_EQ(zel_gui::hostQtMajor(), 0);
    EXPECT_FALSE(qtMapped("Qt_5"));
    EXPECT_FALSE(qtMapped("Qt_6"));
}

TEST(GuiLoader, LooksBesideTheModuleUnlessTold) {
    unsetenv("ZELANALYZER_GUI_DIR");
    const std::string dir = zel_gui::moduleDirectory();
    // linked into this test program, so "beside the module" is beside the program
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = '\0';
    std::string exe(self);
    EXPECT_EQ(dir, exe.substr(0, exe.rfind('/')) + "/zelanalyzer-gui");
    setenv("ZELANALYZER_GUI_DIR", "/opt/elsewhere", 1);
    EXPECT_EQ(zel_gui::moduleDirectory(), "/opt/elsewhere");
    unsetenv("ZELANALYZER_GUI_DIR");
}

TEST(GuiLoaderDeathTest, MissingModuleWarnsAndLoadsNoQt) {
    EXPECT_EXIT(
        {
            captureWarnings();
            setenv("ZELANALYZER_GUI_DIR", "/nonexistent-zelanalyzer-gui", 1);
            zel_gui::doReset();  // nothing loaded: nothing to relay, no load attempt
            bool ok = g_warnings.empty();
            ok = ok && !zel_gui::ensureLoaded();
            ok = ok && g_warnings.find("cannot load the window module") != std::string::npos;
            ok = ok && g_warnings.find("/nonexistent-zelanalyzer-gui/zelanalyzer_gui_qt") != std::string::npos;
            // what the menu actions show the user: which module, that it is
            // missing, and the folder it was looked for in
            const std::string why = zel_gui::loadFailure();
            const std::string major = std::to_string(ZEL_TEST_QT_MAJOR);
            ok = ok && why == "cannot load the window module for Qt " + major +
                                  ": /nonexistent-zelanalyzer-gui/zelanalyzer_gui_qt" + major + ".so is missing";
            // a failed module is not tried again on every click
            g_warnings.clear();
            zel_gui::showAboutDialog(0, nullptr);
            ok = ok && g_warnings.empty();
            ok = ok && zel_gui::hostQtMajor() == 0;
            finish(ok);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(GuiLoaderDeathTest, RejectsALibraryThatIsNoWindowModule) {
    EXPECT_EXIT(
        {
            captureWarnings();
            // a real shared library under the module's name, without its entry points
            setenv("ZELANALYZER_GUI_DIR", ZEL_TEST_FAKE_GUI_DIR, 1);
            bool ok = zel_gui::loadFailure().empty() && !zel_gui::ensureLoaded();
            ok = ok && g_warnings.find("is not a window module") != std::string::npos;
            ok = ok && zel_gui::loadFailure().find("is not a window module for Qt") != std::string::npos;
            finish(ok);
        },
        ::testing::ExitedWithCode(0), "");
}

#ifndef ZEL_TEST_NO_GUI_MODULE
TEST(GuiLoaderDeathTest, LoadsTheBuiltModuleWithoutAHostQt) {
    EXPECT_EXIT(
        {
            captureWarnings();
            setenv("ZELANALYZER_GUI_DIR", ZEL_TEST_GUI_DIR, 1);
            bool ok = zel_gui::ensureLoaded();
            ok = ok && g_warnings.empty();
            // the module brought its own Qt (bound locally to the module)
            const std::string qtCore =
                "libQt" + std::to_string(ZEL_TEST_QT_MAJOR) + "Core.so." + std::to_string(ZEL_TEST_QT_MAJOR);
            ok = ok && dlopen(qtCore.c_str(), RTLD_LAZY | RTLD_NOLOAD) != nullptr;
            ok = ok && zel_gui::ensureLoaded();  // loaded once, answered from then on
            zel_gui::doReset();                  // no window open: harmless
            finish(ok);
        },
        ::testing::ExitedWithCode(0), "");
}
#endif
