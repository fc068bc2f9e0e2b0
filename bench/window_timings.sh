#!/usr/bin/env bash
# Timings of the window program: start-up (startup window, then the main window after a click
# or after the 3000 ms timer), one typed point (full chain), and data-file runs of 50,000
# points (ASCII and workbook), each on the real main window, under Qt's offscreen platform and
# under a virtual X server (Xvfb).
#
# Builds the library in a Release build folder, then the small program bench/window_timings.cpp
# against it (a CMake project of its own in BUILD/window-timings), and runs it.
# Usage: bench/window_timings.sh [BUILD_DIR] [STARTS]   (default build, 10 starts per kind)
set -euo pipefail

# One platform's measures, as "name milliseconds" lines on standard output (the script runs
# itself with --measure under the platform; program, samples, work, starts from the caller).
if [ "${1:-}" = "--measure" ]; then
  for _ in $(seq "$starts"); do
    DORMAL2K_T0_NS=$(date +%s%N) "$program" startup-click "$samples" "$work"
  done
  for _ in $(seq 3); do
    DORMAL2K_T0_NS=$(date +%s%N) "$program" startup-timer "$samples" "$work" |
      sed 's/^\([a-z_]*\) /\1_timer /'
  done
  "$program" point "$samples" "$work" 200
  "$program" batch-ascii "$samples" "$work" 5
  "$program" batch-excel "$samples" "$work" 3
  exit 0
fi

cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build}
starts=${2:-10}

command -v xvfb-run >/dev/null || { echo "missing xvfb-run (package xvfb)" >&2; exit 1; }
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' "$build/CMakeCache.txt" || {
  echo "$build is not a Release build" >&2
  exit 1
}
build=$(cd "$build" && pwd)
cmake --build "$build" --target dormal_ui >/dev/null

project="$build/window-timings"
mkdir -p "$project/src"
cat >"$project/src/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(window_timings LANGUAGES C CXX)
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
find_package(PkgConfig REQUIRED)
pkg_check_modules(DEPS REQUIRED IMPORTED_TARGET libzip xlsxwriter freexl)
find_package(EXPAT REQUIRED)
find_package(Threads REQUIRED)
add_executable(window_timings ${DORMAL2K_ROOT}/bench/window_timings.cpp)
target_include_directories(window_timings PRIVATE ${DORMAL2K_ROOT})
target_compile_options(window_timings PRIVATE -Wall -Wextra -Wpedantic)
target_link_libraries(window_timings PRIVATE
  ${DORMAL2K_BUILD}/ui/libdormal_ui.a ${DORMAL2K_BUILD}/conversion/libdormal_conversion.a
  ${DORMAL2K_BUILD}/grid/libdormal_grid.a ${DORMAL2K_BUILD}/geodesy/libdormal_geodesy.a
  Qt6::Widgets Qt6::Test PkgConfig::DEPS EXPAT::EXPAT Threads::Threads)
EOF
cmake -S "$project/src" -B "$project/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DDORMAL2K_ROOT="$root" -DDORMAL2K_BUILD="$build" >/dev/null
if ! out=$(cmake --build "$project/build" 2>&1); then
  echo "$out" >&2
  exit 1
fi
program="$project/build/window_timings"
samples="$root/data/samples"

work=$(mktemp -d)
self="$root/bench/window_timings.sh"
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime" program samples work starts
trap 'rm -rf "$work"' EXIT


# Median, least and greatest of each measure over the runs.
summary() {
  grep -v '^#' | awk '{ v[$1] = v[$1] " " $2; if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 } }
    END {
      printf "%-52s %10s %10s %10s %4s\n", "measure (ms)", "median", "min", "max", "runs"
      for (i = 1; i <= n; i++) {
        k = split(substr(v[order[i]], 2), a, " ")
        for (x = 1; x <= k; x++) for (y = x + 1; y <= k; y++) if (a[y] < a[x]) { t = a[x]; a[x] = a[y]; a[y] = t }
        med = k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
        printf "%-52s %10.1f %10.1f %10.1f %4d\n", order[i], med, a[1], a[k], k
      }
    }'
}

echo "== offscreen (QT_QPA_PLATFORM=offscreen)"
QT_QPA_PLATFORM=offscreen "$self" --measure 2> >(grep -v "^This plugin does not support" >&2) | summary
echo
echo "== Xvfb (QT_QPA_PLATFORM=xcb)"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1600x1000x24" "$self" --measure 2> >(grep -v "^This plugin does not support" >&2) | summary
