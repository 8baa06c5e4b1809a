#!/usr/bin/env bash
# `make run`: start the window. Without a display there is no window to show, so say
# so and show the command-line front end's usage instead.
set -euo pipefail
build=${1:-build}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != "offscreen" ]; then
    echo "No display found (DISPLAY and WAYLAND_DISPLAY are unset), so the window cannot open."
    echo "The command-line front end works without one:"
    echo
    "$build/iamlink-cli" --help
    exit 0
fi
exec "$build/iamlink"
