#!/usr/bin/env bash
# Builds Quelvin and prints the benchmark: Quelvin's own paths against a
# floor of bare Coin and Qt, medians of alternating rounds and their ratios
# (figures, no pass/fail; about two minutes on two idle cores).
# Arguments go to bench_quelvin, for instance --rounds 3.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
export LIBGL_ALWAYS_SOFTWARE=1 QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/bench_quelvin "$@"
