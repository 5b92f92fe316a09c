#!/usr/bin/env bash
# Builds Quelvin and opens the bundled sample scene.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
exec build/quelvin examples/sample.wrl
