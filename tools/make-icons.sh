#!/usr/bin/env bash
# Renders the program's icon (data/desktop/bifuel-studio.svg) to the PNG sizes the desktop
# entry installs. Needs rsvg-convert (Debian: librsvg2-bin); the PNGs are kept in the
# repository, so building needs neither.
set -euo pipefail
cd "$(dirname "$0")/.."
for size in 16 24 32 48 64 128 256; do
  mkdir -p "data/desktop/icons/${size}x${size}"
  rsvg-convert -w "$size" -h "$size" data/desktop/bifuel-studio.svg \
    -o "data/desktop/icons/${size}x${size}/bifuel-studio.png"
done
