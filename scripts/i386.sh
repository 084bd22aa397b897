# Sourced: nelko_runs_i386 says whether this machine's kernel runs 32-bit x86
# code, without installing anything. It runs a 93-byte static i386 program
# (exit(42) through int 0x80): where IA-32 emulation is off, exec fails with
# ENOEXEC. A processor emulator registered for i386 programs counts as no:
# 32-bit Wine does not start under it.
nelko_runs_i386() {
  if [ -z "${NELKO_RUNS_I386:-}" ]; then
    NELKO_RUNS_I386=no
    if ! grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; then
      local probe
      probe=$(mktemp "${TMPDIR:-/tmp}/nelko-i386.XXXXXX")
      printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'`
            `'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'`
            `'\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'`
            `'\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08'`
            `'\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00'`
            `'\x00\x10\x00\x00\x31\xdb\xb3\x2a\x31\xc0\x40\xcd\x80' >"$probe"
      chmod +x "$probe"
      "$probe" >/dev/null 2>&1
      [ $? -eq 42 ] && NELKO_RUNS_I386=yes
      rm -f "$probe"
    fi
    export NELKO_RUNS_I386
  fi
  [ "$NELKO_RUNS_I386" = yes ]
}
