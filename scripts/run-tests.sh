#!/usr/bin/env bash
# Installs what is missing, builds (Release, warnings as errors) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDORMAL2K_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
# Random order and at least as many tests at once as there are cores: every test process
# owns its temporary and settings folders, so no order or pairing may matter.
jobs=$(nproc)
[ "$jobs" -ge 2 ] || jobs=2
ctest --test-dir "$build" -j"$jobs" --schedule-random --output-on-failure
