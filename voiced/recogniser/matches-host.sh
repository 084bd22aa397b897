#!/usr/bin/env bash
# The cross-built recogniser must hear what the host's hears: a few
# synthesised clips (at espeak-ng's own rate, so both sides resample them)
# decoded by the host's recognise and by recognise.exe under Wine. Every
# field must be equal but the score, which may differ in its third decimal
# (the i686 program's own arithmetic runs in x87 registers).
#
#   matches-host.sh HOST_RECOGNISE WIN32_RECOGNISE_EXE WORKDIR
set -euo pipefail
host=$1 exe=$2 dir=$3
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
[ -x "$host" ] || { echo "matches-host: $host missing: build the host tree first" >&2; exit 1; }

rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"
cp "$root/resources/commands.rc" phrases.rc
for phrase in "go left" "about nelko" "thank you"; do
  espeak-ng -v en-us -s 160 -w raw.wav "$phrase"
  sox raw.wav padded.wav pad 0.5 0.5
  sox -R -n -r "$(soxi -r padded.wav)" -c 1 -b 16 floor.wav synth "$(soxi -D padded.wav)" pinknoise vol 0.002
  sox -m padded.wav floor.wav "${phrase// /_}.wav"
done
rm raw.wav padded.wav floor.wav
clips=(go_left.wav about_nelko.wav thank_you.wav)

"$host" --phrases phrases.rc "${clips[@]}" >host.txt
"$root/scripts/wine-run" "$exe" --phrases phrases.rc "${clips[@]}" >wine.txt
cat wine.txt
grep -q $'^go_left.wav\t.*\tGo Left\t' host.txt || { echo "matches-host: the host did not hear go left" >&2; exit 1; }
paste host.txt wine.txt | awk -F'\t' '
  { same = $1 == $7 && $2 == $8 && $3 == $9 && $4 == $10 && $6 == $12
    d = $5 - $11; if (d < 0) d = -d
    if (!same || d > 0.005) { print "differs: " $0; bad = 1 } }
  END { exit bad }' || exit 1
[ "$(wc -l <host.txt)" -eq "$(wc -l <wine.txt)" ] || { echo "matches-host: utterance counts differ" >&2; exit 1; }
echo "matches-host: $(wc -l <host.txt) utterances decoded alike"
