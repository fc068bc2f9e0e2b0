#!/usr/bin/env bash
# Builds the libFuzzer targets (clang; address and undefined-behaviour sanitizers) in
# build-fuzz and runs each for SECONDS on a copy of its seed corpus from fuzz/corpus/, so the
# committed corpus is never written; then the mutation run of the GIS layers. Exits non-zero on
# any crash, hang, leak or sanitizer report, or a damaged layer converted as if whole.
# Usage: scripts/run-fuzz.sh SECONDS
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:?usage: scripts/run-fuzz.sh SECONDS}
case $seconds in
  '' | *[!0-9]*) echo "SECONDS must be a whole number" >&2; exit 2 ;;
esac

build=build-fuzz
targets=(grid_reader ascii_reader workbook_reader xls_reader)

echo "== Fuzz build (clang, -fsanitize=fuzzer,address,undefined) =="
# -O1 -g without NDEBUG: assertions stay on and reports name their lines.
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
  -DDORMAL2K_FUZZ=ON -DDORMAL2K_BUILD_UI=OFF -DBUILD_TESTING=OFF -DDORMAL2K_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

work="$build/fuzz-work"
failed=()
for t in "${targets[@]}"; do
  dir="$work/$t"
  rm -rf "$dir"
  mkdir -p "$dir/corpus" "$dir/artifacts"
  cp fuzz/corpus/"$t"/* "$dir/corpus/"
  echo "== fuzz_$t, ${seconds} s =="
  rc=0
  max_len=()
  # ascii_reader inputs are recipes that expand (repeat counts) to streams of megabytes.
  [ "$t" = ascii_reader ] && max_len=(-max_len=16384)
  "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=25 -print_final_stats=1 "${max_len[@]}" \
    -artifact_prefix="$dir/artifacts/" "$dir/corpus" >"$dir/log" 2>&1 || rc=$?
  # A report counts even if the process somehow exited 0.
  if [ "$rc" -ne 0 ] || grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|SUMMARY: ' "$dir/log"; then
    echo "fuzz_$t FAILED (exit $rc); log: $dir/log; inputs: $dir/artifacts/"
    grep -E 'ERROR:|runtime error:|SUMMARY:|Test unit written' "$dir/log" | head -20 || true
    failed+=("$t")
  else
    grep -E '^stat::number_of_executed_units|^Done ' "$dir/log" | tail -2 || true
    echo "fuzz_$t: no findings"
  fi
done

# GIS layers: thousands of damaged GeoPackages, shapefiles, GeoJSON, DXF and delimited texts
# through the Release build's converter (scripts/run-tests.sh builds it), each under a time
# limit: no signal, no hang, no success that read less than the data holds.
echo "== GIS layers, damaged copies (scripts/gis-mutate.py) =="
batch=${GIS_MUTATE_BATCH:-build/cli/dormal2k-batch}
if [ ! -x "$batch" ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j"$(nproc)" --target dormal2k-batch
fi
/usr/bin/python3 scripts/gis-mutate.py --batch "$batch" --failures "$work/gis-mutate" || failed+=(gis-mutate)

if [ "${#failed[@]}" -ne 0 ]; then
  echo "Fuzzing found faults in: ${failed[*]}"
  exit 1
fi
echo "Fuzzing: no findings"
