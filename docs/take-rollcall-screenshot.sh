#!/usr/bin/env bash
# Takes docs/rollcall.png: the roll-call beside the real window, on a virtual
# X server, after the workflow of the README: a rig saved from simulated
# devices with quorvik-cli, labelled, its firmware declared, and the network
# changed under it.
# Everything runs inside one private network namespace:
#   scripts/netns-run xvfb-run -a -s '-screen 0 1920x600x24' docs/take-rollcall-screenshot.sh [BUILD_DIR]
# Needs xwd (x11-apps), xwdtopnm/pamcut/pnmtopng (netpbm) and jq.
set -euo pipefail
build=$(realpath "${1:-build/dev}")
here=$(cd "$(dirname "$0")/.." && pwd)
if [ "$(tail -n +3 /proc/self/net/dev | cut -d: -f1 | tr -d ' ')" != "lo" ]; then
  echo "take-rollcall-screenshot: run me through scripts/netns-run" >&2
  exit 3
fi
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait; rm -rf "$work"' EXIT
cd "$work"
# A fresh working directory: no settings file or journal of the operator's.
touch Quorvik.ini
export QUORVIK_JOURNAL="$work/journal.jsonl"
simulate() {
  "$build/tools/devsim/quorvik-devsim" --config "$1" >"$work/sim.out" &
  for _ in $(seq 100); do
    grep -q '^ready' "$work/sim.out" && break
    sleep 0.05
  done
}

# Before the show: the rig as it stands, saved and labelled.
simulate "$here/tools/devsim/examples/demo.json"
"$build/tools/cli/quorvik-cli" list --save-rig show.rig.json >/dev/null 2>&1
kill %1 && wait %1 || true
label() { # serial label location
  jq --arg s "$1" --arg l "$2" --arg o "$3" \
    '(.devices[] | select(.serial == $s)) |= (.label = $l | .location = $o)' \
    show.rig.json >labelled.json && mv labelled.json show.rig.json
}
label 0A0B0C0D0E0F10111213 "Dimmer city" "Stage left rack"
label 0102030405060708090A0B "Truss 3 SR" "Upstage truss"
label 2122232425262728 "Matrix wall" "Backdrop"
label 1112131415161718191A1B1C1D1E1F20 "Pixel driver FOH" "FOH"
# A spare the technician black-listed, kept in the rig.
jq '.devices += [{"serial": "3132333435363738393A3B", "mac": "02-10-20-30-40-05",
     "model": "Demo Node 2", "version": "1.00", "mode": "app", "label": "Spare node",
     "location": "Dimmer city"}]' show.rig.json >labelled.json && mv labelled.json show.rig.json
printf '[APP]\nHIDDEN=3132333435363738393a3b (Demo Node 2)\n' >Quorvik.ini

# The firmware each model should run: a file per model, one section each,
# whose first two bytes are the version it installs (as the simulator reads
# it back).
firmware() { # FILE MCU TYPE VERSION, each code as four hex digits
  {
    printf '\x02\x01'
    printf "\\x${2:0:2}\\x${2:2:2}\\x${3:0:2}\\x${3:2:2}"
    printf '\x01\x05\xde\xad\xbe\xef\x00\x00\x04\x00'
    printf "\\x${4:0:2}\\x${4:2:2}"
    head -c 1022 /dev/zero
  } >"$1"
}
firmware dimmer-3.04.bin 0002 3680 0304
firmware sequencer-1.10.bin 0000 3610 0110
"$build/tools/cli/quorvik-cli" declare show.rig.json --file dimmer-3.04.bin --version 3.04 >/dev/null
"$build/tools/cli/quorvik-cli" declare show.rig.json --file sequencer-1.10.bin --version 1.10 >/dev/null
# The dimmer runs its application, which tells no model: the rig knows it
# from its loader, seen at its last update.
jq '(.devices[] | select(.serial == "0A0B0C0D0E0F10111213")) |= (.deviceId = "0x3680")' \
  show.rig.json >labelled.json && mv labelled.json show.rig.json

# Doors in an hour: the matrix controller is gone, the dimmer runs other
# firmware, and somebody plugged in a node nobody expected.
jq '.devices |= (map(select(.identity != "2122232425262728"))
     | map(if .identity == "0a0b0c0d0e0f10111213" then .appVersion = 773 else . end))
    | .devices += [{"mode": "app", "deviceId": 13952, "appVersion": 258, "name": "Matrix Wall",
                    "identity": "4142434445464748494a4b", "mac": "02-10-20-30-40-06"}]' \
  "$here/tools/devsim/examples/demo.json" >changed.json
simulate changed.json
"$build/app/qt/quorvik" --rollcall show.rig.json &
sleep 7 # the start-up search takes 5 s
xwd -silent -root | xwdtopnm 2>/dev/null >screen.pnm
# Both windows, without the empty screen around them.
width=$(xwininfo -name Roll-call | awk '/Absolute upper-left X/ {x=$4} /Width/ {w=$2} END {print x+w}')
height=$(xwininfo -name Roll-call | awk '/Absolute upper-left Y/ {y=$4} /Height/ {h=$2} END {print y+h}')
main_height=$(xwininfo -name "Belmarr Quorvik V1.41" | awk '/Absolute upper-left Y/ {y=$4} /Height/ {h=$2} END {print y+h}')
[ "$main_height" -gt "$height" ] && height=$main_height
left=$(xwininfo -name "Belmarr Quorvik V1.41" | awk '/Absolute upper-left X/ {print $4}')
top=$(xwininfo -name "Belmarr Quorvik V1.41" | awk '/Absolute upper-left Y/ {print $4}')
pamcut -left "$left" -top "$top" -right $((width - 1)) -bottom $((height - 1)) screen.pnm |
  pnmtopng >"$here/docs/rollcall.png"
echo "take-rollcall-screenshot: wrote docs/rollcall.png"
