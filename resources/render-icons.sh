#!/usr/bin/env bash
# Renders the window and desktop icons from the drawing. The PNGs are kept in
# the repository so that building needs no SVG renderer.
set -euo pipefail
cd "$(dirname "$0")/icons"
for size in 16 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" example.belmarr.Quorvik.svg -o "example.belmarr.Quorvik-$size.png"
done
