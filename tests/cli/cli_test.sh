#!/usr/bin/env bash
# The tidewire command line as a user and a script use it: against the built-in simulated module,
# against a device that does not exist, and for help. Every run is bounded by timeout(1), so a
# hang fails the test instead of stalling it.
#
# usage: cli_test.sh TIDEWIRE_BINARY VERSION MODEMSIM_BINARY
set -uo pipefail

cli=$1
version=$2
modemsim=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok: $1"; }
fail() { failed=$((failed + 1)); echo "FAIL: $1"; }

# run NAME ARGS...: runs the binary with a deadline; stdout, stderr and status land in $work.
run() {
  local name=$1
  shift
  timeout 120 "$cli" "$@" >"$work/$name.out" 2>"$work/$name.err"
  echo $? >"$work/$name.rc"
}
status_of() { cat "$work/$1.rc"; }
is_json() { python3 -c 'import json,sys; json.load(sys.stdin)' <"$work/$1.out"; }

# --- send --------------------------------------------------------------------------------------
for family in 666 870 860 865; do
  run send-$family send --sim $family 13912345678 "你好 Tidewire"
  if [ "$(status_of send-$family)" = 0 ] && grep -q '^message 0 to 13912345678: sent$' "$work/send-$family.out"; then
    pass "send --sim $family exits 0 and prints the id and the outcome"
  else
    fail "send --sim $family: status $(status_of send-$family): $(cat "$work/send-$family.out" "$work/send-$family.err")"
  fi
done

run send-json send --sim 666 10086 'say "hi"\' --json --trace "$work/trace.log"
if [ "$(status_of send-json)" = 0 ] && is_json send-json &&
  python3 -c 'import json,sys; r=json.load(sys.stdin); assert r["outcome"]=="sent" and r["id"]==0 and r["text"]=="say \"hi\"\\"' <"$work/send-json.out"; then
  pass "send --json prints one JSON object with the outcome and the text intact"
else
  fail "send --json: status $(status_of send-json): $(cat "$work/send-json.out" "$work/send-json.err")"
fi
if grep -Eq '^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} > AT\+CMGS=.*10086' "$work/trace.log" &&
  grep -Eq '^[0-9:.]{12} < .*OK\\r\\n' "$work/trace.log"; then
  pass "--trace writes the module's dialogue in both directions"
else
  fail "--trace: $(head -c 2000 "$work/trace.log" 2>&1)"
fi

run send-bad send --sim 666 '1,2' hello
if [ "$(status_of send-bad)" = 1 ] &&
  grep -q '^error: the number holds a quote.*(fix the number) \[发送的手机号码含有非法字符\]$' "$work/send-bad.err"; then
  pass "a number the library refuses exits 1 with an English reason, the advice and its text"
else
  fail "refused number: status $(status_of send-bad): $(cat "$work/send-bad.err")"
fi

# Limits the library would check are checked before the port is opened (the device is missing).
run send-empty send --device "$work/no-such-device" 10086 ''
if [ "$(status_of send-empty)" = 2 ] && grep -q 'the text is empty' "$work/send-empty.err" &&
  ! grep -q '串口打开错误' "$work/send-empty.err"; then
  pass "an empty text is refused before the port is opened"
else
  fail "empty text: status $(status_of send-empty): $(cat "$work/send-empty.err")"
fi

# --- a device that is not there ----------------------------------------------------------------
for command in "send 10086 hi" "receive" "status"; do
  # shellcheck disable=SC2086
  run missing $command --device "$work/no-such-device"
  if [ "$(status_of missing)" = 1 ] &&
    grep -qF "error: cannot open $work/no-such-device: No such file or directory (is the device name right" "$work/missing.err" &&
    grep -q '\[串口打开错误No such file or directory\]$' "$work/missing.err"; then
    pass "$command on a missing device names it in English, then gives the library's text"
  else
    fail "$command on a missing device: status $(status_of missing): $(cat "$work/missing.err")"
  fi
