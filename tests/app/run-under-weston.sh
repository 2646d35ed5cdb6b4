#!/usr/bin/env bash
# Runs a test program as a client of a private headless Weston (pixman renderer, so screenshots
# work; a black desktop without panel or animations, so a window shows at once as it is drawn;
# the screenshot protocol on) with a throwaway HOME and XDG_RUNTIME_DIR. Weston is stopped by its PID and the folders removed afterwards.
set -euo pipefail
scratch="$(mktemp -d)"
weston_pid=""
cleanup() {
  if [ -n "$weston_pid" ]; then
    kill "$weston_pid" 2>/dev/null || true
    wait "$weston_pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
mkdir -p "$scratch/home" "$scratch/runtime"
chmod 700 "$scratch/runtime"
export HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/runtime"
export QTWEBENGINE_DISABLE_SANDBOX=1
cat >"$scratch/weston.ini" <<'INI'
[core]
idle-time=0
[shell]
background-color=0xff000000
panel-position=none
animation=none
startup-animation=none
focus-animation=none
close-animation=none
INI
weston --backend=headless-backend.so --use-pixman --debug --socket=velmora-test \
  --width=1024 --height=1024 --config="$scratch/weston.ini" >"$scratch/weston.log" 2>&1 &
weston_pid=$!
for _ in $(seq 100); do
  [ -S "$XDG_RUNTIME_DIR/velmora-test" ] && break
  sleep 0.1
done
if [ ! -S "$XDG_RUNTIME_DIR/velmora-test" ]; then
  echo "run-under-weston: Weston did not start:" >&2
  cat "$scratch/weston.log" >&2
  exit 1
fi
export WAYLAND_DISPLAY=velmora-test QT_QPA_PLATFORM=wayland
unset DISPLAY
status=0
"$@" || status=$?
exit "$status"
