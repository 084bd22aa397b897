#!/usr/bin/env bash
# Installs what the build and the tests need on Debian or Ubuntu; quiet when all is there.
set -euo pipefail

PACKAGES=(
  cmake g++ make pkg-config git
  googletest
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-tools
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libwine-dev
  wine wine32:i386
  xvfb xdotool x11-utils x11-xserver-utils
  libx11-dev libxext-dev libxtst-dev
  imagemagick
  espeak-ng sox flite festival festvox-kallpc16k festvox-us-slt-hts
  pulseaudio pulseaudio-utils ffmpeg
  wine64 zip
  clang libfuzzer-14-dev libclang-rt-14-dev
  pocketsphinx libpocketsphinx-dev libsphinxbase-dev pocketsphinx-en-us pocketsphinx-testdata
  bison autoconf automake libtool dpkg-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
