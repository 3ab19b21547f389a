// How long the "POWERLINK Cycle" page takes to open on long captures: the
// samples of a 400 µs network with 4 CNs, from a few thousand cycles up to
// the collector's full lists (cycles and answers decimated beyond its caps),
// the page built (plots, histogram, table) and, shown at 1120 x 600, one
// replot of each plot.
// Prints figures; asserts nothing.
#include "cycle_samples.h"
#include "plkcyclepage.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace {
void fill(flowlens_cycle_samples &s, uint64_t cycles) {
    uint64_t now = 0, frame = 1, state = 1;
    for (uint64_t k = 0; k < cycles; ++k) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const uint64_t cycle = k ? 397'000 + (state >> 33) % 6'000 : 0;
        now += cycle;
        s.add_cycle(0, frame, now, cycle, 400);
        for (uint8_t node = 1; node <= 4; ++node) {
            s.add_response(0, node, frame + 2 * node - 1, frame + 2 * node, now + node * 20'000,
                           7'000 + (state >> (40 + node)) % 3'000);
        }
        if (k % 5000 == 17) s.add_event(0, frame, 2, "Loss of PRes");
        frame += 10;
    }
}
}  // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("%10s %10s %10s %12s %12s\n", "cycles", "kept", "answers", "open ms", "replot ms");
    for (uint64_t cycles : {5'000ull, 50'000ull, 262'144ull, 1'000'000ull}) {
        flowlens_cycle_samples samples;
        fill(samples, cycles);
        QElapsedTimer t;
        t.start();
        PlkCyclePage page(nullptr, &samples);
        page.resize(1120, 600);
        const double openMs = t.nsecsElapsed() / 1e6;
        page.show();  // laid out at its size: the plots draw at full size
        QApplication::processEvents();
        t.restart();
        for (QCustomPlot *plot : page.findChildren<QCustomPlot *>()) plot->replot();
        const double replotMs = t.nsecsElapsed() / 1e6;
        std::printf("%10llu %10zu %10zu %12.1f %12.1f\n", static_cast<unsigned long long>(cycles),
                    samples.cycles(0).size(), samples.responses(0).size(), openMs, replotMs);
    }
    return 0;
}
