#!/usr/bin/env bash
# A short scripted show on the current (private) display, recorded as an
# animated GIF: Nelko starts, dances on a click, then obeys a few menu
# commands and says goodbye. Exits with Nelko's exit code.
#   scripts/show.sh OUTPUT.gif [VIDEO]
# With VIDEO (.mp4 or .mkv) and a sound server whose sink "out" Wine plays
# into (scripts/sound.sh), it is also recorded with its sound by ffmpeg.
set -euo pipefail
OUT=$1
VIDEO=${2:-}
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
source "$ROOT/scripts/wine-env.sh"
TREE=$ROOT/build/$NELKO_WINDOWS
FRAMES=$(mktemp -d)
trap 'rm -rf "$FRAMES"' EXIT

# A wineserver of the show's own: it keeps the mouse buttons' state.
wineserver -k 2>/dev/null || true
xsetroot -solid '#3a6ea5'
# The video: the same part of the screen, and what the sink plays.
if [ -n "$VIDEO" ]; then
  ffmpeg -nostdin -loglevel error -y -f x11grab -framerate 15 -video_size 560x400 \
    -i "$DISPLAY+232,200" -f pulse -i out.monitor -c:v libx264 -preset veryfast \
    -pix_fmt yuv420p -c:a aac -b:a 128k "$VIDEO" >"$FRAMES/ffmpeg.log" 2>&1 &
  FFMPEG=$!
fi
wine "$TREE/nelko.exe" &
NELKO=$!

window_id() { xwininfo -root -children | awk -v t="\"$1\":" '$2 == t { print $1; exit }'; }
geometry() { # x y width height of a window
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
                           /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}'
}

for _ in $(seq 100); do [ -n "$(window_id Nelko)" ] && break; sleep 0.1; done
[ -n "$(window_id Nelko)" ] || { echo "Nelko did not start"; kill $NELKO; exit 1; }

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

# A click as a hand makes it: Wine can miss a release that follows its press
# at once.
click() { # x y button
  xdotool mousemove "$1" "$2"; sleep 0.1
  xdotool mousedown "$3"; sleep 0.08; xdotool mouseup "$3"
}

# A point on the figure: its chest, a little above the window's middle.
# (The window is looked up each time: in a prefix Wine is still setting up,
# the first window of that name can go before the show begins.)
centre() {
  read -r x y w h < <(geometry "$(window_id Nelko)")
  echo $((x + w / 2)) $((y + h / 2 - 8))
}
visible_menu() { # the program's visible untitled window tall enough to be the menu
  local id
  for id in $(xdotool search --onlyvisible --class nelko.exe 2>/dev/null); do
    [ -z "$(xdotool getwindowname "$id" 2>/dev/null)" ] || continue
    read -r _ _ _ h < <(geometry "$id")
    [ "${h:-0}" -gt 100 ] && { echo "$id"; return; }
  done
  return 0 # none yet: the caller looks again
}
pick() { # right-click Nelko, then the menu entry with this index (0 = "Random")
  local menu="" _
  read -r cx cy < <(centre)
  click "$cx" "$cy" 3
  for _ in $(seq 20); do menu=$(visible_menu); [ -n "$menu" ] && break; sleep 0.1; done
  [ -n "$menu" ] || { echo "no menu appeared"; return 0; }
  sleep 0.3
  read -r mx my mw mh < <(geometry "$menu")
  click $((mx + mw / 2)) $((my + (2 * $1 + 1) * mh / 22)) 1
}

sleep 1.5
read -r cx cy < <(centre); click "$cx" "$cy" 1   # a click: Nelko dances
sleep 2.2
pick 7; sleep 2    # Wave
# Spoken commands: a phrase handed to the voice hub as if heard, then a
# recording of "go right" that the hub recognises itself.
if [ -f "$TREE/nelkovoice.exe" ]; then
  wine "$TREE/nelkovoice.exe" /say "Wave" >/dev/null 2>&1 || true
  sleep 2
  espeak-ng -v en-us -s 160 -w "$FRAMES/said.wav" "go right" 2>/dev/null &&
    sox "$FRAMES/said.wav" "$FRAMES/padded.wav" pad 0.5 0.5 &&
    sox -R -n -r "$(soxi -r "$FRAMES/padded.wav")" -c 1 -b 16 "$FRAMES/floor.wav" \
      synth "$(soxi -D "$FRAMES/padded.wav")" pinknoise vol 0.002 &&
    sox -m "$FRAMES/padded.wav" "$FRAMES/floor.wav" "$FRAMES/go-right.wav" &&
    wine "$TREE/nelkovoice.exe" /listen "Z:$FRAMES/go-right.wav" >/dev/null 2>&1 || true
  sleep 3
fi
pick 1; sleep 2.5  # Go Left
pick 4; sleep 1.6  # Run Right
pick 8; sleep 2    # Dance
pick 9; sleep 2    # About Nelko
# A click on the picture closes the About box.
about=$(xdotool search --onlyvisible --name 'About Nelko' 2>/dev/null | head -n 1 || true)
if [ -n "$about" ]; then
  read -r ax ay aw ah < <(geometry "$about")
  click $((ax + aw / 2)) $((ay + ah / 2)) 1
fi
sleep 0.8
pick 10            # Bye Bye
for _ in $(seq 70); do kill -0 $NELKO 2>/dev/null || break; sleep 0.1; done
if kill -0 $NELKO 2>/dev/null; then
  echo "Nelko did not end by itself"
  kill $NELKO
fi
code=0
wait $NELKO || code=$?
wait $RECORDER 2>/dev/null || true

if [ -n "$VIDEO" ]; then
  sleep 1 # the last sound's end
  kill -INT "$FFMPEG" 2>/dev/null || true
  wait "$FFMPEG" || true # ffmpeg ends with 255 on an interrupt
  [ -s "$VIDEO" ] || { cat "$FRAMES/ffmpeg.log"; echo "the video was not recorded"; }
fi

convert -delay 12 -loop 0 "$FRAMES"/*.png -layers Optimize "$OUT"
echo "Nelko ended with exit code $code; the show is recorded in $OUT${VIDEO:+ and, with its sound, in $VIDEO}"
exit $code
