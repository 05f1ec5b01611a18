#!/usr/bin/env bash
# Three gateways on three simulated modems drain one PostgreSQL outbox, and one of them is
# killed with SIGKILL in the middle of a send, after its module took the message and before the
# module's confirmation came back: every row must end sent, each exactly once except the killed
# gateway's row, which its lease hands to another gateway, so that one is sent twice (at least
# once, never lost). The server is PostgreSQL 15 from Debian, started here in a scratch folder as an
# unprivileged user. Prints the figures: rows, duplicates, losses, time.
#
# usage: gateway_postgresql_test.sh GATEWAY MODEMSIM LIBRARY [ROWS]
set -uo pipefail

gateway=$1
modemsim=$2
library=$3
rows=${4:-300}
lease=6
work=$(mktemp -d)
chmod 755 "$work"
export LC_ALL=C.UTF-8
# shellcheck source=common.sh
. "$(dirname "$0")/common.sh"

pgbin=/usr/lib/postgresql/15/bin
if [ ! -x "$pgbin/initdb" ] || [ ! -x "$pgbin/pg_ctl" ] || ! command -v psql >/dev/null; then
  echo "SKIP: PostgreSQL 15 is not installed (apt-get install postgresql)"
  rm -rf "$work"
  exit 77
fi
# The server refuses to run as root: as root, run it as nobody.
as_owner=()
if [ "$(id -u)" = 0 ]; then
  as_owner=(runuser -u nobody --)
fi
mkdir "$work/pg"
[ "$(id -u)" = 0 ] && chown nobody "$work/pg"
stop_server() {
  "${as_owner[@]}" "$pgbin/pg_ctl" -D "$work/pg/data" -m immediate stop >/dev/null 2>&1
}
# Unix socket only, in the scratch folder: nothing listens on the network.
start_server() {
  "${as_owner[@]}" "$pgbin/pg_ctl" -D "$work/pg/data" -l "$work/pg/server.log" -w -t 60 \
    -o "-k $work/pg -c listen_addresses= -c fsync=off" start >/dev/null
}
trap 'stop_all; stop_server; rm -rf "$work"' EXIT

if ! "${as_owner[@]}" "$pgbin/initdb" -D "$work/pg/data" -U tidewire -A trust -E UTF8 \
  --no-sync >"$work/initdb.log" 2>&1; then
  echo "initdb failed: $(cat "$work/initdb.log")"
  exit 1
fi
if ! start_server; then
  echo "the server did not start: $(cat "$work/pg/server.log")"
  exit 1
fi
store="postgresql://tidewire@/postgres?host=$work/pg"
sql() { psql -X -q -A -t -v ON_ERROR_STOP=1 "$store" -c "$1"; }
finished_rows() { sql "SELECT count(*) FROM outbox WHERE status IN ('sent', 'failed')"; }
inbox_rows() { sql "SELECT count(*) FROM inbox WHERE text = '$1'"; }

# The schema first, by the first --queue; then the rows in one statement.
"$gateway" --store "$store" --queue 13912345678 "row-1" >/dev/null || fail "--queue on PostgreSQL"
sql "INSERT INTO outbox (recipient, text) SELECT '13912345678', 'row-' || n FROM generate_series(2, $rows) AS n"

started=$(date +%s%N)
start_modem modem-1
start_modem modem-2 --trace
start_modem modem-3
for g in 1 2 3; do
  start_gateway "gw-$g" "modem-$g" "$store" --lease $lease
  eval "gw_$g=\$gateway_pid"
done

# Kill gw-2 in the middle of a send: once it has sent a few rows, at the moment its module has
# taken the next message (the Ctrl-Z ending the text, in the module's trace of the line) and
# before the library has read the confirmation.
bodies() { grep -c '^host  > row-[0-9]*\\x1A$' "$work/modem-2.out"; }
wait_for 600 0.1 '[ "$(bodies)" -ge 3 ]'
before=$(bodies)
wait_for 3000 0.02 '[ "$(bodies)" -gt "$before" ]'
{
  kill -KILL "$gw_2"
  wait "$gw_2"
} 2>/dev/null
killed_row=$(grep '^host  > row-[0-9]*\\x1A$' "$work/modem-2.out" | tail -1 | sed 's/.*row-\([0-9]*\).*/\1/')

