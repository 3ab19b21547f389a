// Renders every window of the plug-in to PNG files (offscreen, no display
// needed), for the documentation: the analysis dialog with each of its pages
// on a generated openSAFETY network dissected by Wireshark, and the about
// dialog.
//
// Usage: zel_gui_screenshots <output-dir>
//        zel_gui_screenshots --capture <file.pcapng>   writes the generated network only
//        zel_gui_screenshots --grab-screen <file.png> [x y w h]   grabs the screen (X display),
//                                                     or the rectangle given
#include "ws_harness.h"
#include "osa_gen.h"
#include "zelanalyzer_about.h"
#include "oscustomplot.h"
#include "zelanalyzer_main.h"

#include <QCheckBox>

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QTemporaryDir>

#include <QScreen>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
osa_gen::config networkConfig() {
    osa_gen::config cfg = osa_gen::default_config();
    cfg.cycles = 400;
    return cfg;
}

// The delta pages open on their first row, the SCM, which sends no SPDOs of
// its own; show node 3, which loses cycles, instead.
void showInterestingNode(QWidget *dialog, bool withSyncErrors) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // the replaced page
    auto *plot = dialog->findChild<OSCustomPlot *>(QStringLiteral("wdgCustomPlot"));
    if (!plot) return;
    plot->plotNode(3);
    if (withSyncErrors) plot->setShowSyncError(true);
    if (auto *box = dialog->findChild<QCheckBox *>(QStringLiteral("checkShowNetworkSyncError")))
        box->setChecked(withSyncErrors);
}

bool save(QWidget *widget, const QString &dir, const QString &name) {
    QApplication::processEvents();
    const QString path = dir + QLatin1Char('/') + name;
    if (!widget->grab().save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}
}  // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if ((argc == 3 || argc == 7) && std::strcmp(argv[1], "--grab-screen") == 0) {
        QScreen *screen = QGuiApplication::primaryScreen();
        int area[4] = {0, 0, -1, -1};
        for (int i = 0; argc == 7 && i < 4; ++i) area[i] = std::atoi(argv[3 + i]);
        return screen && screen->grabWindow(0, area[0], area[1], area[2], area[3])
                             .save(QString::fromLocal8Bit(argv[2]), "PNG")
                   ? 0
                   : 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "--capture") == 0) {
        std::string err;
        if (!osa_gen::write_pcap(osa_gen::generate(networkConfig()), argv[2], true, &err)) {
            std::fprintf(stderr, "%s\n", err.c_str());
            return 1;
        }
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr,
                     "usage: zel_gui_screenshots <output-dir> | --capture <file> | "
                     "--grab-screen <file> [x y w h]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);

    // A generated network of six safety nodes with lost cycles, a counter
    // wrap, a validity change and a virtual address, dissected by Wireshark.
    QTemporaryDir tmp;
    const std::string capture = tmp.filePath(QStringLiteral("network.pcapng")).toStdString();
    std::string err;
    if (!osa_gen::write_pcap(osa_gen::generate(networkConfig()), capture, true, &err) ||
        !osa_ws_dissect_file(capture, &err)) {
        std::fprintf(stderr, "cannot prepare the capture: %s\n", err.c_str());
        return 1;
    }

    bool ok = true;
    {
        ZELAnalyzer_Main dialog;
        dialog.show();
        auto *list = dialog.findChild<QListWidget *>(QStringLiteral("listOptions"));
        const char *files[] = {"main_network.png", "main_analysis.png", "main_framedelta.png", "main_counterdelta.png",
                               "main_help.png"};
        for (int i = 0; i < list->count() && i < 5; ++i) {
            list->setCurrentRow(i);
            emit list->itemClicked(list->item(i));
            showInterestingNode(&dialog, i == 3);
            ok &= save(&dialog, out, QString::fromLatin1(files[i]));
        }
    }
    {
        ZELAnalyzer_About about;
        about.show();
        ok &= save(&about, out, QStringLiteral("about.png"));
    }
    return ok ? 0 : 1;
}
