#!/usr/bin/env bash
# tidewire-gateway killed with SIGKILL while its modem receives: a simulated GSM module is given
# messages before and while a gateway runs, the gateway is killed at chosen moments (the module
# has just handed messages over, the inbox has just gained a row, the module has just been
# asked to delete one), started again, and killed again. Then one last gateway drains the
# module. Every message must be in the inbox; one stored more than once must show it by its
# duplicate key. The moments take turns, each found by a condition on the module's trace or the inbox,
# never by a pause; how many messages arrive while a gateway runs comes from a fixed seed.
#
# usage: gateway_kill_test.sh GATEWAY MODEMSIM LIBRARY [KILLS]
set -uo pipefail

gateway=$1
modemsim=$2
library=$3
kills=${4:-6}
# shellcheck source=common.sh
. "$(dirname "$0")/common.sh"
begin_sqlite_test

inbox_rows() { sql "SELECT count(*) FROM inbox" 2>/dev/null || echo 0; }
distinct_texts() { sql "SELECT count(DISTINCT text) FROM inbox" 2>/dev/null || echo 0; }
# Lines of the module's trace so far that match a pattern.
traced() { grep -c "$1" "$work/modem.out"; }

RANDOM=17
started=$(date +%s%N)
start_modem modem --trace
injected=0
inject() {
  local i
  for ((i = 0; i < $1; i++)); do
    injected=$((injected + 1))
    echo "inject +86139000$((10000 + injected)) kill-test-$injected" >"$work/modem.ctl"
  done
}

moments=("the module handed messages over" "the inbox gained a row" "the module was asked to delete")
for ((round = 1; round <= kills; round++)); do
  inject 3
  kind=$(((round - 1) % 3))
  listed=$(traced '^modem < .*+CMGL:')
  rows=$(inbox_rows)
  deletes=$(traced '^host  > AT+CMGD=')
  start_gateway "gw-$round" modem "$db"
  pid=$gateway_pid
  inject $((RANDOM % 3))
  case $kind in
    0) condition='[ "$(traced "^modem < .*+CMGL:")" -gt "$listed" ]' ;;
    1) condition='[ "$(inbox_rows)" -gt "$rows" ]' ;;
    2) condition='[ "$(traced "^host  > AT+CMGD=")" -gt "$deletes" ]' ;;
  esac
  if ! wait_for 1500 0.01 "$condition"; then
    fail "round $round: never came to the moment when ${moments[$kind]}: $(tail -5 "$work/gw-$round.log")"
  fi
  kill -KILL "$pid"
  wait "$pid" 2>/dev/null
  echo "round $round: killed when ${moments[$kind]} ($(inbox_rows) rows, $(distinct_texts) messages stored)"
done

# The last gateway drains the module and stops on SIGTERM.
start_gateway gw-last modem "$db"
pid=$gateway_pid
wait_for 300 0.2 '[ "$(distinct_texts)" -ge "$injected" ] && [ "$(modem_stored modem)" = 0 ]'
stop_gateway "$pid"
elapsed=$((($(date +%s%N) - started) / 1000000000))

stored=$(distinct_texts)
rows=$(inbox_rows)
duplicates=$((rows - stored))
lost=$((injected - stored))
echo "figures: $injected messages, $kills kills, $duplicates rows repeating a message, $lost lost, $elapsed s"
missing=$(for ((n = 1; n <= injected; n++)); do echo "kill-test-$n"; done |
  grep -vxF -f <(sql "SELECT text FROM inbox") | tr '\n' ' ')
if [ "$lost" = 0 ] && [ -z "$missing" ]; then
  pass "$injected messages received across $kills kills with SIGKILL: every one stored ($duplicates repeats)"
else
  fail "lost $lost of $injected messages: [$missing]"
fi
split=$(sql "SELECT text FROM inbox GROUP BY text HAVING count(DISTINCT dedup_key) > 1")
counted=$(sql "SELECT count(*) FROM inbox WHERE dedup_count > 1")
if [ -z "$split" ] && [ "$counted" = "$duplicates" ]; then
  pass "the rows of a message stored more than once share its duplicate key, repeats counted"
else
  fail "duplicates not told by their key: [$split], $counted counted of $duplicates"
fi
if [ "$stopped_status" = 0 ] && [ "$(modem_stored modem)" = 0 ]; then
  pass "the last gateway stopped cleanly and left nothing in the module"
else
  fail "last gateway: status $stopped_status, $(modem_stored modem) messages left in the module"
fi

finish
