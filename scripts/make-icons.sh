#!/usr/bin/env bash
# Renders the application icon's PNG sizes from its SVG sources. The PNGs are
# checked in; run this again only after changing the artwork.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../resources/icons"
for size in 16 22 24 32 48 64 128 256; do
  src=orbitune.svg
  # The smallest sizes use simplified artwork that stays legible.
  if ((size <= 24)); then
    src=src/orbitune-small.svg
  fi
  mkdir -p "hicolor/${size}x${size}"
  rsvg-convert --width "$size" --height "$size" "$src" -o "hicolor/${size}x${size}/orbitune.png"
done
echo "make-icons: rendered $(ls hicolor | wc -l) sizes"
