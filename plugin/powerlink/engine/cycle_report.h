// The cycle samples as text: what `tshark -z zel_epl,cycles[,csv]` prints
// after the capture.
//
// Text: per network with samples, a block "Network N" (N = 1 or 2, the
// statistics tree's "Port N") with one row per kept cycle sample (SoC
// frame, time in s since 1970, cycle time in us, deviation from the nominal
// cycle time in us and per cent) and one row per CN (count, min, avg, max
// in us, late).
//
// CSV: one header line, then one row per line, every field a plain number
// (times in ns, exact):
//   record,network,stride,frame,time_ns,cycle_time_ns,nominal_us,deviation_ns,node,count,min_ns,avg_ns,max_ns,late
//   record "cycle": network, cycle stride, SoC frame, SoC time, cycle time
//     (0 for the network's first SoC), nominal cycle time (0 = unknown),
//     deviation = cycle time - nominal (signed; empty when the nominal time
//     or the cycle time is unknown); node..late empty.
//   record "cn": network, response stride, node, count, min, avg (sum /
//     count, rounded down), max (min/avg/max empty without answers), late;
//     frame..deviation empty. The summaries are exact whatever the stride.
#pragma once

#include <cstdio>

#include "cycle_samples.h"

void flowlens_write_cycles_text(std::FILE *out, const flowlens_cycle_samples *samples);
void flowlens_write_cycles_csv(std::FILE *out, const flowlens_cycle_samples *samples);
