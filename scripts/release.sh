#!/usr/bin/env bash
# Builds both Windows trees and writes the two zips a user downloads:
# build/release/nelko-VERSION-win32.zip (32-bit Windows, and 64-bit Windows
# too) and build/release/nelko-VERSION-win64.zip (64-bit Windows). Each holds
# the programs and the speech model as its tree lays them out (its
# release-files.txt), install.cmd, uninstall.cmd, README.txt and NOTICES.txt,
# in one folder nelko-VERSION. The same commit gives the same bytes: every
# file carries the commit's time, in one order, without owner or extra fields.
#
#   scripts/release.sh [--no-build]    (--no-build: packs the trees as built)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
LOGS=$ROOT/build/logs
mkdir -p "$LOGS"

quietly() { # runs a command into a log, shows the log's end on failure
  local log=$LOGS/$1.log; shift
  "$@" >"$log" 2>&1 || { tail -n 40 "$log" >&2; echo "release: failed: $* (log: $log)" >&2; exit 1; }
}

if [ "${1:-}" != "--no-build" ]; then
  scripts/deps.sh
  quietly configure-host cmake --preset host
  quietly build-host cmake --build --preset host --target assetgen
  for tree in win32 win64; do
    arch=i686
    [ $tree = win64 ] && arch=x86_64
    NELKO_ARCH=$arch quietly pocketsphinx-$arch scripts/build-pocketsphinx.sh "$ROOT/build/third_party"
    quietly configure-$tree cmake --preset $tree
    quietly build-$tree cmake --build --preset $tree --target nelko nelkovoice voicefeedback vcmdps
  done
fi

# Texts for Windows: CRLF line ends.
crlf() { sed -e 's/\r$//' -e 's/$/\r/' "$@"; }

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

pack() { # tree: win32 or win64
  local TREE=$1 WIN32_DIR=$ROOT/build/$1 MINGW=mingw-w64-i686-dev VERSION NAME ZIP STAMP
  local OUT=$ROOT/build/release STAGE=$ROOT/build/release/stage DEST BUILD
  BUILD="32-bit Windows (win32)"
  if [ "$TREE" = win64 ]; then
    MINGW=mingw-w64-x86-64-dev
    BUILD="64-bit Windows (win64)"
  fi
  VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$WIN32_DIR/CMakeCache.txt")
  [ -n "$VERSION" ] || { echo "release: no version in $WIN32_DIR/CMakeCache.txt" >&2; exit 1; }
  NAME=nelko-$VERSION
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
  for file in install.cmd uninstall.cmd; do
    crlf "release/$file" >"$DEST/$file"
  done
  sed -e "s/@VERSION@/$VERSION/" -e "s/@BUILD@/$BUILD/" release/README.txt | crlf >"$DEST/README.txt"
  # The notices, saying which build they come with.
  {
    cat <<TEXT
Nelko $VERSION for $BUILD.
The parts it ships from others, and their licences.

- sphinxbase $(package_version libsphinxbase-dev) and pocketsphinx $(package_version libpocketsphinx-dev):
  the speech decoder's libraries, built into Feedback.exe from Debian's
  source packages. BSD-style licences; see below.
- The US English acoustic model (model\\en-us) and the pronunciation
  dictionary (cmudict-en-us.dict), from Debian's pocketsphinx-en-us
  $(package_version pocketsphinx-en-us). BSD-style licences; see below.
  nelko.dict is Nelko's own.
- The mingw-w64 runtime (in every program and in vcmdps.dll) and its
  threads library, winpthreads (in the programs), linked in by the
  mingw-w64 compilers: Debian's $MINGW
  $(package_version $MINGW). ZPL 2.1, MIT (expat) and other
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
    part "The mingw-w64 runtime and winpthreads" /usr/share/doc/$MINGW/copyright
  } | crlf >"$DEST/NOTICES.txt"

  # One time, one order, plain modes, no owners: the same bytes each time.
  STAMP=$(git -C "$ROOT" log -1 --format=%ct)
  find "$STAGE" -type d -exec chmod 755 {} +
  find "$STAGE" -type f -exec chmod 644 {} +
  find "$STAGE" -exec touch -h -d "@$STAMP" {} +
  (cd "$STAGE" && find "$NAME" -type f | LC_ALL=C sort | TZ=UTC zip -X -D -q -9 "$ZIP" -@)
  rm -rf "$STAGE"
  echo "release: $ZIP ($(stat -c %s "$ZIP") bytes)"
}

pack win32
pack win64
