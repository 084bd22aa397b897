#!/usr/bin/env bash
# Cross-builds the speech decoder (pocketsphinx and sphinxbase, the versions
# Debian ships) as static Windows libraries from Debian's source packages:
# i686 for the win32 tree, or x86_64 for the win64 tree (NELKO_ARCH=x86_64).
#
#   [NELKO_ARCH=x86_64] scripts/build-pocketsphinx.sh [OUTDIR]
#                                               (default: build/third_party)
#
# Leaves OUTDIR/pocketsphinx-ARCH/{include,lib} for the tree
# (-DNELKO_POCKETSPHINX_DIR=OUTDIR/pocketsphinx-ARCH). The source packages are
# fetched through a private apt configuration under OUTDIR/apt that adds
# deb-src entries for the system's own mirrors; the system's apt sources are
# never touched. Does nothing when the libraries are already there.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="$(mkdir -p "${1:-$ROOT/build/third_party}" && cd "${1:-$ROOT/build/third_party}" && pwd)"
ARCH="${NELKO_ARCH:-i686}"
PREFIX="$OUT/pocketsphinx-$ARCH"
HOST=$ARCH-w64-mingw32

# The same versions as the host's libraries, so that both trees decode alike.
installed_source_version() {
  dpkg-query -W -f='${source:Version}' "$1" 2>/dev/null || true
}
PS_VERSION="$(installed_source_version libpocketsphinx-dev)"
SB_VERSION="$(installed_source_version libsphinxbase-dev)"
# The recipe's own version comes first: a change to it builds again.
STAMP="$PREFIX/.built-3-${PS_VERSION:-any}-${SB_VERSION:-any}"

built() { [ -f "$STAMP" ] && [ -f "$PREFIX/lib/libpocketsphinx.a" ] && [ -f "$PREFIX/lib/libsphinxbase.a" ]; }
built && exit 0
# One build at a time; a second caller waits and then finds it done.
exec 9>"$OUT/.build-pocketsphinx-$ARCH.lock"
flock 9
built && exit 0

for tool in $HOST-gcc-posix $HOST-g++-posix $HOST-ar bison autoreconf dpkg-source; do
  command -v "$tool" >/dev/null || { echo "build-pocketsphinx: $tool missing (run scripts/deps.sh)" >&2; exit 1; }
done

# Private apt configuration: the system's binary entries turned into source
# entries, with lists and cache of its own.
APT="$OUT/apt"
mkdir -p "$APT/sources.list.d" "$APT/lists/partial" "$APT/cache/archives/partial"
: >"$APT/sources.list"
rm -f "$APT/sources.list.d/"*
if [ -f /etc/apt/sources.list ]; then
  sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list >>"$APT/sources.list"
fi
for f in /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] && sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >>"$APT/sources.list"
done
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f" >"$APT/sources.list.d/$(basename "$f")"
done
APT_OPTS=(
  -o "Dir::Etc::SourceList=$APT/sources.list"
  -o "Dir::Etc::SourceParts=$APT/sources.list.d"
  -o "Dir::State::Lists=$APT/lists"
  -o "Dir::Cache=$APT/cache"
  -o "Debug::NoLocking=1"
)

SRC="$OUT/src"
mkdir -p "$SRC"
fetch() { # package version
  local pkg=$1 version=$2
  if ls "$SRC/${pkg}_"*.dsc >/dev/null 2>&1; then
    return
  fi
  [ -f "$APT/.updated" ] || { apt-get "${APT_OPTS[@]}" -qq update && touch "$APT/.updated"; }
  (cd "$SRC" && { apt-get "${APT_OPTS[@]}" -qq --download-only source "$pkg${version:+=$version}" ||
    apt-get "${APT_OPTS[@]}" -qq --download-only source "$pkg"; })
}
unpack() { # package -> prints the unpacked folder
  local pkg=$1 dsc dir
  dsc="$(ls "$SRC/${pkg}_"*.dsc | head -n1)"
  dir="$SRC/$ARCH/$pkg"
  mkdir -p "$SRC/$ARCH"
  rm -rf "$dir"
  dpkg-source --no-check -x "$dsc" "$dir" >/dev/null
  echo "$dir"
}

fetch sphinxbase "$SB_VERSION"
fetch pocketsphinx "$PS_VERSION"

export CC=$HOST-gcc-posix CXX=$HOST-g++-posix AR=$HOST-ar RANLIB=$HOST-ranlib
# The decoder's arithmetic in SSE2 rather than the x87 unit: faster, and the
# same floating point as the host's build.
export CFLAGS="-O2 -msse2 -mfpmath=sse"
export PKG_CONFIG_LIBDIR="$PREFIX/lib/pkgconfig" PKG_CONFIG_PATH=""
# Configured for a fixed prefix and installed into OUTDIR: the decoder keeps
# its prefix as a default model path, and a folder of the build machine there
# would make two checkouts of one commit build different programs.
CONFIGURE=(--host=$HOST --prefix=/pocketsphinx-$ARCH --enable-static --disable-shared
  --without-python)
JOBS="${NELKO_JOBS:-2}"
LOG="$OUT/build-pocketsphinx-$ARCH.log"
: >"$LOG"
rm -rf "$PREFIX"

build() { # source folder, extra configure arguments...
  local dir=$1
  shift
  echo "build-pocketsphinx: building $(basename "$dir") for $HOST (log: $LOG)"
  (
    cd "$dir"
    autoreconf -fi
    ./configure "${CONFIGURE[@]}" "$@"
    make -j"$JOBS"
    make install DESTDIR="$OUT"
  ) >>"$LOG" 2>&1 || { tail -n 40 "$LOG" >&2; exit 1; }
}

SB_DIR="$(unpack sphinxbase)"
build "$SB_DIR" --without-lapack
PS_DIR="$(unpack pocketsphinx)"
build "$PS_DIR" --with-sphinxbase="$SB_DIR"

touch "$STAMP"
echo "build-pocketsphinx: done: $PREFIX"