# Three gateways send about a row a second together: twenty minutes is four times what 300 rows
# take.
if wait_for 6000 0.2 '[ "$(finished_rows)" = "$rows" ]'; then
  elapsed=$((($(date +%s%N) - started) / 1000000000))
else
  elapsed=timeout
fi
for g in 1 2 3; do
  modem_sent "modem-$g" >"$work/sent-$g"
done
sort "$work"/sent-1 "$work"/sent-2 "$work"/sent-3 | uniq -c | awk '{ print $2, $1 }' >"$work/times"
sent_rows=$(wc -l <"$work/times")
duplicates=$(awk '$2 > 1' "$work/times" | wc -l)
lost=$((rows - sent_rows))
echo "figures: $rows rows, 3 gateways (gw-2 killed sending row $killed_row), $sent_rows sent, $duplicates sent twice, $lost lost, $elapsed s"

if [ "$lost" = 0 ] && [ "$(sql "SELECT count(*) FROM outbox WHERE status = 'sent'")" = "$rows" ]; then
  pass "every one of $rows rows was sent and marked sent"
else
  fail "rows lost: $(sql "SELECT id, status, claimed_by, attempts FROM outbox WHERE status <> 'sent'")"
fi
# Had gw-2 written its outcome before the kill (a loaded machine can be that slow to kill), its
# row is rightly sent once; otherwise another gateway sent it again.
twice=$(awk '$2 > 1 { print $1 }' "$work/times" | tr '\n' ' ')
expected_twice="row-$killed_row "
[ "$(sql "SELECT claimed_by FROM outbox WHERE id = $killed_row")" = gw-2 ] && expected_twice=
if awk '$2 > 2 { exit 1 }' "$work/times" && [ "$twice" = "$expected_twice" ]; then
  pass "only the row the killed gateway's module had taken was sent twice: [$twice]"
else
  fail "rows sent more than once: [$twice], the killed gateway had row $killed_row"
fi
taken_over=$(sql "SELECT claimed_by || ' ' || attempts FROM outbox WHERE id = $killed_row")
if [ "$taken_over" = "gw-1 2" ] || [ "$taken_over" = "gw-3 2" ]; then
  pass "the killed gateway's row was taken over once its lease ran out ($taken_over)"
else
  fail "row $killed_row: $taken_over"
fi

# The server goes away for a while: a message received meanwhile is held by the gateway and
# stored once the server is back.
stop_server
echo 'inject +8613800000009 while-down' >"$work/modem-1.ctl"
wait_for 300 0.1 'grep -q "cannot store a received message" "$work/gw-1.log"'
start_server || fail "the server did not start again: $(tail -5 "$work/pg/server.log")"
if wait_for 300 0.2 '[ "$(inbox_rows while-down 2>/dev/null)" = 1 ]'; then
  pass "a message received while the server was down is stored once it is back"
else
  fail "message received during the outage: $(grep -i store "$work/gw-1.log" | tail -5)"
fi

for g in 1 3; do
  eval "pid=\$gw_$g"
  stop_gateway "$pid"
  [ "$stopped_status" = 0 ] || fail "gw-$g exited $stopped_status on SIGTERM: $(tail -5 "$work/gw-$g.log")"
done
# The killed gateway never wrote its row in flight; every other send was counted once.
counted=$(sql "SELECT sum(sent) FROM gateway_counters")
if [ "$counted" = "$rows" ]; then
  pass "the gateways' counters hold what the modems sent ($counted)"
else
  fail "counters: $(sql "SELECT * FROM gateway_counters")"
fi

finish
