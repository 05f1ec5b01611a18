#!/usr/bin/env bash
# The tidewire command line as a user and a script use it: against the built-in simulated module,
# against a device that does not exist, and for help. Every run is bounded by timeout(1), so a
# hang fails the test instead of stalling it.
#
# usage: cli_test.sh TIDEWIRE_BINARY VERSION
set -uo pipefail

cli=$1
version=$2
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
if [ "$(status_of send-bad)" = 1 ] && [ -s "$work/send-bad.err" ]; then
  pass "a number the library refuses exits 1 with its reason"
else
  fail "refused number: status $(status_of send-bad): $(cat "$work/send-bad.err")"
fi

# --- a device that is not there ----------------------------------------------------------------
for command in "send 10086 hi" "receive" "status"; do
  # shellcheck disable=SC2086
  run missing $command --device "$work/no-such-device"
  if [ "$(status_of missing)" = 1 ] && grep -q '串口打开错误' "$work/missing.err"; then
    pass "$command on a missing device exits 1 with the library's text"
  else
    fail "$command on a missing device: status $(status_of missing): $(cat "$work/missing.err")"
  fi
done
run missing-json status --device "$work/no-such-device" --json
if [ "$(status_of missing-json)" = 1 ] && is_json missing-json && grep -q '串口打开错误' "$work/missing-json.out"; then
  pass "status --json on a missing device prints JSON with the error"
else
  fail "status --json on a missing device: $(cat "$work/missing-json.out")"
fi

run status status --sim 870
if [ "$(status_of status)" = 0 ]; then
  pass "status --sim 870 exits 0"
else
  fail "status --sim 870: $(cat "$work/status.err")"
fi

# --- receive -----------------------------------------------------------------------------------
run receive receive --sim 860 --inject 13800138000 "潮汐线收到了吗" --wait 1
if [ "$(status_of receive)" = 0 ] && grep -q '13800138000  潮汐线收到了吗$' "$work/receive.out"; then
  pass "receive --sim --inject prints the delivered message"
else
  fail "receive --inject: status $(status_of receive): $(cat "$work/receive.out" "$work/receive.err")"
fi

run receive-json receive --sim 666 --inject +8613800138000 first --inject +8613800138001 second --json --wait 1
if [ "$(status_of receive-json)" = 0 ] && is_json receive-json &&
  python3 -c 'import json,sys; r=json.load(sys.stdin); assert sorted(m["text"] for m in r)==["first","second"]' <"$work/receive-json.out"; then
  pass "receive --json prints an array of every delivered message"
else
  fail "receive --json: $(cat "$work/receive-json.out" "$work/receive-json.err")"
fi

# --follow runs until interrupted: the message must show before the interrupt ends it cleanly.
timeout 120 "$cli" receive --sim 666 --follow --json --inject +8613800138000 following \
  >"$work/follow.out" 2>"$work/follow.err" &
follower=$!
for _ in $(seq 1 600); do
  grep -q following "$work/follow.out" && break
  sleep 0.1
done
kill -INT $follower
wait $follower
follow_status=$?
if [ $follow_status = 0 ] && is_json follow && grep -q following "$work/follow.out"; then
  pass "receive --follow prints each message as it comes and ends cleanly on Ctrl-C"
else
  fail "receive --follow: status $follow_status: $(cat "$work/follow.out" "$work/follow.err")"
fi

# --- arguments and help ------------------------------------------------------------------------
for command in "" send receive status; do
  # shellcheck disable=SC2086
  run help $command --help
  if [ "$(status_of help)" = 0 ] && grep -q "^usage: tidewire $command" "$work/help.out"; then
    pass "tidewire $command --help"
  else
    fail "tidewire $command --help: $(cat "$work/help.out" "$work/help.err")"
  fi
done
for arguments in "send 10086" "status" "status --sim 999" "status --sim 666 --device /dev/null" \
  "send --sim 666 10086 hi --inject a b" "fly --sim 666" "status --sim 666 --baud fast"; do
  # shellcheck disable=SC2086
  run usage $arguments
  if [ "$(status_of usage)" = 2 ] && grep -q '^usage:' "$work/usage.err"; then
    pass "wrong arguments ($arguments) exit 2 with the usage"
  else
    fail "wrong arguments ($arguments): status $(status_of usage)"
  fi
done

run version --version
if [ "$(status_of version)" = 0 ] && [ "$(cat "$work/version.out")" = "tidewire $version" ]; then
  pass "tidewire --version prints the project's version"
else
  fail "--version: $(cat "$work/version.out" "$work/version.err")"
fi

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

echo "$passed passed, $failed failed"
[ $failed = 0 ]
