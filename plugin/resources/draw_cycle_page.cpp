// Renders the "POWERLINK Cycle" page to a PNG for its help page: the page
// itself (offscreen, no display needed) on the samples of a generated
// 400 µs network with three CNs, some jitter, two cycles beyond the
// deviation bands, a late answer and the events the analysis raises for them.
// Run at build time, so the help shows the page as built.
//
// Usage: zel_draw_cycle_page <file.png>
#include "cycle_samples.h"
#include "flowlens.h"

#include "plkcyclepage.h"

#include <QApplication>

#include <cstdio>

namespace {
constexpr uint32_t kNominalUs = 400;
constexpr int kCycles = 600;
constexpr int kFramesPerCycle = 8;  // SoC, 3 x PReq/PRes, SoA

// A fixed pseudo-random sequence: the picture is the same on every build.
uint32_t next(uint32_t &state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

void fill(flowlens_cycle_samples &s) {
    uint32_t random = 20250101;
    uint64_t now = 1'700'000'000'000'000'000ull;
    for (int k = 0; k < kCycles; ++k) {
        const uint64_t soc = 1 + uint64_t(k) * kFramesPerCycle;
        int64_t cycle = k == 0 ? 0 : int64_t(kNominalUs) * 1000 + int64_t(next(random) % 6001) - 3000;
        if (k == 330) cycle = 423'000;  // 5.75 % late
        if (k == 470) cycle = 356'000;  // 11 % early
        now += uint64_t(cycle);
        s.add_cycle(0, soc, now, uint64_t(cycle), k == 0 ? 0 : kNominalUs);
        if (k == 330) s.add_event(0, soc, 2, flowlens_event_texts[FLOWLENS_EV_DEVIATION_5]);
        if (k == 470) {
            s.add_event(0, soc, 2, flowlens_event_texts[FLOWLENS_EV_DEVIATION_5]);
            s.add_event(0, soc, 2, flowlens_event_texts[FLOWLENS_EV_DEVIATION_10]);
        }
        for (uint8_t node = 1; node <= 3; ++node) {
            const uint64_t preq = soc + 2 * node - 1;
            uint64_t response = 6'000 + node * 1'500 + next(random) % 800;
            if (node == 2 && k % 97 == 41) response += 9'000;  // a CN that now and then answers slowly
            if (node == 3 && k == 400) {
                s.add_late(0, node);
                s.add_event(0, preq + 1, 2, flowlens_event_texts[FLOWLENS_EV_LOSS_OF_PRES]);
                continue;
            }
            s.add_response(0, node, preq, preq + 1, now + node * 20'000, response);
        }
    }
    s.add_message(0, 2 * kFramesPerCycle + 7, 0, "Multiple ASnd (2 Slots)");
}
}  // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: zel_draw_cycle_page <file.png>\n");
        return 2;
    }
    flowlens_cycle_samples samples;
    fill(samples);
    PlkCyclePage page(nullptr, &samples);
    page.resize(page.minimumSizeHint().expandedTo(QSize(820, 540)));
    page.show();
    QApplication::processEvents();
    if (!page.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "zel_draw_cycle_page: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
