#!/usr/bin/env bash
# Speed of the GIS road (dormal2k-batch --type gis) beside GDAL's own ogr2ogr on the same
# layers.
#
#   bench/gis_speed.sh [BUILD_DIR] [POINTS] [OLDER_DORMAL2K_BATCH]   (defaults: build, 200000)
#
# Makes POINTS points with a name, a height and two attributes in ROMA40 Gauss-Boaga Est
# (EPSG:3004) inside the sample grid data/samples/0245.GK2, as delimited text, GeoPackage,
# Shapefile and GeoJSON, and converts each to the same format, to ETRF2000 UTM 33 (EPSG:6708):
#   dormal2k-batch --type gis --from EPSG:3004 --to EPSG:6708 --heights --grid 0245.GK2 IN OUT
#   ogr2ogr -f DRIVER OUT IN -s_srs EPSG:3004 -t_srs EPSG:6708     (PROJ's own transformation;
#                               text: X,Y,Z columns read and written, -lco GEOMETRY=AS_XYZ)
# in alternating runs (RUNS rounds, default 5; the order reversed every other round), and
# prints for each the median wall and processor time and dormal2k-batch's time over
# ogr2ogr's. With OLDER_DORMAL2K_BATCH the older converter alternates with them too.
set -euo pipefail

build=${1:-build}
points=${2:-200000}
old=${3:-}
rounds=${RUNS:-5}
here=$(cd "$(dirname "$0")/.." && pwd)
batch=$build/cli/dormal2k-batch
grid=$here/data/samples/0245.GK2
[ -x "$batch" ] || { echo "missing $batch: build the target dormal2k-batch first" >&2; exit 2; }
command -v ogr2ogr >/dev/null || { echo "ogr2ogr not found (Debian package gdal-bin)" >&2; exit 2; }

# BENCH_WORK names a folder to keep the layers in (made once, reused by later runs).
if [ -n "${BENCH_WORK:-}" ]; then
  work=$BENCH_WORK; mkdir -p "$work"
else
  work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
fi
export LC_ALL=C

if [ ! -s "$work/punti.csv" ] || [ "$(($(wc -l < "$work/punti.csv") - 1))" -ne "$points" ]; then
  rm -f "$work"/punti.*
  awk -v n="$points" 'BEGIN { srand(1); print "nome,nord,est,quota,codice,nota"
    for (i = 0; i < n; i++)
      printf "P%d,%.3f,%.3f,%.3f,%d,punto %d\n", i, 4692000 + 20000*rand(), 2390000 + 20000*rand(), 900*rand(), i % 1000, i
  }' > "$work/punti.csv"
  xyz=(-oo X_POSSIBLE_NAMES=est -oo Y_POSSIBLE_NAMES=nord -oo Z_POSSIBLE_NAMES=quota -oo KEEP_GEOM_COLUMNS=NO
       -a_srs EPSG:3004 -nln punti)
  ogr2ogr -f GPKG "$work/punti.gpkg" "$work/punti.csv" "${xyz[@]}"
  ogr2ogr -f "ESRI Shapefile" "$work/punti.shp" "$work/punti.csv" "${xyz[@]}"
  ogr2ogr -f GeoJSON "$work/punti.geojson" "$work/punti.csv" "${xyz[@]}"
fi

python3 - "$work" "$rounds" "$grid" "$batch" "$old" <<'EOF'
import os, shutil, statistics, subprocess, sys, time

work, rounds, grid, batch, old = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5]
out = os.path.join(work, "out")


def dormal(exe, ext):
    return [exe, "--type", "gis", "--from", "EPSG:3004", "--to", "EPSG:6708", "--heights", "--grid", grid,
            os.path.join(work, "punti" + ext), os.path.join(out, "esito" + ext)]


def ogr(driver, ext):
    cmd = ["ogr2ogr", "-f", driver, os.path.join(out, "esito" + ext), os.path.join(work, "punti" + ext),
           "-s_srs", "EPSG:3004", "-t_srs", "EPSG:6708"]
    if ext == ".csv":
        cmd += ["-oo", "X_POSSIBLE_NAMES=est", "-oo", "Y_POSSIBLE_NAMES=nord", "-oo", "Z_POSSIBLE_NAMES=quota",
                "-lco", "GEOMETRY=AS_XYZ"]
    return cmd


def timed(cmd):
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    start = time.perf_counter()
    child = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    rc = os.waitstatus_to_exitcode(status)
    if rc not in (0, 3):
        sys.exit("failed (%d): %s" % (rc, " ".join(cmd)))
    return wall, usage.ru_utime + usage.ru_stime


print("%d rounds, %s points" % (rounds, sum(1 for _ in open(os.path.join(work, "punti.csv"))) - 1))
for label, driver, ext in (("GeoPackage", "GPKG", ".gpkg"), ("CSV", "CSV", ".csv"),
                           ("Shapefile", "ESRI Shapefile", ".shp"), ("GeoJSON", "GeoJSON", ".geojson")):
    runs = [("dormal2k-batch", dormal(batch, ext)), ("ogr2ogr", ogr(driver, ext))]
    if old:
        runs.append(("older dormal2k-batch", dormal(old, ext)))
    times = {name: [] for name, _ in runs}
    for r in range(rounds):
        for name, cmd in runs if r % 2 == 0 else runs[::-1]:
            times[name].append(timed(cmd))
    med = {n: (statistics.median(w for w, _ in t), statistics.median(c for _, c in t)) for n, t in times.items()}
    for n, (w, c) in med.items():
        print("%-11s %-21s wall %6.3f s  processor %6.3f s" % (label, n, w, c))
    print("%-11s dormal2k-batch / ogr2ogr: wall %.2fx, processor %.2fx" %
          (label, med["dormal2k-batch"][0] / med["ogr2ogr"][0], med["dormal2k-batch"][1] / med["ogr2ogr"][1]))
shutil.rmtree(out, ignore_errors=True)
EOF
