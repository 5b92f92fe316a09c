#!/usr/bin/env bash
# Builds Quelvin and prints the benchmark figures (no pass/fail).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
export LIBGL_ALWAYS_SOFTWARE=1 QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/bench_quelvin
