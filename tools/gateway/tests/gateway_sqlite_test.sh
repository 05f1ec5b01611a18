#!/usr/bin/env bash
# tidewire-gateway on SQLite, as one machine runs it: its settings checked, two gateways on
# simulated modems sharing one file (every row sent once, a refused row failed with the
# library's reason, a send longer than the lease kept by renewing it, a row's long-message and
# delivery-report options honoured), received messages stored
# with their duplicate key, a modem pulled out and back counted as a reconnect, and a SIGTERM
# during receiving that leaves every message either in the inbox or still in the module.
#
# usage: gateway_sqlite_test.sh GATEWAY MODEMSIM LIBRARY
set -uo pipefail

gateway=$1
modemsim=$2
library=$3
# shellcheck source=common.sh
. "$(dirname "$0")/common.sh"
begin_sqlite_test

finished_rows() { sql "SELECT count(*) FROM outbox WHERE status IN ('sent', 'failed')"; }
inbox_rows() { sql "SELECT count(*) FROM inbox WHERE text LIKE '$1'"; }

# --- settings ----------------------------------------------------------------------------------
"$gateway" --store "$db" --bogus 1 2>"$work/usage.err"
if [ $? = 2 ] && grep -q 'unknown option --bogus' "$work/usage.err"; then
  pass "an unknown option exits 2 and names it"
else
  fail "unknown option: $(cat "$work/usage.err")"
fi

start_modem modem-a
start_modem modem-b
cat >"$work/gateway.conf" <<CONF
# a comment
device = $work/modem-a
store = $db
lease = 10
CONF
"$gateway" --config "$work/gateway.conf" --check >"$work/check.out" 2>&1
if [ $? = 0 ] && grep -q '^ok: store .*created at start' "$work/check.out" && [ ! -e "$db" ]; then
  pass "--check accepts a configuration file, finds the library by its soname, makes no store"
else
  fail "--check of a good configuration: $(cat "$work/check.out")"
fi
"$gateway" --config "$work/gateway.conf" --check --device "$work/no-modem" \
  --library "$work/no-library.so" >"$work/check-bad.out" 2>&1
if [ $? = 1 ] && grep -q '^error: device .*no-modem' "$work/check-bad.out" &&
  grep -q '^error: library .*no-library.so' "$work/check-bad.out"; then
  pass "--check names a missing device and library, the command line winning over the file"
else
  fail "--check of a bad configuration: $(cat "$work/check-bad.out")"
fi

# --- two gateways drain one outbox ---------------------------------------------------------------
rows=10
for ((n = 1; n <= rows; n++)); do
  "$gateway" --store "$db" --queue 13912345678 "row-$n" >/dev/null || fail "--queue row-$n"
done
sql "INSERT INTO outbox (recipient, text) VALUES ('1,2', 'refused')"
start_gateway gw-a modem-a "$db" --lease 3
gw_a=$gateway_pid
start_gateway gw-b modem-b "$db" --lease 3
gw_b=$gateway_pid
if wait_for 600 0.2 '[ "$(finished_rows)" = $((rows + 1)) ]'; then
  sent_texts=$( (modem_sent modem-a; modem_sent modem-b) | sort)
  expected=$(for ((n = 1; n <= rows; n++)); do echo "row-$n"; done | sort)
  by_a=$(sql "SELECT count(*) FROM outbox WHERE claimed_by = 'gw-a'")
  if [ "$sent_texts" = "$expected" ] && [ "$(sql "SELECT count(*) FROM outbox WHERE status = 'sent' AND attempts = 1")" = $rows ] &&
    [ "$by_a" -gt 0 ] && [ "$by_a" -lt $((rows + 1)) ]; then
    pass "two gateways on one SQLite file sent each of $rows rows exactly once ($by_a by gw-a)"
  else
    fail "two gateways: modems got [$sent_texts]; $(sql "SELECT id, status, claimed_by, attempts FROM outbox")"
  fi
else
  fail "the outbox was not drained: $(sql "SELECT id, status, claimed_by FROM outbox")"
