#!/usr/bin/env bash
# Runs a test program on a private Xvfb display (24-bit, black root, no TCP) with a throwaway
# HOME and XDG_RUNTIME_DIR, both removed afterwards. Chromium's sandbox cannot run as root.
set -euo pipefail
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/home" "$scratch/runtime"
chmod 700 "$scratch/runtime"
export HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/runtime"
export QTWEBENGINE_DISABLE_SANDBOX=1 QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
status=0
xvfb-run -a -s "-screen 0 1280x1024x24 -br -nolisten tcp" "$@" || status=$?
exit "$status"
