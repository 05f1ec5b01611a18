#!/usr/bin/env bash
# Realism check of the simulated modem with a real client: gammu identifies the module, sends a
# message through it (once with a delivery report) and reads the messages stored in it, the
# status report among them, over the simulator's pty.
#
# usage: gammu_check.sh <path of tidewire-modemsim>
set -u

fail() {
    echo "gammu_check: FAIL: $*" >&2
    if [[ -n "${work:-}" && -d "$work" ]]; then
        for log in "$work"/gammu.out "$work"/sim.out "$work"/sim.err; do
            if [[ -s "$log" ]]; then
                echo "----- $(basename "$log") (last 40 lines) -----" >&2
                tail -n 40 "$log" >&2
            fi
        done
    fi
    exit 1
}

if [[ $# -ne 1 ]]; then
    echo "usage: $0 <path of tidewire-modemsim>" >&2
    exit 2
fi
sim="$1"
[[ -x "$sim" ]] || fail "$sim is not an executable program"

if ! command -v gammu > /dev/null 2>&1; then
    echo "gammu_check: gammu is not installed; install the Debian package: apt-get install gammu" >&2
    exit 1
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/gammu_check.XXXXXX")" || fail "cannot make a temporary folder"
sim_pid=""

cleanup() {
    if [[ -n "$sim_pid" ]] && kill -0 "$sim_pid" 2> /dev/null; then
        kill "$sim_pid" 2> /dev/null
        for _ in $(seq 50); do
            kill -0 "$sim_pid" 2> /dev/null || break
            sleep 0.1
        done
        kill -9 "$sim_pid" 2> /dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

link="$work/modem"
control="$work/control"

# Waits up to $1 tenths of a second for a fixed text in the simulator's output.
wait_for_output() {
    local tenths="$1" text="$2"
    for _ in $(seq "$tenths"); do
        grep -qF -- "$text" "$work/sim.out" 2> /dev/null && return 0
        kill -0 "$sim_pid" 2> /dev/null || return 1
        sleep 0.1
    done
    return 1
}

# One control line to the running simulator; bounded, since a FIFO without a reader blocks.
control() {
    timeout 5 bash -c 'printf "%s\n" "$1" > "$2"' _ "$1" "$control" ||
        fail "could not pass '$1' to the simulator"
}

run_gammu() {
    LC_ALL=C.UTF-8 timeout 120 gammu -c "$work/gammurc" "$@" > "$work/gammu.out" 2>&1
    local status=$?
    [[ $status -eq 0 ]] || fail "gammu $* exited with status $status"
}

"$sim" --family 666 --link "$link" --control "$control" --trace \
    > "$work/sim.out" 2> "$work/sim.err" < /dev/null &
sim_pid=$!
wait_for_output 100 "device: " || fail "the simulator did not report its device"
[[ -L "$link" ]] || fail "the simulator made no link at $link"
wait_for_output 50 "family: " || fail "the simulator did not finish starting"

cat > "$work/gammurc" << EOF
[gammu]
device = $link
connection = at115200
EOF

# 1. Identification.
run_gammu identify
grep -q "Manufacturer.*TIDEWIRE" "$work/gammu.out" || fail "gammu identify did not read the manufacturer"
grep -q "IMEI.*861234567890127" "$work/gammu.out" || fail "gammu identify did not read the IMEI"
grep -q "SIM IMSI.*460001234567890" "$work/gammu.out" || fail "gammu identify did not read the IMSI"
echo "gammu_check: identify ok"

# 2. Sending: the simulator must have recorded the message with its number and text.
run_gammu sendsms TEXT 5551234 -text "Hello from gammu"
grep -q "message reference=" "$work/gammu.out" || fail "gammu sendsms got no message reference"
control "sent"
wait_for_output 50 'text="Hello from gammu"' || fail "the simulator did not record the text gammu sent"
grep -F 'text="Hello from gammu"' "$work/sim.out" | grep -qF "to=5551234 mode=pdu" ||
    fail "the recorded message does not carry the number 5551234 in PDU mode"
echo "gammu_check: sendsms ok"

# 2b. Sending with a delivery report: the network's status report lands in the store (AT+CNMI's
# <ds> is 0, gammu does not change it) and is read back below with the other messages.
run_gammu sendsms TEXT 5551235 -text "Report this" -report
grep -q "message reference=2" "$work/gammu.out" || fail "gammu sendsms -report got no message reference 2"
control "sent"
wait_for_output 50 'report=requested text="Report this"' ||
    fail "the simulator did not see the status-report request gammu sent"
echo "gammu_check: sendsms -report ok"

# 3. Reading: the status report, a Chinese message, an ASCII one and one long enough to need two
# parts.
chinese="你好，潮汐线！模拟器收到的中文短信。"
ascii="Plain ASCII from the network, 100% ok"
long_text="$(printf 'Part of a long message %02d. ' $(seq 1 7))"
control "inject 8613912345678 $chinese"
control "inject 10086 $ascii"
control "inject +8613700000001 $long_text"
wait_for_output 50 "stored at 4,5" || fail "the simulator did not store the injected messages"

run_gammu getallsms
grep -qF "8613912345678" "$work/gammu.out" || fail "gammu getallsms did not show the sender 8613912345678"
grep -qF "$chinese" "$work/gammu.out" || fail "gammu getallsms did not show the Chinese text"
grep -qF "$ascii" "$work/gammu.out" || fail "gammu getallsms did not show the ASCII text"
grep -qF "10086" "$work/gammu.out" || fail "gammu getallsms did not show the sender 10086"
grep -qF "Part of a long message 07." "$work/gammu.out" ||
    fail "gammu getallsms did not show the second part of the long message"
grep -qiE "part 2 of 2" "$work/gammu.out" ||
    fail "gammu getallsms did not see the concatenation header of the long message"
grep -qF "SMS status report" "$work/gammu.out" || fail "gammu getallsms did not show the status report"
grep -A8 "SMS status report" "$work/gammu.out" | grep -qE 'Remote number +: "5551235"' ||
    fail "the status report does not name the recipient 5551235"
grep -A8 "SMS status report" "$work/gammu.out" | grep -qE "Reference number +: 2$" ||
    fail "the status report does not carry the message reference 2"
grep -A8 "SMS status report" "$work/gammu.out" | grep -qE "Delivery status +: Delivered" ||
    fail "the status report does not say delivered"
echo "gammu_check: getallsms ok"

# 4. A clean stop: the program ends and takes its link with it.
control "quit"
for _ in $(seq 50); do
    kill -0 "$sim_pid" 2> /dev/null || break
    sleep 0.1
done
if kill -0 "$sim_pid" 2> /dev/null; then
    fail "the simulator did not stop on quit"
fi
wait "$sim_pid"
status=$?
sim_pid=""
[[ $status -eq 0 ]] || fail "the simulator exited with status $status"
[[ ! -e "$link" && ! -L "$link" ]] || fail "the simulator left its link behind"

echo "gammu_check: PASS"
