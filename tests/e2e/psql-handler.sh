#!/usr/bin/env bash
# The handler that comes with iamlink, end to end: iamlink-cli without --print hands the
# postgres:// URL to xdg-open, which finds the handler's desktop entry as a package registers
# it (the mimeinfo.cache of update-desktop-database; no mimeapps.list) and starts iamlink-psql
# in a terminal. The real psql then logs in to a throwaway server and runs what is typed there.
# Exits 77 (skipped) where xdg-utils or desktop-file-utils is missing.
#
# Usage: psql-handler.sh PATH-TO-iamlink-cli PATH-TO-iamlink-psql
set -euo pipefail
source "$(dirname "$0")/lib.sh"
[ $# -eq 2 ] || { echo "usage: $0 PATH-TO-iamlink-cli PATH-TO-iamlink-psql" >&2; exit 2; }
handler=$(realpath "$2")
e2e_begin "$1"
command -v xdg-open >/dev/null && command -v update-desktop-database >/dev/null ||
    e2e_skip "xdg-utils or desktop-file-utils is not installed"

e2e_xdg_home
cp "$E2E_DIR/../../data/io.github.iamlink.iamlink-psql.desktop" "$XDG_DATA_DIRS/applications/"
update-desktop-database "$XDG_DATA_DIRS/applications"
[ "$(xdg-mime query default x-scheme-handler/postgres)" = io.github.iamlink.iamlink-psql.desktop ] ||
    e2e_fail "the desktop entry does not make iamlink-psql the handler for postgres: URLs"

e2e_start_postgres
e2e_start_endpoint secret "$E2E_PG_PASSWORD"
# The handler and psql by name, and a terminal whose keyboard is the file "typed".
mkdir bin
ln -s "$handler" bin/iamlink-psql
ln -s "$E2E_PSQL" bin/psql
printf '#!/bin/sh\n[ "$1" = -e ] && shift\n"$@" <%s/typed >%s/screen 2>&1\necho $? >%s/closed\n' \
    "$E2E_TMP" "$E2E_TMP" "$E2E_TMP" >bin/x-terminal-emulator
chmod +x bin/x-terminal-emulator
export PATH="$E2E_TMP/bin:$PATH"
echo "select 'user=' || current_user;" >typed

# Without a controlling terminal, as from a desktop launcher: xdg-open then opens a terminal.
setsid -w "$cli" <<<"jdbc:redshift:iam://$E2E_CLUSTER_HOST:$E2E_PG_PORT/dev?AccessKeyID=$E2E_ACCESS_KEY_ID&SecretAccessKey=secret&DbUser=alice&hostaddr=127.0.0.1&sslmode=disable&DbGroups=analysts" \
    2>cli.err || { e2e_show cli.err; e2e_fail "iamlink-cli did not hand the URL on"; }
e2e_expect_log "200 GetClusterCredentials"
for ((i = 0; i < 100; i++)); do [ -s closed ] && break; sleep 0.1; done
[ "$(cat closed 2>/dev/null)" = 0 ] && grep -q "user=$E2E_PG_ROLE" screen ||
    { e2e_show screen; e2e_fail "psql did not log in through the handler"; }
grep -qx 'iamlink-psql: left out what psql does not accept: DbGroups' screen || { e2e_show screen; e2e_fail "no notice of the item left out"; }
! grep -qF "$E2E_PG_PASSWORD" screen || e2e_fail "the password reached the terminal"
echo "PASS: xdg-open ran the shipped handler, and psql logged in as $E2E_PG_ROLE with the URL from iamlink-cli"
