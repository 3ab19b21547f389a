// Wireshark-style fuzzing: 200 rounds of editcap's random byte errors over
// every sample report, over real POWERLINK traffic packed into dump frames,
// and over the analyzer simulator's raw dumps (when it is built), all
// dissected by the host's tshark with the plug-in. Under the
// sanitizer build the plug-in runs with AddressSanitizer preloaded, so an
// out-of-bounds read is a failure even when it does not crash.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "samples.h"
#include "tshark_runner.h"

TEST(Fuzz, TwoHundredEditcapRoundsNeitherCrashNorTripTheSanitizer) {
    zeltest::Tshark &tshark = zeltest::shared_tshark();
    std::vector<zelbuild::Packet> seeds = zelbuild::lanyx_samples();
    for (const auto &more : {zelbuild::packed_samples(), zelbuild::lanyxplus_samples(),
                             zelbuild::opensafety_in_lanyx_samples(), zelbuild::asnd162_samples()})
        seeds.insert(seeds.end(), more.begin(), more.end());
    const std::string real = std::string(SENTRA_SHARED_CAPTURES) + "/powerlink_example.pcap";
    if (std::ifstream(real)) {
        auto frames = zelbuild::read_pcap(real);
        frames.resize(std::min<size_t>(frames.size(), 120));
        const auto dumps = zelbuild::pack_into_dumps(frames, 4);
        seeds.insert(seeds.end(), dumps.begin(), dumps.end());
    }
    std::string seed_file = tshark.write_capture("fuzz_seeds", seeds);
#ifdef ZEL_TA5521_SIM
    // The simulator's dumps of a real boot sequence, variable and fixed record
    // sizes, the first 24 dump frames of each.
    const zeltest::Result simulated = tshark.run_program(
        "sh",
        {"-c",
         "cd \"$2\" && \"$0\" --records=8 \"$1\" sim_var.pcapng >/dev/null && "
         "\"$0\" --records=4 --dump-size=72 \"$1\" sim_fixed.pcapng >/dev/null && "
         "editcap -r sim_var.pcapng sim_var24.pcapng 1-24 && editcap -r sim_fixed.pcapng sim_fixed24.pcapng 1-24 && "
         "mergecap -a -F pcapng -w seeds_all.pcapng fuzz_seeds.pcapng sim_var24.pcapng sim_fixed24.pcapng && "
         "chmod 644 seeds_all.pcapng",
         ZEL_TA5521_SIM, std::string(ZEL_REPO_SAMPLES) + "/powerlink_1cn_boot_part.pcapng", tshark.folder()},
        true);
    ASSERT_EQ(simulated.status, 0) << simulated.err;
    seed_file = tshark.folder() + "/seeds_all.pcapng";
    const auto seed_dumps = zeltest::matching_frames(tshark, seed_file, "ta5521.dumpCount > 0");
    EXPECT_GE(seed_dumps.size(), 48u) << "simulator dumps not decoded";
#endif

    const zeltest::Result fuzzed = tshark.run_program(
        "sh", {"-c",
               "cd \"$(dirname \"$0\")\" && for i in $(seq 1 200); do "
               "editcap --seed $i -E 0.02 \"$0\" fuzz_$i.pcapng || exit 1; done && "
               "mergecap -a -w fuzz_all.pcapng $(for i in $(seq 1 200); do echo fuzz_$i.pcapng; done)",
               seed_file});
    ASSERT_EQ(fuzzed.status, 0) << fuzzed.err;

    const std::string all = tshark.folder() + "/fuzz_all.pcapng";
    const zeltest::Result r = tshark.run({"-r", all, "-V", "-z", "zel_lyk,tree"});
    EXPECT_EQ(r.status, 0) << r.err.substr(0, 4000);
    EXPECT_EQ(r.err.find("AddressSanitizer"), std::string::npos) << r.err.substr(0, 4000);
    EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err.substr(0, 4000);
    // Every frame of every round was dissected.
    const size_t seed_frames = zeltest::matching_frames(tshark, seed_file, "frame").size();
    size_t dissected = 0;
    for (size_t at = r.out.find("Frame "); at != std::string::npos; at = r.out.find("\nFrame ", at + 1)) ++dissected;
    EXPECT_GE(seed_frames, seeds.size());
    EXPECT_EQ(dissected, 200 * seed_frames);
    EXPECT_NE(r.out.find("Zelmar/Lanyx:"), std::string::npos);
}
