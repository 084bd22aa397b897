# Sourced: a private Xvfb display for tests and the headless show.
# nelko_private_display [WxHxD] starts one on a free number and exports
# DISPLAY and NELKO_XVFB_PID.
nelko_private_display() {
  local screen=${1:-1024x768x24} fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset 3>"$fifo" </dev/null >/dev/null 2>&1 &
  NELKO_XVFB_PID=$!
  local number
  read -r number <"$fifo"
  rm -f "$fifo"
  export DISPLAY=":$number" NELKO_XVFB_PID
}
