#!/bin/sh
# The contact sheet: sheet.png with every frame numbered, and one animated GIF
# per action at twice the size, moving as the window moves; readme.png is the
# picture docs/nelko.png is a copy of.
set -eu
generator=$1 out=$2
mkdir -p "$out"
"$generator" --sheet "$out"
convert "$out/sheet.bmp" "$out/sheet.png"
convert "$out/readme.bmp" -scale 300% "$out/readme.png"
for size_file in "$out"/*.txt; do
  name=${size_file%.txt}
  convert "$name.bmp" -crop "$(cat "$size_file")" +repage -scale 200% \
    -set delay 7 -loop 0 "$name.gif"
  rm "$name.bmp" "$size_file"
done
rm "$out/sheet.bmp" "$out/readme.bmp"
echo "contact sheet: $out/sheet.png and $(ls "$out"/*.gif | wc -l) GIFs"
