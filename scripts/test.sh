#!/usr/bin/env bash
# Builds Quelvin and runs every test suite under a virtual X server with
# Mesa's software GL. --sanitize runs them on the sanitizer build instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh "$@"
dir=build
[ "${1:-}" = "--sanitize" ] && dir=build-asan
export LIBGL_ALWAYS_SOFTWARE=1 QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
cd "$dir"
exec xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure
