#!/usr/bin/env bash
# Installs what the build and the tests need on Debian or Ubuntu; quiet when
# all is there. 32-bit Wine (and with it the i386 architecture) only where
# the kernel runs 32-bit x86 code (scripts/i386.sh): elsewhere it could never
# start, and its install is the first to break when an i386 index is stale.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/i386.sh"

PACKAGES=(
  cmake g++ make pkg-config git
  googletest
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-tools
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libwine-dev
  wine
  xvfb xdotool x11-utils x11-xserver-utils
  libx11-dev libxext-dev libxtst-dev
  imagemagick
  espeak-ng sox flite festival festvox-kallpc16k festvox-us-slt-hts
  klettres-data
  pulseaudio pulseaudio-utils ffmpeg
  wine64 zip
  clang libfuzzer-14-dev libclang-rt-14-dev
  pocketsphinx libpocketsphinx-dev libsphinxbase-dev pocketsphinx-en-us pocketsphinx-testdata
  bison autoconf automake libtool dpkg-dev
)
I386=no
nelko_runs_i386 && I386=yes
[ "$I386" = yes ] && PACKAGES+=(wine32:i386)

# One query for all (./run asks each time): names as listed, the native
# architecture's suffix taken off.
NATIVE=$(dpkg --print-architecture)
installed=$(dpkg-query -W -f='${binary:Package} ${Status}\n' "${PACKAGES[@]}" 2>/dev/null |
  sed -n "s/^\([^ ]*\) install ok installed$/\1/p" | sed "s/:$NATIVE\$//")
missing=()
for p in "${PACKAGES[@]}"; do
  grep -qxF "$p" <<<"$installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "installing: ${missing[*]}"
if [ "$I386" = yes ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386 || { echo "deps: could not add the i386 architecture" >&2; exit 1; }
fi
export DEBIAN_FRONTEND=noninteractive
# Another install running (./run and ./test side by side) is waited for.
APT=($SUDO apt-get -o DPkg::Lock::Timeout=300)

# The index: tried a few times. Some indexes failing (a mirror mid-sync, an
# unreachable extra source) does not stop us: the install below is the test
# of whether what we need can be had.
LOG=$(mktemp)
trap 'rm -f "$LOG"' EXIT
for try in 1 2 3; do
  "${APT[@]}" update -qq >"$LOG" 2>&1 && break
  if [ "$try" -lt 3 ]; then sleep $((try * 5)); continue; fi
  echo "deps: apt-get update failed three times; installing from the indexes it has:" >&2
  grep -E '^(E|W):' "$LOG" | head -n 10 | sed 's/^/  /' >&2
done

if ! "${APT[@]}" install -y -qq --no-install-recommends "${missing[@]}" >"$LOG" 2>&1; then
  {
    echo "deps: could not install: ${missing[*]}"
    echo "apt said:"
    grep -vE '^(Selecting|Preparing|Unpacking|Setting up|Processing|\(Reading)' "$LOG" | tail -n 25 | sed 's/^/  /'
    echo "Try again later (the package archive may be mid-sync), or install those packages by hand"
    echo "(${SUDO:+sudo }apt-get install ${missing[*]}) and run this again."
  } >&2
  exit 1
fi
