// A host that runs another Qt major than the built window module (Wireshark
// 4.0 on Qt 5 against our default Qt 6 build): the loader must refuse with a
// warning instead of mapping the second Qt into the process.
#include "gui_loader.h"

#include <QtGlobal>

#include <dlfcn.h>
#include <glib.h>
#include <gtest/gtest.h>

#include <string>

namespace {
std::string g_warnings;
void recordWarning(const gchar *, GLogLevelFlags, const gchar *message, gpointer) { g_warnings += message; }
}  // namespace

TEST(GuiLoaderForeignQt, RefusesTheOtherQtMajor) {
    // this program links the other Qt's core library, as the host would
    ASSERT_STRNE(qVersion(), "");
    ASSERT_EQ(zel_gui::hostQtMajor(), QT_VERSION_MAJOR);
    g_log_set_handler(nullptr, G_LOG_LEVEL_WARNING, recordWarning, nullptr);
    setenv("ZELANALYZER_GUI_DIR", ZEL_TEST_GUI_DIR, 1);
    EXPECT_FALSE(zel_gui::ensureLoaded());
    EXPECT_NE(g_warnings.find("cannot load the window module"), std::string::npos) << g_warnings;
    EXPECT_NE(g_warnings.find(zel_gui::moduleFileName(QT_VERSION_MAJOR)), std::string::npos) << g_warnings;
    const char *other = QT_VERSION_MAJOR == 5 ? "Qt_6" : "Qt_5";
    EXPECT_EQ(dlvsym(RTLD_DEFAULT, "qVersion", other), nullptr) << "a second Qt major was mapped";
}
