# Helpers of the gateway tests: simulated modems, gateways in the background, bounded waits.
# Sourced by the test scripts, which set $modemsim, $gateway and $library, and $work (a scratch
# folder) themselves or through begin_sqlite_test.

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok: $1"; }
fail() { failed=$((failed + 1)); echo "FAIL: $1"; }

pids=()
# Ends what the test started, each by its own process id.
stop_all() {
  for pid in "${pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null
  done
  pids=()
}

# begin_sqlite_test: a scratch folder $work, removed at exit with whatever the test started, and
# the test's store $db, read with sql.
begin_sqlite_test() {
  work=$(mktemp -d)
  export LC_ALL=C.UTF-8
  trap 'stop_all; rm -rf "$work"' EXIT
  db=$work/sms.db
}
sql() { sqlite3 -batch -noheader "$db" "$@"; }

# start_modem NAME [OPTIONS...]: a simulated GSM module on $work/NAME, steered through
# $work/NAME.ctl; what it prints (with --trace the line's bytes too) goes to $work/NAME.out.
start_modem() {
  local modem=$1
  shift
  "$modemsim" --link "$work/$modem" --control "$work/$modem.ctl" "$@" >"$work/$modem.out" 2>&1 </dev/null &
  pids+=($!)
  wait_for 50 0.1 '[ -p "$work/$modem.ctl" ] && [ -L "$work/$modem" ]' || {
    echo "the simulator $modem did not come up: $(cat "$work/$modem.out")"
    exit 1
  }
}

# modem_sent NAME: the texts the module NAME was given, one a line.
modem_sent() {
  local modem=$1 before
  before=$(grep -c '^sent:' "$work/$modem.out")
  echo sent >"$work/$modem.ctl"
  wait_for 50 0.1 '[ "$(grep -c "^sent:" "$work/$modem.out")" -gt "$before" ]'
  # The newest listing only: from the last "sent:" line on.
  awk '/^sent:/ { n = NR } { line[NR] = $0 } END { for (i = n + 1; i <= NR; i++) print line[i] }' \
    "$work/$1.out" | sed -n 's/.* text="\(.*\)"\( pdu=.*\)\{0,1\}$/\1/p'
}

# modem_stored NAME: how many messages the module NAME still holds.
modem_stored() {
  local modem=$1 before
  before=$(grep -c '^store:' "$work/$modem.out")
  echo store >"$work/$modem.ctl"
  wait_for 50 0.1 '[ "$(grep -c "^store:" "$work/$modem.out")" -gt "$before" ]'
  grep '^store:' "$work/$1.out" | tail -1 | sed 's/store: \([0-9]*\) .*/\1/'
}

# modem_store_texts NAME: the texts of the messages the module NAME still holds, one a line.
modem_store_texts() {
  local modem=$1
  modem_stored "$modem" >/dev/null
  awk '/^store:/ { n = NR } { line[NR] = $0 } END { for (i = n + 1; i <= NR; i++) print line[i] }' \
    "$work/$modem.out" | sed -n 's/^ *[0-9]*: .* text="\(.*\)" pdu=.*$/\1/p'
}

# start_gateway NAME MODEM STORE [OPTIONS...]: a gateway in the background, its log in
# $work/NAME.log; its process id in $gateway_pid.
start_gateway() {
  local name=$1 modem=$2 store=$3
  shift 3
  "$gateway" --device "$work/$modem" --store "$store" --library "$library" --name "$name" \
    --verbose "$@" 2>"$work/$name.log" &
  gateway_pid=$!
  pids+=("$gateway_pid")
}

# wait_for TRIES PAUSE CONDITION: evaluates the shell condition until it holds, at most TRIES
# times.
wait_for() {
  local tries=$1 pause=$2 condition=$3 i
  for ((i = 0; i < tries; i++)); do
    eval "$condition" && return 0
    sleep "$pause"
  done
  return 1
}

# stop_gateway PID: SIGTERM, then its exit status in $stopped_status (137 when it had to be
# killed after 60 s).
stop_gateway() {
  kill -TERM "$1"
  (
    for ((i = 0; i < 600; i++)); do
      kill -0 "$1" 2>/dev/null || exit 0
      sleep 0.1
    done
    kill -KILL "$1"
  ) >/dev/null 2>&1 &
  wait "$1"
  stopped_status=$?
}

finish() {
  stop_all
  echo "$passed passed, $failed failed"
  [ "$failed" = 0 ]
}
