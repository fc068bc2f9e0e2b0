#!/usr/bin/env bash
# Whole-process speed of dormal2k-batch, and of PROJ's cct on the same points.
#
#   bench/batch_speed.sh [BUILD_DIR] [POINTS]      (defaults: build, 1000000)
#
# Runs, each timed with hyperfine (or /usr/bin/time when hyperfine is missing):
#   1. full chain: POINTS points ROMA40 Gauss-Boaga (automatic zone) -> ETRF2000 UTM
#      (automatic zone) with heights, ASCII, through a synthetic map-sheet portion;
#   2. the window's largest run: the same with 50,000 points, ASCII and workbook;
#   3. projection only: POINTS points ETRF2000 UTM 32 -> UTM 33, dormal2k-batch against
#      cct -d 3 +proj=pipeline +step +inv +proj=utm +zone=32 +ellps=GRS80
#               +step +proj=utm +zone=33 +ellps=GRS80
#      on points between 11.5 and 12.5 E, and the largest difference between the two results.
# The grid portion is synthetic (dormal2k-gridgen): made-up values, not real corrections.
set -euo pipefail

build=${1:-build}
points=${2:-1000000}
batch=$build/cli/dormal2k-batch
gridgen=$build/tools/dormal2k-gridgen
for exe in "$batch" "$gridgen"; do
  [ -x "$exe" ] || { echo "missing $exe: build the targets dormal2k-batch and dormal2k-gridgen first" >&2; exit 2; }
done
command -v cct >/dev/null || { echo "cct not found (Debian package proj-bin)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C

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

# time_it NAME POINTS COMMAND: mean wall time and points per second.
time_it() {
  local name=$1 n=$2; shift 2
  if command -v hyperfine >/dev/null; then
    hyperfine --style basic --warmup 1 --runs 5 --export-json "$work/t.json" "$*" >/dev/null 2>&1
    python3 - "$name" "$n" "$work/t.json" <<'EOF'
import json, sys
r = json.load(open(sys.argv[3]))['results'][0]
n = int(sys.argv[2])
print(f"{sys.argv[1]:<58} {r['mean']:7.3f} s +- {r['stddev']:.3f}  {n / r['mean'] / 1e6:6.2f} M points/s")
EOF
  else
    local t0 t1
    t0=$(date +%s.%N); bash -c "$*" >/dev/null 2>&1; t1=$(date +%s.%N)
    awk -v a="$t0" -v b="$t1" -v n="$n" -v name="$name" 'BEGIN { printf "%-58s %7.3f s  %6.2f M points/s\n", name, b - a, n / (b - a) / 1e6 }'
  fi
}

echo "Preparing $points points ..."
plane_points "$points" ROMA40 auto "$work/gb.txt"
head -n 50000 "$work/gb.txt" > "$work/gb50k.txt"
to_workbook "$work/gb50k.txt" "$work/gb50k.xlsx"
# Projection only: points between 11.5 and 12.5 E, 42 to 44 N, within 3.5 degrees of both
# central meridians (cct refuses points much farther than that from the meridian).
plane_points "$points" ETRF2000 32 "$work/utm32.txt" 42.0 2.0 11.5 1.0
# cct reads easting northing height; PROJ 9.1's cct refuses lines of two columns only.
awk '{ print $3, $2, 0 }' "$work/utm32.txt" > "$work/utm32.cct"

full=(--from ROMA40 --from-kind plane --to ETRF2000 --to-kind plane --heights --grid "$grid")
echo
echo "Machine: $(nproc) cores, $(uname -r); $(date -u +%Y-%m-%dT%H:%MZ)"
time_it "full chain, $points points, ASCII" "$points" \
  "$batch ${full[*]} $work/gb.txt $work/gb.out"
time_it "window run, 50000 points, ASCII" 50000 \
  "$batch ${full[*]} $work/gb50k.txt $work/gb50k.out"
time_it "window run, 50000 points, workbook" 50000 \
  "$batch ${full[*]} $work/gb50k.xlsx $work/gb50k.out.xlsx"
time_it "projection only UTM 32 -> 33, $points points: dormal2k-batch" "$points" \
  "$batch --from ETRF2000 --from-kind plane --from-zone 32 --to ETRF2000 --to-kind plane --to-zone 33 $work/utm32.txt $work/utm33.out"
pipeline="+proj=pipeline +step +inv +proj=utm +zone=32 +ellps=GRS80 +step +proj=utm +zone=33 +ellps=GRS80"
time_it "projection only UTM 32 -> 33, $points points: cct" "$points" \
  "cct -d 3 $pipeline < $work/utm32.cct > $work/utm33.cct"

# Peak memory of the full chain.
/usr/bin/time -f "%M" -o "$work/rss" "$batch" "${full[@]}" "$work/gb.txt" "$work/gb.out" 2>/dev/null
echo "peak memory of the full chain: $(cat "$work/rss") kB"

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
