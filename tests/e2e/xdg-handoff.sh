#!/usr/bin/env bash
# Desktop hand-off: without --print, iamlink-cli gives the finished URL to xdg-open, which
# starts the application registered for x-scheme-handler/postgres: here a recorder in a
# throwaway XDG home. It must receive, byte for byte, what --print writes for the same input.
# Exits 77 (skipped) where xdg-utils is missing or will not take the registration.
#
# Usage: xdg-handoff.sh PATH-TO-iamlink-cli
set -euo pipefail
source "$(dirname "$0")/lib.sh"
e2e_begin "$@"
command -v xdg-open >/dev/null && command -v xdg-mime >/dev/null || e2e_skip "xdg-utils is not installed"

# A desktop of our own: no desktop environment is detected, so xdg-open takes its generic
# path, which looks the scheme up in mimeapps.list, but only when a display is set: DISPLAY
# names one nothing connects to. BROWSER, its last resort, fails, so no browser starts.
unset WAYLAND_DISPLAY DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR
export XDG_CURRENT_DESKTOP=X-Generic DISPLAY=:iamlink-e2e-no-display BROWSER=false HOME="$E2E_TMP/home"
export XDG_DATA_HOME="$HOME/data" XDG_CONFIG_HOME="$HOME/config" XDG_DATA_DIRS="$HOME/system" XDG_CONFIG_DIRS="$HOME/system"
mkdir -p "$XDG_DATA_HOME/applications" "$XDG_CONFIG_HOME" "$XDG_DATA_DIRS"

record="$E2E_TMP/recorded-url"
printf '#!/bin/sh\nprintf "%%s\\n" "$@" >"%s.part" && mv "%s.part" "%s"\n' "$record" "$record" "$record" >"$E2E_TMP/record-url"
chmod +x "$E2E_TMP/record-url"
printf '[Desktop Entry]\nType=Application\nName=Recorder\nExec=%s %%u\nNoDisplay=true\nMimeType=x-scheme-handler/postgres;\n' \
    "$E2E_TMP/record-url" >"$XDG_DATA_HOME/applications/iamlink-e2e-recorder.desktop"
xdg-mime default iamlink-e2e-recorder.desktop x-scheme-handler/postgres >/dev/null 2>&1 &&
    [ "$(xdg-mime query default x-scheme-handler/postgres 2>/dev/null)" = iamlink-e2e-recorder.desktop ] ||
    e2e_skip "xdg-mime did not take the registration"

secret_key='wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY'
e2e_start_endpoint "$secret_key" "p/+=:@%#? w0rd&<>'\""
jdbc="jdbc:redshift:iam://$E2E_CLUSTER_HOST:5439/dev?AccessKeyID=$E2E_ACCESS_KEY_ID&SecretAccessKey=$secret_key&DbUser=alice&sslmode=disable"
"$cli" --print <<<"$jdbc" >"$E2E_TMP/printed" 2>"$E2E_TMP/cli.err" || { e2e_show "$E2E_TMP/cli.err"; e2e_fail "iamlink-cli --print failed"; }
"$cli" <<<"$jdbc" >"$E2E_TMP/opened.out" 2>"$E2E_TMP/cli.err" || { e2e_show "$E2E_TMP/cli.err"; e2e_fail "iamlink-cli failed to hand the URL on"; }
[ ! -s "$E2E_TMP/opened.out" ] || e2e_fail "iamlink-cli wrote to standard output without --print"
e2e_expect_log "200 GetClusterCredentials 200 GetClusterCredentials"

# xdg-open runs the handler detached, so it may finish after iamlink-cli has exited.
for ((i = 0; i < 100; i++)); do [ -f "$record" ] && break; sleep 0.1; done
cmp -s "$E2E_TMP/printed" "$record" || e2e_fail "the handler received another URL than --print writes"
echo "PASS: the handler registered for postgres: received exactly the URL that --print writes"
