#!/usr/bin/env bash
# Installs the voice-command service into a Wine prefix, so that Nelko listens
# from its first start: registers nelkovoice.exe (its class, the proxy/stub
# DLL, and HKCU\Software\Voice UseSpeech = 2 when the user has no setting) and
# puts Feedback.exe, with the recogniser's acoustic model and dictionaries,
# beside nelko.exe. The service is registered from beside nelko.exe too, so
# that Nelko and the service start and trust the one Feedback.exe. Running it
# again changes nothing.
#
#   scripts/install-voice.sh [--uninstall] [--prefix DIR] [WIN32_DIR [NELKO_DIR]]
#
#   WIN32_DIR  the win32 build folder with nelkovoice.exe, vcmdps.dll,
#              Feedback.exe and what the recogniser reads (model/en-us,
#              cmudict-en-us.dict, nelko.dict; default build/win32, or
#              build/win64 where no 32-bit code runs)
#   NELKO_DIR  the folder of the nelko.exe that will run (default WIN32_DIR)
#   --prefix   the Wine prefix (default: as scripts/wine-env.sh chooses it,
#              from NELKO_WINEPREFIX or WINEPREFIX)
#   --uninstall  removes what the installation added
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
uninstall=0
while [ $# -gt 0 ]; do
  case "$1" in
    --uninstall) uninstall=1; shift ;;
    --prefix) export NELKO_WINEPREFIX="$2"; shift 2 ;;
    -*) echo "install-voice: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
source "$ROOT/scripts/wine-env.sh"
WIN32_DIR="$(cd "${1:-$ROOT/build/$NELKO_WINDOWS}" && pwd)"
NELKO_DIR="$(cd "${2:-$WIN32_DIR}" && pwd)"

# What the hub needs beside it: the program and the recogniser's files.
HUB_FILES=(Feedback.exe cmudict-en-us.dict nelko.dict)
MODEL=model/en-us
for file in nelkovoice.exe vcmdps.dll "${HUB_FILES[@]}" "$MODEL/mdef"; do
  if [ ! -f "$WIN32_DIR/$file" ]; then
    echo "install-voice: $WIN32_DIR/$file is missing; build the win32 tree first" >&2
    exit 1
  fi
done

# Copied beside nelko.exe when it is elsewhere: the service with the hub.
INSTALL_FILES=(nelkovoice.exe vcmdps.dll "${HUB_FILES[@]}")
SERVICE="$NELKO_DIR/nelkovoice.exe"

if [ "$uninstall" -eq 1 ]; then
  [ -f "$SERVICE" ] || SERVICE="$WIN32_DIR/nelkovoice.exe"
  wine "$SERVICE" /unregserver
  if [ "$NELKO_DIR" != "$WIN32_DIR" ]; then
    for file in "${INSTALL_FILES[@]}"; do
      if cmp -s "$WIN32_DIR/$file" "$NELKO_DIR/$file"; then
        rm -f "$NELKO_DIR/$file"
      fi
    done
    if diff -rq "$WIN32_DIR/$MODEL" "$NELKO_DIR/$MODEL" >/dev/null 2>&1; then
      rm -rf "${NELKO_DIR:?}/$MODEL"
      rmdir "$NELKO_DIR/model" 2>/dev/null || true
    fi
  fi
  exit 0
fi

if [ "$NELKO_DIR" != "$WIN32_DIR" ]; then
  for file in "${INSTALL_FILES[@]}"; do
    cp -f "$WIN32_DIR/$file" "$NELKO_DIR/$file"
  done
  mkdir -p "$NELKO_DIR/$MODEL"
  cp -f "$WIN32_DIR/$MODEL"/* "$NELKO_DIR/$MODEL/"
fi
if ! wine "$SERVICE" /regserver; then
  echo "install-voice: registering the voice-command service in $WINEPREFIX failed" >&2
  exit 1
fi
