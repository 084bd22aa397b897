# Sourced: a private sound server with no hardware, for the tests and the
# headless show. pulseaudio with a null sink "out" (its monitor, out.monitor,
# records what is played), in a folder of its own that holds its socket
# (DIR/native), runtime folder and home; clients find it through
# PULSE_SERVER=unix:DIR/native and PULSE_CLIENTCONFIG=DIR/client.conf.

# nelko_sound_server DIR: becomes the server (in the foreground).
nelko_sound_server() {
  local dir=$1
  mkdir -p "$dir/run" "$dir/home"
  chmod 700 "$dir/run"
  printf 'autospawn = no\n' >"$dir/client.conf"
  XDG_RUNTIME_DIR="$dir/run" HOME="$dir/home" exec pulseaudio -n --daemonize=no \
    --exit-idle-time=-1 --use-pid-file=no \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$dir/native" \
    -L "module-null-sink sink_name=out"
}

# nelko_private_sound: starts one in the background and waits for it, with a
# silent microphone "mic" (else Wine would offer the voice hub the sink's
# monitor: the show's own sounds); exports PULSE_SERVER, PULSE_CLIENTCONFIG,
# NELKO_SOUND_DIR and NELKO_SOUND_PID.
nelko_private_sound() {
  NELKO_SOUND_DIR=$(mktemp -d)
  (nelko_sound_server "$NELKO_SOUND_DIR") </dev/null >"$NELKO_SOUND_DIR.log" 2>&1 &
  NELKO_SOUND_PID=$!
  export PULSE_SERVER="unix:$NELKO_SOUND_DIR/native" PULSE_CLIENTCONFIG="$NELKO_SOUND_DIR/client.conf"
  export NELKO_SOUND_DIR NELKO_SOUND_PID
  local _
  for _ in $(seq 100); do
    pactl set-default-sink out >/dev/null 2>&1 && break
    sleep 0.05
  done
  pactl load-module module-null-source source_name=mic >/dev/null &&
    pactl set-default-source mic
}
