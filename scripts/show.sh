#!/usr/bin/env bash
# A short scripted show on the current (private) display, recorded as an
# animated GIF: Nelko starts, dances on a click, then obeys a few menu
# commands and says goodbye. Exits with Nelko's exit code.
#   scripts/show.sh OUTPUT.gif
set -euo pipefail
OUT=$1
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
source "$ROOT/scripts/wine-env.sh"
FRAMES=$(mktemp -d)
trap 'rm -rf "$FRAMES"' EXIT

xsetroot -solid '#3a6ea5'
wine "$ROOT/build/win32/nelko.exe" &
NELKO=$!

window_id() { xwininfo -root -children | awk -v t="\"$1\":" '$2 == t { print $1; exit }'; }
geometry() { # x y width height of a window
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
                           /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}'
}

for _ in $(seq 100); do [ -n "$(window_id Nelko)" ] && break; sleep 0.1; done
NELKO_WINDOW=$(window_id Nelko)
[ -n "$NELKO_WINDOW" ] || { echo "Nelko did not start"; kill $NELKO; exit 1; }

# The recording: the middle of the screen, eight times a second.
(
  n=0
  while kill -0 $NELKO 2>/dev/null; do
    import -silent -window root -crop 560x400+232+200 +repage "$FRAMES/$(printf %04d $n).png" \
      2>/dev/null || true
    n=$((n + 1))
    sleep 0.08
  done
) &
RECORDER=$!

centre() { read -r x y w h < <(geometry "$NELKO_WINDOW"); echo $((x + w / 2)) $((y + h / 2)); }
pick() { # right-click Nelko, then the menu entry with this index (0 = "Random")
  local before menu
  before=$(xwininfo -root -children | awk '/0x/ {print $1}' | sort)
  read -r cx cy < <(centre)
  xdotool mousemove "$cx" "$cy" click 3
  sleep 0.6
  menu=$(comm -13 <(echo "$before") <(xwininfo -root -children | awk '/0x/ {print $1}' | sort) | head -n 1)
  [ -n "$menu" ] || return 0
  read -r mx my mw mh < <(geometry "$menu")
  xdotool mousemove $((mx + mw / 2)) $((my + (2 * $1 + 1) * mh / 22)) click 1
}

sleep 1.5
read -r cx cy < <(centre); xdotool mousemove "$cx" "$cy" click 1   # a click: Nelko dances
sleep 2.2
pick 7; sleep 2    # Wave
pick 1; sleep 2.5  # Go Left
pick 4; sleep 1.6  # Run Right
pick 9; sleep 2    # About Nelko
xdotool key Escape; sleep 0.8
pick 8; sleep 2    # Dance
pick 10            # Bye Bye
code=0
wait $NELKO || code=$?
wait $RECORDER 2>/dev/null || true

convert -delay 12 -loop 0 "$FRAMES"/*.png -layers Optimize "$OUT"
echo "Nelko ended with exit code $code; the show is recorded in $OUT"
exit $code
