#!/usr/bin/env bash
# Fuzzes the reading road and scripts with libFuzzer for SECONDS (default
# 120), seeded from the corpus, our examples and the regression inputs
# (scripted worlds among them), with a dictionary of VRML and script words.
# A crash or hang leaves its input in build-fuzz/crashes/ and fails the
# run: copy it into tests/data/fuzz/ so that the suite loads it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-120}"
# The short run is CI's: the same inputs every time (a fixed seed and a fixed
# number of them, the time only a bound), so that it fails on a change, not
# on luck or a slower machine. A long run explores with a fresh seed.
seed=1
runs=30000
if [ "$seconds" -gt 300 ]; then seed=0; runs=-1; fi
bash scripts/setup.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELVIN_FUZZ=ON \
  -DQUELVIN_WERROR="${QUELVIN_WERROR:-OFF}" > /dev/null
cmake --build build-fuzz -j "$(nproc)" --target fuzz_reader
seeds="$(mktemp -d)"
work="$(mktemp -d)"
trap 'rm -rf "$seeds" "$work"' EXIT
# Seeds: every scene file we have, each under a name of its own.
i=0
for f in $(find ../shared/corpus examples tests/data -type f \( -name '*.wrl' -o -name '*.iv' -o -name '*.wrz' -o -name '*.gz' -o -path '*/fuzz/*' \)); do
  cp "$f" "$seeds/$i-$(basename "$f")"; i=$((i + 1))
done
mkdir -p build-fuzz/crashes
# No leak check here: the inputs start scripts, and Qt's JavaScript engine
# keeps what a script holds (names, strings) in memory it maps itself, which
# LeakSanitizer does not scan, so every script would look like a leak. The
# leak-checked suites of the sanitizer build cover the reading road.
export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
build-fuzz/fuzz_reader -detect_leaks=0 -max_total_time="$seconds" -seed="$seed" -runs="$runs" -timeout=10 -rss_limit_mb=3072 -max_len=65536 \
  -dict=tests/fuzz_reader.dict \
  -artifact_prefix=build-fuzz/crashes/ -print_final_stats=1 "$work" "$seeds" 2>&1 | tail -25
