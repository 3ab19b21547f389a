// The window module reaches the running analysis's samples in the plug-in
// module: plk_cycle_samples() and the collector's members are exported from
// the plug-in (its engine is otherwise hidden), and a module that uses them
// binds to the plug-in's copy once the plug-in's symbols are global (as the
// window loader makes them) and cannot load without it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PlkSamplesExport, WindowModuleBindsToThePluginsCollector) {
    void *alone = dlopen(ZEL_SAMPLES_READER, RTLD_NOW | RTLD_LOCAL);
    const std::string error = alone ? "" : dlerror();
    EXPECT_EQ(alone, nullptr) << "the reader must not carry a collector of its own";
    EXPECT_NE(error.find("cycle_samples"), std::string::npos) << error;
    if (alone) dlclose(alone);

    void *plugin = dlopen(ZEL_PLUGIN_PATH, RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(plugin, nullptr) << dlerror();
    void *reader = dlopen(ZEL_SAMPLES_READER, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(reader, nullptr) << dlerror();
    auto points = reinterpret_cast<long (*)(unsigned)>(dlsym(reader, "reader_live_points"));
    ASSERT_NE(points, nullptr) << dlerror();
    EXPECT_EQ(points(0), -1) << "no analysis runs before the first tap reset";
    // The reader's reference is the plug-in's own function.
    void *own = dlsym(plugin, "_Z17plk_cycle_samplesv");
    ASSERT_NE(own, nullptr) << dlerror();
    Dl_info info;
    ASSERT_NE(dladdr(own, &info), 0);
    EXPECT_NE(std::string(info.dli_fname).find("zelanalyzer"), std::string::npos) << info.dli_fname;
    dlclose(reader);
}

}  // namespace
