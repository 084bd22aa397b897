# Sourced: the Wine settings every script and test uses. A private 32-bit
# prefix (default build/wine) with the audio driver off and debug output off.
# NELKO_WINEARCH=win64 makes a 64-bit prefix instead (the release's tests).
NELKO_ROOT="${NELKO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
export WINEARCH="${NELKO_WINEARCH:-win32}"
export WINEDEBUG=-all
export WINEPREFIX="${NELKO_WINEPREFIX:-${WINEPREFIX:-$NELKO_ROOT/build/wine}}"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# Creates the prefix once; concurrent callers wait for the first.
nelko_wine_prefix() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.nelko-ready" ]; then
      rm -rf "$WINEPREFIX"
      DISPLAY= wineboot -i >/dev/null 2>&1 || true
      wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /t REG_SZ /d '' /f >/dev/null 2>&1
      wineserver -w
      touch "$WINEPREFIX/.nelko-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}
