#!/usr/bin/env bash
# Whole-process speed of dormal2k-batch, and of PROJ's cct on the same points.
#
#   bench/batch_speed.sh [BUILD_DIR] [POINTS] [OLDER_DORMAL2K_BATCH]   (defaults: build, 1000000)
#
# Runs (median of RUNS runs, alternating with the older converter when one is given):
#   1. full chain: POINTS points ROMA40 Gauss-Boaga (automatic zone) -> ETRF2000 UTM
#      (automatic zone) with heights, ASCII, through a synthetic map-sheet portion; on every
#      core, on one core (taskset -c 0), and the report to a pipe against awk printing the
#      same points;
#   2. the window's largest run: the same with 50,000 points, ASCII and workbook;
#   3. projection only: POINTS points ETRF2000 UTM 32 -> UTM 33, dormal2k-batch against
#      cct -d 3 +proj=pipeline +step +inv +proj=utm +zone=32 +ellps=GRS80
#               +step +proj=utm +zone=33 +ellps=GRS80
#      on points between 11.5 and 12.5 E, and the largest difference between the two results;
# then how many times cct's time is dormal2k-batch's (full chain and projection only, on the
# same number of points) and the pipe run's time against awk's.
# The grid portion is synthetic (dormal2k-gridgen): made-up values, not real corrections.
set -euo pipefail

build=${1:-build}
points=${2:-1000000}
old=${3:-}
batch=$build/cli/dormal2k-batch
gridgen=$build/tools/dormal2k-gridgen
for exe in "$batch" "$gridgen"; do
  [ -x "$exe" ] || { echo "missing $exe: build the targets dormal2k-batch and dormal2k-gridgen first" >&2; exit 2; }
done
command -v cct >/dev/null || { echo "cct not found (Debian package proj-bin)" >&2; exit 2; }

# BENCH_WORK names a folder to keep the points in (made once, reused by later runs).
if [ -n "${BENCH_WORK:-}" ]; then
  work=$BENCH_WORK; mkdir -p "$work"
else
  work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
fi
export LC_ALL=C
: > "$work/medians"

"$gridgen" --kind FOGLIO --lat 41.40 --lon 14.80 --name 4321 --out "$work" >/dev/null
grid=$work/4321.GK2

# Random points as sexagesimal gg.ppssdddd: by default inside the portion's area (41.46 to
# 41.75 N, 14.90 to 15.32 E); `mm` moves ROMA40 longitudes to Monte Mario.
geo_points() { # $1 count, $2 1 for ROMA40 longitudes, [$3 south $4 height $5 west $6 width]
  awk -v n="$1" -v roma="$2" -v s="${3:-41.47}" -v h="${4:-0.27}" -v w="${5:-14.92}" -v wd="${6:-0.38}" 'BEGIN {
    mm = roma ? 12 + 27/60 + 8.4/3600 : 0; srand(1)
    for (i = 0; i < n; i++) printf "G%d %s %s\n", i, dms(s + h*rand()), dms(w + wd*rand() - mm)
  }
  function dms(d,  s, g, m, sec, sign) {
    sign = d < 0 ? "-" : ""; s = d < 0 ? -d : d; g = int(s); m = int((s - g) * 60)
    sec = ((s - g) * 60 - m) * 60; if (sec >= 59.99995) { sec = 0; m++ } if (m == 60) { m = 0; g++ }
    return sprintf("%s%d.%02d%02d%04d", sign, g, m, int(sec), int((sec - int(sec)) * 10000 + 0.5) % 10000)
  }'
}

# Plane points of one system and zone, made by dormal2k-batch itself from geographic ones,
# then written as "name North East height".
plane_points() { # $1 count, $2 system, $3 zone, $4 output file, [$5.. area as geo_points]
  local roma=0; [ "$2" = ROMA40 ] && roma=1
  geo_points "$1" "$roma" "${@:5}" > "$work/geo.txt"
  "$batch" --from "$2" --to "$2" --to-kind plane --to-zone "$3" "$work/geo.txt" "$work/plane.rep" 2>/dev/null
  awk '!/^\// { printf "%s %s %s %d\n", $1, $4, $5, 100 + NR % 500 }' "$work/plane.rep" | tr -d '\r' > "$4"
}

