// Text and CSV forms of the cycle samples (see cycle_report.h).
#include "cycle_report.h"

#include <cinttypes>

namespace {

constexpr char RULE[] = "==================================================================================\n";

bool has_samples(const flowlens_cycle_samples &s, unsigned network) {
    return !s.cycles(network).empty() || s.response_count(network) != 0 || !s.cn_summaries(network).empty();
}

// Deviation from the nominal cycle time, ns; false when either is unknown.
bool deviation_of(const flowlens_cycle_point &p, int64_t *deviation) {
    if (p.nominal_us == 0 || p.cycle_time == 0) return false;
    *deviation = int64_t(p.cycle_time) - int64_t(p.nominal_us) * 1000;
    return true;
}

// ns as "seconds.nanoseconds" / microseconds with three decimals.
void print_seconds(std::FILE *out, uint64_t ns) {
    std::fprintf(out, "%10" PRIu64 ".%09" PRIu64, ns / 1000000000u, ns % 1000000000u);
}

void print_us(std::FILE *out, int width, int64_t ns) {
    const char *sign = ns < 0 ? "-" : "";
    uint64_t magnitude = ns < 0 ? uint64_t(-ns) : uint64_t(ns);
    char text[40];
    std::snprintf(text, sizeof text, "%s%" PRIu64 ".%03" PRIu64, sign, magnitude / 1000, magnitude % 1000);
    std::fprintf(out, "%*s", width, text);
}

void text_cycles(std::FILE *out, const flowlens_cycle_samples &s, unsigned network) {
    const std::vector<flowlens_cycle_point> &cycles = s.cycles(network);
    if (s.cycle_stride(network) == 1)
        std::fprintf(out, "Network %u: %" PRIu64 " SoCs (all shown)\n", network + 1, s.cycle_count(network));
    else
        std::fprintf(out, "Network %u: %" PRIu64 " SoCs, %zu shown (the most deviating of every %" PRIu32 ")\n",
                     network + 1, s.cycle_count(network), cycles.size(), s.cycle_stride(network));
    std::fprintf(out, "%12s  %20s  %14s  %14s  %9s\n", "SoC frame", "Time (s)", "Cycle (us)", "Deviation (us)",
                 "Dev. (%)");
    for (const flowlens_cycle_point &p : cycles) {
        std::fprintf(out, "%12" PRIu64 "  ", p.soc_frame);
        print_seconds(out, p.soc_time);
        std::fprintf(out, "  ");
        print_us(out, 14, int64_t(p.cycle_time));
        int64_t deviation = 0;
        if (deviation_of(p, &deviation)) {
            std::fprintf(out, "  ");
            print_us(out, 14, deviation);
            std::fprintf(out, "  %9.2f\n", double(deviation) / (double(p.nominal_us) * 10.0));
        } else {
            std::fprintf(out, "  %14s  %9s\n", "-", "-");
        }
    }
}

void text_responses(std::FILE *out, const flowlens_cycle_samples &s, unsigned network) {
    std::fprintf(out, "\nCN response times (PReq -> PRes), network %u: %" PRIu64 " answers\n", network + 1,
                 s.response_count(network));
    std::fprintf(out, "%6s  %12s  %12s  %12s  %12s  %10s\n", "Node", "Count", "Min (us)", "Avg (us)", "Max (us)",
                 "Late");
    for (const flowlens_cn_response_summary &cn : s.cn_summaries(network)) {
        std::fprintf(out, "%6u  %12" PRIu64 "  ", unsigned(cn.node), cn.count);
        if (cn.count != 0) {
            print_us(out, 12, int64_t(cn.min));
            std::fprintf(out, "  ");
            print_us(out, 12, int64_t(cn.sum / cn.count));
            std::fprintf(out, "  ");
            print_us(out, 12, int64_t(cn.max));
        } else {
            std::fprintf(out, "%12s  %12s  %12s", "-", "-", "-");
        }
        std::fprintf(out, "  %10" PRIu64 "\n", cn.late);
    }
}

}  // namespace

void flowlens_write_cycles_text(std::FILE *out, const flowlens_cycle_samples *samples) {
    std::fprintf(out, "\n%sPOWERLINK Cycles\n", RULE);
    bool any = false;
    for (unsigned network = 0; samples != nullptr && network < 2; ++network) {
        if (!has_samples(*samples, network)) continue;
        std::fprintf(out, "%s", any ? "\n" : "");
        any = true;
        text_cycles(out, *samples, network);
        text_responses(out, *samples, network);
    }
    if (!any) std::fprintf(out, "No POWERLINK cycle found.\n");
    std::fprintf(out, "%s", RULE);
}

void flowlens_write_cycles_csv(std::FILE *out, const flowlens_cycle_samples *samples) {
    std::fprintf(out,
                 "record,network,stride,frame,time_ns,cycle_time_ns,nominal_us,deviation_ns,"
                 "node,count,min_ns,avg_ns,max_ns,late\n");
    for (unsigned network = 0; samples != nullptr && network < 2; ++network) {
        const unsigned number = network + 1;
        for (const flowlens_cycle_point &p : samples->cycles(network)) {
            std::fprintf(out, "cycle,%u,%" PRIu32 ",%" PRIu64 ",%" PRIu64 ",%" PRIu64 ",%" PRIu32 ",", number,
                         samples->cycle_stride(network), p.soc_frame, p.soc_time, p.cycle_time, p.nominal_us);
            int64_t deviation = 0;
            if (deviation_of(p, &deviation)) std::fprintf(out, "%" PRId64, deviation);
            std::fprintf(out, ",,,,,,\n");
        }
        for (const flowlens_cn_response_summary &cn : samples->cn_summaries(network)) {
            std::fprintf(out, "cn,%u,%" PRIu32 ",,,,,,%u,%" PRIu64 ",", number, samples->response_stride(network),
                         unsigned(cn.node), cn.count);
            if (cn.count != 0)
                std::fprintf(out, "%" PRIu64 ",%" PRIu64 ",%" PRIu64 ",", cn.min, cn.sum / cn.count, cn.max);
            else
                std::fprintf(out, ",,,");
            std::fprintf(out, "%" PRIu64 "\n", cn.late);
        }
    }
}
