#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan, coverage), seeds them
# from the captures, the analyzer simulator and the openSAFETY generator, runs
# each for a fixed time and fails on any finding (crash, sanitizer report,
# leak, hang or broken invariant). Prints the line coverage each target
# reached in the code it is there for.
#
# Usage: scripts/fuzz.sh [seconds-per-target] [fuzz-build-dir] [tools-build-dir]
#   seconds-per-target  default 30 (or $SENTRA_FUZZ_SECONDS)
#   fuzz-build-dir      default build-fuzz
#   tools-build-dir     a normal build holding ta5521_sim and osa_gen (default build;
#                       configured and the two tools built when missing)
# Findings are kept as <fuzz-build-dir>/findings/<target>-crash-..., the grown
# corpora in <fuzz-build-dir>/corpus/<target> (a longer run starts from them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-${SENTRA_FUZZ_SECONDS:-30}}
build=${2:-$root/build-fuzz}
tools=${3:-$root/build}
case $build in /*) ;; *) build=$PWD/$build ;; esac
case $tools in /*) ;; *) tools=$PWD/$tools ;; esac

probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' >"$probe/p.cpp"
if ! command -v clang++ >/dev/null 2>&1 || ! clang++ -fsanitize=fuzzer "$probe/p.cpp" -o "$probe/p" >/dev/null 2>&1; then
  echo "fuzz: skipped: clang with libFuzzer is not installed (Debian: clang libclang-rt-14-dev)"
  exit 0
fi
profdata=$(command -v llvm-profdata || command -v llvm-profdata-14 || true)
llvmcov=$(command -v llvm-cov || command -v llvm-cov-14 || true)

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DSENTRA_FUZZ=ON -DBUILD_TESTING=OFF -DSENTRA_BUILD_BENCH=OFF -DSENTRA_BUILD_GUI=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_targets
if [ ! -f "$tools/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$tools" -DBUILD_TESTING=OFF -DSENTRA_BUILD_BENCH=OFF -DSENTRA_BUILD_GUI=OFF "${launcher[@]}" >/dev/null
fi
cmake --build "$tools" -j"$(nproc)" --target ta5521_sim osa_gen >/dev/null

seeds=$build/seeds
rm -rf "$seeds"
python3 "$root/fuzz/make_corpus.py" "$seeds" --sim "$tools/tools/ta5521_sim/ta5521_sim" \
  --gen "$tools/tools/osa_gen/osa_gen" --captures "$root/../shared/captures" --captures "$root/samples"

# Each target with the source files it exists to exercise.
declare -A units=(
  [fuzz_dump_frames]="capture/dump_frame.cpp capture/dump_processor.cpp capture/capture_buffer.cpp"
  [fuzz_replay_reader]="capture/replay_reader.cpp"
  [fuzz_control_pipe]="capture/control_channel.cpp"
  [fuzz_flowlens]="$(cd "$root" && echo plugin/powerlink/engine/*.cpp)"
  [fuzz_opensafety]="$(cd "$root" && echo plugin/opensafety/engine/*.cpp)"
  [fuzz_analyzer_frames]="plugin/core/analyzer_frames.cpp"
)
targets=(fuzz_dump_frames fuzz_replay_reader fuzz_control_pipe fuzz_flowlens fuzz_opensafety fuzz_analyzer_frames)

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$build/findings" "$build/corpus" "$build/profiles" "$build/logs"
failed=()
summary=()
for t in "${targets[@]}"; do
  bin=$build/fuzz/$t
  [ -x "$bin" ] || { echo "fuzz: $t was not built"; failed+=("$t"); continue; }
  mkdir -p "$build/corpus/$t"
  echo "fuzz: $t for ${seconds}s"
  dict=()
  [ -f "$root/fuzz/$t.dict" ] && dict=(-dict="$root/fuzz/$t.dict")
  if ! LLVM_PROFILE_FILE="$build/profiles/run-$t.profraw" "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "${dict[@]}" \
      -artifact_prefix="$build/findings/$t-" "$build/corpus/$t" "$seeds/$t" >"$build/logs/$t.log" 2>&1; then
    echo "fuzz: $t FOUND A FAULT (log: $build/logs/$t.log)"
    tail -n 40 "$build/logs/$t.log"
    failed+=("$t")
    continue
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/logs/$t.log")
  line="$t: ${execs:-?} runs, corpus $(ls "$build/corpus/$t" | wc -l) inputs"
  if [ -n "$profdata" ] && [ -n "$llvmcov" ]; then
    # Coverage of the corpus the run ended with, replayed once.
    rm -f "$build/profiles/$t"-*.profraw
    LLVM_PROFILE_FILE="$build/profiles/$t-%p.profraw" "$bin" -runs=0 "$build/corpus/$t" "$seeds/$t" \
      >/dev/null 2>&1 || true
    "$profdata" merge -sparse "$build/profiles/$t"-*.profraw -o "$build/profiles/$t.profdata"
    # The build records relative source paths (ccache): match the units by
    # their path below the source folder.
    percent=$("$llvmcov" export -summary-only -instr-profile="$build/profiles/$t.profdata" "$bin" 2>/dev/null |
      python3 -c '
import json, os, sys
units = sys.argv[1].split()
count = covered = 0
for f in json.load(sys.stdin)["data"][0]["files"]:
    name = os.path.normpath(f["filename"])
    if any(name == u or name.endswith(os.sep + u) for u in units):
        count += f["summary"]["lines"]["count"]
        covered += f["summary"]["lines"]["covered"]
print("%.1f %% of %d lines" % (100.0 * covered / count if count else 0.0, count))' "${units[$t]}")
    line="$line, line coverage $percent (${units[$t]// /, })"
  fi
  summary+=("$line")
done
echo "fuzz: summary"
for s in "${summary[@]}"; do echo "  $s"; done
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: findings in ${failed[*]}; inputs in $build/findings"
  exit 1
fi
echo "fuzz: no finding"
