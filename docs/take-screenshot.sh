#!/usr/bin/env bash
# Takes the screenshots in docs/: the real program listing simulated devices
# on a virtual X server. Everything runs inside one private network namespace:
#   scripts/netns-run xvfb-run -a -s '-screen 0 1400x1000x24' docs/take-screenshot.sh [BUILD_DIR] [LOOK]
# LOOK is one of
#   plain      docs/screenshot.png             (the default)
#   scale-2    docs/screenshot-scale-2.png     every pixel doubled: QT_SCALE_FACTOR=2
#   font-14pt  docs/screenshot-font-14pt.png   a 14-point system font, set as a
#              desktop sets it (kdeglobals, read by Qt's own KDE theme)
# Needs xwd (x11-apps) and xwdtopnm/pnmtopng (netpbm).
set -euo pipefail
build=$(realpath "${1:-build/dev}")
look=${2:-plain}
here=$(cd "$(dirname "$0")/.." && pwd)
if [ "$(tail -n +3 /proc/self/net/dev | cut -d: -f1 | tr -d ' ')" != "lo" ]; then
  echo "take-screenshot: run me through scripts/netns-run" >&2
  exit 3
fi
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait; rm -rf "$work"' EXIT
case "$look" in
  plain) out=screenshot.png ;;
  scale-2)
    out=screenshot-scale-2.png
    export QT_SCALE_FACTOR=2
    ;;
  font-14pt)
    out=screenshot-font-14pt.png
    mkdir -p "$work/config"
    printf '[General]\nfont=DejaVu Sans,14,-1,5,50,0,0,0,0,0\n' >"$work/config/kdeglobals"
    export XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORMTHEME=kde KDE_SESSION_VERSION=5
    ;;
  *)
    echo "take-screenshot: LOOK is plain, scale-2 or font-14pt" >&2
    exit 2
    ;;
esac
"$build/tools/devsim/quorvik-devsim" --config "$here/tools/devsim/examples/demo.json" >"$work/sim.out" &
for _ in $(seq 100); do
  grep -q '^ready' "$work/sim.out" && break
  sleep 0.05
done
# A fresh working directory: no settings file of the operator's is used.
(cd "$work" && touch Quorvik.ini && exec "$build/app/qt/quorvik") &
sleep 7  # the start-up search takes 5 s
xwd -silent -name "Belmarr Quorvik V1.41" | xwdtopnm 2>/dev/null | pnmtopng >"$here/docs/$out"
echo "take-screenshot: wrote docs/$out"
