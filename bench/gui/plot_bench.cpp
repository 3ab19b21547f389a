// How long the statistics plot takes for long SPDO series: building the
// points of a node (the outlier decay included) and one replot, for series
// of growing length. Prints figures; asserts nothing.
#include "oscustomplot.h"

#include "osa_collection.h"
#include "osa_frame.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstring>

namespace {

osa_frame_record spdo(uint16_t sender, uint32_t frame, uint16_t counter) {
    static const uint8_t udid[6] = {0x02, 0xD7, 0xA5, 0x3C, 0x5A, 0x96};
    osa_frame_record r;
    r.sender = sender;
    r.msg_type = osa_frame::type_spdo;
    r.msg_id = osa_frame::spdo_data_only;
    r.udid_valid = true;
    std::memcpy(r.scm_udid, udid, 6);
    r.sdn = 1;
    r.frame_number = frame;
    r.has_payload = true;
    r.spdo_counter16 = counter;
    r.spdo_conn_valid = true;
    return r;
}

// One SPDO every 4 frames with a jitter of 1-7 frames, and an outlier every
// 500 SPDOs, so the decay path is exercised as in a real network.
void fill(unsigned spdos) {
    osa_tap_reset();
    uint32_t frame = 10;
    for (unsigned i = 0; i < spdos; ++i) {
        const osa_frame_record r = spdo(5, frame, uint16_t(i * 10));
        osa_tap_packet(&r);
        frame += (i % 500 == 499) ? 60 : 1 + (i * 7919) % 7;
    }
}

}  // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("%10s %14s %14s %12s\n", "SPDOs", "plot node ms", "replot ms", "points");
    for (unsigned spdos : {1000u, 10000u, 50000u, 200000u}) {
        fill(spdos);
        OSCustomPlot plot;
        plot.resize(800, 400);
        plot.setTitle(QStringLiteral("Frame Delta"));
        QElapsedTimer t;
        t.start();
        plot.plotNode(5);  // builds the points and replots once
        const double plotMs = t.nsecsElapsed() / 1e6;
        plot.xAxis->setRange(osa_first_frame(), osa_last_frame());  // the whole capture
        t.restart();
        plot.replot();
        const double replotMs = t.nsecsElapsed() / 1e6;
        std::printf("%10u %14.1f %14.1f %12d\n", spdos, plotMs, replotMs, plot.graph(0)->dataCount());
    }
    osa_tap_destroy();
    return 0;
}