# A data workbook (.xlsx) from an ASCII data file: row 1 headings, then A name, B, C, D.
to_workbook() { # $1 ascii, $2 xlsx
  python3 - "$1" "$2" <<'EOF'
import sys, zipfile
rows = ['<row r="1"><c r="A1" t="inlineStr"><is><t>Numero</t></is></c></row>']
for i, line in enumerate(open(sys.argv[1]), start=2):
    n, a, b, h = line.split()
    rows.append(f'<row r="{i}"><c r="A{i}" t="inlineStr"><is><t>{n}</t></is></c>'
                f'<c r="B{i}"><v>{a}</v></c><c r="C{i}"><v>{b}</v></c><c r="D{i}"><v>{h}</v></c></row>')
ns = 'http://schemas.openxmlformats.org/spreadsheetml/2006/main'
rel = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
with zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('[Content_Types].xml', '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/></Types>')
    z.writestr('_rels/.rels', f'<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="{rel}/officeDocument" Target="xl/workbook.xml"/></Relationships>')
    z.writestr('xl/workbook.xml', f'<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="{ns}" xmlns:r="{rel}"><sheets><sheet name="Foglio1" sheetId="1" r:id="rId1"/></sheets></workbook>')
    z.writestr('xl/_rels/workbook.xml.rels', f'<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="{rel}/worksheet" Target="worksheets/sheet1.xml"/></Relationships>')
    z.writestr('xl/worksheets/sheet1.xml', f'<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="{ns}"><sheetData>' + ''.join(rows) + '</sheetData></worksheet>')
EOF
}

# Timing. Every command runs RUNS times (default 7) after one warm-up and the median wall
# time is shown with the least and greatest. With an older dormal2k-batch (third argument)
# each of its runs alternates with a run of the new one under the same load, and both
# medians are shown. "{B}" in a command stands for the dormal2k-batch under test. Exit
# status 3 (points outside the grid, lines refused) counts as a completed run; a status
# above 3 stops the benchmark.
runs=${RUNS:-7}
time_it() { # NAME POINTS COMMAND (a shell command line)
  python3 - "$1" "$2" "$3" "$batch" "$old" "$runs" "$work/medians" <<'EOF'
import statistics, subprocess, sys, time
name, n, cmd, new, old, runs = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5], int(sys.argv[6])
medians = sys.argv[7]
exes = [('new', new)] + ([('old', old)] if old and '{B}' in cmd else [])
def once(exe):
    t0 = time.perf_counter()
    r = subprocess.run(['bash', '-c', cmd.replace('{B}', exe)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    t = time.perf_counter() - t0
    if r.returncode > 3:
        sys.exit(f"{name}: exit status {r.returncode}")
    return t
for _, exe in exes:
    once(exe)
times = {k: [] for k, _ in exes}
for i in range(runs):
    for k, exe in (exes if i % 2 == 0 else exes[::-1]):
        times[k].append(once(exe))
def show(k):
    m = statistics.median(times[k])
    return f"{m:6.3f} s ({min(times[k]):.3f}-{max(times[k]):.3f}) {n / m / 1e6:5.2f} M/s"
line = f"{name:<52} {show('new')}"
if 'old' in times:
    line += f" | old {show('old')} | old/new {statistics.median(times['old']) / statistics.median(times['new']):.2f}"
print(line, flush=True)
with open(medians, 'a') as f:
    f.write(f"{statistics.median(times['new'])}\t{name}\n")
EOF
}
# The median of a run timed above, by its name (for the ratios at the end).
median_of() { awk -F'\t' -v n="$1" '$2 == n { m = $1 } END { print m }' "$work/medians"; }

if [ ! -s "$work/utm32.cct" ] || [ "$(wc -l < "$work/gb.txt")" -ne "$points" ]; then
echo "Preparing $points points ..."
plane_points "$points" ROMA40 auto "$work/gb.txt"
head -n 50000 "$work/gb.txt" > "$work/gb50k.txt"
to_workbook "$work/gb50k.txt" "$work/gb50k.xlsx"
# Projection only: points between 11.5 and 12.5 E, 42 to 44 N, within 3.5 degrees of both
# central meridians (cct refuses points much farther than that from the meridian).
plane_points "$points" ETRF2000 32 "$work/utm32.txt" 42.0 2.0 11.5 1.0
# cct reads easting northing height; PROJ 9.1's cct refuses lines of two columns only.
awk '{ print $3, $2, 0 }' "$work/utm32.txt" > "$work/utm32.cct"
fi

full=(--from ROMA40 --from-kind plane --to ETRF2000 --to-kind plane --heights --grid "$grid")
proj=(--from ETRF2000 --from-kind plane --from-zone 32 --to ETRF2000 --to-kind plane --to-zone 33)
echo
echo "Machine: $(nproc) cores, $(uname -r); $(date -u +%Y-%m-%dT%H:%MZ); load average $(cut -d' ' -f1-3 /proc/loadavg)"
time_it "full chain, $points points, ASCII" "$points" "{B} ${full[*]} $work/gb.txt $work/gb.out"
time_it "full chain, $points points, ASCII, one core" "$points" \
  "taskset -c 0 {B} ${full[*]} $work/gb.txt $work/gb.out"
time_it "full chain, $points points, report to a pipe | wc -c" "$points" "{B} ${full[*]} $work/gb.txt - | wc -c"
time_it "awk '{print \$1, \$2, \$3, \$4}' on the same points | wc -c" "$points" \
  "awk '{print \$1, \$2, \$3, \$4}' $work/gb.txt | wc -c"
time_it "window run, 50000 points, ASCII" 50000 "{B} ${full[*]} $work/gb50k.txt $work/gb50k.out"
time_it "window run, 50000 points, workbook" 50000 "{B} ${full[*]} $work/gb50k.xlsx $work/gb50k.out.xlsx"
time_it "projection only UTM 32 -> 33: dormal2k-batch" "$points" "{B} ${proj[*]} $work/utm32.txt $work/utm33.out"
pipeline="+proj=pipeline +step +inv +proj=utm +zone=32 +ellps=GRS80 +step +proj=utm +zone=33 +ellps=GRS80"
time_it "projection only UTM 32 -> 33: cct" "$points" "cct -d 3 $pipeline < $work/utm32.cct > $work/utm33.cct"
echo "load average after the runs: $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v c="$(median_of "projection only UTM 32 -> 33: cct")" -v f="$(median_of "full chain, $points points, ASCII")" \
  -v p="$(median_of "projection only UTM 32 -> 33: dormal2k-batch")" \
  -v w="$(median_of "full chain, $points points, report to a pipe | wc -c")" \
  -v a="$(median_of "awk '{print \$1, \$2, \$3, \$4}' on the same points | wc -c")" 'BEGIN {
    printf "cct time / dormal2k-batch time: full chain %.1f x, projection only %.1f x\n", c / f, c / p
    printf "report to a pipe / awk on the same points: %.2f x\n", w / a }'

