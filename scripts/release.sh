#!/usr/bin/env bash
# Builds what the release needs and writes build/release/nelko-VERSION-win32.zip:
# the programs and the speech model as build/win32 lays them out (its
# release-files.txt), install.cmd, uninstall.cmd, README.txt and NOTICES.txt,
# in one folder nelko-VERSION. The same commit gives the same bytes: every
# file carries the commit's time, in one order, without owner or extra fields.
#
#   scripts/release.sh [--no-build]    (--no-build: the trees are built already)
#
# NELKO_RELEASE_TREE=win64 with --no-build packs build/win64 the same way
# into nelko-VERSION-win64.zip: the release's test on a machine that runs no
# 32-bit code. It is not shipped.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
TREE=${NELKO_RELEASE_TREE:-win32}
WIN32_DIR=$ROOT/build/$TREE
LOGS=$ROOT/build/logs
mkdir -p "$LOGS"

quietly() { # runs a command into a log, shows the log's end on failure
  local log=$LOGS/$1.log; shift
  "$@" >"$log" 2>&1 || { tail -n 40 "$log" >&2; echo "release: failed: $* (log: $log)" >&2; exit 1; }
}

if [ "${1:-}" != "--no-build" ]; then
  scripts/deps.sh
  quietly pocketsphinx scripts/build-pocketsphinx.sh "$ROOT/build/third_party"
  quietly configure-host cmake --preset host
  quietly build-host cmake --build --preset host --target assetgen
  quietly configure-win32 cmake --preset win32
  quietly build-win32 cmake --build --preset win32 --target nelko nelkovoice voicefeedback vcmdps
fi

VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$WIN32_DIR/CMakeCache.txt")
[ -n "$VERSION" ] || { echo "release: no version in $WIN32_DIR/CMakeCache.txt" >&2; exit 1; }
NAME=nelko-$VERSION
OUT=$ROOT/build/release
STAGE=$OUT/stage
ZIP=$OUT/$NAME-$TREE.zip
rm -rf "$STAGE" "$ZIP"
mkdir -p "$STAGE/$NAME"
DEST=$STAGE/$NAME

# The built files, as the build lists them.
while IFS= read -r path; do
  [ -n "$path" ] || continue
  [ -e "$WIN32_DIR/$path" ] || { echo "release: $WIN32_DIR/$path is missing" >&2; exit 1; }
  mkdir -p "$DEST/$(dirname "$path")"
  cp -R "$WIN32_DIR/$path" "$DEST/$(dirname "$path")/"
done <"$WIN32_DIR/release-files.txt"

# Texts for Windows: CRLF line ends.
crlf() { sed -e 's/\r$//' -e 's/$/\r/' "$@"; }
for file in install.cmd uninstall.cmd; do
  crlf "release/$file" >"$DEST/$file"
done
sed "s/@VERSION@/$VERSION/" release/README.txt | crlf >"$DEST/README.txt"

# The notices: each third-party part, with its licence texts from the source
# package the decoder was built from and from Debian's copyright files.
package_version() { dpkg-query -W -f='${Version}' "$1"; }
part() { # title, then files whose text follows
  local title=$1; shift
  printf '\n\n%s\n%s\n' "$title" "$(printf '%*s' ${#title} '' | tr ' ' '=')"
  for file in "$@"; do
    [ -f "$file" ] || { echo "release: $file is missing (notices)" >&2; exit 1; }
    printf '\n---- %s ----\n\n' "${file#"$ROOT/"}"
    cat "$file"
  done
}
SRC=$ROOT/build/third_party/src
source_file() { # package, file in its source: the built source, else Debian's installed copy
  if [ -f "$SRC/$1/$2" ]; then echo "$SRC/$1/$2"; else echo "/usr/share/doc/$3/copyright"; fi
}
{
  cat <<TEXT
Nelko $VERSION: the parts it ships from others, and their licences.

- sphinxbase $(package_version libsphinxbase-dev) and pocketsphinx $(package_version libpocketsphinx-dev):
  the speech decoder's libraries, built into Feedback.exe from Debian's
  source packages. BSD-style licences; see below.
- The US English acoustic model (model\\en-us) and the pronunciation
  dictionary (cmudict-en-us.dict), from Debian's pocketsphinx-en-us
  $(package_version pocketsphinx-en-us). BSD-style licences; see below.
  nelko.dict is Nelko's own.
- The mingw-w64 runtime (in every program and in vcmdps.dll) and its
  threads library, winpthreads (in the programs), linked in by the
  mingw-w64 compilers: Debian's mingw-w64-i686-dev
  $(package_version mingw-w64-i686-dev). ZPL 2.1, MIT (expat) and other
  permissive licences; see below.
- GCC's runtime libraries (libgcc, libstdc++), linked into the programs:
  GPL 3 with the GCC Runtime Library Exception, which lets programs compiled
  with GCC carry them under any terms; they ask for no notice.
TEXT
  part "sphinxbase" "$(source_file sphinxbase LICENSE libsphinxbase3)" \
    "$(source_file sphinxbase debian/copyright libsphinxbase3)"
  part "pocketsphinx" "$(source_file pocketsphinx LICENSE libpocketsphinx3)" \
    "$(source_file pocketsphinx debian/copyright libpocketsphinx3)"
  part "The acoustic model and the pronunciation dictionary" \
    /usr/share/doc/pocketsphinx-en-us/copyright "$WIN32_DIR/model/en-us/README"
  part "The mingw-w64 runtime and winpthreads" /usr/share/doc/mingw-w64-i686-dev/copyright
} | crlf >"$DEST/NOTICES.txt"

# One time, one order, plain modes, no owners: the same bytes each time.
STAMP=$(git -C "$ROOT" log -1 --format=%ct)
find "$STAGE" -type d -exec chmod 755 {} +
find "$STAGE" -type f -exec chmod 644 {} +
find "$STAGE" -exec touch -h -d "@$STAMP" {} +
(cd "$STAGE" && find "$NAME" -type f | LC_ALL=C sort | TZ=UTC zip -X -D -q -9 "$ZIP" -@)
rm -rf "$STAGE"
echo "release: $ZIP ($(stat -c %s "$ZIP") bytes)"
