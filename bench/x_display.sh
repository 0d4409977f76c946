# Sourced by the GUI benchmarks: start_x_display starts an X server of our own (Xvfb on a display
# number nobody uses, never another session's) with a window manager, as a person's desktop has,
# exports DISPLAY and sets xpid and wmpid for the caller's clean-up.
start_x_display() {
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
  xpid=$!
  export DISPLAY=":$n"
  for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  kill -0 "$xpid" 2>/dev/null || { echo "Xvfb did not start on $DISPLAY"; exit 1; }
  openbox >/dev/null 2>&1 &
  wmpid=$!
  sleep 0.5
}
