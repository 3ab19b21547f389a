// zel_framebuilder <folder> [classic pcap to pack into dump frames]
// Writes the analyzer report samples as pcapng files into <folder>: for
// trying the plug-in by hand, and as the seed files of the fuzz test.
#include <cstdio>
#include <exception>
#include <string>

#include "analyzer_frame_builder.h"
#include "samples.h"

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <folder> [capture.pcap]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    try {
        zelbuild::write_pcapng(folder + "/lanyx.pcapng", zelbuild::lanyx_samples());
        zelbuild::write_pcapng(folder + "/ta5521.pcapng", zelbuild::packed_samples());
        zelbuild::write_pcapng(folder + "/lanyxplus.pcapng", zelbuild::lanyxplus_samples());
        zelbuild::write_pcapng(folder + "/asnd162.pcapng", zelbuild::asnd162_samples());
        zelbuild::write_pcapng(folder + "/opensafety_lanyx.pcapng", zelbuild::opensafety_in_lanyx_samples());
        if (argc > 2)
            zelbuild::write_pcapng(folder + "/ta5521_dumps.pcapng",
                                   zelbuild::pack_into_dumps(zelbuild::read_pcap(argv[2]), 4));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
