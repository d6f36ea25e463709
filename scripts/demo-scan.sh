#!/usr/bin/env bash
# Starts simulated devices on lo and lists what a search finds. Meant to run
# inside scripts/netns-run; refuses to run anywhere else.
set -euo pipefail
build=${1:-build/dev}
here=$(cd "$(dirname "$0")/.." && pwd)
if [ "$(tail -n +3 /proc/self/net/dev | cut -d: -f1 | tr -d ' ')" != "lo" ]; then
  echo "demo-scan: run me through scripts/netns-run" >&2
  exit 3
fi
out=$(mktemp)
"$build/tools/devsim/quorvik-devsim" --config "$here/tools/devsim/examples/demo.json" >"$out" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -f "$out"' EXIT
for _ in $(seq 100); do
  grep -q '^ready' "$out" && break
  sleep 0.05
done
"$build/tools/scan/quorvik-scan" --iface 127.0.0.1 --wait-ms 2000
