#!/usr/bin/env bash
# Pictures of the window for the README and for checking the layout by eye.
#
# Builds the picture program dormal2k-screenshots (not installed) and runs it under a
# virtual X display (Xvfb) with the openbox window manager, in a neutral folder
# (/home/geometra/rilievi) holding copies of the sample portions:
#   1. at 100 %: start-up, the working zone with a portion, a converted point, the window
#      enlarged to 1600 x 1000, plane input with heights, file mode and the secondary windows;
#   2. the same at 200 % scale in an Italian (comma decimal) locale, into 200-it/;
#   3. one real screenshot of the whole X screen with ImageMagick's import, a few seconds
#      after an ordinary start of dormal2k (x-screen.png), window frame included.
# Usage: scripts/screenshots.sh [output folder]   (default docs/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BUILD_DIR:-build}
out=${1:-docs/screenshots}

for tool in xvfb-run openbox import; do
  command -v "$tool" >/dev/null || { echo "missing $tool (packages xvfb, openbox, imagemagick)" >&2; exit 1; }
done

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target dormal2k dormal2k-screenshots
program="$root/$build/ui/dormal2k"
pictures="$root/$build/ui/dormal2k-screenshots"

mkdir -p "$out"
out=$(cd "$out" && pwd)

# The folder the pictures show: no build paths, only a surveyor's working folder. As root,
# a private mount namespace puts an empty /home under the program (the machine's own /home
# is not touched) so the pictures read /home/geometra/rilievi; otherwise a temporary folder.
if [ -z "${DORMAL2K_SHOTS_HOME:-}" ] && [ "$(id -u)" = 0 ] && unshare -m --propagation private true 2>/dev/null; then
  exec unshare -m --propagation private env DORMAL2K_SHOTS_HOME=1 bash -c \
    'mount -t tmpfs dormal2k-home /home && exec bash "$0" "$1"' "$0" "$out"
fi
scratch=$(mktemp -d /tmp/dormal2k-shots.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
if [ -n "${DORMAL2K_SHOTS_HOME:-}" ]; then
  home=/home/geometra
else
  home="$scratch/geometra"
fi
work="$home/rilievi"
mkdir -p "$work"
cp "$root"/data/samples/*.GK? "$work/"
export HOME="$home" XDG_CONFIG_HOME="$scratch/config"
cd "$work"

# Runs "$@" on a fresh virtual screen of size $1 with openbox managing the windows.
with_openbox() {
  local size=$1
  shift
  xvfb-run -a -s "-screen 0 ${size}x24" bash -c '
    openbox >/dev/null 2>&1 & wm=$!
    sleep 1
    "$@"; status=$?
    kill "$wm" 2>/dev/null; wait "$wm" 2>/dev/null
    exit "$status"
  ' with-openbox "$@"
}

echo "100 %:"
with_openbox 1700x1100 "$pictures" "$out"

echo "200 %, comma decimal separator:"
QT_SCALE_FACTOR=2 LC_ALL=it_IT.UTF-8 with_openbox 3400x2200 "$pictures" "$out/200-it"

echo "X screen:"
with_openbox 1600x1000 bash -c '
  "$1" & pid=$!
  sleep 6          # the startup window gives way to the main window after 3 s
  import -window root "$2"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
' screenshot "$program" "$out/x-screen.png"
echo "$out/x-screen.png"