done
run missing-json status --device "$work/no-such-device" --json
if [ "$(status_of missing-json)" = 1 ] && is_json missing-json &&
  python3 -c 'import json,sys; e=json.load(sys.stdin)["error"]; assert e["code"]==2 and e["text"]=="串口打开错误No such file or directory" and sys.argv[1] in e["english"], e' \
    "$work/no-such-device" <"$work/missing-json.out"; then
  pass "status --json on a missing device gives the error's code, text and English"
else
  fail "status --json on a missing device: $(cat "$work/missing-json.out")"
fi

run status --sim 870 status
if [ "$(status_of status)" = 0 ] && grep -q '^module ready: family 870 (CDMA type 870), model .*199' "$work/status.out"; then
  pass "--sim 870 status (options before the command) waits for the initialisation and names the family and model"
else
  fail "--sim 870 status: $(cat "$work/status.out" "$work/status.err")"
fi

# --- receive -----------------------------------------------------------------------------------
run receive receive --sim 860 --inject 13800138000 "潮汐线收到了吗" --wait 1
if [ "$(status_of receive)" = 0 ] && grep -q '13800138000  潮汐线收到了吗$' "$work/receive.out"; then
  pass "receive --sim --inject prints the delivered message"
else
  fail "receive --inject: status $(status_of receive): $(cat "$work/receive.out" "$work/receive.err")"
fi

# Each family writes its own time; JSON gives ISO 8601 beside it. The sender is as the record has
# it: a GSM module's PDU gives the digits without "+", a type-870 module lists the "+".
for family in 666 870; do
  plus=$([ $family = 870 ] && echo +)
  run receive-json receive --sim $family --inject +8613800138000 first --inject +8613800138001 second --json --wait 1
  if [ "$(status_of receive-json)" = 0 ] && is_json receive-json &&
    python3 -c '
