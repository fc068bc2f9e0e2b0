#!/usr/bin/env bash
# Builds the Debian package from a Release build folder, unpacks it into a temporary root and
# runs what it installed: dormal2k-batch on the shipped sample (its report must equal the
# build's own), workbook data files (an .xls is read through the installed helper program),
# and the window, started offscreen. Usage: scripts/package-check.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
root=$(pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls -t "$build"/dormal2k_*.deb | head -n 1)
echo "Package: $deb"
dpkg-deb -I "$deb" | grep -E '^ (Package|Version|Depends):'
dpkg-deb -x "$deb" "$work/root"

args=(--from ROMA40 --from-kind plane --from-zone auto --to ETRF2000 --to-kind plane --to-zone auto
      --heights --grid "$root/data/samples/0245.GK2")
# 0: every point converted; 3: completed with points outside the grid or refused lines.
run() {
  local rc=0
  "$@" 2>/dev/null || rc=$?
  [ "$rc" -eq 0 ] || [ "$rc" -eq 3 ] || { echo "exit $rc: $*"; exit 1; }
}
run "$work/root/usr/bin/dormal2k-batch" "${args[@]}" "$root/data/samples/punti_roma40_gb.txt" "$work/installed.txt"
run "$build/cli/dormal2k-batch" "${args[@]}" "$root/data/samples/punti_roma40_gb.txt" "$work/built.txt"
cmp "$work/installed.txt" "$work/built.txt"
echo "Installed dormal2k-batch: sample report identical to the build's ($(wc -l <"$work/installed.txt") lines)"

for book in "$root"/data/samples/*.xlsx "$root"/tests/conversion/fixtures/*.xls; do
  [ -e "$book" ] || continue
  run "$work/root/usr/bin/dormal2k-batch" "${args[@]}" "$book" "$work/book.xlsx"
  echo "Installed dormal2k-batch: $(basename "$book") read"
done

# A GIS layer: the installed dormal2k-batch hands the run to the installed dormal2k-batch-gis.
printf 'nome;nord;est;quota\n1001;4694639,064;2415165,216;1272,471\n' >"$work/punti.csv"
run "$work/root/usr/bin/dormal2k-batch" --from EPSG:3004 --to EPSG:6708 --heights --grid "$root/data/samples/0245.GK2" \
  --columns nome,nord,est,quota "$work/punti.csv" "$work/punti.gpkg"
test -s "$work/punti.gpkg"
echo "Installed dormal2k-batch: a CSV converted into a GeoPackage through dormal2k-batch-gis"

grep -q "^\.TH DORMAL2K-BATCH 1" "$work/root/usr/share/man/man1/dormal2k-batch.1" || { echo "man page missing"; exit 1; }
test -s "$work/root/usr/share/applications/dormal2k.desktop"

# The window: started offscreen, it must still be running after 3 s (timeout's 124).
rc=0
(cd "$root/data/samples" && QT_QPA_PLATFORM=offscreen timeout 3 "$work/root/usr/bin/dormal2k" >/dev/null 2>&1) || rc=$?
if [ "$rc" -ne 124 ]; then
  echo "Installed window did not start (exit $rc)"
  exit 1
fi
echo "Installed window: started offscreen"
