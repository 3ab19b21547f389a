// `cmake --install` lays the plug-in out where the host Wireshark looks,
// under the configured prefix, another prefix, or a DESTDIR for packaging.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <string>

#include "tshark_runner.h"

namespace {

bool exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string trimmed_output(const zeltest::Result &r) {
    std::string s = r.out;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

// The plug-in's and the capture program's install components (other parts
// of the suite may not be built in every build folder).
// Shell command with $0 = cmake, $1 = build folder, $2 = prefix or stage.
std::string install_command(const std::string &extra) {
    return "\"$0\" --install \"$1\" --component zelanalyzer " + extra +
           " >/dev/null && "
           "{ [ ! -e \"$1/capture/sentra_extcap\" ] || \"$0\" --install \"$1\" --component sentra_extcap " +
           extra + " >/dev/null; }";
}

}  // namespace

TEST(Install, DefaultLayoutIsTheHostsPluginFolder) {
    // The configured prefix plus the plug-in folder is where pkg-config says
    // Wireshark looks (unless someone chose another prefix on purpose).
    const zeltest::Result r = zeltest::shared_tshark().run_program("pkg-config", {"--variable=plugindir", "wireshark"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string host_plugindir = trimmed_output(r);
    if (std::string(ZEL_INSTALL_PREFIX) != "/usr") GTEST_SKIP() << "configured with prefix " << ZEL_INSTALL_PREFIX;
    EXPECT_EQ(std::string(ZEL_INSTALL_PREFIX) + "/" + ZEL_PLUGIN_INSTALL_DIR, host_plugindir + "/epan");
}

TEST(Install, PrefixInstallIsLoadableByTheHost) {
    zeltest::Tshark tshark;
    const std::string prefix = tshark.folder() + "/prefix";
    const zeltest::Result r = tshark.run_program(
        "sh", {"-c", install_command("--prefix \"$2\""), ZEL_CMAKE_COMMAND, ZEL_BUILD_DIR, prefix}, true);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string plugin = prefix + "/" + ZEL_PLUGIN_INSTALL_DIR + "/zelanalyzer.so";
    ASSERT_TRUE(exists(plugin)) << plugin;
    if (ZEL_HAVE_EXTCAP) {
        EXPECT_TRUE(exists(prefix + "/" + ZEL_EXTCAP_INSTALL_DIR + "/sentra_extcap"));
    }
#ifdef ZEL_GUI_MODULE_FILE
    // The plug-in's component brings its windows, in the folder the plug-in's
    // menu actions look in.
    EXPECT_TRUE(exists(prefix + "/" + ZEL_PLUGIN_INSTALL_DIR + "/zelanalyzer-gui/" ZEL_GUI_MODULE_FILE));
#endif

    // The installed tree is a plug-in folder the host accepts as it is: point
    // WIRESHARK_PLUGIN_DIR at its parent of <major.minor>/epan.
    const std::string plugins_dir = plugin.substr(0, plugin.rfind("/epan/zelanalyzer.so"));
    const std::string version_dir = plugins_dir.substr(0, plugins_dir.rfind('/'));
    const zeltest::Result loaded = tshark.run({"-G", "plugins"}, version_dir);
    EXPECT_NE(loaded.out.find(plugin), std::string::npos) << loaded.out << loaded.err;
}

TEST(Install, DestdirInstallKeepsThePrefixBelowTheStagingFolder) {
    zeltest::Tshark tshark;
    const std::string stage = tshark.folder() + "/stage";
    const zeltest::Result r = tshark.run_program(
        "sh", {"-c", "export DESTDIR=\"$2\"; " + install_command(""), ZEL_CMAKE_COMMAND, ZEL_BUILD_DIR, stage}, true);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(exists(stage + ZEL_INSTALL_PREFIX + "/" + ZEL_PLUGIN_INSTALL_DIR + "/zelanalyzer.so"));
}