import json, re, sys
r = json.load(sys.stdin)
assert sorted(m["text"] for m in r) == ["first", "second"], r
assert sorted(m["sender"] for m in r) == [sys.argv[1] + "8613800138000", sys.argv[1] + "8613800138001"], r
assert all(re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d", m["time"]) for m in r), r
assert all(m["time"][:10].replace("-", "") == re.sub(r"\D", "", m["timestamp"])[:8] for m in r), r
' "$plus" <"$work/receive-json.out"; then
    pass "receive --sim $family --json prints every message with an ISO 8601 time and its own"
  else
    fail "receive --sim $family --json: $(cat "$work/receive-json.out" "$work/receive-json.err")"
  fi
done

# --follow runs until interrupted: the message must show before the interrupt ends it cleanly.
timeout 120 "$cli" receive --sim 666 --follow --json --inject +8613800138000 following \
  >"$work/follow.out" 2>"$work/follow.err" &
follower=$!
for _ in $(seq 1 600); do
  grep -q following "$work/follow.out" && break
  sleep 0.1
done
kill -TERM $follower
wait $follower
follow_status=$?
if [ $follow_status = 0 ] && is_json follow && grep -q following "$work/follow.out"; then
  pass "receive --follow prints each message as it comes and ends cleanly on TERM"
else
  fail "receive --follow: status $follow_status: $(cat "$work/follow.out" "$work/follow.err")"
fi

# --- arguments and help ------------------------------------------------------------------------
for command in "" send receive status; do
  # shellcheck disable=SC2086
  run help $command --help
  if [ "$(status_of help)" = 0 ] && grep -q "^Usage: tidewire $command" "$work/help.out"; then
    pass "tidewire $command --help"
  else
    fail "tidewire $command --help: $(cat "$work/help.out" "$work/help.err")"
  fi
  cat "$work/help.out" >>"$work/all-help.out"
done
# A mistake is named on one line, with a pointer to the help instead of the whole usage. Options
# this system's serial driver cannot honour (1.5 stop bits) are not offered.
for arguments in "send 10086" "status" "status --sim 999" "--sim 666 status --device /dev/null" \
  "send --sim 666 10086 hi --inject a b" "fly --sim 666" "status --sim 666 --baud fast" \
  "status --sim 666 --stop-bits 1.5" "status --sim 666 --no-such-option"; do
  # shellcheck disable=SC2086
  run usage $arguments
  if [ "$(status_of usage)" = 2 ] && [ "$(wc -l <"$work/usage.err")" = 2 ] &&
    grep -q "^Run 'tidewire.*--help' for the options.$" "$work/usage.err"; then
    pass "wrong arguments ($arguments) exit 2 with the mistake and a pointer to --help"
  else
    fail "wrong arguments ($arguments): status $(status_of usage): $(cat "$work/usage.err")"
  fi
done
if grep -q -- '--no-such-option' "$work/usage.err"; then
  pass "an unknown option is named"
else
  fail "unknown option: $(cat "$work/usage.err")"
fi

# The bash completion and the man page offer only options the program takes.
missing_options=$(cat "$here/../../tools/cli/tidewire.bash-completion" \
  <(sed 's/\\-/-/g' "$here/../../docs/man/tidewire.1") | grep -o -- '--[a-z][a-z-]*' | sort -u |
  while read -r option; do grep -q -- "$option\b" "$work/all-help.out" || echo "$option"; done)
if [ -z "$missing_options" ]; then
  pass "every option of the completion and the man page is in --help"
else
  fail "options not in --help: $missing_options"
fi

for flag in --version -V; do
  run version $flag
  if [ "$(status_of version)" = 0 ] && [ "$(cat "$work/version.out")" = "tidewire $version" ]; then
    pass "tidewire $flag prints the project's version"
  else
    fail "$flag: $(cat "$work/version.out" "$work/version.err")"
  fi
done

run no-library status --sim 666 --library "$work/libnothing.so"
if [ "$(status_of no-library)" = 1 ] && grep -q 'cannot load' "$work/no-library.err"; then
  pass "a library that cannot be loaded exits 1 and says so"
else
  fail "--library: $(cat "$work/no-library.err")"
fi
# TIDEWIRE_LIBRARY comes before the soname, and --library before both.
TIDEWIRE_LIBRARY=$work/libfromenv.so run env-library status --sim 666
TIDEWIRE_LIBRARY=$work/libfromenv.so run option-over-env status --sim 666 --library "$work/libnothing.so"
if grep -q "cannot load $work/libfromenv.so" "$work/env-library.err" &&
  grep -q "cannot load $work/libnothing.so" "$work/option-over-env.err"; then
  pass "TIDEWIRE_LIBRARY names the library unless --library does"
else
  fail "TIDEWIRE_LIBRARY: $(cat "$work/env-library.err" "$work/option-over-env.err")"
fi

# --- a module in another process, with messages stored before the start and faults set ----------
sim_dir=$work/sim
mkdir "$sim_dir"
start_sim() { # start_sim FAMILY: the simulator on $sim_dir/modem, steered through $sim_dir/ctl
  "$modemsim" --family "$1" --link "$sim_dir/modem" --control "$sim_dir/ctl" >"$sim_dir/out" 2>&1 </dev/null &
  sim_pid=$!
  for _ in $(seq 1 100); do
    [ -p "$sim_dir/ctl" ] && grep -q '^link: ' "$sim_dir/out" && return
    sleep 0.1
  done
  fail "the simulator did not come up: $(cat "$sim_dir/out")"
}
stop_sim() {
  echo quit >"$sim_dir/ctl"
  wait "$sim_pid"
}
sim_answer() { # sim_answer COMMAND: the simulator's listing for a control command (store, sent)
  local before
  before=$(wc -l <"$sim_dir/out")
  echo "$1" >"$sim_dir/ctl"
  for _ in $(seq 1 100); do
    tail -n +"$((before + 1))" "$sim_dir/out" | grep -q "^$1: " && break
    sleep 0.1
  done
  tail -n +"$((before + 1))" "$sim_dir/out"
}
sim_store_count() { # the number of messages the module still holds
  sim_answer store | sed -n 's/^store: \([0-9]*\) message.*/\1/p'
}

start_sim 666
# The first listing comes a few seconds after the start: --wait counts from its end.
echo 'inject +8613800138000 waiting before the start' >"$sim_dir/ctl"
run wait-one receive --device "$sim_dir/modem" --wait 1
if [ "$(status_of wait-one)" = 0 ] && grep -q '  8613800138000  waiting before the start$' "$work/wait-one.out"; then
  pass "receive --wait 1 prints a message the module held at the start"
else
  fail "receive --wait 1: status $(status_of wait-one): $(cat "$work/wait-one.out" "$work/wait-one.err")"
fi

# Twenty stored, interrupted a second after the first line: what the library took from the module
# is printed after the stop, the rest stays in the module.
for i in $(seq 10 29); do echo "inject +86139000000$i stored message $i" >"$sim_dir/ctl"; done
timeout 120 "$cli" receive --device "$sim_dir/modem" --follow >"$work/interrupted.out" 2>"$work/interrupted.err" &
receiver=$!
for _ in $(seq 1 600); do
  [ -s "$work/interrupted.out" ] && break
  sleep 0.1
done
sleep 1
kill -INT $receiver
wait $receiver
interrupted_status=$?
printed=$(grep -c 'stored message' "$work/interrupted.out")
left=$(sim_store_count)
if [ $interrupted_status = 0 ] && [ $((printed + left)) = 20 ] && [ "$printed" -gt 0 ]; then
  pass "receive --follow interrupted prints every message taken from the module ($printed, $left left)"
else
  fail "receive --follow interrupted: status $interrupted_status, $printed printed, $left left in the module"
fi

# A text beyond one SMS goes in parts that ask for a delivery report; the report comes a while
# after the module's OK, and send waits for it.
long_text=$(yes 'The tide comes in twice a day.' | head -n 7 | tr '\n' ' ' | cut -c 1-200)
echo 'report-delay 1500' >"$sim_dir/ctl"
run long-report send --device "$sim_dir/modem" --long --report --json 13912345678 "$long_text"
echo 'report-delay 0' >"$sim_dir/ctl"
if [ "$(status_of long-report)" = 0 ] && is_json long-report &&
  python3 -c 'import json,sys; r=json.load(sys.stdin); assert (r["outcome"], r["delivery"], r["text"]) == ("sent", "delivered", sys.argv[1]), r' \
    "$long_text" <"$work/long-report.out" &&
  [ "$(sim_answer sent | grep -c 'to=[+0-9]*13912345678 mode=pdu .* part=[12]/2 ref=[0-9]* report=requested')" = 2 ]; then
  pass "send --long --report sends a long text in two parts and waits for its delivery report"
else
  fail "send --long --report: status $(status_of long-report): $(cat "$work/long-report.out" "$work/long-report.err")"
fi

echo 'fault send-fail on' >"$sim_dir/ctl"
run refused send --device "$sim_dir/modem" 10086 refused
if [ "$(status_of refused)" = 1 ] && grep -q '^error: the module refused the message (+CMS ERROR: 500)' "$work/refused.err"; then
  pass "a message the module refused says so, with its +CMS ERROR code"
else
  fail "refused message: status $(status_of refused): $(cat "$work/refused.out" "$work/refused.err")"
fi
stop_sim

# The start-up succeeds, then the worker's initialisation fails: status must wait and say so.
start_sim 870
echo 'fault error AT+CNMI' >"$sim_dir/ctl"
run init-failed status --device "$sim_dir/modem"
if [ "$(status_of init-failed)" = 1 ] && grep -q 'initialisation failed' "$work/init-failed.out" &&
  grep -q '^error: .*initialised.*\[初始化Modem(设置AT+CNMI=2,2,0,0,0)发生错误\]$' "$work/init-failed.err"; then
  pass "status on a type-870 module whose initialisation fails exits 1 and says so"
else
  fail "status with a failing initialisation: status $(status_of init-failed): $(cat "$work/init-failed.out" "$work/init-failed.err")"
fi
stop_sim

echo "$passed passed, $failed failed"
[ $failed = 0 ]
