# Sourced: the Wine settings every script and test uses. A private prefix
# (default build/wine, build/wine64 for the x86-64 build) with debug output
# off, and sound as NELKO_AUDIO says: off when empty (the tests), "pulse" for
# Wine's pulse driver (the tests with a sound server of their own, the
# recorded show), "system" for whatever Wine finds on the desktop (./run).
# NELKO_WINEARCH=win64 makes a 64-bit prefix instead (the release's tests).
#
# NELKO_WINDOWS says which Windows tree the tests run: win32 (build/win32,
# the programs as shipped), or win64 (build/win64, the same programs built
# for x86-64) on a machine whose kernel runs no 32-bit x86 code, where
# 32-bit Wine cannot start. Unset, it is found out here as scripts/deps.sh
# finds it out (scripts/i386.sh). With win64 every
# prefix is 64-bit and `wine` is Wine's 64-bit loader.
NELKO_ROOT="${NELKO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
if [ -z "${NELKO_WINDOWS:-}" ]; then
  source "$NELKO_ROOT/scripts/i386.sh"
  NELKO_WINDOWS=win64
  nelko_runs_i386 && NELKO_WINDOWS=win32
fi
export NELKO_WINDOWS
if [ "$NELKO_WINDOWS" = win64 ]; then
  export WINEARCH=win64
  export WINEPREFIX="${NELKO_WINEPREFIX:-${WINEPREFIX:-$NELKO_ROOT/build/wine64}}"
  case ":$PATH:" in *":$NELKO_ROOT/scripts/wine64:"*) ;; *) export PATH="$NELKO_ROOT/scripts/wine64:$PATH" ;; esac
else
  export WINEARCH="${NELKO_WINEARCH:-win32}"
  export WINEPREFIX="${NELKO_WINEPREFIX:-${WINEPREFIX:-$NELKO_ROOT/build/wine}}"
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# Creates the prefix once; concurrent callers wait for the first. A failure
# says what failed and returns non-zero.
nelko_wine_prefix() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.nelko-ready" ]; then
      rm -rf "$WINEPREFIX"
      # wineboot's exit code is no guide (it is non-zero on some good
      # prefixes); the Windows folder it makes is.
      DISPLAY= wineboot -i >/dev/null 2>&1 || true
      if [ ! -d "$WINEPREFIX/drive_c/windows" ]; then
        echo "wine-env: wineboot made no Wine prefix in $WINEPREFIX" >&2
        exit 1
      fi
      touch "$WINEPREFIX/.nelko-ready"
    fi
    local audio=${NELKO_AUDIO:-}
    if [ "$(cat "$WINEPREFIX/.nelko-audio" 2>/dev/null)" != "audio=$audio" ]; then
      if [ "$audio" = system ]; then
        # A new prefix has no such value, and then there is nothing to remove.
        wine reg delete 'HKCU\Software\Wine\Drivers' /v Audio /f >/dev/null 2>&1 || true
      elif ! wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /t REG_SZ /d "$audio" /f >/dev/null 2>&1; then
        echo "wine-env: could not set Wine's sound driver to \"$audio\" in $WINEPREFIX" >&2
        exit 1
      fi
      wineserver -w
      echo "audio=$audio" >"$WINEPREFIX/.nelko-audio"
    fi
  ) 9>"$WINEPREFIX.lock"
}
