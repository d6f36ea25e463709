#!/usr/bin/env bash
# Takes docs/screenshot.png: the real program listing simulated devices on a
# virtual X server. Everything runs inside one private network namespace:
#   scripts/netns-run xvfb-run -a -s '-screen 0 800x480x24' docs/take-screenshot.sh [BUILD_DIR]
# Needs xwd (x11-apps) and xwdtopnm/pnmtopng (netpbm).
set -euo pipefail
build=$(realpath "${1:-build/dev}")
here=$(cd "$(dirname "$0")/.." && pwd)
if [ "$(tail -n +3 /proc/self/net/dev | cut -d: -f1 | tr -d ' ')" != "lo" ]; then
  echo "take-screenshot: run me through scripts/netns-run" >&2
  exit 3
fi
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait; rm -rf "$work"' EXIT
"$build/tools/devsim/quorvik-devsim" --config "$here/tools/devsim/examples/demo.json" >"$work/sim.out" &
for _ in $(seq 100); do
  grep -q '^ready' "$work/sim.out" && break
  sleep 0.05
done
# A fresh working directory: no settings file of the operator's is used.
(cd "$work" && touch Quorvik.ini && exec "$build/app/qt/quorvik") &
sleep 7  # the start-up search takes 5 s
xwd -silent -name "Belmarr Quorvik V1.41" | xwdtopnm 2>/dev/null | pnmtopng >"$here/docs/screenshot.png"
echo "take-screenshot: wrote docs/screenshot.png"
