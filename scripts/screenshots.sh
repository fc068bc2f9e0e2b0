#!/usr/bin/env bash
# Pictures of the window for the README and for checking the layout by eye.
#
# Builds the program if needed and runs it under a virtual X display (Xvfb) in the sample
# folder data/samples:
#   1. with the hidden option --screenshot-dir, the program grabs its own windows after a
#      scripted set of picks (start-up, a converted point, plane input, file mode, the
#      information and example windows) at 100 % scale;
#   2. the same at 200 % scale in an Italian (comma decimal) locale, into 200-it/;
#   3. one real screenshot of the whole X screen with ImageMagick's import, a few seconds
#      after an ordinary start (x-screen.png).
# Usage: scripts/screenshots.sh [output folder]   (default docs/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BUILD_DIR:-build}
out=${1:-docs/screenshots}

for tool in xvfb-run import; do
  command -v "$tool" >/dev/null || { echo "missing $tool (packages xvfb, imagemagick)" >&2; exit 1; }
done

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target dormal2k
program="$root/$build/ui/dormal2k"

mkdir -p "$out"
out=$(cd "$out" && pwd)
screen=(-a -s "-screen 0 1600x1000x24")
cd "$root/data/samples"

echo "100 %:"
xvfb-run "${screen[@]}" "$program" --screenshot-dir "$out"

echo "200 %, comma decimal separator:"
QT_SCALE_FACTOR=2 LC_ALL=it_IT.UTF-8 xvfb-run -a -s "-screen 0 2400x1800x24" "$program" --screenshot-dir "$out/200-it"

echo "X screen:"
xvfb-run "${screen[@]}" bash -c '
  "$1" & pid=$!
  sleep 6          # the startup window gives way to the main window after 3 s
  import -window root "$2"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
' screenshot "$program" "$out/x-screen.png"
echo "$out/x-screen.png"