# Peak memory of the full chain (and of the older converter's), and whether the two
# converters wrote the same bytes.
rss() { /usr/bin/time -f "%M" -o "$work/rss" "$@" 2>/dev/null || [ $? -eq 3 ]; cat "$work/rss"; }
echo "peak memory of the full chain: $(rss "$batch" "${full[@]}" "$work/gb.txt" "$work/gb.out") kB"
if [ -n "$old" ]; then
  echo "peak memory of the full chain, older converter: $(rss "$old" "${full[@]}" "$work/gb.txt" "$work/gb.old") kB"
  "$old" "${full[@]}" "$work/gb.txt" - 2>/dev/null > "$work/gb.old.pipe" || true
  "$batch" "${full[@]}" "$work/gb.txt" - 2>/dev/null > "$work/gb.pipe" || true
  "$old" "${proj[@]}" "$work/utm32.txt" "$work/utm33.old" 2>/dev/null || true
  for f in gb gb.pipe utm33; do
    a=$work/$f.out; b=$work/$f.old
    [ "$f" = gb.pipe ] && { a=$work/gb.pipe; b=$work/gb.old.pipe; }
    if cmp -s "$a" "$b"; then echo "$f: same bytes as the older converter"; else echo "$f: DIFFERENT from the older converter"; fi
  done
fi

# How far apart the two projection-only results are (metres).
cct -d 4 $pipeline < "$work/utm32.cct" > "$work/utm33.cct"
awk '!/^\// { print $5, $4 }' "$work/utm33.out" | tr -d '\r' | paste -d' ' - "$work/utm33.cct" |
  awk '{ de = $1 - $3; dn = $2 - $4; d = sqrt(de*de + dn*dn); if (d > m) m = d } END { printf "largest difference dormal2k-batch vs cct: %.4f m\n", m }'

# Instructions per point, which the machine's load does not change (callgrind, 20,000
# points; process start-up included).
if command -v valgrind >/dev/null; then
  head -n 20000 "$work/gb.txt" > "$work/gb20k.txt"
  head -n 20000 "$work/utm32.txt" > "$work/utm32-20k.txt"
  head -n 20000 "$work/utm32.cct" > "$work/utm32-20k.cct"
  instr() { # NAME COMMAND...
    local name=$1; shift
    valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" "$@" > /dev/null 2> "$work/cg.err" < "${STDIN:-/dev/null}"
    awk -v name="$name" '/refs:/ { gsub(",", "", $4); printf "%-58s %8.0f instructions/point\n", name, $4 / 20000 }' "$work/cg.err"
  }
  instr "full chain, dormal2k-batch" "$batch" "${full[@]}" "$work/gb20k.txt" "$work/gb20k.out"
  instr "projection only, dormal2k-batch" "$batch" --from ETRF2000 --from-kind plane --from-zone 32 \
    --to ETRF2000 --to-kind plane --to-zone 33 "$work/utm32-20k.txt" "$work/utm33-20k.out"
  STDIN="$work/utm32-20k.cct" instr "projection only, cct" cct -d 3 $pipeline
fi
