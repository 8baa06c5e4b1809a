#!/usr/bin/env bash
# Desktop hand-off: without --print, iamlink-cli gives the finished URL to xdg-open, which
# starts the application registered for x-scheme-handler/postgres. Here that application
# is a recorder in a throwaway XDG home; what it receives must be, byte for byte, what
# --print writes for the same input.
#
# Exits 77 (skipped) where xdg-utils is missing or will not take the registration.
#
# Usage: xdg-handoff.sh PATH-TO-iamlink-cli
set -euo pipefail
source "$(dirname "$0")/lib.sh"

e2e_begin "$@"
command -v xdg-open >/dev/null || e2e_skip "xdg-open is not installed (package xdg-utils)"
command -v xdg-mime >/dev/null || e2e_skip "xdg-mime is not installed (package xdg-utils)"

e2e_make_tmp

# A desktop of our own: every XDG directory is in the temporary directory, and no desktop
# environment is detected, so xdg-open takes its generic path, which looks up
# x-scheme-handler/postgres in mimeapps.list. That path consults the scheme handlers only
# when a display is set (has_display in xdg-open), so DISPLAY names one that nothing
# connects to. BROWSER, xdg-open's last resort, is made a command that fails, so that a
# browser installed on the machine is never started.
unset WAYLAND_DISPLAY DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID \
    MATE_DESKTOP_SESSION_ID LXQT_SESSION_CONFIG DESKTOP DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR
export XDG_CURRENT_DESKTOP=X-Generic
export DISPLAY=:iamlink-e2e-no-display
export BROWSER=false
export HOME="$E2E_TMP/home"
export XDG_DATA_HOME="$E2E_TMP/data" XDG_CONFIG_HOME="$E2E_TMP/config"
export XDG_DATA_DIRS="$E2E_TMP/system-data" XDG_CONFIG_DIRS="$E2E_TMP/system-config"
mkdir -p "$HOME" "$XDG_DATA_HOME/applications" "$XDG_CONFIG_HOME" \
    "$XDG_DATA_DIRS/applications" "$XDG_CONFIG_DIRS"

# The recorder writes its arguments, one a line, and renames the file into place so that a
# poller never reads it half-written.
recorder="$E2E_TMP/record-url"
record="$E2E_TMP/recorded-url"
cat >"$recorder" <<EOF
#!/bin/sh
printf '%s\n' "\$@" >"$record.partial" && mv "$record.partial" "$record"
EOF
chmod +x "$recorder"

desktop=iamlink-e2e-recorder.desktop
cat >"$XDG_DATA_HOME/applications/$desktop" <<EOF
[Desktop Entry]
Type=Application
Name=iamlink end-to-end recorder
Exec=$recorder %u
NoDisplay=true
MimeType=x-scheme-handler/postgres;
EOF

xdg-mime default "$desktop" x-scheme-handler/postgres >"$E2E_TMP/xdg-mime.log" 2>&1 ||
    { e2e_show "$E2E_TMP/xdg-mime.log"; e2e_skip "xdg-mime could not register $desktop"; }
registered=$(xdg-mime query default x-scheme-handler/postgres 2>/dev/null || true)
[ "$registered" = "$desktop" ] ||
    e2e_skip "xdg-mime did not take the registration (answers '$registered', expected '$desktop')"

password="p/+=:@%#? w0rd&<>'\""
secret_key='wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY'
e2e_start_endpoint "$secret_key" "$password"
export AWS_ENDPOINT_URL_REDSHIFT="http://127.0.0.1:$E2E_ENDPOINT_PORT"
jdbc="jdbc:redshift:iam://$E2E_CLUSTER_HOST:5439/dev?AccessKeyID=$E2E_ACCESS_KEY_ID&SecretAccessKey=$secret_key&DbUser=alice&hostaddr=127.0.0.1&sslmode=disable"

status=0
printf '%s\n' "$jdbc" | "$cli" --print >"$E2E_TMP/printed" 2>"$E2E_TMP/print.err" || status=$?
[ "$status" -eq 0 ] || { e2e_show "$E2E_TMP/print.err"; e2e_fail "iamlink-cli --print exited with $status"; }
[ -s "$E2E_TMP/printed" ] || e2e_fail "iamlink-cli --print wrote nothing"

status=0
printf '%s\n' "$jdbc" | "$cli" >"$E2E_TMP/opened.out" 2>"$E2E_TMP/opened.err" || status=$?
[ "$status" -eq 0 ] || { e2e_show "$E2E_TMP/opened.err"; e2e_fail "iamlink-cli exited with $status"; }
[ ! -s "$E2E_TMP/opened.out" ] || { e2e_show "$E2E_TMP/opened.out"; e2e_fail "iamlink-cli wrote to standard output without --print"; }

# xdg-open runs detached, so its recorder may finish after iamlink-cli has exited.
for ((i = 0; i < 100; i++)); do
    [ -f "$record" ] && break
    sleep 0.1
done
[ -f "$record" ] || { e2e_show "$E2E_TMP/opened.err"; e2e_fail "the registered handler was not started within 10 s"; }

if ! cmp -s "$E2E_TMP/printed" "$record"; then
    echo "printed:  $(e2e_mask <"$E2E_TMP/printed")" >&2
    echo "received: $(e2e_mask <"$record")" >&2
    e2e_fail "the handler received another URL than --print writes"
fi
[ "$(cat "$E2E_ENDPOINT_LOG")" = $'200 GetClusterCredentials\n200 GetClusterCredentials' ] ||
    { e2e_show "$E2E_ENDPOINT_LOG"; e2e_fail "expected two accepted credentials requests"; }

echo "PASS: the handler registered for postgres: received exactly the URL that --print writes"