fi
refused=$(sql "SELECT status || ' ' || outcome FROM outbox WHERE text = 'refused'")
if [ "$refused" = "failed 发送的手机号码含有非法字符" ] &&
  grep -q 'failed to 1,2: the number holds a quote.*(fix the number) \[发送的手机号码含有非法字符\]$' "$work/gw-a.log" "$work/gw-b.log"; then
  pass "a row the library refuses is failed with the library's reason, logged in English"
else
  fail "refused row: [$refused]: $(grep -h 'failed to' "$work/gw-a.log" "$work/gw-b.log")"
fi

# Modems that answer a second late make a send outlast the 3 s lease: the sending gateway must
# renew it, or the idle one takes the row over and sends it again.
echo 'fault late 1000' >"$work/modem-a.ctl"
echo 'fault late 1000' >"$work/modem-b.ctl"
"$gateway" --store "$db" --queue 13912345678 slow-row >/dev/null
if wait_for 300 0.2 '[ "$(finished_rows)" = $((rows + 2)) ]'; then
  slow=$(sql "SELECT status, attempts, julianday(finished_at) - julianday(claimed_at) > 3.0 / 86400 FROM outbox WHERE text = 'slow-row'")
  times=$( (modem_sent modem-a; modem_sent modem-b) | grep -c '^slow-row$')
  if [ "$slow" = "sent|1|1" ] && [ "$times" = 1 ]; then
    pass "a send that outlasts the lease keeps its row: one claim, sent once"
  else
    fail "slow send: [$slow], sent $times times: $(cat "$work/gw-a.log" "$work/gw-b.log" | grep -i 'row')"
  fi
else
  fail "the slow row was not finished: $(sql "SELECT * FROM outbox WHERE text = 'slow-row'")"
fi
echo 'fault clear' >"$work/modem-a.ctl"
echo 'fault clear' >"$work/modem-b.ctl"

# --- receiving ---------------------------------------------------------------------------------
# The same message twice from the network within a second: two rows with one duplicate key.
echo 'inject +8613800000001 twice' >"$work/modem-a.ctl"
echo 'inject +8613800000001 twice' >"$work/modem-a.ctl"
echo 'inject 10086 你好' >"$work/modem-a.ctl"
if wait_for 300 0.2 '[ "$(inbox_rows %)" = 3 ]'; then
  inbox=$(sql "SELECT sender, text, gateway, dedup_count FROM inbox ORDER BY id")
  keys=$(sql "SELECT count(DISTINCT dedup_key) FROM inbox WHERE text = 'twice'")
  expected_inbox=$'8613800000001|twice|gw-a|1\n8613800000001|twice|gw-a|2\n10086|你好|gw-a|1'
  if [ "$inbox" = "$expected_inbox" ] && [ "$keys" = 1 ]; then
    pass "received messages are stored with sender, text and gateway; a repeat shares its key"
  else
    fail "inbox: [$inbox], $keys keys"
  fi
else
  fail "received messages did not reach the inbox: $(sql "SELECT * FROM inbox")"
fi

# --- a modem pulled out and plugged back in: the library reconnects, the gateway counts it -------
reconnects() { sql "SELECT group_concat(counted, ' ') FROM (SELECT gateway || '=' || reconnects AS counted FROM gateway_counters WHERE gateway LIKE 'gw-_' ORDER BY gateway)"; }
echo 'fault hangup' >"$work/modem-a.ctl"
wait_for 300 0.1 'grep -q "the module is away" "$work/gw-a.log"'
echo 'fault unhangup' >"$work/modem-a.ctl"
if wait_for 300 0.1 '[ "$(reconnects)" = "gw-a=1 gw-b=0" ]' && kill -0 "$gw_a"; then
  pass "a modem away and back again counts one reconnect, and the gateway runs on"
else
  fail "reconnects: [$(reconnects)]: $(grep -i 'module' "$work/gw-a.log")"
fi

# A stop while the module's store is being read: what the library took is stored, the rest
# stays in the module (a message stored just before the stop may still be there too: the
# library deletes it once the gateway has acknowledged it, in a receive step the stop may cut
# off).
stop_gateway "$gw_b"

