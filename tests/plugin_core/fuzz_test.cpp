// Wireshark-style fuzzing: 200 rounds of editcap's random byte errors over
// every sample report and over real POWERLINK traffic packed into dump
// frames, all dissected by the host's tshark with the plug-in. Under the
// sanitizer build the plug-in runs with AddressSanitizer preloaded, so an
// out-of-bounds read is a failure even when it does not crash.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "samples.h"
#include "tshark_runner.h"

TEST(Fuzz, TwoHundredEditcapRoundsNeitherCrashNorTripTheSanitizer) {
  zeltest::Tshark& tshark = zeltest::shared_tshark();
  std::vector<zelbuild::Packet> seeds = zelbuild::lanyx_samples();
  for (const auto& more : {zelbuild::packed_samples(), zelbuild::lanyxplus_samples(),
                           zelbuild::opensafety_in_lanyx_samples(), zelbuild::asnd162_samples()})
    seeds.insert(seeds.end(), more.begin(), more.end());
  const std::string real = std::string(ZEL_SHARED_CAPTURES) + "/powerlink_example.pcap";
  if (std::ifstream(real)) {
    auto frames = zelbuild::read_pcap(real);
    frames.resize(std::min<size_t>(frames.size(), 120));
    const auto dumps = zelbuild::pack_into_dumps(frames, 4);
    seeds.insert(seeds.end(), dumps.begin(), dumps.end());
  }
  const std::string seed_file = tshark.write_capture("fuzz_seeds", seeds);

  const zeltest::Result fuzzed = tshark.run_program(
      "sh", {"-c",
             "cd \"$(dirname \"$0\")\" && for i in $(seq 1 200); do "
             "editcap --seed $i -E 0.02 \"$0\" fuzz_$i.pcapng || exit 1; done && "
             "mergecap -a -w fuzz_all.pcapng $(for i in $(seq 1 200); do echo fuzz_$i.pcapng; done)",
             seed_file});
  ASSERT_EQ(fuzzed.status, 0) << fuzzed.err;

  const std::string all = tshark.folder() + "/fuzz_all.pcapng";
  const zeltest::Result r = tshark.run({"-r", all, "-V", "-z", "zel_lyk,tree", "-o", "tcp.desegment_tcp_streams:FALSE"});
  EXPECT_EQ(r.status, 0) << r.err.substr(0, 4000);
  EXPECT_EQ(r.err.find("AddressSanitizer"), std::string::npos) << r.err.substr(0, 4000);
  EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err.substr(0, 4000);
  // Everything was dissected: the last round's frames are in the output.
  EXPECT_NE(r.out.find("Zelmar/Lanyx:"), std::string::npos);
  EXPECT_GT(r.out.size(), seeds.size() * 200u * 100u);
}
