#!/usr/bin/env bash
# Renders the application icon's PNG sizes from tunestead.svg (needs rsvg-convert from
# librsvg2-bin). The PNGs are committed; run this again only to change the icon.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" tunestead.svg -o "tunestead-$size.png"
done