# The library fails a message over 140 characters with a text, then the next one with the same
# text: as the module's refusals leave none, the second outcome cannot be told from a refusal
# after the first, and says both rather than guess.
long=$(printf 'x%.0s' {1..141})
"$gateway" --store "$db" --queue 13912345678 "$long" >/dev/null
"$gateway" --store "$db" --queue 13912345678 "$long" >/dev/null
wait_for 300 0.2 '[ "$(finished_rows)" = $((rows + 4)) ]'
outcomes=$(sql "SELECT outcome FROM outbox WHERE text = '$long' ORDER BY id")
if [ "$outcomes" = $'英文短信，长度不能大于140\nrefused by the module, or like the message before it: 英文短信，长度不能大于140' ]; then
  pass "a failure with the text of the message before it says it may be a refusal"
else
  fail "two long messages: [$outcomes]"
fi
# A row may ask for a long message and for a delivery report; the report comes a second after
# the send, when the row's outcome is written already.
echo 'report-delay 1000' >"$work/modem-a.ctl"
echo 'clear sent' >"$work/modem-a.ctl"
split=$(printf 'y%.0s' {1..200})
sql "INSERT INTO outbox (recipient, text, long_message, delivery_report) VALUES ('13912345678', '$split', 1, 0), ('13912345678', 'report-me', 0, 1)"
wait_for 300 0.2 '[ -n "$(sql "SELECT delivery_status FROM outbox WHERE text = '"'report-me'"'")" ]'
options=$(sql "SELECT status || ' ' || ifnull(delivery_status, '-') || ' ' || (delivery_time IS NOT NULL) FROM outbox WHERE text IN ('$split', 'report-me') ORDER BY id")
parts=$(modem_sent modem-a | grep '^y*$')
if [ "$options" = $'sent - 0\nsent delivered 1' ] && [ "$(echo "$parts" | wc -l)" = 2 ] &&
  [ "$(echo "$parts" | tr -d '\n')" = "$split" ]; then
  pass "a row asking for a long message goes in two parts, one asking for a report gets it"
else
  fail "options: [$options], parts [$parts]"
fi
for ((n = 1; n <= 12; n++)); do
  echo "inject +861390000$n stored-$n" >"$work/modem-a.ctl"
done
wait_for 300 0.1 '[ "$(inbox_rows stored-%)" -gt 0 ]'
stop_gateway "$gw_a"
status=$stopped_status
in_inbox=$(inbox_rows stored-%)
in_module=$(modem_store_texts modem-a | grep -c '^stored-')
found=$( (sql "SELECT text FROM inbox"; modem_store_texts modem-a) | grep '^stored-' | sort -u | wc -l)
if [ "$status" = 0 ] && [ "$found" = 12 ] && grep -q 'stopping on SIGTERM' "$work/gw-a.log" &&
  grep -q "store was read [1-9][0-9]* times\{0,1\}; [0-9]* messages taken after the stop$" "$work/gw-a.log"; then
  pass "SIGTERM while receiving: exit 0, $in_inbox messages stored, $in_module left in the module, none lost"
else
  fail "SIGTERM while receiving: status $status, $in_inbox stored, $in_module in the module"
fi
# Every row of the inbox was counted once, repeats too: messages held for their acknowledgement
# when the modem went away above come again after its return.
counters=$(sql "SELECT sum(sent), sum(received) FROM gateway_counters")
if [ "$counters" = "$((rows + 3))|$(sql "SELECT count(*) FROM inbox")" ]; then
  pass "the counters add up to what was sent and received"
else
  fail "counters: [$counters], $(sql "SELECT * FROM gateway_counters")"
fi

# --- schema ------------------------------------------------------------------------------------
sql "INSERT INTO schema_version (version) VALUES (99)"
"$gateway" --config "$work/gateway.conf" --check >"$work/check-new.out" 2>&1
check_status=$?
start_gateway gw-new modem-a "$db"
wait "$gateway_pid"
run_status=$?
if [ $check_status = 1 ] && [ "$run_status" = 1 ] && grep -q 'newer than this gateway' "$work/gw-new.log"; then
  pass "a store from a newer gateway is refused by --check and at start"
else
  fail "newer schema: check $check_status, run $run_status: $(cat "$work/check-new.out" "$work/gw-new.log")"
fi

finish
